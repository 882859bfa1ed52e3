#!/usr/bin/env bash
# Builds Quillcast and runs the example host scripts in examples/, in order, each in a host
# process of its own: they fill the record store, keep a text in the preferences file, and
# merge five personal messages into the Eudora stand-in. The emulated machine is a fresh
# one in build/demo-home, unless QUILLCAST_HOME names one of your own.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/setup.sh

cmake -S . -B build >/dev/null
cmake --build build -j "$jobs"

if [ -z "${QUILLCAST_HOME:-}" ]; then
  export QUILLCAST_HOME=$PWD/build/demo-home
  rm -rf "$QUILLCAST_HOME"
fi
build/quillcast install-apps

for script in examples/*.qcs; do
  echo "== $script"
  build/quillcast run "$script"
done

outbox=$QUILLCAST_HOME/Data/Eudora/outbox/new
first=$(ls "$outbox" | head -n 1)
echo
echo "== The first message in the outbox ($outbox/$first):"
cat "$outbox/$first"
