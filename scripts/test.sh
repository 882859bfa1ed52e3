#!/usr/bin/env bash
# Builds and runs every test: a plain build, then the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer. Fuzz corpora replay as ordinary tests.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/setup.sh

run_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

run_build build -DQUILLCAST_BENCH=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_build build-sanitize -DQUILLCAST_SANITIZE=ON -DQUILLCAST_BENCH=OFF
