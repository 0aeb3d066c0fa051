// Loading compiled chunks. The input is gathered from the reader first, so
// that every count read from the chunk can be checked against the bytes that
// really remain before anything is allocated for it; then the header and
// the prototypes are read, byte-swapped when the chunk is big-endian, and
// every function passes the bytecode check.
#include <cstring>
#include <new>
#include <vector>

#include "core/io/error_codes.h"
#include "core/vm/calls.h"
#include "core/vm/chunk.h"
#include "core/vm/memory.h"
#include "core/vm/object.h"
#include "core/vm/opcodes.h"
#include "core/vm/strings.h"

namespace {

// Nested functions deeper than this are refused rather than recursed into.
constexpr int kMaxNesting = 200;
// Fewest bytes a nested function can take: source size, line defined, four
// bytes, and six counts.
constexpr size_t kMinFunctionBytes = 4 + 4 + 4 + 6 * 4;

class Loader {
public:
    Loader(VmState* L, const uint8_t* bytes, size_t size, const char* name)
        : L(L), name(name), start(bytes), p(bytes), end(bytes + size)
    {
    }

    VmProto* Run()
    {
        ReadHeader();
        return ReadFunction(nullptr, 0);
    }

private:
    [[noreturn]] void Fail(uint32_t code) { VmThrow(L, code); }

    [[noreturn]] void FailShort()
    {
        VmSetErrorDetail(ERR_UNEXPECTEDEOF, "The code chunk ends after %zu bytes, before its functions are complete",
                         static_cast<size_t>(end - start));
        Fail(ERR_UNEXPECTEDEOF);
    }

    size_t Remaining() const { return static_cast<size_t>(end - p); }

    void Need(size_t n)
    {
        if (Remaining() < n)
            FailShort();
    }

    uint8_t Byte()
    {
        Need(1);
        return *p++;
    }

    uint32_t Word()
    {
        Need(4);
        uint32_t v;
        std::memcpy(&v, p, 4);
        p += 4;
        return swap ? __builtin_bswap32(v) : v;
    }

    int32_t Int() { return static_cast<int32_t>(Word()); }

    double Number()
    {
        Need(8);
        uint64_t v;
        std::memcpy(&v, p, 8);
        p += 8;
        if (swap)
            v = __builtin_bswap64(v);
        double d;
        std::memcpy(&d, &v, 8);
        return d;
    }

    // A count of items of at least itemBytes each, checked against the input.
    int32_t Count(size_t itemBytes)
    {
        int32_t n = Int();
        if (n < 0)
            Fail(ERR_BADINTEGER);
        if (static_cast<uint64_t>(n) * itemBytes > Remaining())
            FailShort();
        return n;
    }

    VmString* String()
    {
        uint32_t n = Word();
        if (n == 0)
            return nullptr;
        Need(n);
        VmString* s = VmNewString(L, reinterpret_cast<const char*>(p), n - 1);
        p += n;
        return s;
    }

    void ReadHeader()
    {
        static const uint8_t kSignature[4] = {27, 'Q', 'M', 'B'};
        for (uint8_t expected : kSignature) {
            if (Byte() != expected)
                Fail(ERR_BADSIGNATURE);
        }
        swap = Byte() != 1;
        static const uint8_t kSizes[8] = {4, 4, 4, 6, 8, 9, 9, 8};
        for (uint8_t expected : kSizes) {
            if (Byte() != expected)
                Fail(ERR_VMMISMATCH);
        }
        double x = Number();
        if (!(x >= 31415926.0 && x < 31415927.0))
            Fail(ERR_UNKNUMFMT);
    }

