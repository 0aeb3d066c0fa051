// The linker on a stand-in player image that carries a linked-program block.
#include "tools/qmasm/linker.h"

#include "tools/qmasm/linked_block.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

using namespace qmasm;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Block(uint32_t offset = 0xDEADC0DE)
{
    Bytes b(kLinkedBlockSize, 0);
    std::memcpy(b.data(), kLinkedBlockMarker, sizeof kLinkedBlockMarker - 1);
    b[32] = static_cast<uint8_t>(offset >> 24);
    b[33] = static_cast<uint8_t>(offset >> 16);
    b[34] = static_cast<uint8_t>(offset >> 8);
    b[35] = static_cast<uint8_t>(offset);
    return b;
}

// Some bytes, a block at `at`, more bytes.
Bytes Player(size_t at, const Bytes& block, size_t size = 300)
{
    Bytes p(size);
    for (size_t i = 0; i < size; i++)
        p[i] = static_cast<uint8_t>(i * 7 + 1);
    std::copy(block.begin(), block.end(), p.begin() + at);
    return p;
}

uint32_t BE32(const Bytes& b, size_t at)
{
    return static_cast<uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

const Bytes kApplet = {'Q', 'M', 'A', 0, 1, 0, 0, 0, 0};

TEST(Linker, AppendsTheAppletAndPatchesOnlyTheOffset)
{
    Bytes player = Player(100, Block());
    LinkResult r = LinkApplet(player, kApplet, {}, false);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.appletOffset, player.size());
    ASSERT_EQ(r.bytes.size(), player.size() + kApplet.size());
    EXPECT_EQ(BE32(r.bytes, 132), player.size());
    Bytes expected = player;
    std::copy_n(r.bytes.begin() + 132, 4, expected.begin() + 132);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), r.bytes.begin()));
    EXPECT_EQ(Bytes(r.bytes.begin() + r.appletOffset, r.bytes.end()), kApplet);
    // A block at the very end of the image is found too.
    r = LinkApplet(Player(300 - kLinkedBlockSize, Block()), kApplet, {}, false);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(BE32(r.bytes, 300 - kLinkedBlockSize + 32), 300u);
}

Bytes InflateAll(const Bytes& in)
{
    Bytes out(4096);
    uLongf n = out.size();
    EXPECT_EQ(uncompress(out.data(), &n, in.data(), static_cast<uLong>(in.size())), Z_OK);
    out.resize(n);
    return out;
}

TEST(Linker, WritesThePluginBundleBeforeTheApplet)
{
    Bytes player = Player(0, Block());
    std::vector<BundlePlugin> plugins = {{"alpha", {1, 2, 3}}, {"beta", {}}};
    for (bool packed : {false, true}) {
        LinkResult r = LinkApplet(player, kApplet, plugins, packed);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(BE32(r.bytes, 32), player.size());
        size_t at = r.appletOffset;
        EXPECT_EQ(Bytes(r.bytes.begin() + at, r.bytes.begin() + at + 4), (Bytes{'Q', 'M', 'P', '!'}));
        EXPECT_EQ(BE32(r.bytes, at + 4), packed ? 1u : 0u);
        at += 8;
        for (const BundlePlugin& p : plugins) {
            std::string name(reinterpret_cast<const char*>(r.bytes.data() + at));
            EXPECT_EQ(name, p.name);
            at += name.size() + 1;
            uint32_t size = BE32(r.bytes, at);
            at += 4;
            Bytes body(r.bytes.begin() + at, r.bytes.begin() + at + size);
            at += size;
            if (packed) {
                ASSERT_GE(body.size(), 8u);
                EXPECT_EQ(Bytes(body.begin(), body.begin() + 8), (Bytes{'P', 'L', 'P', 'K', 0, 0, 0, 0}));
                EXPECT_EQ(InflateAll(Bytes(body.begin() + 8, body.end())), p.data);
            } else {
                EXPECT_EQ(body, p.data);
            }
        }
        EXPECT_EQ(r.bytes[at], 0);  // the empty name ends the bundle
        EXPECT_EQ(Bytes(r.bytes.begin() + at + 1, r.bytes.end()), kApplet);
    }
}

TEST(Linker, RefusesPlayersWithoutExactlyOneFreeBlock)
{
    Bytes strayMarker = Block();
    strayMarker[31] = 'x';  // the marker without its zero padding is no block
    struct Case {
        Bytes player;
        const char* message;
    };
    Bytes block = Block();
    Bytes two = Player(10, block);
    std::copy_n(Block().begin(), kLinkedBlockSize, two.begin() + 200);
    const Case cases[] = {
        {Player(0, {}), "no linked-program block"},
        {Player(50, strayMarker), "no linked-program block"},
        {Bytes(block.begin(), block.begin() + 40), "no linked-program block"},
        {two, "more than one"},
        {Player(20, Block(1234)), "already has an applet"},
    };
    for (const Case& c : cases) {
        LinkResult r = LinkApplet(c.player, kApplet, {}, false);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find(c.message), std::string::npos) << r.message;
    }
    LinkResult r = LinkApplet(Player(0, Block()), kApplet, {{"a/b", {}}}, false);
    EXPECT_FALSE(r.ok);
}

}  // namespace
