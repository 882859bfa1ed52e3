#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, when any is
# missing. As root it installs them; otherwise it prints the one command that does and
# fails. This is the project's one list of packages: the demo, the tests and CI all start here.
set -euo pipefail

packages=(
  cmake g++ make pkg-config             # the build (g++ brings ThreadSanitizer's library)
  clang-format clang-tidy               # the source checks of scripts/lint.sh
  googletest libgtest-dev libbenchmark-dev  # tests and benchmarks
  libgmime-3.0-dev                      # the stand-in clients' MIME messages
  libcurl4-openssl-dev                  # the stand-in clients' delivery over SMTP
  python3-aiosmtpd                      # the SMTP server of the delivery tests and the demo
  libcsv-dev libcli11-dev               # quillcast merge: CSV records, its command line
  python3                               # the end-to-end tests read the mail back with it
  macutils                              # hexbin: the tests decode BinHex attachments with it
  libx11-dev                            # X's headers; libX11 itself is loaded only at run time
  xvfb xfonts-base libxtst-dev          # the About box tests: a virtual display, its fonts, synthetic input
  libsqlite3-dev                        # the FileMaker Pro stand-in serves a SQLite database
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Quillcast needs these Debian packages, which are not installed: ${missing[*]}" >&2
  echo "Install them with:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
