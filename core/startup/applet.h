// The applet: its records beyond `AppletInfo` (preload entries and their
// kind records, display descriptions, menu trees, the start-up display
// record, the settings words, the icon table) and the loader that fills
// them from an applet stream.
//
// An applet stream is "QMA\0" (or "QMZ\0", the whole applet in a compressed
// container) followed by tagged sections up to the code chunk, which is
// always the last one; all numbers are big-endian. The loader never trusts a
// size, count or offset of the file: each is checked against the bytes that
// are left before anything is allocated, and every text lands in its own
// bounded field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/startup/run_records.h"

struct StreamHandle;
struct VmState;

// ---------------------------------------------------------------------------
// Display descriptions

// A gradient: style (2 linear, 3 radial, 4 conical), four values
// (centre x, centre y, balance, border) and up to 64 colour stops.
constexpr uint32_t GRADIENT_MAX_STOPS = 64;
struct DisplayGradient {
    uint32_t style;
    double values[4];
    uint32_t stopCount;
    uint32_t colors[GRADIENT_MAX_STOPS];
    double positions[GRADIENT_MAX_STOPS];
};

// The backfill record of a display, and also the shape of the start-up
// display record that the applet's first-display sections fill: the first
// word, four further words, the backfill description, and two last words.
struct DisplayBackfill {
    uint32_t first;
    int32_t words[4];
    BackfillDesc desc;
    uint32_t last;
    uint32_t reserved;
};

struct DisplayRegion {
    uint32_t words[5];
};

constexpr size_t DISPLAY_TEXT_SIZE = 256;

struct DisplayDesc {
    uint32_t bgpic;  // used when flag 512 is set
    int32_t x, y;    // -100000: centred
    int32_t width, height;
    uint32_t color;
    uint32_t fillColor;
    uint32_t flags;  // DISPFLAG_* bits
    uint32_t active;  // non-zero: the display is declared active
    int32_t scaleWidth, scaleHeight;
    uint32_t dragRegionCount, sizeRegionCount;
    DisplayRegion* dragRegions;  // owned (OsAllocMem)
    DisplayRegion* sizeRegions;
    char title[DISPLAY_TEXT_SIZE];
    uint32_t fillStyle;
    uint32_t fillWord;
    int32_t fillShort;
    uint32_t textureBrush, textureX, textureY;
    DisplayGradient gradient;
    char text52[DISPLAY_TEXT_SIZE];
    uint32_t orientation;
    uint32_t monitor;
    uint32_t hasMenu;
    int32_t menu;  // -1: none
    uint32_t mode;
    uint32_t desktop;
    int32_t scrWidth, scrHeight;
    uint32_t scrDepth;
    uint32_t hideTitleBar;
    DisplayBackfill backfill;
    char texts[3][DISPLAY_TEXT_SIZE];
};

// Display flag bit that marks the display added for the start-up options.
constexpr uint32_t DISPFLAG_STARTUPDISPLAY = 1024;

// ---------------------------------------------------------------------------
// Preload entries

enum PreloadKind : uint8_t {
    PRELOAD_BGPIC = 0,
    PRELOAD_BRUSH = 1,
    PRELOAD_ANIM = 2,
    PRELOAD_MUSIC = 3,
    PRELOAD_SAMPLE = 4,
    PRELOAD_BUTTON = 5,
    PRELOAD_KEYDOWN = 6,
    PRELOAD_SPRITE = 7,
    PRELOAD_FILE = 8,
    PRELOAD_FONT = 9,
    PRELOAD_DISPLAY = 10,
    PRELOAD_VIDEO = 11,
    PRELOAD_PLUGIN = 12,
    PRELOAD_MENU = 13,
    PRELOAD_WARNING = 14,
};

// The record of kinds 0, 1, 2, 5 and 7: the words of the declaration in
// file order (bytes and 16-bit values widened), plus the gradient of a
// background picture from format 5.0 on.
constexpr uint32_t PRELOAD_MAX_WORDS = 16;
struct PreloadWords {
    uint32_t count;
    int32_t words[PRELOAD_MAX_WORDS];
    uint32_t hasGradient;
    DisplayGradient gradient;
};

// Bits of a preload entry's flags word: 1 load alpha, 2 load transparency,
// 4 load this file on its own (never shared with another declaration).
constexpr uint32_t PRELOAD_FLAG_LOADALPHA = 1;
constexpr uint32_t PRELOAD_FLAG_LOADTRANSPARENCY = 2;
constexpr uint32_t PRELOAD_FLAG_SEPARATE = 4;