    VmProto* ReadFunction(VmString* parentSource, int depth)
    {
        if (depth > kMaxNesting) {
            VmSetErrorDetail(ERR_BADBYTECODE, "Functions are nested more than %d deep", kMaxNesting);
            Fail(ERR_BADBYTECODE);
        }
        VmProto* f = VmNewProto(L);
        f->source = String();
        if (!f->source)
            f->source = parentSource;
        f->lineDefined = Int();
        if (f->lineDefined < 0)
            Fail(ERR_BADINTEGER);
        f->nups = Byte();
        f->numParams = Byte();
        f->isVararg = Byte();
        f->maxStackSize = Byte();

        int32_t n = Count(4);
        f->lineInfo = VmNewVector<int32_t>(L, static_cast<uint64_t>(n));
        f->sizeLineInfo = n;
        for (int32_t i = 0; i < n; i++)
            f->lineInfo[i] = Int();

        n = Count(12);
        f->locVars = VmNewVector<VmLocalVar>(L, static_cast<uint64_t>(n));
        f->sizeLocVars = n;
        for (int32_t i = 0; i < n; i++)
            f->locVars[i] = {nullptr, 0, 0};
        for (int32_t i = 0; i < n; i++) {
            f->locVars[i].name = String();
            f->locVars[i].startPc = Int();
            f->locVars[i].endPc = Int();
        }

        n = Count(4);
        if (n != 0 && n != f->nups)
            Fail(ERR_BADUPVALUES);
        f->upvalueNames = VmNewVector<VmString*>(L, static_cast<uint64_t>(n));
        for (int32_t i = 0; i < n; i++)
            f->upvalueNames[i] = nullptr;
        f->sizeUpvalueNames = n;
        for (int32_t i = 0; i < n; i++)
            f->upvalueNames[i] = String();

        n = Count(1);
        f->k = VmNewVector<VmValue>(L, static_cast<uint64_t>(n));
        for (int32_t i = 0; i < n; i++)
            VmSetNil(&f->k[i]);
        f->sizeK = n;
        f->kHint = VmNewVector<uint32_t>(L, static_cast<uint64_t>(n));
        for (int32_t i = 0; i < n; i++)
            f->kHint[i] = 0;
        for (int32_t i = 0; i < n; i++) {
            switch (Byte()) {
            case VM_TNIL:
                break;
            case VM_TNUMBER:
                VmSetNumber(&f->k[i], Number());
                break;
            case VM_TSTRING: {
                VmString* s = String();
                if (!s)
                    s = VmNewString(L, "", 0);
                VmSetString(&f->k[i], s);
                break;
            }
            default:
                Fail(ERR_BADCONSTANT);
            }
        }
        n = Count(kMinFunctionBytes);
        f->p = VmNewVector<VmProto*>(L, static_cast<uint64_t>(n));
        for (int32_t i = 0; i < n; i++)
            f->p[i] = nullptr;
        f->sizeP = n;
        for (int32_t i = 0; i < n; i++)
            f->p[i] = ReadFunction(f->source, depth + 1);

        n = Count(4);
        f->code = VmNewVector<uint32_t>(L, static_cast<uint64_t>(n));
        f->sizeCode = n;
        for (int32_t i = 0; i < n; i++)
            f->code[i] = Word();

        if (!VmVerifyCode(f)) {
            char function[192], fault[192];
            VmDescribeFunction(f, name, function, sizeof function);
            VmDescribeCodeFault(f, fault, sizeof fault);
            VmSetErrorDetail(ERR_BADBYTECODE, "In %s: %s", function, fault);
            Fail(ERR_BADBYTECODE);
        }
        VmFindDeadOperands(L, f);
        return f;
    }

    VmState* L;
    const char* name;  // the chunk's, for functions that name no source
    const uint8_t* start;
    const uint8_t* p;
    const uint8_t* end;
    bool swap = false;
};

struct LoadCall {
    const uint8_t* bytes;
    size_t size;
    const char* name;
};

void LoadBody(VmState* L, void* data)
{
    auto* call = static_cast<LoadCall*>(data);
    VmProto* p = VmUndump(L, call->bytes, call->size, call->name);
    VmClosure* cl = VmNewScriptClosure(L, p, &L->globals);
    for (int i = 0; i < p->nups; i++)
        VmScriptUpvalues(cl)[i] = VmNewClosedUpvalue(L);
    if (L->top >= L->ci->top)
        VmRaiseError(L, ERR_STACK);
    VmSetFunction(L->top++, cl);
}

}  // namespace

void VmStreamInit(VmState* state, VmChunkStream* z, VmReader reader, void* data, const char* name)
{
    z->reader = reader;
    z->data = data;
    z->name = name;
    z->p = nullptr;
    z->n = 0;
    z->state = state;
}

namespace {

bool StreamFill(VmChunkStream* z)
{
    size_t size = 0;
    const char* block = z->reader(z->state, z->data, &size);
    if (!block || size == 0)
        return false;
    z->p = block;
    z->n = size;
    return true;
}

}  // namespace

int VmStreamGetC(VmChunkStream* z)
{
    if (z->n == 0 && !StreamFill(z))
        return -1;
    z->n--;
    return static_cast<unsigned char>(*z->p++);
}

int VmStreamLookahead(VmChunkStream* z)
{
    if (z->n == 0 && !StreamFill(z))
        return -1;
    return static_cast<unsigned char>(*z->p);
}

size_t VmStreamRead(VmChunkStream* z, void* out, size_t n)
{
    auto* b = static_cast<char*>(out);
    while (n > 0) {
        if (z->n == 0 && !StreamFill(z))
            return n;
        size_t m = n < z->n ? n : z->n;
        std::memcpy(b, z->p, m);
        z->p += m;
        z->n -= m;
        b += m;
        n -= m;
    }
    return 0;
}

VmProto* VmUndump(VmState* L, const uint8_t* bytes, size_t size, const char* chunkName)
{
    Loader loader(L, bytes, size, chunkName);
    return loader.Run();
}

uint32_t VmLoad(VmState* L, VmReader reader, void* data, const char* chunkName)
{
    if (!chunkName)
        chunkName = "?";
    VmChunkStream z;
    VmStreamInit(L, &z, reader, data, chunkName);
    std::vector<uint8_t> input;
    // The first byte would tell text from binary; every input is read as a
    // compiled chunk here, and text fails the signature check.
    VmStreamLookahead(&z);
    try {
        for (;;) {
            if (z.n == 0 && !StreamFill(&z))
                break;
            input.insert(input.end(), z.p, z.p + z.n);
            z.n = 0;
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    // Messages name the chunk without its "@" or "=" marker.
    const char* name = chunkName;
    if (*name == '@' || *name == '=')
        name++;
    else if (*name == 27)
        name = "binary string";
    LoadCall call{input.data(), input.size(), name};
    ptrdiff_t oldTop = VmSaveStack(L, L->top);
    uint32_t status = VmProtectedCall(L, LoadBody, &call, oldTop, L->errfunc);
    if (status != 0)
        L->top = VmRestoreStack(L, oldTop);
    VmCheckGC(L);
    return status;
}
