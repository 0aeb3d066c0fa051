#include "gfx/image_peer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "gfx/bitmap.h"
#include "gfx/pixel_formats.h"
#include "support/temp_dir.h"

namespace {

const char kConvert[] = "/usr/bin/convert";

std::vector<uint8_t> EncodePpm(const RgbPicture& p)
{
    std::string head = "P6\n" + std::to_string(p.w) + " " + std::to_string(p.h) + "\n255\n";
    std::vector<uint8_t> out(head.begin(), head.end());
    for (uint32_t c : p.argb) {
        out.push_back(static_cast<uint8_t>(c >> 16));
        out.push_back(static_cast<uint8_t>(c >> 8));
        out.push_back(static_cast<uint8_t>(c));
    }
    return out;
}

bool DecodePpm(const std::vector<uint8_t>& bytes, RgbPicture* p)
{
    size_t pos = 0;
    auto field = [&]() -> long {
        while (pos < bytes.size()) {
            if (bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
            } else if (std::isspace(bytes[pos])) {
                ++pos;
            } else {
                break;
            }
        }
        long v = 0;
        bool any = false;
        while (pos < bytes.size() && std::isdigit(bytes[pos])) {
            v = v * 10 + (bytes[pos++] - '0');
            any = true;
        }
        return any ? v : -1;
    };
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') return false;
    pos = 2;
    long w = field(), h = field(), max = field();
    if (w <= 0 || h <= 0 || max != 255) return false;
    ++pos;
    if (bytes.size() - pos < static_cast<size_t>(w * h * 3)) return false;
    p->w = static_cast<int32_t>(w);
    p->h = static_cast<int32_t>(h);
    p->argb.resize(static_cast<size_t>(w * h));
    for (size_t i = 0; i < p->argb.size(); ++i, pos += 3)
        p->argb[i] = (uint32_t{bytes[pos]} << 16) | (uint32_t{bytes[pos + 1]} << 8) | bytes[pos + 2];
    return true;
}

}  // namespace

bool HaveImageMagick() { return access(kConvert, X_OK) == 0; }

bool RunConvert(const RgbPicture& in, const std::string& arguments, RgbPicture* out)
{
    TempDir dir;
    std::string src = dir / "in.ppm", dst = dir / "out.ppm";
    WriteFileBytes(src, EncodePpm(in));
    std::string command = std::string(kConvert) + " '" + src + "' " + arguments + " -depth 8 'ppm:" +
                          dst + "' </dev/null 2>/dev/null";
    int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    return DecodePpm(ReadFileBytes(dst), out);
}

RgbPicture TestPicture(int32_t w, int32_t h, uint32_t seed)
{
    RgbPicture p;
    p.w = w;
    p.h = h;
    p.argb.resize(static_cast<size_t>(w) * h);
    uint32_t s = seed;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
            double ring = 0.5 + 0.5 * std::sin(std::hypot(fx - 0.4, fy - 0.6) * 40.0);
            s = s * 1664525u + 1013904223u;
            uint32_t noise = (s >> 27) & 7;
            uint32_t r = static_cast<uint32_t>(255 * fx * ring) & 0xFF;
            uint32_t g = static_cast<uint32_t>(255 * fy) ^ noise;
            uint32_t b = (x / 16 + y / 16) % 2 ? 200 : static_cast<uint32_t>(255 * ring);
            p.argb[static_cast<size_t>(y) * w + x] = (r << 16) | ((g & 0xFF) << 8) | b;
        }
    return p;
}

double MeanChannelError(const RgbPicture& a, const RgbPicture& b)
{
    if (a.argb.size() != b.argb.size() || a.argb.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.argb.size(); ++i)
        for (int s = 0; s < 24; s += 8)
            sum += std::abs(static_cast<int>((a.argb[i] >> s) & 0xFF) - static_cast<int>((b.argb[i] >> s) & 0xFF));
    return sum / (3.0 * static_cast<double>(a.argb.size()));
}

uint32_t MaxChannelError(const RgbPicture& a, const RgbPicture& b)
{
    if (a.argb.size() != b.argb.size()) return 1000;
    uint32_t worst = 0;
    for (size_t i = 0; i < a.argb.size(); ++i)
        for (int s = 0; s < 24; s += 8) {
            int d = std::abs(static_cast<int>((a.argb[i] >> s) & 0xFF) - static_cast<int>((b.argb[i] >> s) & 0xFF));
            if (static_cast<uint32_t>(d) > worst) worst = static_cast<uint32_t>(d);
        }
    return worst;
}

size_t CountColours(const RgbPicture& p)
{
    std::set<uint32_t> seen;
    for (uint32_t c : p.argb) seen.insert(c & 0xFFFFFF);
    return seen.size();
}

BitMapHandle* BitMapFromPicture(const RgbPicture& p, uint32_t format)
{
    uint32_t old = OsGetDisplayPixelFormat();
    OsSetDisplayPixelFormat(format);
    BitMapHandle* bm = AllocColorBitMap(p.w, p.h, 0, nullptr);
    OsSetDisplayPixelFormat(old);
    if (!bm) return nullptr;
    BitMapLock lock{};
    LockBitMapPixels(bm, 0, &lock);
    for (int32_t y = 0; y < p.h; ++y)
        GetPixelRowKernels(format)->fromArgb(&p.argb[static_cast<size_t>(y) * p.w],
                                             lock.pixels + static_cast<size_t>(lock.rowLength) * lock.bytesPerPixel * y,
                                             p.w, 0);
    UnlockBitMapPixels(&lock);
    return bm;
}

RgbPicture PictureFromBitMap(BitMapHandle* bitmap)
{
    RgbPicture p;
    BitMapLock lock{};
    if (!LockBitMapPixels(bitmap, LOCKBITMAP_READ, &lock)) return p;
    p.w = lock.width;
    p.h = lock.height;
    p.argb.resize(static_cast<size_t>(p.w) * p.h);
    for (int32_t y = 0; y < p.h; ++y)
        GetPixelRowKernels(lock.format)->toArgb(lock.pixels + static_cast<size_t>(lock.rowLength) * lock.bytesPerPixel * y,
                                                &p.argb[static_cast<size_t>(y) * p.w], p.w, 0);
    UnlockBitMapPixels(&lock);
    for (auto& c : p.argb) c &= 0xFFFFFF;
    return p;
}

RgbPicture Quantised(const RgbPicture& p, uint32_t format)
{
    RgbPicture q = p;
    std::vector<uint8_t> bytes(static_cast<size_t>(p.w) * 4);
    for (int32_t y = 0; y < p.h; ++y) {
        uint32_t* row = &q.argb[static_cast<size_t>(y) * p.w];
        GetPixelRowKernels(format)->fromArgb(row, bytes.data(), p.w, 0);
        GetPixelRowKernels(format)->toArgb(bytes.data(), row, p.w, 0);
    }
    for (auto& c : q.argb) c &= 0xFFFFFF;
    return q;
}

std::vector<uint8_t> StorePicture(const RgbPicture& p, uint32_t format, int32_t rowLength, uint8_t fill)
{
    uint32_t bpp = PixelFormatBytes(format);
    std::vector<uint8_t> pixels(static_cast<size_t>(rowLength) * p.h * bpp, fill);
    for (int32_t y = 0; y < p.h; ++y)
        GetPixelRowKernels(format)->fromArgb(&p.argb[static_cast<size_t>(y) * p.w],
                                             &pixels[static_cast<size_t>(y) * rowLength * bpp], p.w, 0);
    return pixels;
}
