#!/usr/bin/env bash
# Builds Quillcast and runs the example host scripts in examples/, in order, each in a host
# process of its own, against the emulated machine in QUILLCAST_HOME (default ~/.quillcast).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build >/dev/null
cmake --build build -j "$jobs"

for script in examples/*.qcs; do
  echo "== $script"
  build/quillcast run "$script"
done
