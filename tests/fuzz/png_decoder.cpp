// The PNG decoder on arbitrary bytes, from memory and read as it goes in
// uneven pieces: both routes must give the same answer and the same pixels.
#include "tests/fuzz/decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return FuzzPictureDecoderRoutes(DecodePng, DecodePngSource, data, size);
}
