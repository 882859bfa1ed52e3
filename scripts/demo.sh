#!/usr/bin/env bash
# Builds Quillcast and runs the example host scripts in examples/, in order, each in a host
# process of its own: they fill the record store, keep a text in the preferences file, and
# merge five personal messages into the Eudora stand-in. Then it starts an SMTP server on
# loopback, points Eudora's account at it, delivers the outbox with `quillcast deliver` and
# shows what the server received. The emulated machine is a fresh one in build/demo-home,
# unless QUILLCAST_HOME names one of your own.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/setup.sh

cmake -S . -B build >/dev/null
cmake --build build -j "$jobs"

own_machine=${QUILLCAST_HOME:+yes}
if [ -z "$own_machine" ]; then
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

# Delivery: a local SMTP server (scripts/smtp_server.py, on Debian's aiosmtpd) stands in
# for the mail provider; Eudora's account gets an smtp line that names it. A machine of
# your own keeps its accounts as they are.
if [ -n "$own_machine" ]; then
  echo "== Not delivering: QUILLCAST_HOME is a machine of your own (see \"Delivery\" in the README)."
  exit 0
fi
server_folder=$(mktemp -d)
/usr/bin/python3 scripts/smtp_server.py --store "$server_folder/received" --port-file "$server_folder/port" \
  --print > "$server_folder/log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$server_folder"' EXIT
for _ in $(seq 100); do [ -s "$server_folder/port" ] && break; sleep 0.1; done
port=$(cat "$server_folder/port")
conf=$QUILLCAST_HOME/Data/Eudora/accounts.conf
sed -i '/^smtp Quillcast Demo =/d' "$conf"
echo "smtp Quillcast Demo = smtp://127.0.0.1:$port" >> "$conf"
echo
echo "== Delivering Eudora's outbox to the SMTP server on 127.0.0.1:$port (build/quillcast deliver Eudora):"
build/quillcast deliver Eudora
echo
echo "== What the server received:"
cat "$server_folder/log"
echo
echo "== The first message as the server received it:"
tr -d '\r' < "$server_folder/received/00001.eml"
