// Reads the tagged sections of an applet stream into `AppletInfo` and the
// program-wide records beside it.
//
// The reader keeps its own position and the stream's end: before any count,
// size or offset of the file is acted on, it is checked against the bytes
// that are left, so a damaged or hostile applet ends in an error code and
// never in a large allocation or a read past the end. Every record is hung
// into its list as soon as it is allocated, so whatever was read is freed by
// FreeAppletInfoLists however reading ends.
#include <cstdio>
#include <cstring>

#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/startup/applet.h"
#include "core/startup/options.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_time.h"

int32_t AppletSettings[4];
DisplayBackfill StartupDisplayRecord;

IconRecord IconTable[ICON_TABLE_SIZE] = {
    {nullptr, "16x16", 16, 16, 0},       {nullptr, "24x24", 24, 24, 0},
    {nullptr, "32x32", 32, 32, 0},       {nullptr, "48x48", 48, 48, 0},
    {nullptr, "64x64", 64, 64, 0},       {nullptr, "96x96", 96, 96, 0},
    {nullptr, "128x128", 128, 128, 0},   {nullptr, "256x256", 256, 256, 0},
    {nullptr, "512x512", 512, 512, 0},   {nullptr, "16x16", 16, 16, 0},
    {nullptr, "24x24", 24, 24, 0},       {nullptr, "32x32", 32, 32, 0},
    {nullptr, "48x48", 48, 48, 0},       {nullptr, "64x64", 64, 64, 0},
    {nullptr, "96x96", 96, 96, 0},       {nullptr, "128x128", 128, 128, 0},
    {nullptr, "256x256", 256, 256, 0},   {nullptr, "512x512", 512, 512, 0},
};

void FreeIconTable()
{
    for (IconRecord& icon : IconTable) {
        OsFreeMem(icon.data);
        icon.data = nullptr;
        icon.marked = 0;
    }
}

namespace {

enum SectionTag : uint8_t {
    TAG_SKIP = 0,
    TAG_CODE = 1,
    TAG_PRELOAD = 2,
    TAG_DISPLAYSIZE = 3,
    TAG_DISPLAYTITLE = 4,
    TAG_DISPLAYCOLOR = 5,
    TAG_DISPLAYPOS = 6,
    TAG_STARTUPFLAG = 7,
    TAG_INCLUDED = 8,
    TAG_LABELS = 9,
    TAG_VERSION = 10,
    TAG_TITLE = 11,
    TAG_VERSIONTEXT = 12,
    TAG_COPYRIGHT = 13,
    TAG_AUTHOR = 14,
    TAG_DESCRIPTION = 15,
    TAG_STARTUPFIRST = 16,
    TAG_STARTUPBACKFILL = 17,
    TAG_BORDERLESS = 18,
    TAG_FIXED = 19,
    TAG_SIZEABLE = 20,
    TAG_STARTUPLAST = 21,
    TAG_STARTUPWORDS12 = 22,
    TAG_STARTUPWORD3 = 23,
    TAG_HIDEPOINTER = 24,
    TAG_NOMODESWITCH = 25,
    TAG_LINKEDFILES = 26,
    TAG_INCLUDEDWITHFILE = 27,
    TAG_SCALING = 28,
    TAG_NOOPTIONOVERRIDE = 29,
    TAG_NOHIDE = 30,
    TAG_CONSTANTS = 31,
    TAG_SETTINGS = 32,
    TAG_INCLUDEDSTORED = 33,
    TAG_IDENTIFIER = 34,
};

constexpr uint32_t kLinkedExternal = 0xFFFFFFFF;
constexpr uint32_t kLinkedDropped = 0xFFFFFFFE;

struct ReadFailure {
    uint32_t code;
};

[[noreturn]] void Fail(uint32_t code) { throw ReadFailure{code}; }

// Bounded reads from the stream, tracking the position itself so that every
// length can be checked against what is left.
class SectionReader {
public:
    SectionReader(StreamHandle* stream, uint64_t position, uint64_t end)
        : stream_(stream), pos_(position), end_(end)
    {
    }

    uint64_t Position() const { return pos_; }
    uint64_t Left() const { return end_ - pos_; }
    bool AtEnd() const { return pos_ >= end_; }

    void Need(uint64_t n) const
    {
        if (Left() < n)
            Fail(ERR_UNEXPECTEDEOF);
    }
    // A count of records of at least minSize bytes each must fit.
    void NeedRecords(uint64_t count, uint64_t minSize) const
    {
        if (count > Left() / minSize)
            Fail(ERR_UNEXPECTEDEOF);
    }

