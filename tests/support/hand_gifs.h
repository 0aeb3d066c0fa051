// GIF files written byte by byte for the decoder tests: frames of one
// index in literal codes, whose data may stop short, and frames of the
// largest size in a hundred kilobytes each. The global palette has two
// colours: index 0 red, index 1 blue.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace handgif {

inline void PutLE16(std::vector<uint8_t>* out, uint32_t v)
{
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}

// LZW codes of minimum size 2 packed into data sub-blocks.
struct CodeWriter {
    std::vector<uint8_t> bytes;
    uint64_t accumulator = 0;
    uint32_t held = 0;
    void Put(uint32_t code, uint32_t bits)
    {
        accumulator |= uint64_t{code} << held;
        for (held += bits; held >= 8; held -= 8, accumulator >>= 8)
            bytes.push_back(static_cast<uint8_t>(accumulator));
    }
    void Finish(std::vector<uint8_t>* gif)
    {
        if (held)
            bytes.push_back(static_cast<uint8_t>(accumulator));
        gif->push_back(2);
        for (size_t at = 0; at < bytes.size(); at += 255) {
            size_t n = std::min<size_t>(255, bytes.size() - at);
            gif->push_back(static_cast<uint8_t>(n));
            gif->insert(gif->end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        gif->push_back(0);
    }
};

inline std::vector<uint8_t> Header(uint16_t screenWidth, uint16_t screenHeight)
{
    std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a'};
    PutLE16(&g, screenWidth);
    PutLE16(&g, screenHeight);
    g.insert(g.end(), {0x80, 0, 0, 255, 0, 0, 0, 0, 255});
    return g;
}

inline void Descriptor(std::vector<uint8_t>* g, uint16_t x, uint16_t y, uint16_t w, uint16_t h, bool interlaced)
{
    g->push_back(0x2C);
    for (uint16_t v : {x, y, w, h})
        PutLE16(g, v);
    g->push_back(interlaced ? 0x40 : 0);
}

}  // namespace handgif

// A frame of `indices` times index 1 (a clear before every other code
// keeps the codes 3 bits wide), with or without the end code after them.
struct LiteralFrame {
    uint16_t x, y, w, h;
    bool interlaced;
    uint32_t indices;
    bool endCode;
};

inline std::vector<uint8_t> LiteralGif(uint16_t screenWidth, uint16_t screenHeight,
                                       const std::vector<LiteralFrame>& frames)
{
    std::vector<uint8_t> g = handgif::Header(screenWidth, screenHeight);
    for (const LiteralFrame& f : frames) {
        handgif::Descriptor(&g, f.x, f.y, f.w, f.h, f.interlaced);
        handgif::CodeWriter codes;
        for (uint32_t i = 0; i < f.indices; ++i) {
            if (i % 2 == 0)
                codes.Put(4, 3);
            codes.Put(1, 3);
        }
        if (f.endCode)
            codes.Put(5, 3);
        codes.Finish(&g);
    }
    g.push_back(0x3B);
    return g;
}

// `frames` frames of side x side indices 0 at (0, 0) in about 100 KB each
// for the largest side: LZW codes for ever longer runs until the table is
// full, then its longest code again and again.
inline std::vector<uint8_t> RunsGif(uint16_t screenWidth, uint16_t screenHeight, uint32_t frames, uint16_t side,
                                    bool interlaced = false)
{
    std::vector<uint8_t> g = handgif::Header(screenWidth, screenHeight);
    const uint64_t total = uint64_t{side} * side;
    for (uint32_t f = 0; f < frames; ++f) {
        handgif::Descriptor(&g, 0, 0, side, side, interlaced);
        handgif::CodeWriter codes;
        uint32_t bits = 3, next = 6;
        codes.Put(4, bits);  // clear
        codes.Put(0, bits);
        uint64_t produced = 1, length = 1;
        while (produced < total && next < 4096) {
            codes.Put(next, bits);  // the previous string and its first index again
            produced += ++length;
            if (++next == (1u << bits) && bits < 12)
                ++bits;
        }
        for (; produced < total; produced += length)
            codes.Put(4095, 12);
        codes.Put(5, 12);  // end
        codes.Finish(&g);
    }
    g.push_back(0x3B);
    return g;
}
