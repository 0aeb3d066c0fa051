// Animated GIFs for the anim tests, written byte by byte in Python so that
// every frame has the rectangle, disposal, transparency and delay the test
// asks for (PIL's own writer would crop and merge frames), and PIL's reading
// of each: every composed frame as RGBA bytes and the frame delays.
#pragma once

// python3 script.py folder: writes folder/anim.gif, folder/frame<N>.rgba
// and folder/delays.txt (one delay in milliseconds a line). Frame 5 is
// disposed of with a transparent index; viewers differ on what that leaves
// (PIL paints the transparent entry's colour, opaque), so the frame after
// it is checked by its rectangles rather than against PIL.
inline constexpr const char* kMakeAnimGif = R"PY(
import struct, sys
from PIL import Image
d = sys.argv[1]
W, H = 20, 14
pal = [((i * 37) % 256, (i * 91 + 20) % 256, (255 - i * 13) % 256) for i in range(16)]
local = [((i * 53 + 7) % 256, (i * 17) % 256, (i * 71 + 100) % 256) for i in range(16)]

def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out + b'\0')

def lzw(indices, mcs):
    # Literal codes only, with a clear code often enough that the width never grows.
    clear, width = 1 << mcs, mcs + 1
    acc = bits = 0
    out = bytearray()
    def put(code):
        nonlocal acc, bits
        acc |= code << bits
        bits += width
        while bits >= 8:
            out.append(acc & 255); acc >>= 8; bits -= 8
    for i, v in enumerate(indices):
        if i % (clear // 2) == 0:
            put(clear)
        put(v)
    put(clear + 1)
    if bits:
        out.append(acc & 255)
    return bytes(out)

def frame(x, y, w, h, disposal, delay, transparent=None, palette=None, interlace=False, seed=0):
    idx = [((i * 7 + seed * 5 + (i // w) * 3) % 16) for i in range(w * h)]
    if transparent is not None:
        for i in range(0, w * h, 3):
            idx[i] = transparent
    rows = [idx[r * w:(r + 1) * w] for r in range(h)]
    if interlace:
        order = list(range(0, h, 8)) + list(range(4, h, 8)) + list(range(2, h, 4)) + list(range(1, h, 2))
        stored = [v for r in order for v in rows[r]]
    else:
        stored = idx
    gce = struct.pack('<BBBBHBB', 0x21, 0xF9, 4, (disposal << 2) | (1 if transparent is not None else 0),
                      delay, transparent or 0, 0)
    packed = (0x40 if interlace else 0) | ((0x80 | 3) if palette else 0)
    desc = struct.pack('<BHHHHB', 0x2C, x, y, w, h, packed)
    body = bytes(c for rgb in palette for c in rgb) if palette else b''
    return gce + desc + body + bytes([4]) + sub_blocks(lzw(stored, 4))

frames = [
    frame(0, 0, W, H, 1, 10, seed=1),
    frame(3, 2, 8, 6, 2, 20, seed=2),
    frame(10, 4, 7, 9, 3, 30, transparent=9, seed=3),
    frame(0, 0, 5, 5, 1, 40, palette=local, seed=4),
    frame(12, 1, 8, 11, 0, 0, interlace=True, seed=5),
    frame(2, 8, 9, 6, 2, 7, transparent=0, seed=6),
    frame(0, 0, 3, 3, 1, 5, seed=7),
]
head = b'GIF89a' + struct.pack('<HHBBB', W, H, 0x80 | 3, 6, 0) + bytes(c for rgb in pal for c in rgb)
loop = b'\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00'
open(d + '/anim.gif', 'wb').write(head + loop + b''.join(frames) + b'\x3B')

im = Image.open(d + '/anim.gif')
delays = []
for n in range(im.n_frames):
    im.seek(n)
    open('%s/frame%d.rgba' % (d, n), 'wb').write(im.convert('RGBA').tobytes())
    delays.append(im.info.get('duration', 0))
open(d + '/delays.txt', 'w').write(''.join('%d\n' % v for v in delays))
)PY";
