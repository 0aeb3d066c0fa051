// The value stack, the call records and the helpers every VM module uses on
// them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/vm/value.h"

void VmGrowStack(VmState* state, uint64_t n);
// Moves the stack to a block of newSize slots (which must hold every frame
// in use), re-pointing everything that points into it.
void VmResizeStack(VmState* state, uint64_t newSize);
// Room for n more slots above the top.
inline void VmEnsureStack(VmState* state, int n)
{
    if (state->stackLast - state->top <= n)
        VmGrowStack(state, static_cast<uint64_t>(n));
}
// Next call record, growing the array (and overflowing past the limit).
VmCallInfo* VmNextCallInfo(VmState* state);
void VmReallocCallInfo(VmState* state, uint32_t newSize);
// After a caught error: shrinks an overgrown call-record array and puts the
// stack limit back in its place.
void VmRestoreStackLimit(VmState* state);

const char* VmTypeNameOf(int tag);
// Floor of the base-2 logarithm; -1 for 0. Counting a table's keys by
// their size class calls it for every key on each rehash, so it stays in line.
inline int VmLog2(uint32_t x) { return static_cast<int>(std::bit_width(x)) - 1; }
void VmChunkId(char* out, const char* source, size_t size);
