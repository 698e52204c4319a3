#!/usr/bin/env bash
# Installs what is missing, builds the workbench and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=OFF \
    -DTARNWICK_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
if [ -x build/release/ui/tarnwick ]; then
    exec build/release/ui/tarnwick "$@"
fi
# Without the window, decode the sample message with the command-line tool.
exec build/release/cli/tarnwick-cli parse-iso8583 - < tests/data/iso8583/typical64.txt