// Which word of a kind record (PreloadWords, in file order) feeds which
// option key of the declaration's command. A word of 0 means "not
// declared": the key is then left out of the options table.
enum PreloadWordRule : uint8_t {
    WORDKEY_INT,       // the word as a signed number
    WORDKEY_UNSIGNED,  // the word as an unsigned number (colours, ids)
    WORDKEY_FLAG,      // 1 when the word is non-zero
    WORDKEY_GRADIENT,  // start colour, end colour, angle: go with the gradient
};
struct PreloadWordKey {
    uint8_t word;
    PreloadWordRule rule;
    const char* key;
};
// The word keys of kinds 0, 1, 2 and 7 (null and 0 for other kinds).
const PreloadWordKey* PreloadWordKeys(uint32_t kind, uint32_t* count);

// One tag of a plugin requirement (kind 12).
struct PluginRequireTag {
    PluginRequireTag* next;
    uint32_t tag;
    char name[DISPLAY_TEXT_SIZE];
    uint32_t isText;
    char* text;  // owned
    double number;
};

// One item of a menu tree (kind 13); submenus nest at most
// MENU_MAX_DEPTH levels deep.
constexpr uint32_t MENU_MAX_DEPTH = 32;
struct MenuTreeItem {
    MenuTreeItem* next;
    // The texts (at most DISPLAY_TEXT_SIZE - 1 bytes each) live in the
    // item's own block, as long as they are.
    const char* label;
    const char* hotkey;
    const char* extra;
    uint32_t flags;
    MenuTreeItem* submenu;
};

struct PreloadEntry {
    PreloadEntry* next;
    uint32_t kind;
    uint32_t id;
    uint32_t one;  // always 1
    uint8_t* data;  // embedded data, loaded at read time (owned)
    uint32_t dataOffset;  // relative to the applet start
    uint32_t dataSize;
    uint32_t linkedOffset;
    uint32_t linkedSize;
    int32_t transparentColor;
    uint32_t flags;  // 1 load alpha, 2 load transparency
    uint32_t line;   // source line of the declaration
    void* details;   // PreloadWords, DisplayDesc, PluginRequireTag list or MenuTreeItem list
    char sourceFile[1024];
    char text1[DISPLAY_TEXT_SIZE];
    char text2[DISPLAY_TEXT_SIZE];
    int32_t displayWord;  // -1 for display entries
    uint32_t callerFlag;
};

// ---------------------------------------------------------------------------
// Program-wide records the applet fills

// Section 32: the timer-mode word (bit 0: low-resolution clock) and three
// further settings words.
extern int32_t AppletSettings[4];

// The start-up display record (sections 7, 16, 17, 21, 22, 23).
extern DisplayBackfill StartupDisplayRecord;

// The icon table: sizes 16 to 512, each twice; `data` is an owned
// ":::chunk" name of the image inside the applet's file.
constexpr int ICON_TABLE_SIZE = 18;
struct IconRecord {
    char* data;
    const char* name;
    int32_t width;
    int32_t height;
    uint32_t marked;
};
extern IconRecord IconTable[ICON_TABLE_SIZE];
void FreeIconTable();

// Where a packed applet came from: the file that holds the container and
// the end of the compressed data there (the icon block follows it).
struct AppletOrigin {
    char containerPath[1024];
    uint64_t containerEnd;
    uint32_t packed;
};

// ---------------------------------------------------------------------------
// The loader

// Reads the sections of the applet whose magic starts at appletOffset of
// stream (whose file is path) into applet. vm may be null: labels and
// constants are then dropped (the fuzz target reads so). 0 or an error code.
uint32_t ReadAppletSections(const char* path, CoreContext* context, VmState* vm, StreamHandle* stream,
                            uint64_t appletOffset, AppletInfo* applet, const AppletOrigin* origin);

// Where the applet's sections start in the file its preload entries name
// (sourceFile): the offsets of data linked into the applet count from here.
extern uint64_t LoadedAppletOffset;

// Reads the magic at appletOffset; a packed applet is inflated into a
// temporary file, which then becomes *path, *stream and offset 0 (origin
// keeps the container). Sets context->isApplet. 0 or an error code.
uint32_t OpenAppletStream(StreamHandle** stream, char* path, size_t pathSize, uint64_t* appletOffset,
                          CoreContext* context, AppletOrigin* origin);

uint32_t LoadApplet(AppletInfo* applet, VmState* vm, CoreContext* context);
uint32_t ReadScriptFileHeader(CoreContext* context, AppletInfo* applet);
uint32_t StartScriptChunk(CoreContext* context);
// Unpacks a "QMP!" bundle at *appletOffset of the program file into the
// runtime's temporary directory and moves *appletOffset behind it.
uint32_t RunLinkedPluginBundle(const char* programPath, uint32_t* appletOffset);

void FreePreloadEntry(PreloadEntry* entry);
void FreeAppletInfoLists(AppletInfo* applet);

// Walks the leading metadata sections of an applet header held in memory
// (starting with its magic): tag 10 is skipped, 11-15 and 34 fill applet's
// texts, 29 has no data, any other tag ends the walk.
void ReadAppletHeaderTexts(const uint8_t* bytes, size_t size, AppletInfo* applet);
