// Per-pixel filter kernels of the image effects: convolution (blur, emboss,
// edge, sharpen), solarize, gamma tables, contrast steps, HSV modulation,
// sepia toning, the two-colour writer, histogram stretch and oil paint.
// They get raw pixels, sizes and row lengths (in pixels) from the effect
// front ends, never lock and report no errors; a kernel that cannot get its
// scratch memory leaves the pixels as they were. 32-bit members serve
// formats 10-13, 16-bit members formats 0-7; both work on 8-bit channels in
// ARGB and convert other layouts per row.
#pragma once

#include <cstdint>

// Kind letters of ConvolvePixels.
enum : uint32_t {
    CONVOLVE_BLUR = 98,      // "b"
    CONVOLVE_EMBOSS = 101,   // "e"
    CONVOLVE_EDGE = 103,     // "g"
    CONVOLVE_SHARPEN = 115,  // "s"
};

struct ConvolveParams {
    void* pixels;  // null: only the alpha plane is filtered
    int32_t w;
    int32_t h;
    int32_t rowLength;
    uint32_t format;
    uint32_t bytesPerPixel;
    uint8_t* alpha;  // optional 8-bit plane filtered the same way
    int32_t alphaBytesPerRow;
    double radius;    // at least 0
    double strength;  // blur: the Gaussian's sigma; others: the kernel's weight
    uint32_t kind;
};

struct GammaParams {
    void* pixels;
    int32_t w;
    int32_t h;
    int32_t rowLength;
    uint32_t format;
    uint32_t channels;  // 1 red, 2 green, 4 blue
    const uint8_t* red;
    const uint8_t* green;
    const uint8_t* blue;
};

struct ModulateParams {
    void* pixels;
    int32_t w;
    int32_t h;
    int32_t rowLength;
    uint32_t format;
    int32_t brightness;  // percent, 100 = unchanged
    int32_t saturation;
    int32_t hue;  // 100 = unchanged, 0 and 200 turn the hue half round
};

struct NormalizeParams {
    void* pixels;
    int32_t w;
    int32_t h;
    int32_t rowLength;
    uint32_t lowCount;
    uint32_t highCount;
    uint32_t format;
};

struct OilPaintParams {
    void* pixels;
    int32_t w;
    int32_t h;
    int32_t rowLength;
    uint32_t format;
    double radius;
};

void ConvolvePixels(const ConvolveParams* block);

void SolarizePixels32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format,
                      uint32_t threshold);
void SolarizePixels16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format,
                      uint32_t threshold);

void GammaPixels32(const GammaParams* block);
void GammaPixels16(const GammaParams* block);

void ContrastPixels32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format,
                      int32_t direction);
void ContrastPixels16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format,
                      int32_t direction);

void ModulatePixels32(const ModulateParams* block);
void ModulatePixels16(const ModulateParams* block);

void SepiaPixels32(uint32_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format,
                   uint32_t level);
void SepiaPixels16(uint16_t* pixels, int32_t w, int32_t h, int32_t rowLength, uint32_t format,
                   uint32_t level);

// Index 0 writes black, any other index white; indices are w * h bytes.
void MonochromePixels32(uint32_t* pixels, int32_t w, int32_t h, uint32_t format,
                        int32_t rowLength, const uint8_t* indices);
void MonochromePixels16(uint16_t* pixels, int32_t w, int32_t h, uint32_t format,
                        int32_t rowLength, const uint8_t* indices);

// Chooses its member by the format's pixel size.
void NormalizePixels(const NormalizeParams* block);

void OilPaintPixels32(const OilPaintParams* block);
void OilPaintPixels16(const OilPaintParams* block);

// One pass of the Gaussian blur: output byte i is the rounded sum, over
// m < count, of the two 16-bit halves of pairs[m][i] (two source bytes)
// times the two 16-bit halves of weightPairs[m] (low with low), over 1 << 14.
// Members: scalar reference, SSE2, AVX2.
typedef void (*BlurPairsFunc)(const uint32_t* const* pairs, const int32_t* weightPairs, int32_t count,
                              uint8_t* out, int32_t bytes);
enum : uint32_t { BLURPATH_SCALAR = 0, BLURPATH_SSE2 = 1, BLURPATH_AVX2 = 2 };
BlurPairsFunc GetBlurPairs(uint32_t path);
// The path the blur uses; the best the processor has unless a test forces
// another (a path the processor lacks falls back to SSE2).
uint32_t SelectBlurPath(uint32_t path);
