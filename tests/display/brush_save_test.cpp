// SaveBrush's GIF key: the pixels a brush hides are saved in a colour that
// no pixel it shows has, so that PIL, reading the file back, sees every
// shown pixel opaque in its colour and every hidden one transparent.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "display/brush_save.h"
#include "display/pictures.h"
#include "gfx/graphics_fixture.h"
#include "gfx/library/image_save.h"
#include "gfx/picture_test_helpers.h"
#include "support/picture_oracle.h"
#include "support/temp_dir.h"

namespace {

using namespace picture_test;

// Prints "x,y,r,g,b,a" for every pixel of the GIF as PIL decodes it.
const char kReadGif[] = R"PY(
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert('RGBA')
with open(sys.argv[2], 'w') as out:
    for y in range(im.size[1]):
        for x in range(im.size[0]):
            out.write('%d,%d,%d,%d,%d,%d\n' % ((x, y) + im.getpixel((x, y))))
)PY";

class BrushSave : public GraphicsFixture {};

TEST_F(BrushSave, GifHidesOnlyWhatTheBrushHides)
{
    QM_SKIP_WITHOUT(HavePil()) << "PIL is the oracle";
    constexpr int32_t w = 6, h = 3;
    // Red and blue, keyed to red; the mask hides the left column, and the
    // red pixels at x = 3 show (painted after the mask was made).
    BitMapHandle* bitmap = Colour(w, h, 0x0000FF);
    for (int32_t y = 0; y < h; ++y) {
        Put(bitmap, 0, y, 0xFFFF0000);
        Put(bitmap, 3, y, 0xFFFF0000);
    }
    BitMapHandle* mask = Mask(bitmap, w, h, [](int32_t x, int32_t) { return x != 0; });
    Brush* brush = nullptr;
    ASSERT_EQ(AddBrush(vm, MakeObjectId(1), false, bitmap, mask, nullptr, w, h, &brush), 0u);
    brush->transparentColour = 0xFF0000;

    TempDir dir;
    std::string gif = dir / "keyed.gif";
    ASSERT_EQ(SaveBrushPlanes(brush, IMGFMT_GIF, gif.c_str(), kDefaultSaveQuality, kDefaultSaveColors, 0), 0u);
    ASSERT_TRUE(RunPython(dir.path(), kReadGif, gif + " " + (dir / "pixels.txt")));
    std::ifstream in(dir / "pixels.txt");
    std::string line;
    int seen = 0;
    while (std::getline(in, line)) {
        int x, y, r, g, b, a;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d,%d,%d,%d,%d,%d", &x, &y, &r, &g, &b, &a), 6) << line;
        ++seen;
        SCOPED_TRACE(line);
        if (x == 0) {
            EXPECT_EQ(a, 0);
        } else {
            EXPECT_EQ(a, 255);
            EXPECT_EQ(r, x == 3 ? 255 : 0);
            EXPECT_EQ(b, x == 3 ? 0 : 255);
        }
    }
    EXPECT_EQ(seen, w * h);
}

}  // namespace
