// Writing a function as a compiled chunk, in exactly the layout the loader
// reads (little-endian, this system's order).
#include <cstring>

#include "core/io/error_codes.h"
#include "core/vm/chunk.h"
#include "core/vm/value.h"

namespace {

class Dumper {
public:
    Dumper(VmState* L, VmWriter writer, void* data) : L(L), writer(writer), data(data) {}

    void Header()
    {
        static const uint8_t kHeader[13] = {27, 'Q', 'M', 'B', 1, 4, 4, 4, 6, 8, 9, 9, 8};
        Block(kHeader, sizeof kHeader);
        Number(31415926.535897933);
    }

    void Function(const VmProto* f, const VmString* parentSource)
    {
        String(f->source == parentSource ? nullptr : f->source);
        Int(f->lineDefined);
        Byte(f->nups);
        Byte(f->numParams);
        Byte(f->isVararg);
        Byte(f->maxStackSize);
        Int(f->sizeLineInfo);
        for (int32_t i = 0; i < f->sizeLineInfo; i++)
            Int(f->lineInfo[i]);
        Int(f->sizeLocVars);
        for (int32_t i = 0; i < f->sizeLocVars; i++) {
            String(f->locVars[i].name);
            Int(f->locVars[i].startPc);
            Int(f->locVars[i].endPc);
        }
        Int(f->sizeUpvalueNames);
        for (int32_t i = 0; i < f->sizeUpvalueNames; i++)
            String(f->upvalueNames[i]);
        Int(f->sizeK);
        for (int32_t i = 0; i < f->sizeK; i++) {
            const VmValue* k = &f->k[i];
            Byte(static_cast<uint8_t>(k->tt));
            if (k->tt == VM_TNUMBER)
                Number(k->v.n);
            else if (k->tt == VM_TSTRING)
                String(VmStrValue(k));
        }
        Int(f->sizeP);
        for (int32_t i = 0; i < f->sizeP; i++)
            Function(f->p[i], f->source);
        Int(f->sizeCode);
        for (int32_t i = 0; i < f->sizeCode; i++)
            Word(f->code[i]);
    }

    uint32_t status = 0;

private:
    void Block(const void* b, size_t n)
    {
        if (status == 0 && writer(L, b, n, data) != 0)
            status = ERR_WRITE;
    }
    void Byte(uint8_t b) { Block(&b, 1); }
    void Word(uint32_t w) { Block(&w, 4); }
    void Int(int32_t v) { Block(&v, 4); }
    void Number(double d) { Block(&d, 8); }
    void String(const VmString* s)
    {
        if (!s) {
            Word(0);
            return;
        }
        Word(static_cast<uint32_t>(s->len + 1));
        Block(VmStringBytes(s), s->len + 1);
    }

    VmState* L;
    VmWriter writer;
    void* data;
};

}  // namespace

uint32_t VmDump(VmState* L, int index, VmWriter writer, void* data)
{
    VmPushValue(L, index);
    const VmValue* f = L->top - 1;
    uint32_t status;
    if (f->tt != VM_TFUNCTION || VmFuncValue(f)->isNative) {
        status = ERR_NOQMFUNC;
    } else {
        Dumper d(L, writer, data);
        d.Header();
        d.Function(VmFuncValue(f)->proto, nullptr);
        status = d.status;
    }
    L->top--;
    return status;
}
