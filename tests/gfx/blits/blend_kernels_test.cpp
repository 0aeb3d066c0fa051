// The vector blend kernels against the scalar reference on each path the processor runs.
#include <gtest/gtest.h>

#include <vector>

#include "gfx/blits/blend_kernels.h"
#include "gfx/blits/soft_blit.h"
#include "gfx/picture_test_helpers.h"

namespace {

using picture_test::Lcg;

const uint32_t kFormats[] = {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 13};

struct VectorPath { const char* name; uint32_t path; const BlendRowKernels* const* table; };

std::vector<VectorPath> RunnablePaths()
{
    std::vector<VectorPath> paths = {{"sse2", BLENDPATH_SSE2, kSse2BlendKernels}};
    uint32_t old = GetBlendPath();
    if (SetBlendPath(BLENDPATH_AVX2) == 0) paths.push_back({"avx2", BLENDPATH_AVX2, kAvx2BlendKernels});
    SetBlendPath(old);
    return paths;
}

// Alpha rows with runs of 0 and 255 between random values, so that both the
// bulk steps and the blended ones are met.
uint8_t RandomAlpha(uint32_t& seed, int32_t i)
{
    uint32_t r = Lcg(seed);
    switch ((i / 5 + (r >> 28)) % 4) {
    case 0: return 0;
    case 1: return 255;
    default: return static_cast<uint8_t>(r >> 8);
    }
}

enum Kernel { kBlend, kCopyWhere, kComposite, kCover, kTint, kFill, kKernelCount };
const char* const kKernelNames[] = {"blend", "copyWhere", "composite", "cover", "tint", "fill"};

// Runs one kernel of one table over a row of n pixels that starts `offset`
// pixels into buffers with a guard behind the row.
void RunKernel(const BlendRowKernels* k, Kernel which, uint32_t bpp, std::vector<uint8_t>& dst,
               const std::vector<uint8_t>& src, const std::vector<uint8_t>& alpha,
               std::vector<uint8_t>& dstAlpha, int32_t offset, int32_t n, uint32_t value,
               uint32_t level)
{
    uint8_t* d = dst.data() + offset * bpp;
    const uint8_t* s = src.data() + offset * bpp;
    const uint8_t* a = alpha.data() + offset;
    switch (which) {
    case kBlend: k->blend(d, s, a, n); break;
    case kCopyWhere: k->copyWhere(d, s, a, n); break;
    case kComposite: k->composite(d, s, a, dstAlpha.data() + offset, n); break;
    case kCover: k->cover(d, value, a, n); break;
    case kTint: k->tint(d, value, level, n); break;
    default: k->fill(d, value, n); break;
    }
}

TEST(BlendKernels, VectorRowsGiveTheReferenceBytes)
{
    uint32_t seed = 2024;
    for (const VectorPath& path : RunnablePaths()) {
        for (uint32_t format : kFormats) {
            uint32_t bpp = format >= 10 ? 4 : 2;
            for (int32_t n = 1; n <= 67; ++n) {
                for (int kernel = 0; kernel < kKernelCount; ++kernel) {
                    int32_t offset = static_cast<int32_t>(Lcg(seed) % 7);
                    size_t count = static_cast<size_t>(offset + n + 9);
                    std::vector<uint8_t> src(count * bpp), dst(count * bpp), alpha(count), dstAlpha(count);
                    for (auto& b : src) b = static_cast<uint8_t>(Lcg(seed));
                    for (auto& b : dst) b = static_cast<uint8_t>(Lcg(seed));
                    for (size_t i = 0; i < count; ++i) {
                        alpha[i] = RandomAlpha(seed, static_cast<int32_t>(i));
                        dstAlpha[i] = RandomAlpha(seed, static_cast<int32_t>(i) + 2);
                    }
                    uint32_t value = Lcg(seed);
                    if (bpp == 2) value &= 0xFFFF;
                    // Levels up to 256 are vectorised; above that the kernel
                    // must still agree.
                    uint32_t level = Lcg(seed) % 300;
                    std::vector<uint8_t> dstRef = dst, dstAlphaRef = dstAlpha;
                    RunKernel(kScalarBlendKernels[format], static_cast<Kernel>(kernel), bpp, dstRef,
                              src, alpha, dstAlphaRef, offset, n, value, level);
                    RunKernel(path.table[format], static_cast<Kernel>(kernel), bpp, dst, src, alpha,
                              dstAlpha, offset, n, value, level);
                    ASSERT_EQ(dst, dstRef) << path.name << " format " << format << " width " << n
                                           << " " << kKernelNames[kernel];
                    ASSERT_EQ(dstAlpha, dstAlphaRef) << path.name << " format " << format
                                                     << " width " << n << " " << kKernelNames[kernel];
                }
            }
        }
    }
}

// The composite divides twice per pixel; the vector path replaces both
// divisions, so every pair of alphas is checked.
TEST(BlendKernels, CompositeOverEveryAlphaPair)
{
    constexpr int32_t kN = 256 * 256;
    uint32_t seed = 77;
    std::vector<uint8_t> alpha(kN), dstAlpha(kN);
    for (int32_t i = 0; i < kN; ++i) {
        alpha[i] = static_cast<uint8_t>(i >> 8);
        dstAlpha[i] = static_cast<uint8_t>(i);
    }
    for (const VectorPath& path : RunnablePaths()) {
        for (uint32_t format : {4u, 0u, 10u, 11u}) {
            uint32_t bpp = format >= 10 ? 4 : 2;
            std::vector<uint8_t> src(kN * bpp), dst(kN * bpp);
            for (auto& b : src) b = static_cast<uint8_t>(Lcg(seed));
            for (auto& b : dst) b = static_cast<uint8_t>(Lcg(seed));
            std::vector<uint8_t> dstRef = dst, daRef = dstAlpha, da = dstAlpha;
            kScalarBlendKernels[format]->composite(dstRef.data(), src.data(), alpha.data(), daRef.data(), kN);
            path.table[format]->composite(dst.data(), src.data(), alpha.data(), da.data(), kN);
            EXPECT_EQ(dst, dstRef) << path.name << " format " << format;
            EXPECT_EQ(da, daRef) << path.name << " format " << format;
        }
    }
}

TEST(BlendKernels, BlitsAndFillsAgreeOnEveryForcedPath)
{
    constexpr int32_t kW = 37, kH = 11;
    uint32_t seed = 5;
    std::vector<uint32_t> src(kW * kH), start(kW * kH);
    std::vector<uint8_t> alpha(kW * kH), dstAlphaStart(kW * kH);
    for (auto& p : src) p = Lcg(seed);
    for (auto& p : start) p = Lcg(seed);
    for (int32_t i = 0; i < kW * kH; ++i) {
        alpha[i] = RandomAlpha(seed, i);
        dstAlphaStart[i] = RandomAlpha(seed, i + 1);
    }
    uint32_t old = GetBlendPath();
    std::vector<uint32_t> paths = {BLENDPATH_SCALAR};
    for (const VectorPath& p : RunnablePaths()) paths.push_back(p.path);
    for (uint32_t format : kFormats) {
        uint32_t bpp = format >= 10 ? 4 : 2;
        int32_t rowLength = bpp == 4 ? kW : 2 * kW;  // 16-bit rows hold twice the pixels
        std::vector<std::vector<uint32_t>> results;
        std::vector<std::vector<uint8_t>> planes;
        for (uint32_t path : paths) {
            ASSERT_EQ(SetBlendPath(path), 0u);
            std::vector<uint32_t> dst = start;
            std::vector<uint8_t> da = dstAlphaStart;
            for (uint32_t mode : {BLEND_ALPHA, BLEND_COPY_WHERE, BLEND_COMPOSITE})
                SoftBltRectEx(src.data(), 3, 1, dst.data(), 2, 2, 29, 8, rowLength, rowLength,
                              alpha.data(), kW, da.data(), kW, format, bpp, mode);
            SoftRectFill(dst.data(), 1, 0, 30, 9, 0xFF12A4C9, 77, rowLength, format);
            results.push_back(dst);
            planes.push_back(da);
        }
        for (size_t i = 1; i < results.size(); ++i) {
            EXPECT_EQ(results[i], results[0]) << "path " << paths[i] << " format " << format;
            EXPECT_EQ(planes[i], planes[0]) << "path " << paths[i] << " format " << format;
        }
    }
    SetBlendPath(old);
}

}  // namespace
