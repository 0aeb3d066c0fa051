// A growable byte buffer with fixed-width writers in either byte order. The
// chunk writer uses it in the order a chunk's header announces; the applet
// writer, the linker and tests building applet records use it big-endian.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace qmasm {

class ByteSink {
public:
    explicit ByteSink(bool bigEndian = true) : bigEndian_(bigEndian) {}

    void U8(uint32_t v) { bytes_.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) { Put(v, 2); }
    void I16(int32_t v) { Put(static_cast<uint32_t>(v), 2); }
    void U32(uint32_t v) { Put(v, 4); }
    void I32(int32_t v) { Put(static_cast<uint32_t>(v), 4); }
    void F64(double d)
    {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        Put(bits, 8);
    }
    void Bytes(const void* p, size_t n)
    {
        auto* b = static_cast<const uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void Bytes(const std::vector<uint8_t>& v) { bytes_.insert(bytes_.end(), v.begin(), v.end()); }
    void Text(std::string_view s) { Bytes(s.data(), s.size()); }
    // Text followed by its terminating zero byte.
    void CString(std::string_view s)
    {
        Text(s);
        U8(0);
    }
    // A 16-bit length followed by the bytes, without terminator.
    void WString(std::string_view s)
    {
        U16(static_cast<uint32_t>(s.size()));
        Text(s);
    }

    size_t Size() const { return bytes_.size(); }
    std::vector<uint8_t>& Data() { return bytes_; }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    void Put(uint64_t v, int n)
    {
        for (int i = 0; i < n; i++) {
            int shift = bigEndian_ ? (n - 1 - i) * 8 : i * 8;
            bytes_.push_back(static_cast<uint8_t>(v >> shift));
        }
    }

    bool bigEndian_;
    std::vector<uint8_t> bytes_;
};

}  // namespace qmasm
