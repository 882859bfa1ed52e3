#!/usr/bin/env bash
# Everything CI checks, stage by stage, each timed:
#   format  clang-format over every C++ file of the tree (.clang-format)
#   plain   a build with warnings as errors, and every test, benchmarks included
#   tidy    clang-tidy over every file the plain build compiles (.clang-tidy)
#   asan    every test again, built as Debug (assertions and invariant checkers on) with
#           AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan    the tests of code that runs threads or other processes (label "threads"),
#           built with ThreadSanitizer, the applications they start included
# Fuzz corpora replay as ordinary tests. `bash scripts/test.sh asan tsan` runs only the
# stages named.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(format plain tidy asan tsan)

bash scripts/setup.sh

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run_tests() {
  (cd "$1" && shift && ctest --output-on-failure -j "$jobs" "$@")
}

format() {
  bash scripts/lint.sh format
}

plain() {
  build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLCAST_BENCH=ON
  run_tests build
}

tidy() {
  cmake -S . -B build >/dev/null
  bash scripts/lint.sh tidy
}

asan() {
  build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUILLCAST_SANITIZE=ON -DQUILLCAST_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_tests build-sanitize
}

tsan() {
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLCAST_TSAN=ON -DQUILLCAST_BENCH=OFF >/dev/null
  cmake --build build-tsan -j "$jobs" --target quillcast_threads_tests
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_tests build-tsan -L threads
}

for stage in "${stages[@]}"; do
  case $stage in
    format | plain | tidy | asan | tsan) ;;
    *)
      echo "usage: $0 [format|plain|tidy|asan|tsan]..." >&2
      exit 2
      ;;
  esac
  start=$SECONDS
  echo "=== $stage"
  $stage
  echo "=== $stage passed in $((SECONDS - start)) s"
done
