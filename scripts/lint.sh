#!/usr/bin/env bash
# The source checks, with the configuration in the tree: clang-format (.clang-format) over
# every C++ file, and clang-tidy (.clang-tidy) over every file that the plain build in build/
# compiles, with the headers they include. Any finding fails.
#
#   bash scripts/lint.sh            both checks (configures build/ first if need be)
#   bash scripts/lint.sh format     formatting only
#   bash scripts/lint.sh tidy       clang-tidy only
#   bash scripts/lint.sh fix        rewrites the formatting of every file instead of checking
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
what=${1:-all}

sources() {
  git ls-files -z '*.cpp' '*.h'
}

check_format() {
  echo "== clang-format"
  sources | xargs -0 clang-format --dry-run -Werror
}

# The files of the tree that the build compiles, each once.
compiled_sources() {
  python3 -c '
import json, os, sys
root, database = sys.argv[1], sys.argv[2]
files = sorted({os.path.realpath(entry["file"]) for entry in json.load(open(database))})
for path in files:
    if path.startswith(root + "/") and not path.startswith(root + "/build"):
        sys.stdout.write(path + "\0")
' "$PWD" build/compile_commands.json
}

check_tidy() {
  echo "== clang-tidy"
  [ -f build/compile_commands.json ] || cmake -S . -B build >/dev/null
  local log status=0
  log=$(mktemp)
  compiled_sources | xargs -0 -n 4 -P "$jobs" clang-tidy -p build --quiet --warnings-as-errors='*' >"$log" 2>&1 ||
    status=$?
  # Only the findings, not clang-tidy's counts of what it left alone in system headers.
  grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^$' \
    "$log" || true
  rm -f "$log"
  return $status
}

case $what in
  all) check_format && check_tidy ;;
  format) check_format ;;
  tidy) check_tidy ;;
  fix) sources | xargs -0 clang-format -i ;;
  *)
    echo "usage: $0 [format|tidy|fix]" >&2
    exit 2
    ;;
esac
