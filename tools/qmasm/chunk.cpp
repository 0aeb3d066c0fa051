// Byte layout of compiled chunks: the 21-byte header, then the main function
// with its nested functions inline, every multi-byte item in the byte order
// the header announces.
#include "tools/qmasm/chunk.h"

#include "tools/qmasm/byte_sink.h"

#include <cstring>

namespace qmasm {

namespace {

void WriteString(ByteSink& out, const std::optional<std::string>& s)
{
    if (!s) {
        out.U32(0);
        return;
    }
    out.U32(static_cast<uint32_t>(s->size() + 1));
    out.CString(*s);
}

void WriteFunction(ByteSink& out, const Prototype& f)
{
    WriteString(out, f.source);
    out.I32(f.lineDefined);
    out.U8(f.upvalueCount);
    out.U8(f.paramCount);
    out.U8(f.varargFlag);
    out.U8(f.maxStack);
    out.U32(static_cast<uint32_t>(f.lineInfo.size()));
    for (int32_t line : f.lineInfo)
        out.I32(line);
    out.U32(static_cast<uint32_t>(f.locals.size()));
    for (const LocalVariable& v : f.locals) {
        WriteString(out, v.name);
        out.I32(v.startPc);
        out.I32(v.endPc);
    }
    out.U32(static_cast<uint32_t>(f.upvalueNames.size()));
    for (const auto& name : f.upvalueNames)
        WriteString(out, name);
    out.U32(static_cast<uint32_t>(f.constants.size()));
    for (const Constant& k : f.constants) {
        out.U8(k.type);
        if (k.type == kConstNumber)
            out.F64(k.number);
        else if (k.type == kConstString)
            WriteString(out, k.text);
    }
    out.U32(static_cast<uint32_t>(f.functions.size()));
    for (const Prototype& inner : f.functions)
        WriteFunction(out, inner);
    out.U32(static_cast<uint32_t>(f.code.size()));
    for (uint32_t word : f.code)
        out.U32(word);
}

// Reader over untrusted bytes: every read is bounded, counts are checked
// against the bytes left before anything is allocated for them.
class ChunkReader {
public:
    ChunkReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}

    bool bigEndian = false;
    std::string error;

