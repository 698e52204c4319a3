#!/usr/bin/env bash
# read-capture against tshark's ISO 8583 dissector on the same capture file, in one run: a pcap of
# N messages (requests and their replies over 20 TCP connections, port 5000, several messages in
# some segments) written by a small Python writer, then both timed writing JSON. Needs python3
# and tshark (not installed by scripts/install-deps.sh); prints both times and their ratio.
# Usage: bench/peer/compare_tshark.sh [path/to/tarnwick-cli] [N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${1:-$here/../../build/dev/cli/tarnwick-cli}
count=${2:-100000}
port=5000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/capture.pcap" "$count" "$port" <<'PY'
import struct, sys

path, count, port = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
# A terminal message of 12 fields with its 2-byte length, TPDU and header; the reply is the same
# with the response type 0210.
request = bytes.fromhex(
    "0067600003000060310031000002007020048020C08011166225880123456789000000000000010000000123"
    "051000286225880123456789D2812201000031323334353637383132333435363738393031323334353135360"
    "013220001230005003A4F9C0D12E5B776")
reply = request[:13] + bytes([0x02, 0x10]) + request[15:]

def checksum(header):
    total = sum(struct.unpack("!%dH" % (len(header) // 2), header))
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF

def frame(src, dst, sport, dport, seq, ack, payload):
    tcp = struct.pack("!HHIIBBHHH", sport, dport, seq, ack, 5 << 4, 0x18, 65535, 0, 0)
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp) + len(payload), 0, 0x4000, 64, 6, 0,
                     bytes(src), bytes(dst))
    ip = ip[:10] + struct.pack("!H", checksum(ip)) + ip[12:]
    return b"\x02" * 12 + b"\x08\x00" + ip + tcp + payload

connections = 20
with open(path, "wb") as out:
    out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
    seq = {}
    t = 1_700_000_000_000_000
    def packet(src, dst, sport, dport, payload):
        global t
        key = (sport, dport)
        s = seq.get(key, 1000)
        seq[key] = s + len(payload)
        data = frame(src, dst, sport, dport, s, 0, payload)
        out.write(struct.pack("<IIII", t // 1_000_000, t % 1_000_000, len(data), len(data)))
        out.write(data)
        t += 50
    client, server = [10, 0, 0, 1], [10, 0, 0, 2]
    sent = 0
    while sent < count:
        for c in range(connections):
            if sent >= count:
                break
            sport = 40000 + c
            # Every fifth turn two requests share one segment.
            pair = sent % 5 == 0 and sent + 3 < count
            packet(client, server, sport, port, request * (2 if pair else 1))
            packet(server, client, port, sport, reply * (2 if pair else 1))
            sent += 4 if pair else 2
PY

seconds() { local s e; s=$(date +%s.%N); "$@" > /dev/null; e=$(date +%s.%N); echo "$e - $s" | bc; }
lines=$("$cli" read-capture --port "$port" --format json "$work/capture.pcap" | wc -l)
ours=$(seconds "$cli" read-capture --port "$port" --format json "$work/capture.pcap")
peer=$(seconds tshark -r "$work/capture.pcap" -d "tcp.port==$port,iso8583" -T json)
echo "capture: $count messages, $(stat -c %s "$work/capture.pcap") bytes; read-capture: $lines lines"
echo "tarnwick-cli read-capture: ${ours} s"
echo "tshark -T json:            ${peer} s"
echo "ratio: $(echo "scale=1; $peer / $ours" | bc)x"
