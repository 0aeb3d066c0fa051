// Helpers of the picture tests: bitmaps made from and read back into ARGB
// vectors through plain locks, plane bits and bytes, random pictures, and
// ImageMagick as an independent peer.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "gfx/bitmap.h"
#include "gfx/pixel_formats.h"
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
    return QueryBitMapAttr(plane, plane->kind == BITMAP_MASK ? BMATTR_MASK_BYTESPERROW
                                                             : BMATTR_ALPHA_BYTESPERROW);
}

inline bool MaskAt(BitMapHandle* m, int32_t x, int32_t y)
{
    return PlanePixels(m)[PlaneRow(m) * y + (x >> 3)] & (0x80 >> (x & 7));
}

inline void SetMaskAt(BitMapHandle* m, int32_t x, int32_t y, bool on)
{
    uint8_t& b = PlanePixels(m)[PlaneRow(m) * y + (x >> 3)];
    uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    b = static_cast<uint8_t>(on ? b | bit : b & ~bit);
}

inline uint8_t& AlphaAt(BitMapHandle* a, int32_t x, int32_t y) { return PlanePixels(a)[PlaneRow(a) * y + x]; }

// ImageMagick, the test peer; tests skip without it.
inline const char* kConvert = "/usr/bin/convert";
inline bool HaveConvert() { return access(kConvert, X_OK) == 0; }

inline void WritePpm(const std::string& path, const std::vector<uint32_t>& argb, int32_t w, int32_t h)
{
    std::vector<uint8_t> bytes;
    std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    bytes.assign(head.begin(), head.end());
    for (uint32_t p : argb) {
        bytes.push_back(static_cast<uint8_t>(p >> 16));
        bytes.push_back(static_cast<uint8_t>(p >> 8));
        bytes.push_back(static_cast<uint8_t>(p));
    }
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

// Runs convert on a PPM of the pixels with the given operation.
inline std::vector<uint32_t> Convert(const std::vector<uint32_t>& argb, int32_t w, int32_t h,
                                     const std::string& operation, int32_t* ow, int32_t* oh)
{
    TempDir dir;
    WritePpm(dir / "in.ppm", argb, w, h);
    std::string command = std::string(kConvert) + " " + dir / "in.ppm" + " " + operation + " " +
                          dir / "out.ppm" + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return {};
    return ReadPpm(dir / "out.ppm", ow, oh);
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
