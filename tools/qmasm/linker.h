// The linker: appends an applet, optionally after a plugin bundle, to a copy
// of the player binary and patches the linked-program block
// (tools/qmasm/linked_block.h) with the offset where they begin.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qmasm {

struct BundlePlugin {
    std::string name;  // without directory and extension
    std::vector<uint8_t> data;
};

std::vector<uint8_t> WritePluginBundle(const std::vector<BundlePlugin>& plugins, bool packed);

struct LinkResult {
    bool ok = false;
    std::vector<uint8_t> bytes;
    uint32_t appletOffset = 0;  // where the bundle, or else the applet, begins
    std::string message;
};

// `plugins` empty: no bundle is written.
LinkResult LinkApplet(const std::vector<uint8_t>& player, const std::vector<uint8_t>& applet,
                      const std::vector<BundlePlugin>& plugins, bool packPlugins);

}  // namespace qmasm
