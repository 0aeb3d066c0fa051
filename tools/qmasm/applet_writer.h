// The applet writer: "QMA\0" (or "QMZ\0" around it), the tagged sections a
// test asks for, the code chunk as the last section, then the icon block.
// All numbers big-endian. Data that the applet references by offset
// (embedded preload data, linked data, external linked files) is placed in
// one skipped section near the start and the offsets are filled in here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qmasm {

struct AppletLabel {
    std::string name;
    uint32_t value = 0;
};

struct AppletConstant {
    std::string name;
    bool isString = false;
    double number = 0;
    std::string text;
};

// Tag 8 when no record names a file, else tag 27 for every record.
struct AppletIncludedFile {
    uint32_t firstLine = 0;
    uint32_t lastLine = 0;
    uint32_t beginLine = 0;
    std::string name;
    std::optional<std::string> file;
};

struct AppletLinkedFile {
    enum class Storage { Inline, External, Dropped };
    std::string name;
    Storage storage = Storage::Inline;
    // Inline: follows the entry. External: stored in the data section and
    // referenced; with no data, `size` and `offset` are written as given.
    std::vector<uint8_t> data;
    uint32_t size = 0;
    uint32_t offset = 0;
};

struct AppletPreload {
    uint8_t kind = 0;
    uint32_t id = 0;
    // Non-empty vectors are stored in the data section and their location
    // written; otherwise the four numbers are written as given.
    std::vector<uint8_t> data;        // loaded into memory when the applet is read
    std::vector<uint8_t> linkedData;  // opened later through a chunk name
    uint32_t dataOffset = 0, dataSize = 0;
    uint32_t linkedOffset = 0, linkedSize = 0;
    int32_t transparentColor = -1;
    uint32_t flags = 0;
    uint32_t line = 0;
    std::string text1, text2;     // written for format version 6 and later
    std::vector<uint8_t> record;  // the kind's own record, see the encoders below
};

struct AppletIcon {
    int16_t width = 0;
    int16_t height = 0;
    uint8_t flags = 0;
    std::vector<uint8_t> data;
};

struct AppletSection {
    uint8_t tag = 0;
    std::vector<uint8_t> data;
};

struct AppletDescription {
    bool packed = false;  // "QMZ\0" container around the sections
    bool writeVersion = true;
    uint8_t versionMajor = 6;
    uint8_t versionMinor = 1;
    std::optional<std::string> title, version, copyright, author, description, identifier;
    std::vector<AppletLabel> labels;
    std::vector<AppletConstant> constants;
    std::vector<AppletIncludedFile> includedFiles;
    std::vector<AppletLinkedFile> linkedFiles;
    std::vector<AppletPreload> preloads;
    std::vector<AppletSection> sections;  // written as given, just before the code
    std::vector<uint8_t> code;
    std::vector<AppletIcon> icons;
    std::vector<uint8_t> trailer;  // after everything; a loader never reads it
};

std::vector<uint8_t> WriteApplet(const AppletDescription& applet);

// Kind records of preload entries.

struct AppletGradient {
    uint8_t style = 0;
    uint32_t values[4] = {0, 0, 0, 0};  // millionths
    std::vector<std::pair<uint32_t, uint32_t>> stops;  // colour, position in millionths
};

struct AppletBackfill {
    uint8_t kind = 0;  // 0 none, 1 colour, 2 gradient, 3 texture, 4 picture
    uint32_t color1 = 0, color2 = 0;
    uint32_t brush = 0;
    int32_t x = -100000, y = -100000;
    uint32_t words[2] = {0, 0};
    uint8_t scale = 0, extra = 0;
};

struct AppletRegion {
    uint32_t words[5] = {0, 0, 0, 0, 0};
};

// A display description in the layout of format version 6.x.
struct AppletDisplay {
    uint32_t bgpic = 0;
    int32_t x = -100000, y = -100000;
    int32_t width = 640, height = 480;
    uint32_t color = 0;
    uint32_t flags = 0;
    int32_t scaleWidth = 0, scaleHeight = 0;
    std::vector<AppletRegion> dragRegions, sizeRegions;
    std::string title;
    uint8_t fillStyle = 0;
    uint32_t fillWord = 0;
    int16_t fillShort = 0;
    uint32_t textureBrush = 0, textureX = 0, textureY = 0;
    AppletGradient gradient;
    std::string text52;
    uint8_t orientation = 0;
    uint8_t monitor = 0;
    bool hasMenu = false;
    uint32_t menu = 0xFFFFFFFF;
    uint8_t mode = 0, desktop = 0;
    int16_t scrWidth = -1, scrHeight = -1;
    uint8_t scrDepth = 0, hideTitleBar = 0;
    AppletBackfill backfill;
    std::string texts[3];
};

std::vector<uint8_t> EncodeDisplayDescription(const AppletDisplay& display);
void EncodeBackfill(const AppletBackfill& backfill, std::vector<uint8_t>* out);
void EncodeGradient(const AppletGradient& gradient, std::vector<uint8_t>* out);

}  // namespace qmasm
