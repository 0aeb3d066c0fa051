// Registry and clipboard round trips, shortcut files, addresses handed to
// an opener without a shell, and the refused tray icon.
#include <sys/stat.h>

#include <fstream>

#include "core/io/error_codes.h"
#include "core/vm/memory.h"
#include "display/display_library.h"
#include "display/pictures.h"
#include "gfx/bitmaps/argb_exchange.h"
#include "gfx/effects/effects.h"
#include "libs/system/host_services.h"
#include "platform/posix/os_memory.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"
#include "system_fixture.h"

namespace {

class HostServices : public SystemLibraryTest {
protected:
    void SetUp() override
    {
        SystemLibraryTest::SetUp();
        SetRegistryFolder(dir.file("registry").c_str());
        mkdir(dir.file("registry").c_str(), 0700);
    }
    void TearDown() override
    {
        SetRegistryFolder(nullptr);
        SetUrlOpener(nullptr);
        Call("ClearClipboard", {});
        SystemLibraryTest::TearDown();
    }
    TempDir dir;
};

const double kCurrentUser = 4;

TEST_F(HostServices, RegistryValuesRoundTripWholeAndInsideTheirRoot)
{
    const std::pair<const char*, Value> cases[] = {
        {"Software\\Quill\\Name", std::string("hello")}, {"Software/Quill/Count", 4294967295.0},
        {"Software\\Quill\\Empty", std::string("")}, {"Software\\Quill\\Zero", std::string("a\0b", 3)},
        {"Top", 7.0},
    };
    for (const auto& [key, value] : cases) {
        SCOPED_TRACE(key);
        ASSERT_EQ(Call("WriteRegistryKey", {kCurrentUser, std::string(key), value}), 0u);
        EXPECT_EQ(One("ReadRegistryKey", {kCurrentUser, std::string(key)}), value);
    }
    // Names do not tell case apart, and roots are separate.
    EXPECT_EQ(One("ReadRegistryKey", {kCurrentUser, std::string("SOFTWARE\\quill\\NAME")}),
              Value{std::string("hello")});
    EXPECT_EQ(Call("ReadRegistryKey", {0.0, std::string("Software\\Quill\\Name")}), uint32_t{ERR_REGISTRYREAD});
    EXPECT_EQ(Call("ReadRegistryKey", {kCurrentUser, std::string("Software\\Missing")}), uint32_t{ERR_REGISTRYREAD});
    EXPECT_EQ(Call("ReadRegistryKey", {9.0, std::string("x")}), static_cast<uint32_t>(ERR_WRONGUSAGE));

    RegistryValue raw;
    raw.bytes = "abc";  // stored by someone else without a terminator
    ASSERT_EQ(RegistryWrite(4, "Raw", raw), 0u);
    EXPECT_EQ(One("ReadRegistryKey", {kCurrentUser, std::string("Raw")}), Value{std::string("abc")});

    // Paths stay inside their root.
    ASSERT_EQ(Call("WriteRegistryKey", {kCurrentUser, std::string("..\\..\\..\\escape"), 1.0}), 0u);
    EXPECT_FALSE(FileExists(dir.file("escape")));
    EXPECT_FALSE(FileExists(dir.path() + "/../escape"));
    EXPECT_EQ(One("ReadRegistryKey", {kCurrentUser, std::string("..\\..\\..\\escape")}), Value{1.0});
}

// A number is kept as an unsigned 32-bit whole number: the fraction goes
// and the rest is taken modulo 2^32.
TEST_F(HostServices, RegistryNumbersAreUnsigned32BitWholeNumbers)
{
    const std::pair<double, double> cases[] = {
        {-7, 4294967289.0}, {5000000000.0, 705032704.0}, {2.9, 2}, {-2.9, 4294967294.0}, {4294967296.0, 0},
    };
    for (const auto& [written, read] : cases) {
        SCOPED_TRACE(written);
        ASSERT_EQ(Call("WriteRegistryKey", {kCurrentUser, std::string("Numbers\\Value"), written}), 0u);
        EXPECT_EQ(One("ReadRegistryKey", {kCurrentUser, std::string("Numbers\\Value")}), Value{read});
    }
}

TEST_F(HostServices, ClipboardHoldsText)
{
    EXPECT_EQ(One("PeekClipboard", {}), Value{0.0});
    std::string text("line\0two", 8);
    ASSERT_EQ(Call("SetClipboard", {1.0, text}), 0u);
    VmCollectGarbage(vm);  // the clipboard holds a copy, not the script's string
    EXPECT_EQ(One("PeekClipboard", {}), Value{1.0});
    std::vector<Value> r;
    ASSERT_EQ(Call("GetClipboard", {}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{1.0, text}));
    ASSERT_EQ(Call("SetClipboard", {1.0, std::string()}), 0u);
    ASSERT_EQ(Call("GetClipboard", {}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{1.0, std::string()}));
    ASSERT_EQ(Call("ClearClipboard", {}), 0u);
    ASSERT_EQ(Call("GetClipboard", {}, &r), 0u);
    EXPECT_EQ(r, std::vector<Value>{0.0});
    EXPECT_EQ(Call("SetClipboard", {3.0, text}), static_cast<uint32_t>(ERR_WRONGUSAGE));
    EXPECT_EQ(Call("SetClipboard", {2.0, 77.0}), static_cast<uint32_t>(ERR_FINDBRUSH));
}

// Brushes with alpha go round the clipboard in the player's clipboard test;
// here a brush without alpha comes back opaque and without an alpha plane,
// a mask comes back as alpha 0 where it hides, and the brush may go.
TEST_F(HostServices, ClipboardPicturesOfOpaqueAndMaskedBrushes)
{
    const int32_t w = 7, h = 5;
    std::vector<uint32_t> argb = MakeTestPicture(w, h, false);
    // The clipboard's brush, its pixels with the alpha plane folded in.
    auto read = [&](bool* withAlpha) {
        int base;
        EXPECT_EQ(CallKeep("GetClipboard", {}, &base), 0u);
        EXPECT_EQ(VmGetNumber(vm, base + 1), 2.0);
        const Brush* got = static_cast<Brush*>(VmGetUserdata(vm, base + 2));
        std::vector<uint32_t> pixels;
        if (got && got->width == w && got->height == h && !got->mask) {
            *withAlpha = got->alpha != nullptr;
            uint32_t* out = BitMapToArgbMasked(got->bitmap, 0, 0, w, h, nullptr, got->alpha, kNoTransparentColour, 1,
                                               LOCKBITMAP_READ);
            pixels.assign(out, out + (out ? w * h : 0));
            OsFreeMem(out);
        }
        VmSetTop(vm, base);
        return pixels;
    };
    BitMapHandle *bitmap, *mask, *alpha;
    ASSERT_EQ(RenderBGPicSource(argb.data(), w, h, 0, &bitmap, &mask, &alpha), 0u);
    Brush* brush = nullptr;
    ASSERT_EQ(AddBrush(vm, MakeObjectId(2), false, bitmap, mask, alpha, w, h, &brush), 0u);
    ASSERT_EQ(Call("SetClipboard", {2.0, 2.0}), 0u);
    EXPECT_EQ(One("PeekClipboard", {}), Value{2.0});
    bool hasAlpha = true;
    EXPECT_EQ(read(&hasAlpha), argb);
    EXPECT_FALSE(hasAlpha);

    brush->mask = SetBitMapTransparency(brush->bitmap, w, h, argb[3] & 0xFFFFFF);
    ASSERT_NE(brush->mask, nullptr);
    ASSERT_EQ(Call("SetClipboard", {2.0, 2.0}), 0u);
    FreeBrush(vm, brush);
    argb[3] &= 0xFFFFFF;
    EXPECT_EQ(read(&hasAlpha), argb);
    EXPECT_TRUE(hasAlpha);
    FreeAllBrushes(vm);
}

TEST_F(HostServices, ShortcutsKeepTargetAndDescriptionAndTheTrayIconIsRefused)
{
    std::string link = dir.file("link.desktop");
    std::string target = "/opt/app/run me";
    std::string description = "two\nlines \\ and more";
    ASSERT_EQ(Call("CreateShortcut", {target, link, description}), 0u);
    std::vector<Value> r;
    ASSERT_EQ(Call("GetShortcutPath", {link}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{target, description}));
    EXPECT_EQ(Call("GetShortcutPath", {dir.file("missing")}), static_cast<uint32_t>(ERR_GETSHORTCUT));

    // The tray icon is refused.
    EXPECT_EQ(Call("SetTrayIcon", {1.0, std::string("tip")}), static_cast<uint32_t>(ERR_UNSUPPORTEDFEAT));
    EXPECT_EQ(Call("SetTrayIcon", {1.0, std::string(128, 't')}), static_cast<uint32_t>(ERR_WRONGUSAGE));
    EXPECT_EQ(Call("SetTrayIcon", {Nil{}}), static_cast<uint32_t>(ERR_WRONGUSAGE));
}

TEST_F(HostServices, AddressGoesToTheOpenerAsOneArgument)
{
    std::string opener = dir.file("opener");
    std::string out = dir.file("out");
    {
        std::ofstream script(opener);
        script << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" << out << ".tmp' && mv '" << out << ".tmp' '" << out
               << "'\n";
    }
    chmod(opener.c_str(), 0700);
    SetUrlOpener(opener.c_str());
    std::string url = "http://127.0.0.1/a b;$(touch " + dir.file("pwned") + ")'\"";
    ASSERT_EQ(Call("OpenURL", {url}), 0u);
    // The opener runs on its own; wait until it has written its answer.
    for (int i = 0; i < 5000 && !FileExists(out); ++i)
        usleep(2000);
    std::ifstream in(out);
    std::string answer((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(answer, "1|" + url);
    EXPECT_FALSE(FileExists(dir.file("pwned")));

    EXPECT_EQ(Call("OpenURL", {std::string("")}), static_cast<uint32_t>(ERR_BADURL));
    SetUrlOpener(dir.file("no-such-opener").c_str());
    EXPECT_EQ(Call("OpenURL", {url}), static_cast<uint32_t>(ERR_EXECUTE));
}

}  // namespace
