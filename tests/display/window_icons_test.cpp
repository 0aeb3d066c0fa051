// Window icons: an opened window registers every icon the applet declared
// as an icon resource. PIL reads each resource back from an icon file made
// around it and compares it with the PNG it came from, alpha and the
// transparency mask included. A display adapter's own window gets the same
// resources through the host interface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/plugins/plugin_loader.h"
#include "core/startup/applet.h"
#include "display/display.h"
#include "display/framebuffer.h"
#include "display/window_icons.h"
#include "platform/posix/os_memory.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"
#include "support/test_displays.h"

namespace {

// Pictures whose channels all vary; the 16 x 16 one has alpha, 0 included.
const char kMakeIcons[] = R"PY(
import sys
from PIL import Image
for n, mode in ((16, 'RGBA'), (32, 'RGB')):
    im = Image.new('RGBA', (n, n))
    im.putdata([(x * 15 % 256, y * 9 % 256, x * y % 256, (x + y) * 8 % 256) for y in range(n) for x in range(n)])
    im.convert(mode).save('%s/icon%d.png' % (sys.argv[1], n))
)PY";

// A one-picture icon file around the resource, read by PIL, must match the
// PNG, and the mask rows after the pixels must mark exactly the pixels of
// alpha 0.
const char kCompare[] = R"PY(
import struct, sys
from PIL import Image
res, png = open(sys.argv[1], 'rb').read(), sys.argv[2]
n = struct.unpack('<i', res[4:8])[0]
open(sys.argv[1] + '.ico', 'wb').write(struct.pack('<HHHBBBBHHII', 0, 1, 1, n, n, 0, 0, 1, 32, len(res), 22) + res)
a, b = Image.open(sys.argv[1] + '.ico').convert('RGBA'), Image.open(png).convert('RGBA')
assert a.size == b.size, (a.size, b.size)
w, h = b.size
row = (w + 31) // 32 * 4
mask = res[40 + w * h * 4:]
assert len(mask) == row * h, len(mask)
for y in range(h):
    for x in range(w):
        pa, pb = a.getpixel((x, y)), b.getpixel((x, y))
        assert pa[3] == pb[3] and (pb[3] == 0 or pa[:3] == pb[:3]), (x, y, pa, pb)
        assert (mask[(h - 1 - y) * row + x // 8] >> (7 - x % 8)) & 1 == (pb[3] == 0), (x, y)
)PY";

char* OwnedCopy(const std::string& text)
{
    auto* copy = static_cast<char*>(OsAllocMem(text.size() + 1, 0));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

TEST(WindowIcons, OpenedWindowsRegisterEveryDeclaredIcon)
{
    QM_SKIP_WITHOUT(HavePil()) << "PIL makes and reads the icons";
    TempDir dir;
    ASSERT_TRUE(RunPython(dir.path(), kMakeIcons, dir.path()));
    IconTable[0].data = OwnedCopy(dir.file("icon16.png"));
    IconTable[ICON_TABLE_SIZE / 2 + 2].data = OwnedCopy(dir.file("icon32.png"));
    ASSERT_EQ(LoadWindowIcons(false), 0u);
    Display* d = MakeTestDisplay(nullptr, 1, 40, 30);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->framebuffer->iconCount, 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        const WindowIcon& icon = d->framebuffer->icons[i];
        std::string res = dir.file("icon.res"), png = dir.file("icon" + std::to_string(icon.width) + ".png");
        WriteFileBytes(res, std::vector<uint8_t>(icon.data, icon.data + icon.size));
        EXPECT_TRUE(RunPython(dir.path(), kCompare, res + " " + png)) << icon.width;
    }
    const QmGraphicsTable* g = GetPluginHostApi()->graphics;
    auto getIcons = reinterpret_cast<QmGetIconListFunc>(g->slot[QM_GFX_GETICONLIST]);
    auto freeIcons = reinterpret_cast<QmFreeIconListFunc>(g->slot[QM_GFX_FREEICONLIST]);
    QmIconList* list = nullptr;
    ASSERT_EQ(getIcons(&list), 0u);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        const WindowIcon& icon = d->framebuffer->icons[i];
        EXPECT_EQ(list->icons[i].width, icon.width);
        ASSERT_EQ(list->icons[i].size, icon.size);
        EXPECT_EQ(std::memcmp(list->icons[i].data, icon.data, icon.size), 0);
    }
    freeIcons(list);
    freeIcons(nullptr);
    FreeAllDisplays(nullptr);
    FreeWindowIcons();
    FreeIconTable();
    ASSERT_EQ(getIcons(&list), 0u);
    EXPECT_EQ(list, nullptr);
}

}  // namespace
