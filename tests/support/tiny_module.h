// A 4-channel ProTracker module written byte by byte: one pattern of 64 rows
// whose first row plays sample 1 (a square wave) on channel 1. No tool at
// hand writes tracker modules, and this one is small enough to read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

inline std::vector<uint8_t> TinyModule()
{
    std::vector<uint8_t> m(1084 + 1024 + 64, 0);
    std::snprintf(reinterpret_cast<char*>(m.data()), 20, "tiny");
    uint8_t* s = &m[20];  // sample 1
    std::snprintf(reinterpret_cast<char*>(s), 22, "square");
    s[22] = 0, s[23] = 32;  // length in words
    s[25] = 64;             // volume
    s[28] = 0, s[29] = 1;   // no loop
    m[950] = 1;             // song length
    m[951] = 127;
    std::memcpy(&m[1080], "M.K.", 4);
    uint8_t* row0 = &m[1084];
    row0[0] = 0x01, row0[1] = 0xAC;  // period 428
    row0[2] = 0x10;                  // sample 1
    for (int i = 0; i < 64; ++i) m[1084 + 1024 + i] = i & 8 ? 0x40 : 0xC0;
    return m;
}