    void Bytes(void* out, size_t n)
    {
        Need(n);
        if (StreamRead(stream_, out, n) != n)
            Fail(ERR_READ);
        pos_ += n;
    }
    uint8_t U8()
    {
        uint8_t b;
        Bytes(&b, 1);
        return b;
    }
    uint16_t U16()
    {
        uint8_t b[2];
        Bytes(b, 2);
        return LoadBE16(b);
    }
    int16_t I16() { return static_cast<int16_t>(U16()); }
    uint32_t U32()
    {
        uint8_t b[4];
        Bytes(b, 4);
        return LoadBE32(b);
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    double F64()
    {
        uint8_t b[8];
        Bytes(b, 8);
        uint64_t bits = (static_cast<uint64_t>(LoadBE32(b)) << 32) | LoadBE32(b + 4);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

    void Skip(uint64_t n)
    {
        Need(n);
        if (StreamSeek(stream_, static_cast<int64_t>(n), STREAM_SEEK_CURRENT) < 0)
            Fail(ERR_READ);
        pos_ += n;
    }
    void SeekTo(uint64_t position)
    {
        if (position > end_)
            Fail(ERR_UNEXPECTEDEOF);
        if (StreamSeek(stream_, static_cast<int64_t>(position), STREAM_SEEK_BEGINNING) < 0)
            Fail(ERR_READ);
        pos_ = position;
    }

    // A NUL-terminated text; what does not fit the field is read and dropped.
    void String(char* out, size_t size)
    {
        size_t n = 0;
        for (;;) {
            uint8_t c = U8();
            if (c == 0)
                break;
            if (n + 1 < size)
                out[n++] = static_cast<char>(c);
        }
        out[n] = 0;
    }
    // A text as a new OsAllocMem block: no longer than the bytes that are left.
    char* StringCopy()
    {
        uint64_t start = pos_;
        uint64_t length = 0;
        while (U8() != 0)
            length++;
        auto* text = static_cast<char*>(OsAllocMem(length + 1, 0));
        if (!text)
            Fail(ERR_MEM);
        SeekTo(start);
        Bytes(text, length + 1);
        return text;
    }
    // A BE u16 length and that many bytes, cut to the field.
    void WString(char* out, size_t size)
    {
        uint16_t length = U16();
        Need(length);
        size_t keep = length < size ? length : size - 1;
        Bytes(out, keep);
        out[keep] = 0;
        Skip(length - keep);
    }

private:
    StreamHandle* stream_;
    uint64_t pos_;
    uint64_t end_;
};

// Every record of the applet passes through here, so a user abort ends a
// long load here too.
void* Allocate(size_t size)
{
    if (VmAbortFlag.load())
        Fail(ERR_USERABORT);
    void* p = OsAllocMem(size, 1);
    if (!p)
        Fail(ERR_MEM);
    return p;
}

// A zero-filled record with copies of its texts in the same block, sized by
// what the texts hold; freed with the record.
template <typename T, size_t N>
T* AllocateWithTexts(const char* const (&texts)[N], char* (&copies)[N])
{
    size_t lengths[N];
    size_t total = sizeof(T);
    for (size_t i = 0; i < N; ++i) {
        lengths[i] = std::strlen(texts[i]);
        total += lengths[i] + 1;
    }
    auto* record = static_cast<T*>(Allocate(total));
    char* at = reinterpret_cast<char*>(record + 1);
    for (size_t i = 0; i < N; ++i) {
        std::memcpy(at, texts[i], lengths[i] + 1);
        copies[i] = at;
        at += lengths[i] + 1;
    }
    return record;
}

void CopyField(char* out, size_t size, const char* text)
{
    size_t length = std::strlen(text);
    if (length >= size)
        length = size - 1;
    std::memcpy(out, text, length);
    out[length] = 0;
}

// The link after a list's last node: found once per section, so that the
// records of a section are appended in constant time each (a hostile
// applet may carry tens of thousands).
template <typename T>
T** TailLink(T** head)
{
    while (*head)
        head = &(*head)->next;
    return head;
}

template <typename T>
void AppendAt(T**& tail, T* node)
{
    *tail = node;
    tail = &node->next;
}

// Everything one read of the sections needs.
struct AppletRead {
    SectionReader& in;
    AppletInfo* applet;
    CoreContext* context;
    VmState* vm;
    const char* path;
    uint64_t appletStart;
    const AppletOrigin* origin;
    char firstTitle[DISPLAY_TEXT_SIZE];
    uint32_t hasFirstTitle;

    bool AtLeast(uint32_t major, uint32_t minor) const
    {
        return applet->versionMajor > major || (applet->versionMajor == major && applet->versionMinor >= minor);
    }
    uint64_t AppletBytes() const { return in.Left() + (in.Position() - appletStart); }
};

void ReadGradient(AppletRead& r, DisplayGradient* g)
{
    SectionReader& in = r.in;
    std::memset(g, 0, sizeof *g);
    g->style = in.U8();
    for (double& value : g->values)
        value = in.U32() / 1000000.0;
    uint32_t n = in.U8();
    in.NeedRecords(n, 8);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t color = in.U32();
        double position = in.U32() / 1000000.0;
        // Stops beyond the record's room are read and dropped.
        if (g->stopCount < GRADIENT_MAX_STOPS) {
            g->colors[g->stopCount] = color;
            g->positions[g->stopCount] = position;
            g->stopCount++;
        }
    }
}

void ReadBackfill(AppletRead& r, BackfillDesc* b)
{
    SectionReader& in = r.in;
    b->kind = in.U8();
    switch (b->kind) {
    case 1: b->color1 = in.U32(); break;
    case 2:
        b->color1 = in.U32();
        b->color2 = in.U32();
        break;
    case 3: b->brush = in.I32(); break;
    case 4:
        b->brush = in.I32();
        b->picX = in.I32();
        b->picY = in.I32();
        b->transparentColor = in.I32();
        in.U32();
        if (r.AtLeast(3, 2))
            b->scalePicture = in.U8();
        if (r.AtLeast(6, 0))
            b->flag6 = in.U8();
        break;
    default: break;
    }
}

void ReadRegions(AppletRead& r, uint32_t* outCount, DisplayRegion** outRegions)
{
    uint32_t count = r.in.U32();
    r.in.NeedRecords(count, sizeof(DisplayRegion));
    if (count == 0)
        return;
    *outRegions = static_cast<DisplayRegion*>(Allocate(sizeof(DisplayRegion) * count));
    *outCount = count;
    for (uint32_t i = 0; i < count; i++) {
        for (uint32_t& w : (*outRegions)[i].words)
            w = r.in.U32();
    }
}

void ReadDisplayDescription(AppletRead& r, DisplayDesc* d)
{
    SectionReader& in = r.in;
    d->bgpic = in.U32();
    d->x = in.I32();
    d->y = in.I32();
    d->width = in.I32();
    d->height = in.I32();
    d->color = in.U32();
    d->fillColor = d->color;
    d->flags = in.U32();
    d->active = in.U32();
    d->scaleWidth = in.I32();
    d->scaleHeight = in.I32();
    ReadRegions(r, &d->dragRegionCount, &d->dragRegions);
    ReadRegions(r, &d->sizeRegionCount, &d->sizeRegions);
    in.WString(d->title, sizeof d->title);
    if (r.AtLeast(4, 7)) {
        d->fillStyle = in.U8();
        d->fillWord = in.U32();
        d->fillShort = in.I16();
        d->textureBrush = in.U32();
        d->textureX = in.U32();
        d->textureY = in.U32();
    }
    if (r.AtLeast(5, 0))
        ReadGradient(r, &d->gradient);
    if (r.AtLeast(5, 2))
        in.WString(d->text52, sizeof d->text52);
    if (r.AtLeast(5, 3))
        d->orientation = in.U8();
    if (r.AtLeast(6, 0)) {
        d->monitor = in.U8();
        d->hasMenu = in.U8();
        uint32_t menu = in.U32();
        d->menu = d->hasMenu ? static_cast<int32_t>(menu) : -1;
        d->mode = in.U8();
        d->desktop = in.U8();
        d->scrWidth = in.I16();
        d->scrHeight = in.I16();
        d->scrDepth = in.U8();
        d->hideTitleBar = in.U8();
        ReadBackfill(r, &d->backfill.desc);
        for (char* text : d->texts)
            in.WString(text, DISPLAY_TEXT_SIZE);
    }
}

void ReadMenuLevel(AppletRead& r, MenuTreeItem** level, uint32_t depth)
{
    if (depth > MENU_MAX_DEPTH)
        Fail(ERR_MENUCOMPLEXITY);
    MenuTreeItem** tail = TailLink(level);
    for (;;) {
        char label[DISPLAY_TEXT_SIZE], hotkey[DISPLAY_TEXT_SIZE], extra[DISPLAY_TEXT_SIZE];
        r.in.WString(label, sizeof label);
        r.in.WString(hotkey, sizeof hotkey);
        r.in.WString(extra, sizeof extra);
        const char* texts[3] = {label, hotkey, extra};
        char* copies[3];
        auto* item = AllocateWithTexts<MenuTreeItem>(texts, copies);
        AppendAt(tail, item);
        item->label = copies[0];
        item->hotkey = copies[1];
        item->extra = copies[2];
        item->flags = r.in.U32();
        uint8_t more = r.in.U8();
        if (more == 2) {
            ReadMenuLevel(r, &item->submenu, depth + 1);
            more = r.in.U8();
        }
        if (more == 0)
            return;
    }
}

void ReadPluginTags(AppletRead& r, PreloadEntry* entry)
{
    if (!r.AtLeast(6, 0))
        return;
    uint32_t count = r.in.U32();
    r.in.NeedRecords(count, 6);
    PluginRequireTag** tail = TailLink(reinterpret_cast<PluginRequireTag**>(&entry->details));
    for (uint32_t i = 0; i < count; i++) {
        auto* tag = static_cast<PluginRequireTag*>(Allocate(sizeof(PluginRequireTag)));
        AppendAt(tail, tag);
        tag->tag = r.in.U32();
        r.in.String(tag->name, sizeof tag->name);
        tag->isText = r.in.U8();
        if (tag->isText)
            tag->text = r.in.StringCopy();
        else
            tag->number = r.in.F64();
    }
}

}  // namespace

// The words of the kind records, in the order the file holds them, and the
// option keys they feed (ReadPreloadWords below reads them in this order).
//
// Background picture (kind 0), from format 4.7:
//   0 byte fill style            "fillstyle"
//   1 u32 fill colour            "fillcolor"
//   2 the same u32 again         "gradientstartcolor"
//   3 u32                        "gradientendcolor"
//   4 i16                        "gradientangle"
//   5-7 three u32                "texturebrush", "texturex", "texturey"
//   from 5.0 the gradient        style and values: "gradientstyle",
//                                "gradientcenterx", "gradientcentery",
//                                "gradientbalance", "gradientborder",
//                                "gradientcolors"
//   8-10 three u32 (5.3)         "scalewidth", "scaleheight", "smoothscale"
// Brush (kind 1):
//   0-4 five i16                 "width", "height", "globalalpha",
//                                "cachealpha", (4: kept, no key)
//   5 byte (5.0)                 "hardware"
//   6-8 three u32 (5.3)          "scalewidth", "scaleheight", "smoothscale"
//   9 u32 (6.0)                  "display"
// Anim (kind 2):
//   0 byte (3.0)                 "fromdisk"
//   1-6 six i16 (4.1)            "frames", "fpr", "width", "height",
//                                "scalewidth", "scaleheight"
//   7, 8 two bytes (5.3)         "skiploopframes", "deinterlace"
// Sprite (kind 7):
//   0-5 six i16                  "width", "height", "scalewidth",
//                                "scaleheight", "smoothscale", "globalalpha"
// Every image kind also takes from the entry itself: "transparency" (the
// transparent colour, -1 none), "loadalpha" and "loadtransparency" (flag
// bits 1 and 2), "loader" and "adapter" (the two texts); preloading adds
// "cache" and "cachedload" for files that several declarations share.
namespace {

constexpr PreloadWordKey kBGPicWordKeys[] = {
    {0, WORDKEY_INT, "fillstyle"},          {1, WORDKEY_UNSIGNED, "fillcolor"},
    {2, WORDKEY_GRADIENT, "gradientstartcolor"}, {3, WORDKEY_GRADIENT, "gradientendcolor"},
    {4, WORDKEY_GRADIENT, "gradientangle"}, {5, WORDKEY_UNSIGNED, "texturebrush"},
    {6, WORDKEY_INT, "texturex"},           {7, WORDKEY_INT, "texturey"},
    {8, WORDKEY_INT, "scalewidth"},         {9, WORDKEY_INT, "scaleheight"},
    {10, WORDKEY_FLAG, "smoothscale"},
};
constexpr PreloadWordKey kBrushWordKeys[] = {
    {0, WORDKEY_INT, "width"},       {1, WORDKEY_INT, "height"},       {2, WORDKEY_INT, "globalalpha"},
    {3, WORDKEY_FLAG, "cachealpha"}, {5, WORDKEY_FLAG, "hardware"},    {6, WORDKEY_INT, "scalewidth"},
    {7, WORDKEY_INT, "scaleheight"}, {8, WORDKEY_FLAG, "smoothscale"}, {9, WORDKEY_UNSIGNED, "display"},
};
constexpr PreloadWordKey kAnimWordKeys[] = {
    {0, WORDKEY_FLAG, "fromdisk"},       {1, WORDKEY_INT, "frames"},       {2, WORDKEY_INT, "fpr"},
    {3, WORDKEY_INT, "width"},           {4, WORDKEY_INT, "height"},       {5, WORDKEY_INT, "scalewidth"},
    {6, WORDKEY_INT, "scaleheight"},     {7, WORDKEY_FLAG, "skiploopframes"}, {8, WORDKEY_FLAG, "deinterlace"},
};
constexpr PreloadWordKey kSpriteWordKeys[] = {
    {0, WORDKEY_INT, "width"},       {1, WORDKEY_INT, "height"},       {2, WORDKEY_INT, "scalewidth"},
    {3, WORDKEY_INT, "scaleheight"}, {4, WORDKEY_FLAG, "smoothscale"}, {5, WORDKEY_INT, "globalalpha"},
};

template <size_t N>
const PreloadWordKey* KeysOf(const PreloadWordKey (&keys)[N], uint32_t* count)
{
    *count = N;
    return keys;
}

}  // namespace

const PreloadWordKey* PreloadWordKeys(uint32_t kind, uint32_t* count)
{
    switch (kind) {
    case PRELOAD_BGPIC: return KeysOf(kBGPicWordKeys, count);
    case PRELOAD_BRUSH: return KeysOf(kBrushWordKeys, count);
    case PRELOAD_ANIM: return KeysOf(kAnimWordKeys, count);
    case PRELOAD_SPRITE: return KeysOf(kSpriteWordKeys, count);
    default: *count = 0; return nullptr;
    }
}

namespace {

void ReadPreloadWords(AppletRead& r, PreloadEntry* entry)
{
    SectionReader& in = r.in;
    auto* w = static_cast<PreloadWords*>(Allocate(sizeof(PreloadWords)));
    entry->details = w;
    auto put = [w](int32_t value) { w->words[w->count++] = value; };
    switch (entry->kind) {
    case PRELOAD_BGPIC:
        if (r.AtLeast(4, 7)) {
            put(in.U8());
            int32_t kept = in.I32();
            put(kept);
            put(kept);
            put(in.I32());
            put(in.I16());
            for (int i = 0; i < 3; i++)
                put(in.I32());
        }
        if (r.AtLeast(5, 0)) {
            ReadGradient(r, &w->gradient);
            w->hasGradient = 1;
        }
        if (r.AtLeast(5, 3)) {
            for (int i = 0; i < 3; i++)
                put(in.I32());
        }
        break;
    case PRELOAD_BRUSH:
        for (int i = 0; i < 5; i++)
            put(in.I16());
        if (r.AtLeast(5, 0))
            put(in.U8());
        if (r.AtLeast(5, 3)) {
            for (int i = 0; i < 3; i++)
                put(in.I32());
        }
        if (r.AtLeast(6, 0))
            put(in.I32());
        break;
    case PRELOAD_ANIM:
        if (r.AtLeast(3, 0))
            put(in.U8());
        if (r.AtLeast(4, 1)) {
            for (int i = 0; i < 6; i++)
                put(in.I16());
        }
        if (r.AtLeast(5, 3)) {
            put(in.U8());
            put(in.U8());
        }
        break;
    case PRELOAD_BUTTON:
        for (int i = 0; i < 4; i++)
            put(in.I16());
        break;
    case PRELOAD_SPRITE:
        for (int i = 0; i < 6; i++)
            put(in.I16());
        break;
    default: break;
    }
}

// Section 2.
void ReadPreloadEntries(AppletRead& r)
{
    SectionReader& in = r.in;
    uint32_t count = in.U32();
    in.NeedRecords(count, 33);
    PreloadEntry** tail = TailLink(&r.applet->preloadEntries);
    for (uint32_t i = 0; i < count; i++) {
        auto* entry = static_cast<PreloadEntry*>(Allocate(sizeof(PreloadEntry)));
        AppendAt(tail, entry);
        entry->one = 1;
        entry->kind = in.U8();
        if (entry->kind > PRELOAD_WARNING)
            Fail(ERR_UNKNOWNSEC);
        entry->id = in.U32();
        entry->dataOffset = in.U32();
        entry->dataSize = in.U32();
        entry->linkedOffset = in.U32();
        entry->linkedSize = in.U32();
        entry->transparentColor = in.I32();
        entry->flags = in.U32();
        entry->line = in.U32();
        CopyField(entry->sourceFile, sizeof entry->sourceFile, r.path);
        if (r.AtLeast(6, 0)) {
            in.WString(entry->text1, sizeof entry->text1);
            in.WString(entry->text2, sizeof entry->text2);
        }
        switch (entry->kind) {
        case PRELOAD_DISPLAY: {
            auto* desc = static_cast<DisplayDesc*>(Allocate(sizeof(DisplayDesc)));
            entry->details = desc;
            entry->displayWord = -1;
            InitDisplayDescDefaults(desc);
            ReadDisplayDescription(r, desc);
            break;
        }
        case PRELOAD_PLUGIN: ReadPluginTags(r, entry); break;
        case PRELOAD_MENU: ReadMenuLevel(r, reinterpret_cast<MenuTreeItem**>(&entry->details), 1); break;
        case PRELOAD_BGPIC:
        case PRELOAD_BRUSH:
        case PRELOAD_ANIM:
        case PRELOAD_BUTTON:
        case PRELOAD_SPRITE: ReadPreloadWords(r, entry); break;
        default: break;
        }
        if (entry->dataSize) {
            uint64_t offset = entry->dataOffset;
            if (offset > r.AppletBytes() || entry->dataSize > r.AppletBytes() - offset)
                Fail(ERR_UNEXPECTEDEOF);
            // A warning text is shown as a string, so it gets a terminator.
            entry->data = static_cast<uint8_t*>(Allocate(entry->dataSize + 1));
            uint64_t back = in.Position();
            in.SeekTo(r.appletStart + offset);
            in.Bytes(entry->data, entry->dataSize);
            in.SeekTo(back);
        }
    }
}

DisplayDesc* FirstDisplay(AppletRead& r)
{
    PreloadEntry* entry = FindPreloadDisplay(r.applet);
    if (!entry) {
        if (AddPreloadDisplay(r.hasFirstTitle ? r.firstTitle : nullptr, r.applet, &entry))
            Fail(ERR_MEM);
    }
    return static_cast<DisplayDesc*>(entry->details);
}

void ReadIncludedFiles(AppletRead& r, uint8_t tag)
{
    SectionReader& in = r.in;
    uint32_t count = in.U32();
    bool withFile = tag != TAG_INCLUDED;
    in.NeedRecords(count, withFile ? 14 : 13);
    IncludedFileRecord** tail = TailLink(&r.applet->includedFiles);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t firstLine = in.U32(), lastLine = in.U32(), beginLine = in.U32();
        char name[1024], file[1024];
        in.String(name, sizeof name);
        // Section 33 carries its names scrambled by a rule this player does
        // not know; they are kept as stored.
        if (withFile)
            in.String(file, sizeof file);
        else
            CopyField(file, sizeof file, r.path);
        const char* texts[2] = {name, file};
        char* copies[2];
        auto* record = AllocateWithTexts<IncludedFileRecord>(texts, copies);
        record->firstLine = firstLine;
        record->lastLine = lastLine;
        record->beginLine = beginLine;
        record->name = copies[0];
        record->file = copies[1];
        AppendAt(tail, record);
    }
}

void ReadLinkedFiles(AppletRead& r)
{
    SectionReader& in = r.in;
    uint32_t count = in.U32();
    in.U32();
    in.NeedRecords(count, 5);
    LinkedFileRecord** tail = TailLink(&r.applet->linkedFiles);
    for (uint32_t i = 0; i < count; i++) {
        char name[1024];
        in.String(name, sizeof name);
        uint32_t a = in.U32();
        if (a == kLinkedDropped)
            continue;
        uint32_t size, offset;
        if (a == kLinkedExternal) {
            size = in.U32();
            offset = in.U32();
            if (offset > r.AppletBytes() || size > r.AppletBytes() - offset)
                Fail(ERR_UNEXPECTEDEOF);
        } else {
            size = a;
            in.Need(size);
            offset = static_cast<uint32_t>(in.Position() - r.appletStart);
            in.Skip(size);
        }
        const char* texts[3] = {name, r.path, ""};
        char* copies[3];
        auto* record = AllocateWithTexts<LinkedFileRecord>(texts, copies);
        record->name = copies[0];
        record->container = copies[1];
        record->extra = copies[2];
        AppendAt(tail, record);
        record->offset = offset;
        record->size = size;
    }
}

// Leaves registry[name] (created when absent) on the stack.
void PushRegistryTable(VmState* vm, const char* name)
{
    VmPushCString(vm, name);
    VmRawGet(vm, VM_REGISTRYINDEX);
    if (VmType(vm, -1) == VM_TTABLE)
        return;
    VmPop(vm, 1);
    VmNewTable(vm);
    VmPushCString(vm, name);
    VmPushValue(vm, -2);
    VmRawSet(vm, VM_REGISTRYINDEX);
}

void LowerCase(char* text)
{
    for (; *text; text++) {
        if (*text >= 'A' && *text <= 'Z')
            *text = static_cast<char>(*text - 'A' + 'a');
    }
}

void ReadLabels(AppletRead& r)
{
    SectionReader& in = r.in;
    uint32_t count = in.U32();
    in.NeedRecords(count, 5);
    if (r.vm)
        PushRegistryTable(r.vm, "labels");
    for (uint32_t i = 0; i < count; i++) {
        uint32_t value = in.U32();
        char name[256];
        in.String(name, sizeof name);
        if (r.vm) {
            VmPushCString(r.vm, name);
            VmPushNumber(r.vm, value);
            VmRawSet(r.vm, -3);
        }
    }
    if (r.vm)
        VmPop(r.vm, 1);
}

void ReadConstants(AppletRead& r)
{
    SectionReader& in = r.in;
    if (r.vm)
        PushRegistryTable(r.vm, "constants");
    for (;;) {
        char name[256];
        in.String(name, sizeof name);
        if (!name[0])
            break;
        LowerCase(name);
        uint8_t type = in.U8();
        if (type == 0) {
            double value = in.F64();
            if (r.vm) {
                VmPushCString(r.vm, name);
                VmPushNumber(r.vm, value);
                VmRawSet(r.vm, -3);
            }
        } else {
            char* text = in.StringCopy();
            if (r.vm) {
                VmPushCString(r.vm, name);
                VmPushCString(r.vm, text);
                VmRawSet(r.vm, -3);
            }
            OsFreeMem(text);
        }
    }
    if (r.vm)
        VmPop(r.vm, 1);
}

void SetDisplayFlag(AppletRead& r, uint32_t bit)
{
    if (r.in.U8())
        FirstDisplay(r)->flags |= bit;
}

// The icon block behind the code chunk: optional zero bytes, 'I', two
// skipped bytes, then entries until a width of 0. An icon block is a bonus:
// running out of bytes in it ends it quietly.
void ReadIconBlock(StreamHandle* stream, uint64_t position, uint64_t end, const char* container)
{
    SectionReader in(stream, position, end);
    try {
        uint8_t c;
        do {
            c = in.U8();
        } while (c == 0);
        if (c != 'I')
            return;
        in.Skip(2);
        for (;;) {
            int16_t width = in.I16();
            if (width == 0)
                return;
            int16_t height = in.I16();
            uint8_t flags = in.U8();
            uint32_t size = in.U32();
            in.Need(size);
            uint64_t at = in.Position();
            in.Skip(size);
            int first = (flags & 1) ? ICON_TABLE_SIZE / 2 : 0;
            for (int i = first; i < first + ICON_TABLE_SIZE / 2; i++) {
                IconRecord& icon = IconTable[i];
                if (icon.data || icon.width != width || icon.height != height)
                    continue;
                char name[1200];
                char label[32];
                std::snprintf(label, sizeof label, "%dx%d", width, height);
                if (!MakeChunkName(label, name, sizeof name, at, size, 0, container))
                    break;
                size_t length = std::strlen(name);
                icon.data = static_cast<char*>(OsAllocMem(length + 1, 0));
                if (icon.data)
                    std::memcpy(icon.data, name, length + 1);
                if (flags & 2)
                    icon.marked = 1;
                break;
            }
        }
    } catch (const ReadFailure&) {
    }
}

void ReadSections(AppletRead& r)
{
    SectionReader& in = r.in;
    for (;;) {
        uint8_t tag = in.U8();
        switch (tag) {
        case TAG_SKIP: in.Skip(in.U32()); break;
        case TAG_CODE: return;
        case TAG_PRELOAD: ReadPreloadEntries(r); break;
        case TAG_DISPLAYSIZE: {
            int16_t width = in.I16();
            int16_t height = in.I16();
            DisplayDesc* d = FirstDisplay(r);
            d->width = width;
            d->height = height;
            break;
        }
        case TAG_DISPLAYTITLE:
            in.WString(r.firstTitle, sizeof r.firstTitle);
            r.hasFirstTitle = 1;
            break;
        case TAG_DISPLAYCOLOR: {
            uint32_t color = in.U32();
            FirstDisplay(r)->color = color;
            break;
        }
        case TAG_DISPLAYPOS: {
            int32_t x = in.I32();
            int32_t y = in.I32();
            DisplayDesc* d = FirstDisplay(r);
            d->x = x;
            d->y = y;
            break;
        }
        case TAG_STARTUPFLAG: StartupDisplayRecord.words[3] = 1; break;
        case TAG_INCLUDED:
        case TAG_INCLUDEDWITHFILE:
        case TAG_INCLUDEDSTORED: ReadIncludedFiles(r, tag); break;
        case TAG_LABELS: ReadLabels(r); break;
        case TAG_VERSION: {
            uint8_t major = in.U8();
            uint8_t minor = in.U8();
            if (major > 6 || (major == 6 && minor > 1)) {
                char text[16];
                std::snprintf(text, sizeof text, "%d.%d", major, minor);
                SetErrorText(text);
                Fail(ERR_APPLETVERSION);
            }
            r.applet->versionMajor = major;
            r.applet->versionMinor = minor;
            break;
        }
        case TAG_TITLE: in.String(r.applet->title, sizeof r.applet->title); break;
        case TAG_VERSIONTEXT:
            in.String(r.applet->version, sizeof r.applet->version);
            if (static_cast<uint8_t>(r.applet->version[0]) == 0xFF)
                r.applet->version[0] = '$';
            break;
        case TAG_COPYRIGHT: in.String(r.applet->copyright, sizeof r.applet->copyright); break;
        case TAG_AUTHOR: in.String(r.applet->author, sizeof r.applet->author); break;
        case TAG_DESCRIPTION: in.String(r.applet->description, sizeof r.applet->description); break;
        case TAG_IDENTIFIER: in.String(r.applet->identifier, sizeof r.applet->identifier); break;
        case TAG_STARTUPFIRST: StartupDisplayRecord.first = in.U8(); break;
        case TAG_STARTUPBACKFILL: {
            BackfillDesc b;
            InitBackfillOptions(&b);
            ReadBackfill(r, &b);
            StartupDisplayRecord.desc = b;
            break;
        }
        case TAG_BORDERLESS: SetDisplayFlag(r, 1); break;
        case TAG_FIXED: SetDisplayFlag(r, 4); break;
        case TAG_SIZEABLE: SetDisplayFlag(r, 2); break;
        case TAG_HIDEPOINTER: SetDisplayFlag(r, 16); break;
        case TAG_NOMODESWITCH: SetDisplayFlag(r, 8); break;
        case TAG_NOHIDE: SetDisplayFlag(r, 32); break;
        case TAG_STARTUPLAST: StartupDisplayRecord.last = in.U8(); break;
        case TAG_STARTUPWORDS12:
            StartupDisplayRecord.words[0] = in.I16();
            StartupDisplayRecord.words[1] = in.I16();
            break;
        case TAG_STARTUPWORD3: StartupDisplayRecord.words[2] = in.U8(); break;
        case TAG_LINKEDFILES: ReadLinkedFiles(r); break;
        case TAG_SCALING: {
            uint8_t layer = in.U8();
            int32_t width = in.I32();
            int32_t height = in.I32();
            uint8_t smooth = in.U8();
            DisplayDesc* d = FirstDisplay(r);
            d->flags |= layer ? 256 : 64;
            d->scaleWidth = width;
            d->scaleHeight = height;
            if (smooth)
                d->flags |= 128;
            break;
        }
        case TAG_NOOPTIONOVERRIDE:
            if (r.context)
                r.context->noOptionOverride = 1;
            break;
        case TAG_CONSTANTS: ReadConstants(r); break;
        case TAG_SETTINGS:
            AppletSettings[0] = in.I32();
            if (r.AtLeast(6, 0)) {
                AppletSettings[1] = in.I32();
                AppletSettings[2] = in.I32();
                AppletSettings[3] = in.U8();
            }
            OsSetTimerMode(static_cast<uint32_t>(AppletSettings[0]));
            break;
        default: Fail(ERR_UNKNOWNSEC);
        }
    }
}

}  // namespace