    bool Fail(const char* what)
    {
        if (error.empty())
            error = std::string(what) + " at byte " + std::to_string(pos_);
        return false;
    }
    bool Raw(void* dst, size_t n)
    {
        if (n > n_ - pos_)
            return Fail("unexpected end of chunk");
        std::memcpy(dst, p_ + pos_, n);
        pos_ += n;
        return true;
    }
    bool Word(uint64_t* v, int n)
    {
        uint8_t b[8];
        if (!Raw(b, n))
            return false;
        *v = 0;
        for (int i = 0; i < n; i++)
            *v |= static_cast<uint64_t>(b[i]) << (bigEndian ? (n - 1 - i) * 8 : i * 8);
        return true;
    }
    bool U8(uint8_t* v) { return Raw(v, 1); }
    bool U32(uint32_t* v)
    {
        uint64_t w;
        if (!Word(&w, 4))
            return false;
        *v = static_cast<uint32_t>(w);
        return true;
    }
    bool I32(int32_t* v)
    {
        uint32_t u;
        if (!U32(&u))
            return false;
        *v = static_cast<int32_t>(u);
        return true;
    }
    bool F64(double* d)
    {
        uint64_t w;
        if (!Word(&w, 8))
            return false;
        std::memcpy(d, &w, 8);
        return true;
    }
    // A count of items of at least `itemSize` bytes each.
    bool Count(uint32_t* n, size_t itemSize)
    {
        if (!U32(n))
            return false;
        if (static_cast<int32_t>(*n) < 0)
            return Fail("negative count");
        if (*n > (n_ - pos_) / itemSize)
            return Fail("count larger than the chunk");
        return true;
    }
    bool String(std::optional<std::string>* s)
    {
        uint32_t n;
        if (!U32(&n))
            return false;
        if (n == 0) {
            s->reset();
            return true;
        }
        if (n > n_ - pos_)
            return Fail("unexpected end of chunk in a string");
        if (p_[pos_ + n - 1] != 0)
            return Fail("string without its terminating zero");
        s->emplace(reinterpret_cast<const char*>(p_ + pos_), n - 1);
        pos_ += n;
        return true;
    }
    bool Function(Prototype* f, int depth)
    {
        if (depth > 200)
            return Fail("functions nested too deeply");
        uint32_t n;
        if (!String(&f->source) || !I32(&f->lineDefined) || !U8(&f->upvalueCount) ||
            !U8(&f->paramCount) || !U8(&f->varargFlag) || !U8(&f->maxStack))
            return false;
        if (!Count(&n, 4))
            return false;
        f->lineInfo.resize(n);
        for (int32_t& line : f->lineInfo)
            if (!I32(&line))
                return false;
        if (!Count(&n, 12))
            return false;
        f->locals.resize(n);
        for (LocalVariable& v : f->locals)
            if (!String(&v.name) || !I32(&v.startPc) || !I32(&v.endPc))
                return false;
        if (!Count(&n, 4))
            return false;
        f->upvalueNames.resize(n);
        for (auto& name : f->upvalueNames)
            if (!String(&name))
                return false;
        if (!Count(&n, 1))
            return false;
        f->constants.resize(n);
        for (Constant& k : f->constants) {
            if (!U8(&k.type))
                return false;
            if (k.type == kConstNumber) {
                if (!F64(&k.number))
                    return false;
            } else if (k.type == kConstString) {
                std::optional<std::string> s;
                if (!String(&s))
                    return false;
                if (!s)
                    return Fail("string constant without a string");
                k.text = std::move(*s);
            } else if (k.type != kConstNil) {
                return Fail("unknown constant type");
            }
        }
        if (!Count(&n, 36))
            return false;
        f->functions.resize(n);
        for (Prototype& inner : f->functions)
            if (!Function(&inner, depth + 1))
                return false;
        if (!Count(&n, 4))
            return false;
        f->code.resize(n);
        for (uint32_t& w : f->code)
            if (!U32(&w))
                return false;
        return true;
    }

    size_t pos_ = 0;

private:
    const uint8_t* p_;
    size_t n_;
};

}  // namespace

bool SameConstant(const Constant& a, const Constant& b)
{
    if (a.type != b.type)
        return false;
    if (a.type == kConstNumber)
        return std::memcmp(&a.number, &b.number, sizeof(double)) == 0;
    return a.type != kConstString || a.text == b.text;
}

std::vector<uint8_t> WriteChunk(const ChunkHeader& h, const Prototype& main)
{
    ByteSink out(h.BigEndian());
    out.Bytes(h.signature, 4);
    for (uint8_t b : {h.byteOrder, h.intSize, h.sizeSize, h.instructionSize, h.opcodeBits, h.aBits,
                      h.bBits, h.cBits, h.numberSize})
        out.U8(b);
    out.F64(h.testNumber);
    WriteFunction(out, main);
    return out.Take();
}

bool ReadChunk(const uint8_t* data, size_t size, ChunkHeader* h, Prototype* main,
               std::string* message)
{
    ChunkReader in(data, size);
    bool ok = in.Raw(h->signature, 4) && in.U8(&h->byteOrder);
    if (ok) {
        in.bigEndian = h->BigEndian();
        ok = in.U8(&h->intSize) && in.U8(&h->sizeSize) && in.U8(&h->instructionSize) &&
             in.U8(&h->opcodeBits) && in.U8(&h->aBits) && in.U8(&h->bBits) && in.U8(&h->cBits) &&
             in.U8(&h->numberSize) && in.F64(&h->testNumber) && in.Function(main, 0);
    }
    if (ok && in.pos_ != size)
        ok = in.Fail("trailing bytes after the main function");
    if (!ok && message)
        *message = in.error;
    return ok;
}

}  // namespace qmasm
