// What the memblock commands share: element sizes, range checks, and
// typed loads and stores in either byte order. Also the handlers of the
// access and file commands.
#pragma once

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/io/number_conv.h"
#include "libs/memblock/memblock_library.h"

// Bytes of one element of the type: 0 for #STRING, -1 for an unknown type.
inline int ElementSize(int32_t type)
{
    switch (type) {
    case MEMTYPE_INTEGER: return 4;
    case MEMTYPE_SHORT: return 2;
    case MEMTYPE_BYTE: return 1;
    case MEMTYPE_FLOAT: return 4;
    case MEMTYPE_DOUBLE: return 8;
    case MEMTYPE_STRING: return 0;
    default: return -1;
    }
}

// True when length bytes from offset (both >= 0) lie inside the block, or
// the block's size is unknown. Written so that no sum can overflow.
inline bool InRange(const MemBlock* block, int64_t offset, int64_t length)
{
    if (block->size == 0)
        return true;
    return offset <= block->size && length <= static_cast<int64_t>(block->size) - offset;
}

// Whether bytes stored most significant first need reversing on this host.
inline bool SwapFor(bool bigEndian) { return bigEndian != (std::endian::native == std::endian::big); }

// Rounds as the hardware does but without leaving the float range through
// an undefined conversion: beyond FLT_MAX by half a unit or more is
// infinity, anything closer FLT_MAX.
inline float DoubleToFloat(double x)
{
    double magnitude = std::fabs(x);
    if (magnitude > FLT_MAX && !std::isnan(x)) {
        float limit = magnitude >= static_cast<double>(FLT_MAX) + 0x1p103 ? INFINITY : FLT_MAX;
        return std::signbit(x) ? -limit : limit;
    }
    return static_cast<float>(x);
}

// One element at p as a number. Integers read unsigned unless isSigned
// (which #INTEGER ignores).
inline double LoadElement(const uint8_t* p, int32_t type, bool swap, bool isSigned)
{
    switch (type) {
    case MEMTYPE_INTEGER: {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return swap ? __builtin_bswap32(v) : v;
    }
    case MEMTYPE_SHORT: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        if (swap)
            v = __builtin_bswap16(v);
        return isSigned ? static_cast<double>(static_cast<int16_t>(v)) : v;
    }
    case MEMTYPE_BYTE: return isSigned ? static_cast<double>(static_cast<int8_t>(*p)) : *p;
    case MEMTYPE_FLOAT: {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return std::bit_cast<float>(swap ? __builtin_bswap32(v) : v);
    }
    default: {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return std::bit_cast<double>(swap ? __builtin_bswap64(v) : v);
    }
    }
}

// Integers store the low bytes of the value truncated and taken modulo 2^32.
inline void StoreElement(uint8_t* p, int32_t type, double value, bool swap)
{
    switch (type) {
    case MEMTYPE_INTEGER: {
        uint32_t v = DoubleToLow32(value);
        v = swap ? __builtin_bswap32(v) : v;
        std::memcpy(p, &v, 4);
        break;
    }
    case MEMTYPE_SHORT: {
        auto v = static_cast<uint16_t>(DoubleToLow32(value));
        v = swap ? __builtin_bswap16(v) : v;
        std::memcpy(p, &v, 2);
        break;
    }
    case MEMTYPE_BYTE: *p = static_cast<uint8_t>(DoubleToLow32(value)); break;
    case MEMTYPE_FLOAT: {
        uint32_t v = std::bit_cast<uint32_t>(DoubleToFloat(value));
        v = swap ? __builtin_bswap32(v) : v;
        std::memcpy(p, &v, 4);
        break;
    }
    default: {
        uint64_t v = std::bit_cast<uint64_t>(value);
        v = swap ? __builtin_bswap64(v) : v;
        std::memcpy(p, &v, 8);
        break;
    }
    }
}

uint32_t CmdPoke(VmState* vm);
uint32_t CmdPeek(VmState* vm);
uint32_t CmdFillMem(VmState* vm);
uint32_t CmdCopyMem(VmState* vm);
uint32_t CmdDumpMem(VmState* vm);
uint32_t CmdMemToTable(VmState* vm);
uint32_t CmdTableToMem(VmState* vm);
// memblock_files.cpp
uint32_t CmdReadMem(VmState* vm);
uint32_t CmdWriteMem(VmState* vm);
