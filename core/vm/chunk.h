// Compiled chunks: the loader (header, prototypes, byte order), the
// bytecode check every loaded function passes, and the dumper that writes
// the same format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/vm/value.h"

// The chunk input stream over a reader callback.
struct VmChunkStream {
    VmReader reader;
    void* data;
    const char* name;
    const char* p;   // current block
    size_t n;        // bytes left in it
    VmState* state;
};

void VmStreamInit(VmState* state, VmChunkStream* z, VmReader reader, void* data, const char* name);
// Next byte, or -1 at the end of input.
int VmStreamGetC(VmChunkStream* z);
// The next byte without consuming it, or -1 at the end of input.
int VmStreamLookahead(VmChunkStream* z);
// Reads n bytes; answers how many could not be read.
size_t VmStreamRead(VmChunkStream* z, void* out, size_t n);

// Reads a whole chunk held in memory; raises the load errors.
VmProto* VmUndump(VmState* state, const uint8_t* bytes, size_t size, const char* chunkName);

// The bytecode check of a loaded function (nested functions are checked as
// they load).
bool VmVerifyCode(const VmProto* p);
// Says where in a function that failed VmVerifyCode the check failed, for
// the error's detail: "instruction 3 (EQ, line 5) is not followed by JMP",
// or what of the function as a whole does not hold ("the function does not
// end in RETURN").
void VmDescribeCodeFault(const VmProto* p, char* out, size_t size);
// "the main function of x.qas" (line defined 0) or "the function defined
// at line N of x.qas"; a function without a source takes `chunkName`
// (shown as it stands), else "?".
void VmDescribeFunction(const VmProto* p, const char* chunkName, char* out, size_t size);
// Marks, in p->deadOperands, the concatenations of a verified function
// whose operands but the first no instruction reads again.
void VmFindDeadOperands(VmState* state, VmProto* p);
// Symbolic execution up to lastPc: answers false for code that fails the
// check; with reg < 255 *lastSet receives the instruction that last set
// that register (the final return when none did).
bool VmSymbolicExec(const VmProto* p, int lastPc, int reg, uint32_t* lastSet);
