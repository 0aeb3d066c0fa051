#!/usr/bin/env bash
# Runs one example applet the way its comment block describes, in a scratch
# folder of its own (the player works in the applet's folder), with the
# local peer it needs; prints what the applet printed.
#   bash examples/run.sh BUILD NAME           run build/examples/NAME.qma
#   bash examples/run.sh BUILD NAME --check   and compare with examples/NAME.expected
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
name=$2
check=${3:-}
work=$(mktemp -d)
peer=""
cleanup() {
  if [ -n "$peer" ]; then kill "$peer" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
cp "$build/examples/$name.qma" "$work/"
args=()
case "$name" in
  transfers)
    # A local web server with one file of 100,000 bytes to download.
    mkdir "$work/site"
    head -c 100000 /dev/zero | tr '\0' 'q' >"$work/site/data.bin"
    port_file="$work/port"
    python3 - "$work/site" "$port_file" <<'PY' &
import http.server, functools, sys, os
class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass
handler = functools.partial(Quiet, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
with open(sys.argv[2] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(sys.argv[2] + ".tmp", sys.argv[2])
server.serve_forever()
PY
    peer=$!
    for _ in $(seq 100); do [ -f "$port_file" ] && break; sleep 0.1; done
    args=(-url "http://127.0.0.1:$(cat "$port_file")/data.bin")
    ;;
  displays)
    # A picture of 640 x 480 in four bands (red, green, blue, white) for
    # background picture 1, and a full-screen display with a gradient
    # backfill from orange at the top of the screen to blue at the bottom.
    python3 - "$work/sky.png" <<'PY'
import struct, sys, zlib
w, h = 640, 480
bands = [b"\xff\x00\x00", b"\x00\xff\x00", b"\x00\x00\xff", b"\xff\xff\xff"]
rows = b"".join(b"\x00" + bands[y * 4 // h] * w for y in range(h))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
open(sys.argv[1], "wb").write(png)
PY
    args=(-FAKEFULLSCREEN -BACKFILL gradient -STARTCOLOR '$FF8000' -ENDCOLOR '$0000FF')
    ;;
  pictures)
    # A photo-like picture of 400 x 300: colours running across and down.
    python3 - "$work/photo.png" <<'PY'
import struct, sys, zlib
w, h = 400, 300
rows = b"".join(b"\x00" + b"".join(bytes((x * 255 // w, y * 255 // h, (x + y) % 256)) for x in range(w))
                for y in range(h))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
open(sys.argv[1], "wb").write(png)
PY
    ;;
  anims)
    # An animated GIF of 4 frames of 64 x 48 (red, green, blue, white),
    # 100 ms each, looping; written byte by byte with its LZW coding.
    python3 - "$work/spin.gif" <<'PY'
import struct, sys
w, h = 64, 48
palette = bytes((255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255))
def lzw(pixels, min_size=2):
    clear, end = 1 << min_size, (1 << min_size) + 1
    out, acc, nbits = bytearray(), 0, 0
    def emit(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 255)
            acc >>= 8
            nbits -= 8
    def reset():
        return {bytes([i]): i for i in range(clear)}, min_size + 1, end + 1
    table, size, next_code = reset()
    emit(clear)
    run = b""
    for p in pixels:
        if run + bytes([p]) in table:
            run += bytes([p])
            continue
        emit(table[run])
        if next_code < 4096:
            table[run + bytes([p])] = next_code
            next_code += 1
            if next_code > 1 << size and size < 12:
                size += 1
        else:
            emit(clear)
            table, size, next_code = reset()
        run = bytes([p])
    emit(table[run])
    emit(end)
    if nbits:
        out.append(acc & 255)
    return bytes(out)
gif = b"GIF89a" + struct.pack("<HHBBB", w, h, 0x81, 0, 0) + palette
gif += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
for colour in range(4):
    gif += b"\x21\xf9\x04\x00" + struct.pack("<H", 10) + b"\x00\x00"
    gif += b"\x2c" + struct.pack("<HHHHB", 0, 0, w, h, 0) + b"\x02"
    data = lzw([colour] * (w * h))
    for i in range(0, len(data), 255):
        gif += bytes([len(data[i:i + 255])]) + data[i:i + 255]
    gif += b"\x00"
open(sys.argv[1], "wb").write(gif + b"\x3b")
PY
    ;;
  sounds)
    # Half a second of a 440 Hz tone (mono, 16 bits, 22050 Hz) and two
    # seconds of a stereo tune (16 bits, 44100 Hz), written by python's wave.
    python3 - "$work" <<'PY'
import math, struct, sys, wave
def write(name, rate, channels, frames, pitch):
    with wave.open(sys.argv[1] + "/" + name, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * pitch * i / rate))) * channels
                               for i in range(frames)))
write("tone.wav", 22050, 1, 11025, 440)
write("tune.wav", 44100, 2, 88200, 330)
PY
    ;;
esac
out="$work/out.txt"
status=0
(cd "$work" && "$build/quillmereplayer" "$name.qma" "${args[@]}") >"$out" 2>&1 || status=$?
if [ "$check" != "--check" ]; then
  cat "$out"
  exit "$status"
fi
if [ "$status" -ne 0 ]; then
  cat "$out"
  echo "examples/$name: the player ended with status $status" >&2
  exit 1
fi
if ! diff -u "$here/$name.expected" "$out"; then
  echo "examples/$name: the output differs from examples/$name.expected" >&2
  exit 1
fi
