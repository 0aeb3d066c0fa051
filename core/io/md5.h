// MD5 message digest (RFC 1321), used for file and string digests and handed
// to plugins. Incremental, so files can be digested block by block.
#pragma once

#include <cstddef>
#include <cstdint>

struct Md5Context {
    uint32_t state[4];
    uint64_t bitCount;
    uint8_t buffer[64];
};

void Md5Init(Md5Context* ctx);
void Md5Update(Md5Context* ctx, const void* data, size_t length);
void Md5Final(Md5Context* ctx, uint8_t digest[16]);

// Digest of one buffer as 32 lower-case hexadecimal digits and a terminator.
void Md5Hex(const void* data, size_t length, char out[33]);
