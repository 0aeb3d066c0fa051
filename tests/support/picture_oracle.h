// The independent peers of the picture tests: Python's PIL (only the
// system interpreter has it) and ImageMagick's convert, run on files in a
// scratch folder. support/oracles.h says whether they are at hand.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media/gif_writer.h"
#include "media/image_files.h"
#include "support/oracles.h"

// Writes the script into the folder and runs it with the arguments; true
// when it exits 0.
inline bool RunPython(const std::string& folder, const std::string& script, const std::string& arguments)
{
    std::string path = folder + "/oracle.py";
    std::ofstream(path) << script;
    std::string line = std::string(kSystemPython) + " " + path + " " + arguments;
    return std::system(line.c_str()) == 0;
}

// Exits 0 when the two pictures (argv 1 and 2) have the same size and the
// same colours pixel for pixel.
inline constexpr const char kSamePixels[] = R"PY(
import sys
from PIL import Image
a = Image.open(sys.argv[1]).convert('RGB')
b = Image.open(sys.argv[2]).convert('RGB')
sys.exit(0 if a.size == b.size and a.tobytes() == b.tobytes() else 1)
)PY";

// An ILBM reader written from the format's description, independent of
// the codec (PIL has none): ByteRun1 and planar rows to RGB. Arguments: the
// file and an output name, which gets "w h planes masking compression";
// the RGB bytes go to the output name + ".rgb".
inline constexpr const char kIlbmReader[] = R"PY(
import struct, sys
data = open(sys.argv[1], 'rb').read()
assert data[:4] == b'FORM' and data[8:12] == b'ILBM'
assert struct.unpack('>I', data[4:8])[0] == len(data) - 8
at, chunks = 12, {}
while at + 8 <= len(data):
    cid, n = data[at:at + 4], struct.unpack('>I', data[at + 4:at + 8])[0]
    chunks[cid] = data[at + 8:at + 8 + n]
    at += 8 + n + (n & 1)
w, h, _, _, planes, masking, comp = struct.unpack('>HHhhBBB', chunks[b'BMHD'][:11])
rb = ((w + 15) // 16) * 2
body, pos, out = chunks[b'BODY'], 0, bytearray()
def row():
    global pos
    line = bytearray()
    while len(line) < rb:
        n = body[pos]; pos += 1
        if n < 128: line += body[pos:pos + n + 1]; pos += n + 1
        elif n > 128: line += bytes([body[pos]]) * (257 - n); pos += 1
    assert len(line) == rb
    return line
for y in range(h):
    lines = [row() for p in range(planes)]
    for x in range(w):
        v = sum(((lines[p][x >> 3] >> (7 - (x & 7))) & 1) << p for p in range(planes))
        out += bytes([v & 255, (v >> 8) & 255, (v >> 16) & 255])
assert pos == len(body)
open(sys.argv[2], 'w').write('%d %d %d %d %d' % (w, h, planes, masking, comp))
open(sys.argv[2] + '.rgb', 'wb').write(out)
)PY";

// A test picture of ARGB words whose channels all vary: gradients crossed
// with a checker, alpha optional.
inline std::vector<uint32_t> MakeTestPicture(int32_t w, int32_t h, bool alpha)
{
    std::vector<uint32_t> argb(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint32_t r = (x * 255) / (w > 1 ? w - 1 : 1), g = (y * 255) / (h > 1 ? h - 1 : 1);
            uint32_t b = ((x / 8 + y / 8) & 1) ? 200 : 40;
            uint32_t a = alpha ? static_cast<uint32_t>((x * 7 + y * 13) % 256) : 255;
            argb[static_cast<size_t>(y) * w + x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    return argb;
}

// The test picture written as a PNG by the runtime's own writer: its
// pixels, or none when it cannot be written.
inline std::vector<uint32_t> WriteTestPng(const std::string& path, int32_t w, int32_t h, bool alpha = false)
{
    std::vector<uint32_t> argb = MakeTestPicture(w, h, alpha);
    SavePngBlock save{path.c_str(), argb.data(), static_cast<size_t>(w) * 4, w, h, alpha, 0};
    SavePng(&save);
    return save.result ? std::vector<uint32_t>{} : argb;
}

// A w x h GIF of green (index 0, the transparent index) and navy (index 1)
// pixels, green only at `greenPixel`; false when it cannot be written.
inline bool WritePenGif(const std::string& path, int32_t w, int32_t h, size_t greenPixel)
{
    GifWriter* writer = nullptr;
    std::vector<uint8_t> indices(static_cast<size_t>(w) * h, 1);
    indices[greenPixel] = 0;
    uint32_t palette[2] = {0xFF00FF00u, 0xFF000080u};
    uint32_t error = SaveGif(path.c_str(), w, h, &writer);
    if (!error)
        error = WriteAnimGifFrame(writer, indices.data(), w, h, 0, palette, 2, 0, 0, 0);
    uint32_t closed = CloseGifWriter(writer);
    return !error && !closed;
}
