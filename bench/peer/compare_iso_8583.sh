#!/usr/bin/env bash
# Batch decoding of 100,000 128-field messages to JSON lines: tarnwick-cli against the npm
# iso_8583 library on the same messages, in one run. Needs node and npm; prints both times and
# their ratio. Usage: bench/peer/compare_iso_8583.sh [path/to/tarnwick-cli] [jobs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${1:-$here/../../build/test/cli/tarnwick-cli}
jobs=${2:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && npm init -y >/dev/null && npm install --silent iso_8583@2.6.7 >/dev/null)
cp "$here/iso_8583_peer.js" "$work/"

# The golden 128-field message without its length and header: the form both read.
message=$(tr -d '\n\r' < "$here/../../tests/data/iso8583/typical128.txt")
message=${message:100}
awk -v m="$message" 'BEGIN { for (i = 0; i < 100000; i++) print m }' > "$work/messages.txt"

seconds() { local s e; s=$(date +%s.%N); "$@" > /dev/null; e=$(date +%s.%N); echo "$e - $s" | bc; }
ours=$(seconds sh -c "'$cli' parse-iso8583 --mode 128 --each-line --format json --jobs $jobs < '$work/messages.txt'")
peer=$(seconds sh -c "cd '$work' && node iso_8583_peer.js < messages.txt")
echo "tarnwick-cli --jobs $jobs: ${ours} s"
echo "iso_8583 (node):  ${peer} s"
echo "ratio: $(echo "scale=1; $peer / $ours" | bc)x"
