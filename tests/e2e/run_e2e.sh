#!/usr/bin/env bash
# Runs host scripts one after another, each in a new host process, against one fresh
# QUILLCAST_HOME. With --fails PATTERN the last script must fail (non-zero exit) with a
# message matching PATTERN; every other script must pass. With --check, the program given
# (and its arguments, up to "--") then checks what the scripts left on the machine.
#
# Stand-ins that the scripts launched must be quit by them: any still running at the end
# are stopped here, and a run that otherwise passed fails for them.
#   run_e2e.sh HOST [--fails PATTERN] [--check PROGRAM ARG... --] SCRIPT...
set -u
host=$1
shift
pattern=""
check=()
while [ $# -gt 0 ]; do
  case $1 in
    --fails) pattern=$2; shift 2 ;;
    --check)
      shift
      while [ $# -gt 0 ] && [ "$1" != "--" ]; do check+=("$1"); shift; done
      shift ;;
    *) break ;;
  esac
done
home=$(mktemp -d)
export QUILLCAST_HOME=$home

# Stops the applications registered on this machine (only processes whose environment
# names this QUILLCAST_HOME, so that a reused pid is never hit) and prints their names.
stop_leftovers() {
  local entry pid name pids=() names=""
  for entry in "$home"/run/*.proc; do
    [ -e "$entry" ] || continue
    pid=$(sed -n 's/^pid //p' "$entry")
    name=$(sed -n 's/^name //p' "$entry")
    [ -n "$pid" ] || continue
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "QUILLCAST_HOME=$home"; then
      kill -TERM "$pid" 2>/dev/null && pids+=("$pid") && names="$names $name"
    fi
  done
  for _ in $(seq 50); do
    [ ${#pids[@]} -eq 0 ] && break
    local alive=()
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive+=("$pid"); done
    pids=("${alive[@]+"${alive[@]}"}")
    [ ${#pids[@]} -gt 0 ] && sleep 0.1
  done
  for pid in "${pids[@]+"${pids[@]}"}"; do kill -KILL "$pid" 2>/dev/null; done
  printf '%s' "$names"
}
trap 'stop_leftovers >/dev/null; rm -rf "$home"' EXIT

run_scripts() {
  local last=${!#} script output status
  for script in "$@"; do
    output=$("$host" run "$script" 2>&1)
    status=$?
    printf '%s\n' "$output"
    if [ -n "$pattern" ] && [ "$script" = "$last" ]; then
      if [ $status -eq 0 ]; then
        echo "e2e: $script passed but should have failed" >&2
        return 1
      fi
      if ! grep -Eq -- "$pattern" <<<"$output"; then
        echo "e2e: $script failed without a message matching: $pattern" >&2
        return 1
      fi
    elif [ $status -ne 0 ]; then
      echo "e2e: $script failed with status $status" >&2
      return 1
    fi
  done
  if [ ${#check[@]} -gt 0 ] && ! "${check[@]}"; then
    echo "e2e: the check failed: ${check[*]}" >&2
    return 1
  fi
  return 0
}

run_scripts "$@"
status=$?
leftovers=$(stop_leftovers)
if [ $status -eq 0 ] && [ -n "$leftovers" ]; then
  echo "e2e: applications left running:$leftovers" >&2
  status=1
fi
exit $status