uint32_t ReadAppletSections(const char* path, CoreContext* context, VmState* vm, StreamHandle* stream,
                            uint64_t appletOffset, AppletInfo* applet, const AppletOrigin* origin)
{
    uint64_t end = StreamSize(stream);
    if (appletOffset > end)
        return ERR_UNEXPECTEDEOF;
    if (StreamSeek(stream, static_cast<int64_t>(appletOffset), STREAM_SEEK_BEGINNING) < 0)
        return ERR_READ;
    SectionReader in(stream, appletOffset, end);
    AppletRead r{in, applet, context, vm, path, appletOffset, origin, {}, 0};
    try {
        in.Skip(4);
        applet->loaded = 1;
        if (applet->code)
            return 0;
        ReadSections(r);
        uint32_t size = in.U32();
        in.Need(size);
        applet->code = static_cast<uint8_t*>(Allocate(size ? size : 1));
        in.Bytes(applet->code, size);
        applet->codeSize = size;
    } catch (const ReadFailure& failure) {
        return failure.code;
    }
    if (origin && origin->packed) {
        StreamHandle* container = StreamOpen(origin->containerPath, STREAM_READ);
        if (!container) {
            SetErrorText(origin->containerPath);
            return ERR_READFILE;
        }
        uint64_t containerSize = StreamSize(container);
        if (origin->containerEnd <= containerSize &&
            StreamSeek(container, static_cast<int64_t>(origin->containerEnd), STREAM_SEEK_BEGINNING) >= 0)
            ReadIconBlock(container, origin->containerEnd, containerSize, origin->containerPath);
        StreamClose(container);
    } else {
        ReadIconBlock(stream, in.Position(), end, path);
    }
    return 0;
}

