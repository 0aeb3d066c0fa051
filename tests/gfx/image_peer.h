// ImageMagick as the independent peer of the effect tests: pictures go out
// and come back as binary PPM files (no library between us and the peer).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbPicture {
    int32_t w = 0;
    int32_t h = 0;
    std::vector<uint32_t> argb;  // 0x00RRGGBB, rows without padding
};

bool HaveImageMagick();
// Runs "/usr/bin/convert IN <arguments> OUT" on the picture; false when the
// peer fails or its answer cannot be read.
bool RunConvert(const RgbPicture& in, const std::string& arguments, RgbPicture* out);

// A smooth but busy test picture: gradients, rings and a few hard edges.
RgbPicture TestPicture(int32_t w, int32_t h, uint32_t seed = 1);

// Mean absolute difference per channel, and the largest one.
double MeanChannelError(const RgbPicture& a, const RgbPicture& b);
uint32_t MaxChannelError(const RgbPicture& a, const RgbPicture& b);
size_t CountColours(const RgbPicture& p);

struct BitMapHandle;

// A colour bitmap in the given pixel format holding the picture (the
// platform format is set for the allocation and restored).
BitMapHandle* BitMapFromPicture(const RgbPicture& p, uint32_t format);
// The bitmap's pixels as 0x00RRGGBB.
RgbPicture PictureFromBitMap(BitMapHandle* bitmap);
// The picture as it comes back from a format with fewer bits per channel.
RgbPicture Quantised(const RgbPicture& p, uint32_t format);
// The picture's pixels in `format`, rows of rowLength pixels whose padding
// holds the fill byte.
std::vector<uint8_t> StorePicture(const RgbPicture& p, uint32_t format, int32_t rowLength, uint8_t fill);
