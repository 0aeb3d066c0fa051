#include "gfx/image_peer.h"

#include <cmath>
#include <set>

#include "gfx/bitmap.h"
#include "gfx/pixel_formats.h"
#include "picture_test_helpers.h"

bool HaveImageMagick() { return picture_test::HaveConvert(); }

bool RunConvert(const RgbPicture& in, const std::string& arguments, RgbPicture* out)
{
    out->argb = picture_test::Convert(in.argb, in.w, in.h, arguments + " -depth 8", &out->w, &out->h);
    return !out->argb.empty();
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
    picture_test::FormatScope scope;
    OsSetDisplayPixelFormat(format);
    return picture_test::BitMapOf(p.argb, p.w, p.h);
}

RgbPicture PictureFromBitMap(BitMapHandle* bitmap)
{
    RgbPicture p{bitmap->width, bitmap->height, picture_test::ArgbOf(bitmap)};
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
