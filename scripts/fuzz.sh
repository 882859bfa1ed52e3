#!/usr/bin/env bash
# Builds every fuzz target with clang as a libFuzzer binary (in build-fuzz/) and runs each for
# SECONDS (default 60), two at a time and at the lowest priority, on a fresh emulated machine.
# New inputs that reach code the corpus did not are kept in build-fuzz/corpus/<target> for the
# next run. A crash, a leak or a hang leaves its input in build-fuzz/findings/<target>/ and
# makes the script fail; mend it and add the input to the target's corpus in the source tree,
# where the ordinary tests replay it.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=build-fuzz

need=()
command -v clang++ >/dev/null || need+=(clang)
if command -v clang++ >/dev/null; then
  runtime=$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)
  [ -f "$runtime" ] || need+=("libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev")
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "fuzz.sh needs clang and its libFuzzer runtime: sudo apt-get install -y ${need[*]}" >&2
  exit 1
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -DQUILLCAST_FUZZ=ON -DQUILLCAST_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
mapfile -t lines <"$build/fuzz-targets.txt"
wanted=("$@")
targets=()
for line in "${lines[@]}"; do
  read -r name _ <<<"$line"
  if [ ${#wanted[@]} -eq 0 ] || [[ " ${wanted[*]} " == *" $name "* ]]; then targets+=("$line"); fi
done
nice -n 19 cmake --build "$build" -j 2 --target Quillcast \
  $(for line in "${targets[@]}"; do read -r name _ <<<"$line"; echo "fuzz_$name"; done) >/dev/null

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export QUILLCAST_HOME=$home/machine QUILLCAST_BUILD_DIR=$PWD/$build QUILLCAST_SCREENS=1440x900+0+0 DISPLAY=
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -m 0700 "$QUILLCAST_HOME"

# One target: fuzz with its working corpus (build-fuzz/corpus/<target>, kept from run to run)
# and its seeds, then minimise the working corpus so that it only holds inputs that add
# coverage. The seeds in the source tree stay as they are: inputs worth keeping there (every
# crash found) are added by hand, under a name that says what they hold.
run_one() {
  local name=$1 max_len=$2 binary=$3 seeds=$4
  local corpus=$build/corpus/$name findings=$build/findings/$name/ minimised=$home/min-$name
  mkdir -p "$corpus" "$findings" "$minimised"
  local status=0
  nice -n 19 "$binary" "$corpus" "$seeds" -max_total_time="$seconds" -max_len="$max_len" \
    -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings" \
    >"$build/findings/$name.log" 2>&1 || status=$?
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/findings/$name.log" | grep -o '[0-9]*$' || echo 0)
  if nice -n 19 "$binary" -merge=1 -max_len="$max_len" "$minimised" "$corpus" >/dev/null 2>&1; then
    rm -rf "$corpus" && mv "$minimised" "$corpus"
  fi
  if [ "$status" -eq 0 ]; then
    echo "$name: $runs runs in ${seconds}s, clean; $(ls "$corpus" | wc -l) inputs in $corpus"
  else
    echo "$name: FAILED after $runs runs; see $build/findings/$name.log and $findings"
  fi
  return "$status"
}

failed=0
running=0
for line in "${targets[@]}"; do
  read -r name max_len binary corpus <<<"$line"
  if [ "$running" -ge 2 ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_one "$name" "$max_len" "$binary" "$corpus" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
[ "$failed" -eq 0 ] || { echo "fuzz.sh: some targets failed" >&2; exit 1; }