void ReadAppletHeaderTexts(const uint8_t* bytes, size_t size, AppletInfo* applet)
{
    size_t p = 4;
    auto text = [&](char* out, size_t outSize) {
        size_t n = 0;
        while (p < size && bytes[p]) {
            if (n + 1 < outSize)
                out[n++] = static_cast<char>(bytes[p]);
            p++;
        }
        out[n] = 0;
        if (p >= size)
            return false;
        p++;
        return true;
    };
    while (p < size) {
        uint8_t tag = bytes[p++];
        bool ok = true;
        switch (tag) {
        case TAG_VERSION: p += 2; break;
        case TAG_TITLE: ok = text(applet->title, sizeof applet->title); break;
        case TAG_VERSIONTEXT:
            ok = text(applet->version, sizeof applet->version);
            if (static_cast<uint8_t>(applet->version[0]) == 0xFF)
                applet->version[0] = '$';
            break;
        case TAG_COPYRIGHT: ok = text(applet->copyright, sizeof applet->copyright); break;
        case TAG_AUTHOR: ok = text(applet->author, sizeof applet->author); break;
        case TAG_DESCRIPTION: ok = text(applet->description, sizeof applet->description); break;
        case TAG_IDENTIFIER: ok = text(applet->identifier, sizeof applet->identifier); break;
        case TAG_NOOPTIONOVERRIDE: break;
        default: return;
        }
        if (!ok)
            return;
    }
}

