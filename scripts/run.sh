#!/usr/bin/env bash
# Installs what is missing, builds the workbench and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=OFF \
    -DTARNWICK_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
exec bash scripts/start.sh build/release/ui/tarnwick build/release/cli/tarnwick-cli "$@"
