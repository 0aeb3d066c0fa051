// Finds the one linked-program block of a player image by its marker, the
// zero padding after it and the unpatched offset, so that a stray copy of
// the marker text elsewhere in the binary is not taken for the block.
#include "tools/qmasm/linker.h"

#include "tools/qmasm/byte_sink.h"
#include "tools/qmasm/container.h"
#include "tools/qmasm/linked_block.h"

#include <cstring>

namespace qmasm {

namespace {

uint32_t ReadBE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Positions of every block whose marker area matches, whatever its offset.
std::vector<size_t> FindBlocks(const std::vector<uint8_t>& image)
{
    std::vector<size_t> found;
    const size_t markerLen = sizeof kLinkedBlockMarker - 1;
    if (image.size() < kLinkedBlockSize)
        return found;
    for (size_t at = 0; at + kLinkedBlockSize <= image.size(); at++) {
        if (std::memcmp(image.data() + at, kLinkedBlockMarker, markerLen) != 0)
            continue;
        bool padded = true;
        for (size_t i = markerLen; i < kLinkedBlockMarkerArea && padded; i++)
            padded = image[at + i] == 0;
        if (padded)
            found.push_back(at);
    }
    return found;
}

}  // namespace

std::vector<uint8_t> WritePluginBundle(const std::vector<BundlePlugin>& plugins, bool packed)
{
    ByteSink s;
    s.Bytes(kPluginBundleMagic, 4);
    s.U32(packed ? kPluginBundlePacked : 0);
    for (const BundlePlugin& p : plugins) {
        std::vector<uint8_t> body = packed ? PackContainer(kPackedPluginMagic, p.data) : p.data;
        s.CString(p.name);
        s.U32(static_cast<uint32_t>(body.size()));
        s.Bytes(body);
    }
    s.U8(0);
    return s.Take();
}

LinkResult LinkApplet(const std::vector<uint8_t>& player, const std::vector<uint8_t>& applet,
                      const std::vector<BundlePlugin>& plugins, bool packPlugins)
{
    LinkResult r;
    std::vector<size_t> blocks = FindBlocks(player);
    if (blocks.empty()) {
        r.message = "no linked-program block in the player";
        return r;
    }
    if (blocks.size() > 1) {
        r.message = "more than one linked-program block in the player";
        return r;
    }
    size_t at = blocks[0] + kLinkedBlockOffsetPos;
    if (ReadBE32(player.data() + at) != kLinkedBlockNoApplet) {
        r.message = "the player already has an applet linked";
        return r;
    }
    if (player.size() > 0xFFFFFFFFu) {
        r.message = "the player is too large for a 32-bit applet offset";
        return r;
    }
    for (const BundlePlugin& p : plugins) {
        if (p.name.empty() || p.name.find('/') != std::string::npos ||
            p.name.find('\0') != std::string::npos) {
            r.message = "bad plugin name \"" + p.name + "\"";
            return r;
        }
    }
    r.appletOffset = static_cast<uint32_t>(player.size());
    r.bytes = player;
    ByteSink offset;
    offset.U32(r.appletOffset);
    std::memcpy(r.bytes.data() + at, offset.Data().data(), 4);
    if (!plugins.empty()) {
        std::vector<uint8_t> bundle = WritePluginBundle(plugins, packPlugins);
        r.bytes.insert(r.bytes.end(), bundle.begin(), bundle.end());
    }
    r.bytes.insert(r.bytes.end(), applet.begin(), applet.end());
    r.ok = true;
    return r;
}

}  // namespace qmasm
