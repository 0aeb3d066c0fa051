// The applet writer against a small reader of the applet layout written
// here, and packed applets against zlib's own inflate.
#include "tools/qmasm/applet_writer.h"

#include "tools/qmasm/assembled_applet.h"
#include "tools/qmasm/byte_sink.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <bit>
#include <map>
#include <string>
#include <tuple>
#include <vector>

using namespace qmasm;

namespace {

using Bytes = std::vector<uint8_t>;

// Walks the sections of an unpacked applet the way a loader would, keeping
// what each section held. Only the tags the writer produces are known.
struct ReadBack {
    std::vector<uint8_t> tags;
    uint8_t major = 0, minor = 0;
    std::map<uint8_t, std::string> texts;
    std::vector<std::pair<uint32_t, std::string>> labels;
    std::vector<std::tuple<std::string, uint8_t, double, std::string>> constants;
    struct Included {
        uint32_t first, last, begin;
        std::string name, file;
        bool operator==(const Included&) const = default;
    };
    std::vector<Included> included;
    struct Linked {
        std::string name;
        uint32_t size, offset;  // offset relative to the applet start
        bool dropped;
    };
    std::vector<Linked> linked;
    struct Preload { uint8_t kind; uint32_t id, words[7]; std::string text1, text2; };
    std::vector<Preload> preloads;
    Bytes code;
    size_t end = 0;  // position after the code
};

class Reader {
public:
    explicit Reader(const Bytes& b) : b_(b) {}
    uint8_t U8() { return b_.at(pos_++); }
    // Most significant first, read in that order.
    uint32_t U16() { uint32_t high = U8(); return high << 8 | U8(); }
    uint32_t U32() { uint32_t high = U16(); return high << 16 | U16(); }
    double F64() { uint64_t high = U32(); return std::bit_cast<double>(high << 32 | U32()); }
    std::string CStr()
    {
        std::string s;
        while (char c = static_cast<char>(U8()))
            s += c;
        return s;
    }
    std::string WStr()
    {
        Bytes s = Take(U16());
        return std::string(s.begin(), s.end());
    }
    Bytes Take(size_t n)
    {
        pos_ += n;
        return Bytes(b_.begin() + pos_ - n, b_.begin() + pos_);
    }
    size_t pos_ = 0;

private:
    const Bytes& b_;
};

// `recordSizes`: bytes of each preload entry's kind record, which the
// reader cannot know by itself.
ReadBack ReadApplet(const Bytes& b, const std::vector<size_t>& recordSizes = {})
{
    ReadBack r;
    Reader in(b);
    EXPECT_EQ(in.Take(4), (Bytes{'Q', 'M', 'A', 0}));
    for (;;) {
        uint8_t tag = in.U8();
        r.tags.push_back(tag);
        switch (tag) {
        case 0: in.Take(in.U32()); break;
        case 1:
            r.code = in.Take(in.U32());
            r.end = in.pos_;
            return r;
        case 2: {
            uint32_t n = in.U32();
            for (uint32_t i = 0; i < n; i++) {
                ReadBack::Preload p{};
                p.kind = in.U8();
                p.id = in.U32();
                for (uint32_t& w : p.words)
                    w = in.U32();
                if (r.major >= 6) {
                    p.text1 = in.WStr();
                    p.text2 = in.WStr();
                }
                in.Take(recordSizes.at(i));
                r.preloads.push_back(p);
            }
            break;
        }
        case 8:
        case 27: {
            uint32_t n = in.U32();
            for (uint32_t i = 0; i < n; i++) {
                // A braced list reads its fields in order.
                ReadBack::Included f{in.U32(), in.U32(), in.U32(), in.CStr(), ""};
                if (tag == 27)
                    f.file = in.CStr();
                r.included.push_back(f);
            }
            break;
        }
        case 9: {
            uint32_t n = in.U32();
            for (uint32_t i = 0; i < n; i++)
                r.labels.push_back({in.U32(), in.CStr()});
            break;
        }
        case 10:
            r.major = in.U8();
            r.minor = in.U8();
            break;
        case 11: case 12: case 13: case 14: case 15: case 34: r.texts[tag] = in.CStr(); break;
        case 26: {
            uint32_t n = in.U32();
            in.U32();
            for (uint32_t i = 0; i < n; i++) {
                ReadBack::Linked f{in.CStr(), 0, 0, false};
                uint32_t a = in.U32();
                if (a == 0xFFFFFFFF) {
                    f.size = in.U32();
                    f.offset = in.U32();
                } else if (a == 0xFFFFFFFE) {
                    f.dropped = true;
                } else {
                    f.size = a;
                    f.offset = static_cast<uint32_t>(in.pos_);
                    in.Take(a);
                }
                r.linked.push_back(f);
            }
            break;
        }
        case 31:
            for (;;) {
                std::string name = in.CStr();
                if (name.empty())
                    break;
                uint8_t type = in.U8();
                if (type == 0)
                    r.constants.emplace_back(name, type, in.F64(), "");
                else
                    r.constants.emplace_back(name, type, 0.0, in.CStr());
            }
            break;
        case 3: in.Take(4); break;
        case 4: in.WStr(); break;
        default: ADD_FAILURE() << "unexpected tag " << int(tag); return r;
        }
    }
}

Bytes Slice(const Bytes& b, uint32_t offset, uint32_t size)
{
    return Bytes(b.begin() + offset, b.begin() + offset + size);
}

AppletDescription FullApplet()
{
    AppletDescription a;
    a.title = "Sum", a.version = "$VER: sum 1.0", a.copyright = "(c) nobody", a.author = "tests";
    a.description = "adds numbers", a.identifier = "com.example.sum";
    a.labels = {{"start", 0}, {"loop", 12}};
    a.constants = {{"#ANSWER", false, 42.5, ""}, {"#NAME", true, 0, "quill"}};
    a.includedFiles = {{1, 30, 0, "sum.qas", std::nullopt}, {31, 40, 2, "lib.qas", std::nullopt}};
    AppletLinkedFile inlineFile{"data.txt", AppletLinkedFile::Storage::Inline, {'h', 'i', '\n'}, 0, 0};
    AppletLinkedFile external{"pic.png", AppletLinkedFile::Storage::External, {1, 2, 3, 4, 5}, 0, 0};
    AppletLinkedFile given{"far.bin", AppletLinkedFile::Storage::External, {}, 77, 9999};
    AppletLinkedFile dropped{"gone", AppletLinkedFile::Storage::Dropped, {}, 0, 0};
    a.linkedFiles = {inlineFile, external, given, dropped};
    AppletPreload brush;
    brush.kind = 1, brush.id = 7;
    brush.data = {0xAA, 0xBB}, brush.linkedData = {0xCC, 0xDD, 0xEE};
    brush.transparentColor = 0xFF00FF, brush.flags = 3, brush.line = 12;
    brush.text1 = "one", brush.text2 = "two", brush.record = Bytes(19, 0x11);
    AppletPreload button;
    button.kind = 5, button.id = 2, button.dataOffset = 100, button.dataSize = 0, button.record = Bytes(8, 0x22);
    a.preloads = {brush, button};
    ByteSink size;
    size.I16(800);
    size.I16(600);
    a.sections = {{3, size.Take()}};
    a.code = {0x1B, 'Q', 'M', 'B', 9, 9};
    return a;
}

TEST(AppletWriter, EverySectionReadsBackInPlace)
{
    AppletDescription a = FullApplet();
    Bytes b = WriteApplet(a);
    ReadBack r = ReadApplet(b, {19, 8});
    EXPECT_EQ(std::make_pair(r.major, r.minor), std::make_pair(uint8_t{6}, uint8_t{1}));
    // Version and texts lead; the code is last and nothing follows it.
    ASSERT_GE(r.tags.size(), 7u);
    EXPECT_EQ(Bytes(r.tags.begin(), r.tags.begin() + 7), (Bytes{10, 11, 12, 13, 14, 15, 34}));
    EXPECT_EQ(r.tags.back(), 1);
    EXPECT_EQ(r.end, b.size());
    EXPECT_EQ(r.texts, (std::map<uint8_t, std::string>{{11, "Sum"}, {12, "$VER: sum 1.0"}, {13, "(c) nobody"},
                                                       {14, "tests"}, {15, "adds numbers"}, {34, "com.example.sum"}}));
    EXPECT_EQ(r.labels, (std::vector<std::pair<uint32_t, std::string>>{{0, "start"}, {12, "loop"}}));
    using Constant = std::tuple<std::string, uint8_t, double, std::string>;
    EXPECT_EQ(r.constants, (std::vector<Constant>{{"#ANSWER", 0, 42.5, ""}, {"#NAME", 1, 0.0, "quill"}}));
    ASSERT_EQ(r.included.size(), 2u);
    EXPECT_EQ(r.included[1], (ReadBack::Included{31, 40, 2, "lib.qas", ""}));

    ASSERT_EQ(r.linked.size(), 4u);
    EXPECT_EQ(Slice(b, r.linked[0].offset, r.linked[0].size), (Bytes{'h', 'i', '\n'}));
    EXPECT_EQ(Slice(b, r.linked[1].offset, r.linked[1].size), (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(std::make_tuple(r.linked[2].size, r.linked[2].offset), std::make_tuple(77u, 9999u));
    EXPECT_TRUE(r.linked[3].dropped && r.linked[3].name == "gone");

    ASSERT_EQ(r.preloads.size(), 2u);
    const ReadBack::Preload& p = r.preloads[0];
    EXPECT_EQ(std::make_tuple(p.kind, p.id, p.words[4], p.words[5], p.words[6], p.text1, p.text2),
              std::make_tuple(uint8_t{1}, 7u, 0xFF00FFu, 3u, 12u, std::string("one"), std::string("two")));
    EXPECT_EQ(Slice(b, p.words[0], p.words[1]), (Bytes{0xAA, 0xBB}));
    EXPECT_EQ(Slice(b, p.words[2], p.words[3]), (Bytes{0xCC, 0xDD, 0xEE}));
    EXPECT_EQ(std::make_pair(r.preloads[1].words[0], r.preloads[1].words[4]), std::make_pair(100u, 0xFFFFFFFFu));
    EXPECT_EQ(r.code, a.code);
}

TEST(AppletWriter, OldVersionsLeaveOutPreloadTextsAndIncludedFilesWithAFileTakeTheirOwnTag)
{
    AppletDescription a;
    a.versionMajor = 5;
    a.versionMinor = 3;
    AppletPreload p;
    p.kind = 3;
    p.id = 1;
    p.text1 = "never written";
    a.preloads = {p};
    a.code = {1, 2, 3};
    Bytes b = WriteApplet(a);
    ReadBack r = ReadApplet(b, {0});
    EXPECT_EQ(std::make_pair(r.major, r.minor), std::make_pair(uint8_t{5}, uint8_t{3}));
    EXPECT_EQ(r.code, (Bytes{1, 2, 3}));
    EXPECT_EQ(r.end, b.size());

    AppletDescription files;
    files.writeVersion = false;
    files.includedFiles = {{1, 5, 0, "a.qas", "a.qas"}, {6, 9, 0, "b.qas", std::nullopt}};
    r = ReadApplet(WriteApplet(files));
    EXPECT_EQ(r.tags, (Bytes{27, 1}));
    EXPECT_EQ(r.included, (std::vector<ReadBack::Included>{{1, 5, 0, "a.qas", "a.qas"}, {6, 9, 0, "b.qas", ""}}));
}

TEST(AppletWriter, PackedAppletInflatesToThePlainOne)
{
    AppletDescription a = FullApplet();
    Bytes plain = WriteApplet(a);
    a.packed = true;
    a.icons = {{48, 48, 0, {7, 7}}};
    Bytes packed = WriteApplet(a);
    ASSERT_GT(packed.size(), 8u);
    EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 8), (Bytes{'Q', 'M', 'Z', 0, 0, 0, 0, 0}));
    Bytes inflated(plain.size() + 1);
    uLongf size = inflated.size();
    uLong used = packed.size() - 8;
    ASSERT_EQ(uncompress2(inflated.data(), &size, packed.data() + 8, &used), Z_OK);
    inflated.resize(size);
    EXPECT_EQ(inflated, plain);
    // The icon block stands after the compressed data, outside it.
    EXPECT_EQ(Bytes(packed.begin() + 8 + used, packed.end()),
              (Bytes{'I', 0, 0, 0, 48, 0, 48, 0, 0, 0, 0, 2, 7, 7, 0, 0}));
}

TEST(AppletWriter, AssembledCodeBringsItsLabelsAndLineMap)
{
    AssembleResult r = Assemble(".chunk lines=auto\nStart: LOADNIL r0, r0\nLoop_B:\nJMP Start\nRETURN r0, 1\n");
    ASSERT_TRUE(r.ok) << r.message;
    AppletDescription a;
    AddAssembledCode(r, "x.qas", &a);
    ReadBack back = ReadApplet(WriteApplet(a));
    EXPECT_EQ(back.labels, (std::vector<std::pair<uint32_t, std::string>>{{0, "start"}, {1, "loop_b"}}));
    EXPECT_EQ(back.included, (std::vector<ReadBack::Included>{{1, 5, 0, "x.qas", "@x.qas"}}));
    EXPECT_EQ(back.code, r.bytes);
}

}  // namespace