// ---------------------------------------------------------------------------
// Freeing

namespace {

void FreeMenuTree(MenuTreeItem* item)
{
    // Depth is bounded by the reader, so the recursion is too.
    while (item) {
        MenuTreeItem* next = item->next;
        FreeMenuTree(item->submenu);
        OsFreeMem(item);
        item = next;
    }
}

template <typename T>
void FreeChain(T* node)
{
    while (node) {
        T* next = node->next;
        OsFreeMem(node);
        node = next;
    }
}

}  // namespace

void FreePreloadEntry(PreloadEntry* entry)
{
    if (!entry)
        return;
    switch (entry->kind) {
    case PRELOAD_DISPLAY:
        if (auto* desc = static_cast<DisplayDesc*>(entry->details)) {
            OsFreeMem(desc->dragRegions);
            OsFreeMem(desc->sizeRegions);
            OsFreeMem(desc);
        }
        break;
    case PRELOAD_PLUGIN:
        for (auto* tag = static_cast<PluginRequireTag*>(entry->details); tag;) {
            PluginRequireTag* next = tag->next;
            OsFreeMem(tag->text);
            OsFreeMem(tag);
            tag = next;
        }
        break;
    case PRELOAD_MENU: FreeMenuTree(static_cast<MenuTreeItem*>(entry->details)); break;
    default: OsFreeMem(entry->details); break;
    }
    OsFreeMem(entry->data);
    OsFreeMem(entry);
}

void FreeAppletInfoLists(AppletInfo* applet)
{
    OsFreeMem(applet->code);
    OsFreeMem(applet->altCode);
    applet->code = applet->altCode = nullptr;
    applet->codeSize = applet->altCodeSize = 0;
    for (PreloadEntry* e = applet->preloadEntries; e;) {
        PreloadEntry* next = e->next;
        FreePreloadEntry(e);
        e = next;
    }
    applet->preloadEntries = nullptr;
    FreeChain(applet->includedFiles);
    applet->includedFiles = nullptr;
    FreeChain(applet->linkedFiles);
    applet->linkedFiles = nullptr;
}
