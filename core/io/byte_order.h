// Big-endian numbers in memory: the system's own file formats (applets,
// table streams, catalogs) store every multi-byte number most significant
// byte first, whatever the processor. Streams have their own readers.
#pragma once

#include <cstdint>

inline uint16_t LoadBE16(const void* p)
{
    auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

inline uint32_t LoadBE32(const void* p)
{
    auto* b = static_cast<const uint8_t*>(p);
    return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

inline void StoreBE16(void* p, uint16_t v)
{
    auto* b = static_cast<uint8_t*>(p);
    b[0] = static_cast<uint8_t>(v >> 8);
    b[1] = static_cast<uint8_t>(v);
}

inline void StoreBE32(void* p, uint32_t v)
{
    auto* b = static_cast<uint8_t*>(p);
    b[0] = static_cast<uint8_t>(v >> 24);
    b[1] = static_cast<uint8_t>(v >> 16);
    b[2] = static_cast<uint8_t>(v >> 8);
    b[3] = static_cast<uint8_t>(v);
}

// Little-endian numbers: the foreign picture formats (BMP, GIF) store
// theirs least significant byte first.
inline uint16_t LoadLE16(const void* p)
{
    auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t LoadLE32(const void* p)
{
    auto* b = static_cast<const uint8_t*>(p);
    return b[0] | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
}

inline void StoreLE16(void* p, uint16_t v)
{
    auto* b = static_cast<uint8_t*>(p);
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
}

inline void StoreLE32(void* p, uint32_t v)
{
    auto* b = static_cast<uint8_t*>(p);
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
    b[2] = static_cast<uint8_t>(v >> 16);
    b[3] = static_cast<uint8_t>(v >> 24);
}
