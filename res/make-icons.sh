#!/usr/bin/env bash
# Renders tarnwick.svg into tarnwick.png (256 px) and tarnwick.ico (16, 32, 48, 256 px) with
# rsvg-convert (Debian: librsvg2-bin). The outputs are committed; run this after editing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 32 48 256; do
    rsvg-convert -w "$size" -h "$size" tarnwick.svg -o "$work/$size.png"
done
cp "$work/256.png" tarnwick.png
python3 - "$work" <<'PY'
import struct, sys
work = sys.argv[1]
sizes = [16, 32, 48, 256]
images = [open(f"{work}/{s}.png", "rb").read() for s in sizes]
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, data in zip(sizes, images):
    dim = 0 if size == 256 else size  # 0 stands for 256 in an icon directory
    out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
open("tarnwick.ico", "wb").write(out + b"".join(images))
PY
