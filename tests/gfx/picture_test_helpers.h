// Helpers of the picture tests, and ImageMagick as an independent peer (through binary PPM files).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "gfx/bitmaps/bitmap.h"
#include "gfx/bitmaps/pixel_formats.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

namespace picture_test {

// Frees the bitmaps and planes handed to it, last first, when its scope ends.
struct Owned {
    std::vector<BitMapHandle*> handles;
    BitMapHandle* operator()(BitMapHandle* h)
    {
        handles.push_back(h);
        return h;
    }
    ~Owned()
    {
        for (auto h = handles.rbegin(); h != handles.rend(); ++h) {
            if (*h && (*h)->kind == BITMAP_COLOR) FreeColorBitMap(*h);
            else FreePlaneBitMap(*h);
        }
    }
};

inline uint32_t Lcg(uint32_t& s)
{
    s = s * 1664525u + 1013904223u;
    return s ^ (s >> 15);
}

// Restores the platform's pixel format after a test that changes it.
struct FormatScope {
    uint32_t saved = OsGetDisplayPixelFormat();
    ~FormatScope() { OsSetDisplayPixelFormat(saved); }
};

inline std::vector<uint32_t> RandomArgb(size_t n, uint32_t seed)
{
    std::vector<uint32_t> v(n);
    for (auto& x : v) x = Lcg(seed);
    return v;
}

// A smooth picture (sums of slow waves), for comparisons in PSNR.
inline std::vector<uint32_t> SmoothArgb(int32_t w, int32_t h)
{
    std::vector<uint32_t> v(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            auto c = [&](double fx, double fy, double ph) {
                return static_cast<uint32_t>(127.5 + 127.0 * std::sin(x * fx + y * fy + ph));
            };
            v[static_cast<size_t>(y) * w + x] =
                (c(0.05, 0.02, 0) << 16) | (c(0.013, 0.07, 1) << 8) | c(0.031, 0.029, 2);
        }
    return v;
}

// A colour bitmap in the platform's format holding the pixels.
inline BitMapHandle* BitMapOf(const std::vector<uint32_t>& argb, int32_t w, int32_t h)
{
    BitMapHandle* bm = AllocColorBitMap(w, h, 0, nullptr);
    EXPECT_NE(bm, nullptr);
    if (!bm) return nullptr;
    BitMapLock lock{};
    LockBitMapPixels(bm, 0, &lock);
    const PixelRowKernels* k = GetPixelRowKernels(lock.format);
    for (int32_t y = 0; y < h; ++y)
        k->fromArgb(argb.data() + static_cast<size_t>(y) * w,
                    lock.pixels + static_cast<size_t>(y) * lock.rowLength * lock.bytesPerPixel, w, 1);
    UnlockBitMapPixels(&lock);
    return bm;
}

inline std::vector<uint32_t> ArgbOf(BitMapHandle* bm)
{
    BitMapLock lock{};
    std::vector<uint32_t> out;
    if (!LockBitMapPixels(bm, LOCKBITMAP_READ, &lock)) return out;
    out.resize(static_cast<size_t>(lock.width) * lock.height);
    const PixelRowKernels* k = GetPixelRowKernels(lock.format);
    for (int32_t y = 0; y < lock.height; ++y)
        k->toArgb(lock.pixels + static_cast<size_t>(y) * lock.rowLength * lock.bytesPerPixel,
                  out.data() + static_cast<size_t>(y) * lock.width, lock.width, 1);
    UnlockBitMapPixels(&lock);
    return out;
}

inline uint8_t* PlanePixels(BitMapHandle* plane)
{
    return reinterpret_cast<uint8_t*>(QueryBitMapAttr(
        plane, plane->kind == BITMAP_MASK ? BMATTR_MASK_PIXELS : BMATTR_ALPHA_PIXELS));
}

inline size_t PlaneRow(BitMapHandle* plane)
{
    return QueryBitMapAttr(plane, plane->kind == BITMAP_MASK ? BMATTR_MASK_BYTESPERROW : BMATTR_ALPHA_BYTESPERROW);
}

// Bit x of a row of mask bits, the leftmost pixel in the top bit.
inline bool BitAt(const uint8_t* row, int32_t x) { return row[x >> 3] & (0x80 >> (x & 7)); }

inline bool MaskAt(BitMapHandle* m, int32_t x, int32_t y) { return BitAt(PlanePixels(m) + PlaneRow(m) * y, x); }

inline void SetMaskAt(BitMapHandle* m, int32_t x, int32_t y, bool on)
{
    uint8_t& b = PlanePixels(m)[PlaneRow(m) * y + (x >> 3)];
    uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    b = static_cast<uint8_t>(on ? b | bit : b & ~bit);
}

inline uint8_t& AlphaAt(BitMapHandle* a, int32_t x, int32_t y) { return PlanePixels(a)[PlaneRow(a) * y + x]; }

inline BitMapHandle* Colour(int32_t w, int32_t h, uint32_t fill)
{
    return picture_test::BitMapOf(std::vector<uint32_t>(static_cast<size_t>(w) * h, fill), w, h);
}

inline void Put(BitMapHandle* b, int32_t x, int32_t y, uint32_t argb)
{
    BitMapLock lock{};
    if (LockBitMapPixels(b, 0, &lock)) {
        WriteLockedPixel(&lock, x, y, argb);
        UnlockBitMapPixels(&lock);
    }
}

// The pixel as 0x00RRGGBB.
inline uint32_t Get(BitMapHandle* b, int32_t x, int32_t y) { return ReadBitMapPixel(b, x, y, 0); }

inline uint8_t* AlphaRow(BitMapHandle* a, int32_t y) { return &picture_test::AlphaAt(a, 0, y); }

// An alpha plane whose byte (x, y) is value(x, y).
template <typename Value>
BitMapHandle* AlphaOf(int32_t w, int32_t h, Value value)
{
    BitMapHandle* a = AllocAlphaBitMap(w, h, 1, nullptr, 0);
    for (int32_t y = 0; a && y < h; ++y)
        for (int32_t x = 0; x < w; ++x) AlphaRow(a, y)[x] = static_cast<uint8_t>(value(x, y));
    return a;
}

inline BitMapHandle* Alpha(int32_t w, int32_t h, uint8_t fill)
{
    return AlphaOf(w, h, [fill](int32_t, int32_t) { return fill; });
}

// A mask whose bit (x, y) is shape(x, y).
template <typename Shape>
BitMapHandle* Mask(BitMapHandle* colour, int32_t w, int32_t h, Shape shape)
{
    BitMapHandle* m = AllocMaskBitMap(colour, w, h, 1, nullptr, 0);
    for (int32_t y = 0; m && y < h; ++y)
        for (int32_t x = 0; x < w; ++x) SetMaskAt(m, x, y, shape(x, y));
    return m;
}

inline void WritePpm(const std::string& path, const std::vector<uint32_t>& argb, int32_t w, int32_t h)
{
    std::vector<uint8_t> bytes;
    std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    bytes.assign(head.begin(), head.end());
    for (uint32_t p : argb)
        bytes.insert(bytes.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
    WriteFileBytes(path, bytes);
}

// The RGB pixels of a binary PPM, or nothing.
inline std::vector<uint32_t> ReadPpm(const std::string& path, int32_t* w, int32_t* h)
{
    std::vector<uint8_t> b = ReadFileBytes(path);
    std::vector<uint32_t> out;
    int maxval = 0, used = 0;
    if (std::sscanf(reinterpret_cast<const char*>(b.data()), "P6 %d %d %d%n", w, h, &maxval, &used) != 3 ||
        maxval != 255)
        return out;
    size_t at = static_cast<size_t>(used) + 1, n = static_cast<size_t>(*w) * *h;
    if (b.size() < at + 3 * n) return out;
    for (size_t i = 0; i < n; ++i, at += 3)
        out.push_back((uint32_t{b[at]} << 16) | (uint32_t{b[at + 1]} << 8) | b[at + 2]);
    return out;
}

inline double Psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int s = 0; s < 24; s += 8) {
            double d = static_cast<double>((a[i] >> s) & 255) - static_cast<double>((b[i] >> s) & 255);
            sum += d * d;
        }
    double mse = sum / (3.0 * static_cast<double>(a.size()));
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace picture_test

// Pictures as 0x00RRGGBB words, rows without padding.
struct RgbPicture { int32_t w = 0, h = 0; std::vector<uint32_t> argb; };

// Runs "/usr/bin/convert IN <arguments> OUT" on the picture; false when the
// peer fails or its answer cannot be read.
inline bool RunConvert(const RgbPicture& in, const std::string& arguments, RgbPicture* out)
{
    TempDir dir;
    picture_test::WritePpm(dir / "in.ppm", in.argb, in.w, in.h);
    std::string command = std::string(kImageMagick) + " " + dir / "in.ppm" + " " + arguments + " -depth 8 " +
                          dir / "out.ppm" + " 2>/dev/null";
    out->argb.clear();
    if (std::system(command.c_str()) == 0) out->argb = picture_test::ReadPpm(dir / "out.ppm", &out->w, &out->h);
    return !out->argb.empty();
}

// A smooth but busy test picture: gradients, rings and a few hard edges.
inline RgbPicture TestPicture(int32_t w, int32_t h, uint32_t seed = 1)
{
    RgbPicture p{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
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

// Mean absolute difference per channel (1e9 for pictures of other sizes),
// and the largest one through `worst` (1000 then).
inline double MeanChannelError(const RgbPicture& a, const RgbPicture& b, uint32_t* worst = nullptr)
{
    if (worst) *worst = 1000;
    if (a.argb.size() != b.argb.size() || a.argb.empty()) return 1e9;
    double sum = 0;
    uint32_t most = 0;
    for (size_t i = 0; i < a.argb.size(); ++i)
        for (int s = 0; s < 24; s += 8) {
            int d = std::abs(static_cast<int>((a.argb[i] >> s) & 0xFF) - static_cast<int>((b.argb[i] >> s) & 0xFF));
            sum += d;
            most = std::max(most, static_cast<uint32_t>(d));
        }
    if (worst) *worst = most;
    return sum / (3.0 * static_cast<double>(a.argb.size()));
}

// Ours next to the peer's picture: both errors printed, and held to the bounds.
inline void ExpectNearPeer(const char* name, const RgbPicture& ours, const RgbPicture& peer, double meanBound,
                           uint32_t maxBound)
{
    uint32_t worst;
    double mean = MeanChannelError(ours, peer, &worst);
    std::printf("%-9s mean %.3f max %u\n", name, mean, worst);
    EXPECT_LE(mean, meanBound) << name;
    EXPECT_LE(worst, maxBound) << name;
}

inline size_t CountColours(const RgbPicture& p)
{
    std::set<uint32_t> seen;
    for (uint32_t c : p.argb) seen.insert(c & 0xFFFFFF);
    return seen.size();
}

// A colour bitmap in the given pixel format holding the picture.
inline BitMapHandle* BitMapFromPicture(const RgbPicture& p, uint32_t format)
{
    picture_test::FormatScope scope;
    OsSetDisplayPixelFormat(format);
    return picture_test::BitMapOf(p.argb, p.w, p.h);
}

inline RgbPicture PictureFromBitMap(BitMapHandle* bitmap)
{
    RgbPicture p{bitmap->width, bitmap->height, picture_test::ArgbOf(bitmap)};
    for (auto& c : p.argb) c &= 0xFFFFFF;
    return p;
}

// The picture as it comes back from a format with fewer bits per channel.
inline RgbPicture Quantised(const RgbPicture& p, uint32_t format)
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

// The picture's pixels in `format`, rows of rowLength pixels whose padding
// holds the fill byte.
inline std::vector<uint8_t> StorePicture(const RgbPicture& p, uint32_t format, int32_t rowLength, uint8_t fill)
{
    uint32_t bpp = PixelFormatBytes(format);
    std::vector<uint8_t> pixels(static_cast<size_t>(rowLength) * p.h * bpp, fill);
    for (int32_t y = 0; y < p.h; ++y)
        GetPixelRowKernels(format)->fromArgb(&p.argb[static_cast<size_t>(y) * p.w],
                                             &pixels[static_cast<size_t>(y) * rowLength * bpp], p.w, 0);
    return pixels;
}
