#!/usr/bin/env bash
# Runs host scripts one after another, each in a new host process, against one fresh
# QUILLCAST_HOME. With --fails PATTERN the last script must fail (non-zero exit) with a
# message matching PATTERN; every other script must pass.
#   run_e2e.sh HOST [--fails PATTERN] SCRIPT...
set -u
host=$1
shift
pattern=""
if [ "${1:-}" = "--fails" ]; then
  pattern=$2
  shift 2
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export QUILLCAST_HOME=$home

last=${!#}
for script in "$@"; do
  output=$("$host" run "$script" 2>&1)
  status=$?
  printf '%s\n' "$output"
  if [ -n "$pattern" ] && [ "$script" = "$last" ]; then
    if [ $status -eq 0 ]; then
      echo "e2e: $script passed but should have failed" >&2
      exit 1
    fi
    if ! grep -Eq -- "$pattern" <<<"$output"; then
      echo "e2e: $script failed without a message matching: $pattern" >&2
      exit 1
    fi
  elif [ $status -ne 0 ]; then
    echo "e2e: $script failed with status $status" >&2
    exit 1
  fi
done
exit 0
