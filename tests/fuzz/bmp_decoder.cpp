// The BMP decoder on arbitrary bytes.
#include "tests/fuzz/decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return FuzzPictureDecoder(DecodeBmp, data, size);
}
