// The colour that a GIF's transparent pixels take, as applets load GIFs
// that PIL wrote: the transparent entry's own colour, or one that no entry
// of the palette has when another entry shares it; seen in the pixels of
// brushes saved as PNG and reported by #ATTRTRANSPARENTCOLOR.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "e2e/test_applet.h"
#include "support/picture_oracle.h"

using namespace qmasm;

namespace {

// Writes a 4 x 2 GIF whose entry 2 is transparent (argv 2: the folder,
// argv 3: the four entries as RRGGBB); then (argv 1 "read") tells of
// plain.png and keyed.png, saved from it, the colour of the transparent
// pixels ("unused" when no other entry has it), whether they are hidden and
// whether every other pixel shows its entry's colour: exit 0 as in argv 4.
const char kGifPeer[] = R"PY(
import sys
from PIL import Image
mode, d, entries = sys.argv[1], sys.argv[2], [bytes.fromhex(e) for e in sys.argv[3].split(',')]
indices = [0, 1, 2, 3, 2, 2, 0, 1]
if mode == 'write':
    im = Image.new('P', (4, 2))
    im.putpalette(b''.join(entries))
    im.putdata(indices)
    im.save(d + '/t.gif', transparency=2, optimize=False)
    assert Image.open(d + '/t.gif').getpalette()[:12] == list(b''.join(entries))
    sys.exit(0)
words = []
for saved in ('plain', 'keyed'):
    px = list(Image.open(d + '/' + saved + '.png').convert('RGBA').getdata())
    keys = {px[i] for i in range(8) if indices[i] == 2}
    key = bytes(px[2][:3])
    others = all(px[i] == tuple(entries[indices[i]]) + (255,) for i in range(8) if indices[i] != 2)
    words.append('%s %s%s %s %s' % (saved, key.hex().upper(), '' if key in entries[:2] + entries[3:] else ' unused',
                                    'hidden' if len(keys) == 1 and px[2][3] == 0 else 'shown' if len(keys) == 1 else 'mixed',
                                    'others' if others else 'wrong'))
print(', '.join(words))
sys.exit(', '.join(words) != sys.argv[4])
)PY";

TEST(GifTransparency, TransparentPixelsTakeTheirEntrysColourOrOneNoEntryHas)
{
    QM_SKIP_WITHOUT(HavePil()) << "PIL writes and reads the pictures";
    const struct {
        const char* entries;
        const char* key;  // "": not known beforehand, but none of the entries
    } cases[] = {
        {"0A141E,C80000,00C800,0000C8", "00C800"},  // its own colour
        {"0A141E,C80000,0A141E,0000C8", "FF00FF"},  // shared with entry 0
        {"0A141E,FF00FF,0A141E,0000C8", ""},        // and $FF00FF taken too
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entries);
        TempDir dir;
        const std::string arguments = dir.path() + " " + c.entries;
        ASSERT_TRUE(RunPython(dir.path(), kGifPeer, "write " + arguments));
        // Types: #BRUSH 3, #ANIM 4, #BGPIC 1; #ATTRTRANSPARENTCOLOR 5; #IMGFMT_PNG 1.
        std::string gif = "\"" + dir / "t.gif" + "\"";
        std::string body = CommandCall("loadbrush", {"#1", gif}) +
                           CommandCall("loadbrush", {"#2", gif, "{loadtransparency=#1}"}) +
                           CommandCall("loadanim", {"#1", gif}) +
                           CommandCall("loadanim", {"#2", gif, "{loadtransparency=#1}"}) +
                           CommandCall("loadbgpic", {"#5", gif, "{loadtransparency=#1}"}) +
                           CommandCall("loadbrush", {"#3", gif, "{transparency=#0x123456}"}) +
                           CommandCall("loadanim", {"#3", gif, "{transparency=#0x123456}"}) +
                           CommandCall("savebrush", {"#1", "\"" + dir / "plain.png" + "\"", "#1"}) +
                           CommandCall("savebrush", {"#2", "\"" + dir / "keyed.png" + "\"", "#1"});
        const char* objects[][3] = {{"plain brush", "#3", "#1"}, {"plain anim", "#4", "#1"},
                                    {"keyed brush", "#3", "#2"}, {"keyed anim", "#4", "#2"},
                                    {"keyed bgpic", "#1", "#5"},  {"named brush", "#3", "#3"},
                                    {"named anim", "#4", "#3"}};
        for (const auto& o : objects)
            body += CommandCall("getattribute", {o[1], o[2], "#5"}, 1) + "    MOVE r2, r0\n" +
                    "    GETGLOBAL r0, \"debugprint\"\n    LOADK r1, \"" + o[0] + "\"\n    CALL r0, 3, 1\n";
        PlayerRun player = PlayApplet(dir, AssembleTestApplet(MainScript(body)), {"-debugdevice", "console"});
        ASSERT_EQ(player.status, 0) << player.err;
        // Only loadtransparency, or a colour named by transparency, gives the
        // object a transparent colour.
        ExpectLines(player.out, {"plain brush 4294967295", "plain anim 4294967295", "named brush 1193046",
                                 "named anim 1193046"});
        size_t at = player.out.find("keyed brush ");
        ASSERT_NE(at, std::string::npos) << player.out;
        unsigned long reported = std::stoul(player.out.substr(at + 12));
        char key[8];
        std::snprintf(key, sizeof key, "%06lX", reported);
        ExpectLines(player.out, {"keyed anim " + std::to_string(reported), "keyed bgpic " + std::to_string(reported)});
        if (*c.key)
            EXPECT_EQ(std::string(key), c.key);
        else
            EXPECT_NE(std::string(key), "FF00FF");
        // Shown in the key colour without loadtransparency, hidden with it;
        // "unused": no entry but the transparent one has that colour.
        std::string unused = std::string(key) + " unused";
        EXPECT_TRUE(RunPython(dir.path(), kGifPeer,
                              "read " + arguments + " '" + "plain " + unused + " shown others, keyed " + unused +
                                  " hidden others'"));
    }
}

}  // namespace
