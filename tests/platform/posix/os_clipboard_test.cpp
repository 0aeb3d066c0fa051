// The process's clipboard: what is set is a copy, refused requests leave
// the clipboard as it was, and clearing empties it. Text goes round it in
// the clipboard commands' test.
#include "platform/posix/os_clipboard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/io/error_codes.h"

namespace {

class OsClipboard : public ::testing::Test {
protected:
    void TearDown() override { OsClearClipboard(); }
};

TEST_F(OsClipboard, TextIsACopy)
{
    std::string text("one\0two", 7);
    OsClipboardRecord r{};
    r.text = text.data();
    r.textLength = text.size();
    ASSERT_EQ(OsSetClipboard(OSCLIPBOARD_TEXT, &r), 0u);
    text[0] = 'X';
    uint32_t type = 0;
    ASSERT_EQ(OsGetClipboard(&r, &type), 0u);
    EXPECT_EQ(std::string(r.text, r.textLength), std::string("one\0two", 7));
}

TEST_F(OsClipboard, PicturesAreCopiedAndRefusalsKeepWhatWasHeld)
{
    std::vector<uint32_t> pixels = {0x00102030, 0xFF405060, 0x80708090, 0x01A0B0C0, 0xFEE0F000, 0x7F010203};
    OsClipboardRecord r{};
    r.pixels = pixels.data();
    r.width = 3, r.height = 2;
    r.alpha = 5;
    ASSERT_EQ(OsSetClipboard(OSCLIPBOARD_IMAGE, &r), 0u);
    std::vector<uint32_t> original = pixels;
    pixels.assign(pixels.size(), 0);

    OsClipboardRecord bad = r;
    bad.width = 0;
    EXPECT_EQ(OsSetClipboard(OSCLIPBOARD_IMAGE, &bad), uint32_t{ERR_BADDIMENSIONS});
    bad = r;
    bad.pixels = nullptr;
    EXPECT_EQ(OsSetClipboard(OSCLIPBOARD_IMAGE, &bad), uint32_t{ERR_BADDIMENSIONS});
    for (uint32_t other : {uint32_t{OSCLIPBOARD_EMPTY}, uint32_t{3}, uint32_t{4}})
        EXPECT_EQ(OsSetClipboard(other, &r), uint32_t{ERR_CLIPFORMAT});

    OsClipboardRecord got{};
    uint32_t type = 99;
    ASSERT_EQ(OsGetClipboard(&got, &type), 0u);
    ASSERT_EQ(type, uint32_t{OSCLIPBOARD_IMAGE});
    EXPECT_EQ(got.width, 3);
    EXPECT_EQ(got.height, 2);
    EXPECT_EQ(got.alpha, 1u);
    ASSERT_NE(got.pixels, nullptr);
    EXPECT_EQ(std::vector<uint32_t>(got.pixels, got.pixels + 6), original);

    ASSERT_EQ(OsClearClipboard(), 0u);
    ASSERT_EQ(OsGetClipboard(&got, &type), 0u);
    EXPECT_EQ(type, uint32_t{OSCLIPBOARD_EMPTY});
    EXPECT_EQ(got.pixels, nullptr);
    EXPECT_EQ(got.text, nullptr);
}

}  // namespace
