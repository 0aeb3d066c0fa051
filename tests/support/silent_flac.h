// FLAC files of silence written byte by byte, so that tests can make sounds
// of any length in a few kilobytes: every frame holds one constant subframe
// of 0 per channel. The stream information may declare more samples than
// the frames hold, as a lying or cut file does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace silentflac {

inline uint8_t Crc8(const uint8_t* p, size_t n)
{
    uint8_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

inline uint16_t Crc16(const uint8_t* p, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(p[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

// The frame number in the UTF-8-like coding of frame headers.
inline void PutCodedNumber(std::vector<uint8_t>* out, uint32_t n)
{
    if (n < 0x80) {
        out->push_back(static_cast<uint8_t>(n));
        return;
    }
    int extra = n < 0x800 ? 1 : n < 0x10000 ? 2 : n < 0x200000 ? 3 : n < 0x4000000 ? 4 : 5;
    static constexpr uint8_t kLead[6] = {0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    out->push_back(static_cast<uint8_t>(kLead[extra] | (n >> (6 * extra))));
    for (int i = extra - 1; i >= 0; --i)
        out->push_back(static_cast<uint8_t>(0x80 | ((n >> (6 * i)) & 0x3F)));
}

}  // namespace silentflac

// 16-bit silence of `held` frames (in blocks of up to 65535) whose stream
// information declares `declared` frames; 1 or 2 channels.
inline std::vector<uint8_t> SilentFlac(uint64_t declared, uint64_t held, uint32_t rate, uint32_t channels)
{
    using namespace silentflac;
    const uint32_t kBlock = 65535;
    std::vector<uint8_t> f = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
    uint32_t minBlock = held < kBlock ? static_cast<uint32_t>(held ? held : 16) : kBlock;
    uint8_t info[34] = {};
    info[0] = static_cast<uint8_t>(minBlock >> 8), info[1] = static_cast<uint8_t>(minBlock);
    info[2] = static_cast<uint8_t>(kBlock >> 8), info[3] = static_cast<uint8_t>(kBlock);
    // 20 bits of rate, 3 of channels - 1, 5 of bits - 1, 36 of samples.
    uint64_t packed = (uint64_t{rate} << 44) | (uint64_t{channels - 1} << 41) | (uint64_t{15} << 36) |
                      (declared & 0xFFFFFFFFFull);
    for (int i = 0; i < 8; ++i)
        info[10 + i] = static_cast<uint8_t>(packed >> (56 - 8 * i));
    for (uint8_t b : info)
        f.push_back(b);
    uint32_t number = 0;
    for (uint64_t left = held; left; ++number) {
        uint32_t n = left < kBlock ? static_cast<uint32_t>(left) : kBlock;
        left -= n;
        std::vector<uint8_t> frame = {0xFF, 0xF8, 0x70, static_cast<uint8_t>(((channels - 1) << 4) | 0x08)};
        PutCodedNumber(&frame, number);
        frame.push_back(static_cast<uint8_t>((n - 1) >> 8));
        frame.push_back(static_cast<uint8_t>(n - 1));
        frame.push_back(Crc8(frame.data(), frame.size()));
        for (uint32_t c = 0; c < channels; ++c)
            frame.insert(frame.end(), {0, 0, 0});  // constant subframe, value 0
        uint16_t crc = Crc16(frame.data(), frame.size());
        frame.push_back(static_cast<uint8_t>(crc >> 8));
        frame.push_back(static_cast<uint8_t>(crc));
        f.insert(f.end(), frame.begin(), frame.end());
    }
    return f;
}
