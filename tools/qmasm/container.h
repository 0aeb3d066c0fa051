// The compressed container: a 4-byte magic, 4 zero bytes, then one zlib
// stream of the data deflated at the default level. Packed applets use the
// magic "QMZ\0", packed plugins of a bundle "PLPK".
#pragma once

#include <cstdint>
#include <vector>

namespace qmasm {

inline constexpr char kPackedAppletMagic[4] = {'Q', 'M', 'Z', '\0'};
inline constexpr char kPackedPluginMagic[4] = {'P', 'L', 'P', 'K'};

std::vector<uint8_t> PackContainer(const char magic[4], const std::vector<uint8_t>& data);

}  // namespace qmasm
