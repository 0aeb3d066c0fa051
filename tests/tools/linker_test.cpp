// The linker on a stand-in player image that carries a linked-program block.
#include "tools/qmasm/linker.h"

#include "tools/qmasm/linked_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace qmasm;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Block(uint32_t offset = 0xDEADC0DE)
{
    Bytes b(kLinkedBlockSize, 0);
    std::memcpy(b.data(), kLinkedBlockMarker, sizeof kLinkedBlockMarker - 1);
    for (int i = 0; i < 4; i++)
        b[32 + i] = static_cast<uint8_t>(offset >> (24 - 8 * i));
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

TEST(Linker, RefusesPlayersWithoutExactlyOneFreeBlock)
{
    Bytes strayMarker = Block();
    strayMarker[31] = 'x';  // the marker without its zero padding is no block
    struct Case { Bytes player; const char* message; };
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
