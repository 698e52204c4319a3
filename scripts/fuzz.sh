#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
seconds=${1:-60}
dir=build/libfuzzer
CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_FUZZ=ON \
    -DTARNWICK_UI=OFF -DTARNWICK_CLI=OFF -DTARNWICK_TESTS=OFF -DTARNWICK_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)"
status=0
for target in "$dir"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=fuzz/corpus/${name#fuzz_}
    work=$(mktemp -d)
    echo "== $name (${seconds}s)"
    if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
        -artifact_prefix="$work/" "$work" "$corpus" 2>"$work/log"; then
        tail -40 "$work/log"
        status=1
    else
        grep -E '^#[0-9]+.*DONE' "$work/log" | tail -1 || true
    fi
    rm -rf "$work"
done
exit $status
