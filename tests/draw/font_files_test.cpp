// OpenFont on a real VM: replacing a font of the same id (also the current
// one), and the fonts it refuses without leaving a record behind.
#include <unistd.h>

#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "draw/draw_library.h"
#include "gfx/graphics_fixture.h"
#include "support/oracles.h"
#include "support/temp_dir.h"

namespace {

const char kVera[] = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";

class OpenFont : public VmFixture {
protected:
    void SetUp() override
    {
        VmFixture::SetUp();
        Register(RegisterTextLibrary);
    }
    void TearDown() override
    {
        FreeTextResources(vm);
        VmFixture::TearDown();
    }
    uint32_t Open(double id, const std::string& font, double size = 0)
    {
        std::vector<Value> args;
        args.emplace_back(id);
        args.emplace_back(font);
        if (size) args.emplace_back(size);
        return Call("openfont", args);
    }
    static int Count()
    {
        int n = 0;
        for (FontNode* f = FontList; f; f = reinterpret_cast<FontNode*>(f->header.next)) n++;
        return n;
    }
    static FontObject* Font(uint32_t id)
    {
        FontNode* node = nullptr;
        return FindFont(MakeObjectId(id), &node) ? nullptr : node->font;
    }
    TempDir dir;
};

TEST_F(OpenFont, ASecondFontOfAnIdReplacesTheFirstEvenWhenCurrent)
{
    QM_SKIP_WITHOUT(HaveReadableFile(kVera)) << kVera << " is missing";
    ASSERT_EQ(Open(1, kVera, 12), 0u);
    ASSERT_NE(Font(1), nullptr);
    SetCurrentFont(Font(1));
    ASSERT_EQ(Open(1, "TOPAZ", 30), 0u);
    EXPECT_EQ(Count(), 1);
    EXPECT_STREQ(Font(1)->name, "topaz");
    EXPECT_EQ(Font(1)->size, 8) << "the built-in font has one size";
    EXPECT_EQ(GetCurrentFont(), GetDefaultFont()) << "the replaced font was current";
}

TEST_F(OpenFont, RefusedFontsLeaveNothingBehind)
{
    std::string notAFont = dir.file("notes.ttf");
    WriteFileBytes(notAFont, std::vector<uint8_t>(300, 'x'));
    const struct { const char* name; std::string font; double size; uint32_t error; const char* message; } cases[] = {
        {"missing file", dir.file("none.ttf"), 10, ERR_OPENFONT, "Cannot open font none.ttf!"},
        {"not a font", notAFont, 10, ERR_FONTFORMAT, nullptr},
        {"size below one", notAFont, -3, ERR_WRONGUSAGE, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Open(2, c.font, c.size), c.error) << c.name;
        EXPECT_EQ(Count(), 0) << c.name;
        if (c.message) {
            char text[256];
            GetErrorText(c.error, text, sizeof text);
            EXPECT_STREQ(text, c.message) << c.name;
        }
    }
}

}  // namespace
