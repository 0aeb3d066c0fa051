// The PNG decoder on arbitrary bytes, from memory and read as it goes in
// uneven pieces: both routes must give the same answer and the same pixels.
#include <cstring>

#include "tests/fuzz/decoder_fuzz.h"

namespace {

struct Pieces {
    const uint8_t* data;
    size_t left;
    size_t calls;
};

size_t ReadPiece(void* context, uint8_t* buffer, size_t count)
{
    auto* p = static_cast<Pieces*>(context);
    size_t n = 1 + p->calls++ % 5 * 97;
    n = n < count ? n : count;
    n = n < p->left ? n : p->left;
    std::memcpy(buffer, p->data, n);
    p->data += n;
    p->left -= n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int result = FuzzPictureDecoder(DecodePng, data, size);
    bool probe = size & 1;
    ImageData memory{}, streamed{};
    uint32_t want = DecodePng(data, size, probe, &memory);
    Pieces pieces{data, size, 0};
    ImageByteSource source{ReadPiece, &pieces};
    if (size & 2)
        source.knownSize = size;
    if (DecodePngSource(&source, probe, &streamed) != want || (!want && (streamed.width != memory.width ||
                                                                          streamed.height != memory.height)))
        __builtin_trap();
    if (memory.pixels &&
        (!streamed.pixels ||
         std::memcmp(memory.pixels, streamed.pixels, sizeof(uint32_t) * memory.width * memory.height) != 0))
        __builtin_trap();
    FreeImagePixels(&memory);
    FreeImagePixels(&streamed);
    return result;
}
