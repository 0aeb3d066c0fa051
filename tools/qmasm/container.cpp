// Deflates through zlib's one-call interface: the tools pack whole files
// that are already in memory, so there is no need for streaming.
#include "tools/qmasm/container.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

namespace qmasm {

std::vector<uint8_t> PackContainer(const char magic[4], const std::vector<uint8_t>& data)
{
    uLongf bound = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(8 + bound);
    std::memcpy(out.data(), magic, 4);
    int rc = compress2(out.data() + 8, &bound, data.data(), static_cast<uLong>(data.size()),
                       Z_DEFAULT_COMPRESSION);
    if (rc != Z_OK)
        std::abort();  // only Z_MEM_ERROR is possible with a sufficient bound
    out.resize(8 + bound);
    return out;
}

}  // namespace qmasm
