// Start-up options: the table, the command line, the ".ini" file and the
// step that turns the collected values into the run's records.
#include "core/startup/options.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/io/byte_order.h"
#include "core/io/case_tables.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/messages.h"
#include "core/io/number_conv.h"
#include "core/io/stream.h"
#include "core/io/utilities.h"
#include "core/io/virtual_names.h"
#include "core/startup/require_tags.h"
#include "core/startup/run_records.h"
#include "core/startup/startup.h"
#include "platform/posix/os_console.h"
#include "platform/posix/os_env.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"
#include "platform/posix/os_time.h"

namespace {

constexpr uint32_t H = MSG_OPTION_HEADING_FIRST;

#define OPT(name, value, heading, arg, hint) \
    {#name, OPT_##name, value, heading, MSG_OPTION_HELP_FIRST + OPT_##name, arg, hint}

}  // namespace

const OptionRecord OptionTable[OPTION_COUNT] = {
    OPT(WINDOW, 0, H + 0, nullptr, nullptr),
    OPT(BORDERLESS, 0, 0, nullptr, nullptr),
    OPT(SIZEABLE, 0, 0, nullptr, nullptr),
    OPT(FIXED, 0, 0, nullptr, nullptr),
    OPT(NOHIDE, 0, 0, nullptr, nullptr),
    OPT(DISABLEBLANKER, 0, 0, nullptr, nullptr),
    OPT(ALLDISPLAYS, 0, 0, nullptr, nullptr),
    OPT(OVERRIDEPLACEMENT, 0, 0, nullptr, nullptr),
    OPT(FULLSCREEN, 0, H + 1, nullptr, nullptr),
    OPT(FAKEFULLSCREEN, 0, 0, nullptr, nullptr),
    OPT(MODEREQUESTER, 0, 0, nullptr, nullptr),
    OPT(ASKDISPLAYMODE, 0, 0, nullptr, nullptr),
    OPT(SCRWIDTH, 1, 0, "<width>", nullptr),
    OPT(SCRHEIGHT, 1, 0, "<height>", nullptr),
    OPT(SCRDEPTH, 1, 0, "<depth>", nullptr),
    OPT(MONITOR, 1, 0, "<num>", nullptr),
    OPT(HIDEPOINTER, 0, 0, nullptr, nullptr),
    OPT(NOMODESWITCH, 0, 0, nullptr, nullptr),
    OPT(BACKFILL, 1, H + 2, "<mode>", "color|gradient|texture|picture"),
    OPT(STARTCOLOR, 1, 0, "<color>", "$RRGGBB"),
    OPT(ENDCOLOR, 1, 0, "<color>", "$RRGGBB"),
    OPT(BRUSHFILE, 1, 0, "<image file>", nullptr),
    OPT(BRUSH, 1, 0, "<brush id>", nullptr),
    OPT(SCALEPICTURE, 0, 0, nullptr, nullptr),
    OPT(PICXPOS, 1, 0, "<pos>", nullptr),
    OPT(PICYPOS, 1, 0, "<pos>", nullptr),
    OPT(PICTRANS, 1, 0, "<color>", "$RRGGBB"),
    OPT(HIDETITLEBAR, 0, 0, nullptr, nullptr),
    OPT(AUTOSCALE, 0, H + 3, nullptr, nullptr),
    OPT(LAYERSCALE, 0, 0, nullptr, nullptr),
    OPT(SCALEWIDTH, 1, 0, "<width>", nullptr),
    OPT(SCALEHEIGHT, 1, 0, "<height>", nullptr),
    OPT(SMOOTHSCALE, 0, 0, nullptr, nullptr),
    OPT(KEEPPROPORTIONS, 0, 0, nullptr, nullptr),
    OPT(FITSCALE, 0, 0, nullptr, nullptr),
    OPT(NOSOUND, 0, H + 4, nullptr, nullptr),
    OPT(NUMCHANNELS, 1, 0, "<count>", nullptr),
    OPT(REQUIREPLUGINS, 1, H + 5, "<list>", nullptr),
    OPT(REQUIRETAGS, 1, 0, "<list>", nullptr),
    OPT(SKIPPLUGINS, 1, 0, "<list>", nullptr),
    OPT(DEBUGDEVICE, 1, H + 6, "<name>", nullptr),
    OPT(DEBUGOUTPUT, 0, 0, nullptr, nullptr),
    OPT(FORCEFLUSH, 0, 0, nullptr, nullptr),
    OPT(NODEBUG, 0, 0, nullptr, nullptr),
    OPT(HELP, 0, H + 7, nullptr, nullptr),
    OPT(QUIET, 0, 0, nullptr, nullptr),
    OPT(TEMPDIR, 1, 0, "<path>", nullptr),
    OPT(NOCHDIR, 0, 0, nullptr, nullptr),
    OPT(SOFTTIMER, 0, 0, nullptr, nullptr),
};

#undef OPT

const OptionRecord* FindOption(const char* name, size_t length)
{
    for (const OptionRecord& option : OptionTable) {
        if (std::strlen(option.name) == length && StrNCaseCmp(option.name, name, length) == 0)
            return &option;
    }
    return nullptr;
}

namespace {

// What an argument error was about: the failing word or option, shown
// behind the error's message so that the user sees which one to mend.
std::string argumentErrorDetail;

uint32_t ArgumentError(uint32_t code, std::string detail)
{
    argumentErrorDetail = std::move(detail);
    return code;
}

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char* CopyText(const char* text, size_t length)
{
    auto* copy = static_cast<char*>(OsAllocMem(length + 1, 0));
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = 0;
    }
    return copy;
}

struct LastArgument {
    CoreContext* context;
    ScriptArgument* node;
};
LastArgument lastArgument = {nullptr, nullptr};

// Appends {name, value} to the script's arguments; value may be null.
uint32_t AddScriptArgument(CoreContext* context, const char* name, size_t nameLength, const char* value,
                           ScriptArgument** outArgument)
{
    auto* arg = static_cast<ScriptArgument*>(OsAllocMem(sizeof(ScriptArgument), 1));
    if (!arg)
        return ERR_MEM;
    arg->name = CopyText(name, nameLength);
    if (value)
        arg->value = CopyText(value, std::strlen(value));
    if (!arg->name || (value && !arg->value)) {
        OsFreeMem(arg->name);
        OsFreeMem(arg->value);
        OsFreeMem(arg);
        return ERR_MEM;
    }
    // The last argument is remembered: a configuration file of many
    // unknown keys must not cost a walk of the list per key.
    ScriptArgument** tail = &context->scriptArgs;
    if (lastArgument.context == context && lastArgument.node && *tail)
        tail = &lastArgument.node->next;
    while (*tail)
        tail = &(*tail)->next;
    *tail = arg;
    lastArgument = {context, arg};
    if (outArgument)
        *outArgument = arg;
    return 0;
}

}  // namespace

uint32_t ParseCommandLine(int argc, char** argv, CoreContext* context, OptionValues* values)
{
    const std::string& program = OsProgramFilePath();
    if (!OsCopyPath(context->programPath, sizeof context->programPath, program.c_str(), program.size()))
        return ERR_NAMETOOLONG;

    argumentErrorDetail.clear();
    const OptionRecord* waitingOption = nullptr;
    ScriptArgument* waitingArgument = nullptr;
    const char* scriptName = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* word = argv[i];
        if (word[0] == '-') {
            if (waitingOption)
                return ArgumentError(ERR_ARGS, std::string("-") + waitingOption->name + " " +
                                                   (waitingOption->argName ? waitingOption->argName : "") +
                                                   " needs a value before " + word);
            // "--name" is taken as "-name": users of other programs type it.
            const char* name = word[1] == '-' ? word + 2 : word + 1;
            size_t length = std::strlen(name);
            bool valid = length > 0;
            for (size_t k = 0; k < length; k++) {
                if (!IsNameChar(name[k]))
                    valid = false;
            }
            if (!valid)
                return ArgumentError(ERR_ARGS, std::string("bad option name ") + word);
            waitingArgument = nullptr;
            if (const OptionRecord* option = FindOption(name, length)) {
                values->given[option->slot] = 1;
                if (option->takesValue)
                    waitingOption = option;
                else
                    values->flag[option->slot] = 1;
            } else {
                uint32_t error = AddScriptArgument(context, name, length, nullptr, &waitingArgument);
                if (error)
                    return error;
            }
            continue;
        }
        if (waitingOption) {
            values->text[waitingOption->slot] = word;
            waitingOption = nullptr;
        } else if (waitingArgument) {
            waitingArgument->value = CopyText(word, std::strlen(word));
            if (!waitingArgument->value)
                return ERR_MEM;
            waitingArgument = nullptr;
        } else if (!scriptName) {
            scriptName = word;
        } else {
            return ArgumentError(ERR_ARGS, std::string("a second applet name \"") + word + "\" after \"" +
                                               scriptName + "\"");
        }
    }
    if (waitingOption)
        return ArgumentError(ERR_ARGS, std::string("-") + waitingOption->name + " needs a value " +
                                           (waitingOption->argName ? waitingOption->argName : ""));
    if (!scriptName)
        return ERR_CONFIG;
    if (!OsCopyPath(context->scriptPath, sizeof context->scriptPath, scriptName, std::strlen(scriptName)))
        return ERR_NAMETOOLONG;
    return 0;
}

const char* ArgumentErrorDetail() { return argumentErrorDetail.c_str(); }

bool PrintOptionHelp()
{
    std::printf("Usage: quillmereplayer [OPTIONS] APPLET.qma [-NAME [VALUE]]...\n"
                "Options are matched without regard to case; other -NAME [VALUE] pairs go to the applet.\n");
    for (const OptionRecord& option : OptionTable) {
        if (option.headingMessage)
            std::printf("\n%s\n", GetString(option.headingMessage));
        std::string usage = std::string("-") + option.name;
        if (option.argName)
            usage += std::string(" ") + option.argName;
        std::string help = GetString(option.helpMessage);
        if (option.argHint)
            help += std::string(" (") + option.argHint + ")";
        std::printf("  %-26s %s\n", usage.c_str(), help.c_str());
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

bool IniFileName(const char* scriptPath, char* out, size_t outSize)
{
    std::string path = scriptPath;
    ChunkNameParts parts;
    if (IsChunkName(scriptPath) && ParseChunkName(scriptPath, &parts) && !parts.isString)
        path.assign(parts.file);
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        path.resize(dot);
    path += ".ini";
    return OsCopyPath(out, outSize, path.c_str(), path.size());
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLineBlank(char c) { return c == ' ' || c == '\t'; }

// A switch's value from the file: the words true/yes/on, or a number that
// is not 0.
uint32_t IniSwitchValue(const char* text)
{
    for (const char* word : {"true", "yes", "on"}) {
        if (StrCaseCmp(text, word) == 0)
            return 1;
    }
    size_t used = 0;
    ErrorCode error = ERR_NONE;
    double n = StringToNumber(text, std::strlen(text), &used, &error);
    return (error == ERR_NONE && DoubleToInt64(n) != 0) ? 1 : 0;
}

}  // namespace

uint32_t ReadIniOptions(OptionValues* values, CoreContext* context, char** outBuffer)
{
    *outBuffer = nullptr;
    char name[1024 + 8];
    if (!IniFileName(context->scriptPath, name, sizeof name))
        return 0;
    StreamHandle* stream = StreamOpen(name, STREAM_READ);
    if (!stream)
        return 0;
    uint8_t* block = nullptr;
    uint64_t size = 0;
    uint32_t error = ReadStreamToMemory(name, nullptr, stream, &block, &size);
    StreamClose(stream);
    if (error)
        return error == ERR_MEM ? ERR_MEM : ERR_READ;
    // One more byte terminates the last value in place.
    auto* text = static_cast<char*>(OsAllocMem(size + 1, 0));
    if (!text) {
        OsFreeMem(block);
        return ERR_MEM;
    }
    std::memcpy(text, block, size);
    text[size] = 0;
    OsFreeMem(block);
    *outBuffer = text;

    size_t p = 0;
    while (p < size) {
        char c = text[p];
        if (IsBlank(c)) {
            p++;
            continue;
        }
        if (c == '#' || c == '[') {
            while (p < size && text[p] != '\n')
                p++;
            continue;
        }
        if (!IsLetter(c))
            return ERR_INISYNTAX;
        size_t keyStart = p;
        while (p < size && IsNameChar(text[p]))
            p++;
        size_t keyLength = p - keyStart;
        if (keyLength > 127)
            return ERR_INISYNTAX;
        while (p < size && IsLineBlank(text[p]))
            p++;
        if (p >= size || text[p] != '=')
            return ERR_INISYNTAX;
        text[keyStart + keyLength] = 0;  // the '=' or a blank: already consumed
        p++;
        while (p < size && IsLineBlank(text[p]))
            p++;
        const char* value;
        if (p < size && text[p] == '"') {
            size_t start = ++p;
            while (p < size && text[p] != '"' && text[p] != '\n' && text[p] != '\r')
                p++;
            if (p >= size || text[p] != '"')
                return ERR_INISYNTAX;
            text[p++] = 0;
            value = text + start;
            while (p < size && IsLineBlank(text[p]))
                p++;
            if (p < size && text[p] != '\n' && text[p] != '\r')
                return ERR_INISYNTAX;
        } else {
            size_t start = p;
            while (p < size && text[p] != '\n' && text[p] != '\r')
                p++;
            size_t end = p;
            while (end > start && IsLineBlank(text[end - 1]))
                end--;
            if (p < size)
                p++;
            text[end] = 0;
            value = text + start;
        }
        const char* key = text + keyStart;
        if (const OptionRecord* option = FindOption(key, keyLength)) {
            values->given[option->slot] = 1;
            if (option->takesValue)
                values->text[option->slot] = value;
            else
                values->flag[option->slot] = IniSwitchValue(value);
        } else {
            uint32_t failed = AddScriptArgument(context, key, keyLength, value, nullptr);
            if (failed)
                return failed;
        }
    }
    return 0;
}

char* SplitBarList(const char* text)
{
    size_t length = std::strlen(text);
    auto* list = static_cast<char*>(OsAllocMem(length + 2, 0));
    if (!list)
        return nullptr;
    for (size_t i = 0; i < length; i++)
        list[i] = text[i] == '|' ? 0 : text[i];
    list[length] = 0;
    list[length + 1] = 0;
    return list;
}

// ---------------------------------------------------------------------------
// Defaults

void InitBackfillOptions(BackfillDesc* desc)
{
    std::memset(desc, 0, sizeof *desc);
    desc->color1 = 0xFFFFFFFF;
    desc->color2 = 0xFFFFFFFF;
    desc->picX = -100000;
    desc->picY = -100000;
    desc->transparentColor = -1;
}

void InitDisplayBackfill(DisplayBackfill* record)
{
    std::memset(record, 0, sizeof *record);
    record->first = 1;
    InitBackfillOptions(&record->desc);
}

void InitGradientDefaults(DisplayGradient* gradient)
{
    std::memset(gradient, 0, sizeof *gradient);
    gradient->style = 2;
    gradient->values[0] = gradient->values[1] = gradient->values[2] = 0.5;
}

void InitDisplayDescDefaults(DisplayDesc* desc)
{
    std::memset(desc, 0, sizeof *desc);
    std::strcpy(desc->title, "Quillmere");
    desc->x = -100000;
    desc->y = -100000;
    desc->width = 640;
    desc->height = 480;
    InitGradientDefaults(&desc->gradient);
    desc->gradient.values[3] = 0.0;
    desc->menu = -1;
    desc->scrWidth = -1;
    desc->scrHeight = -1;
    InitDisplayBackfill(&desc->backfill);
}

void InitAppletDisplayDefaults(AppletInfo* applet)
{
    applet->scaleWidth = 0;
    applet->scaleHeight = 0;
    applet->monitor = 0;
    applet->displayMode = 0;
    applet->displayFlags = 0;
    applet->screenWidth = -1;
    applet->screenHeight = -1;
    applet->screenDepth = -1;
    InitBackfillOptions(&applet->backfill);
}

void ResetStartupDisplayRecord(DisplayBackfill* record)
{
    std::memset(record, 0, sizeof *record);
    for (int32_t& word : record->words)
        word = -1;
    record->desc.kind = 0xFFFFFFFF;
}

PreloadEntry* FindPreloadDisplay(AppletInfo* applet)
{
    for (PreloadEntry* e = applet->preloadEntries; e; e = e->next) {
        if (e->kind == PRELOAD_DISPLAY && e->id == 1)
            return e;
    }
    return nullptr;
}

uint32_t AddPreloadDisplay(const char* title, AppletInfo* applet, PreloadEntry** outEntry)
{
    auto* entry = static_cast<PreloadEntry*>(OsAllocMem(sizeof(PreloadEntry), 1));
    auto* desc = static_cast<DisplayDesc*>(OsAllocMem(sizeof(DisplayDesc), 1));
    if (!entry || !desc) {
        OsFreeMem(entry);
        OsFreeMem(desc);
        return ERR_MEM;
    }
    InitDisplayDescDefaults(desc);
    desc->flags |= DISPFLAG_STARTUPDISPLAY;
    if (title) {
        size_t length = std::strlen(title);
        if (length >= sizeof desc->title)
            length = sizeof desc->title - 1;
        std::memcpy(desc->title, title, length);
        desc->title[length] = 0;
    }
    entry->kind = PRELOAD_DISPLAY;
    entry->id = 1;
    entry->one = 1;
    entry->transparentColor = -1;
    entry->displayWord = -1;
    entry->details = desc;
    PreloadEntry** tail = &applet->preloadEntries;
    while (*tail)
        tail = &(*tail)->next;
    *tail = entry;
    if (outEntry)
        *outEntry = entry;
    return 0;
}

uint32_t ApplyFirstDisplayOptions(AppletInfo* applet, const DisplayBackfill* record, uint32_t extraFlags)
{
    bool holdsAnything = record->first != 0 || record->last != 0 || record->desc.kind != 0xFFFFFFFF;
    for (int32_t word : record->words)
        holdsAnything = holdsAnything || word != -1;
    if (!holdsAnything && !extraFlags)
        return 0;
    PreloadEntry* entry = FindPreloadDisplay(applet);
    if (!entry) {
        uint32_t error = AddPreloadDisplay(nullptr, applet, &entry);
        if (error)
            return error;
    }
    auto* desc = static_cast<DisplayDesc*>(entry->details);
    DisplayBackfill& target = desc->backfill;
    if (record->first)
        target.first = record->first;
    for (int i = 0; i < 4; i++) {
        if (record->words[i] != -1)
            target.words[i] = record->words[i];
    }
    if (record->desc.kind != 0xFFFFFFFF)
        target.desc = record->desc;
    else if (record->last)
        target.last = record->last;
    desc->flags |= extraFlags;
    return 0;
}

// ---------------------------------------------------------------------------
// Applying the values

namespace {

// A number option: 0 with the value truncated, or StringToNumber's error.
uint32_t NumberOption(const char* text, int32_t* out, size_t* outUsed = nullptr)
{
    size_t used = 0;
    ErrorCode error = ERR_NONE;
    double n = StringToNumber(text, std::strlen(text), &used, &error);
    if (error)
        return error;
    *out = DoubleToInt32(n);
    if (outUsed)
        *outUsed = used;
    return 0;
}

// Reads a value option when it was given; 0 leaves *out alone otherwise.
uint32_t OptionalNumber(const OptionValues* v, uint32_t slot, int32_t* out, bool* given = nullptr)
{
    bool present = v->given[slot] && v->text[slot];
    if (given)
        *given = present;
    if (!present)
        return 0;
    uint32_t error = NumberOption(v->text[slot], out);
    if (error)
        argumentErrorDetail = std::string("-") + OptionTable[slot].name + " " + v->text[slot];
    return error;
}

bool Switch(const OptionValues* v, uint32_t slot) { return v->given[slot] && v->flag[slot]; }

char* CopyString(const char* text) { return CopyText(text, std::strlen(text)); }

void ReplaceString(char** slot, char* value)
{
    OsFreeMem(*slot);
    *slot = value;
}

}  // namespace

uint32_t ParseBackfillOption(const char* mode, const char* brush, const char* startColor,
                             const char* endColor, const char* brushFile, AppletInfo* applet)
{
    BackfillDesc& b = applet->backfill;
    uint32_t kind;
    if (StrCaseCmp(mode, "COLOR") == 0)
        kind = 1;
    else if (StrCaseCmp(mode, "RAINBOW") == 0 || StrCaseCmp(mode, "GRADIENT") == 0)
        kind = 2;
    else if (StrCaseCmp(mode, "TEXTURE") == 0)
        kind = 3;
    else if (StrCaseCmp(mode, "PICTURE") == 0)
        kind = 4;
    else
        return ERR_BACKFILL;
    if (brush && brushFile)
        return ERR_BACKFILL;
    if (kind == 1 && !startColor)
        return ERR_BACKFILL;
    if (kind == 2 && (!startColor || !endColor))
        return ERR_BACKFILL;
    if ((kind == 3 || kind == 4) && !brush && !brushFile)
        return ERR_BACKFILL;
    int32_t n = 0;
    if (brush) {
        if (uint32_t error = NumberOption(brush, &n))
            return error;
        b.brush = n;
    }
    if (brushFile && !OsCopyPath(b.file, sizeof b.file, brushFile, std::strlen(brushFile)))
        return ERR_NAMETOOLONG;
    if (startColor) {
        if (uint32_t error = NumberOption(startColor, &n))
            return error;
        b.color1 = static_cast<uint32_t>(n);
    }
    if (endColor) {
        if (uint32_t error = NumberOption(endColor, &n))
            return error;
        b.color2 = static_cast<uint32_t>(n);
    }
    b.kind = kind;
    return 0;
}

uint32_t ApplyStartupOptions(const OptionValues* v, CoreContext* context, AppletInfo* applet)
{
    argumentErrorDetail.clear();
    static const struct {
        uint32_t slot;
        uint32_t bit;
    } kFlagOptions[] = {
        {OPT_BORDERLESS, 1},        {OPT_SIZEABLE, 2},         {OPT_FIXED, 4},
        {OPT_NOHIDE, 32},           {OPT_HIDEPOINTER, 16},     {OPT_NOMODESWITCH, 8},
        {OPT_KEEPPROPORTIONS, 32768}, {OPT_FITSCALE, 65536},   {OPT_DISABLEBLANKER, 16777216},
        {OPT_SMOOTHSCALE, 128},     {OPT_AUTOSCALE, 64},       {OPT_LAYERSCALE, 256},
    };
    for (const auto& f : kFlagOptions) {
        if (Switch(v, f.slot))
            applet->displayFlags |= f.bit;
    }
    bool autoScale = Switch(v, OPT_AUTOSCALE);
    bool layerScale = Switch(v, OPT_LAYERSCALE);
    if (autoScale && layerScale)
        return ArgumentError(ERR_CONSOLEARG, "-AUTOSCALE together with -LAYERSCALE");
    if (Switch(v, OPT_HIDETITLEBAR))
        applet->backfill.hideTitleBar = 1;
    if (Switch(v, OPT_ALLDISPLAYS))
        context->allDisplays = 1;

    if (autoScale || layerScale) {
        // A '%' right behind the number asks for a share of the display size.
        const struct {
            uint32_t slot;
            int32_t* target;
        } scales[] = {{OPT_SCALEWIDTH, &applet->scaleWidth}, {OPT_SCALEHEIGHT, &applet->scaleHeight}};
        for (const auto& s : scales) {
            if (!v->given[s.slot] || !v->text[s.slot])
                continue;
            int32_t n = 0;
            size_t used = 0;
            if (uint32_t error = NumberOption(v->text[s.slot], &n, &used))
                return error;
            *s.target = v->text[s.slot][used] == '%' ? -n : n;
        }
    }

    if (uint32_t error = OptionalNumber(v, OPT_SCRDEPTH, &applet->screenDepth))
        return error;
    if (uint32_t error = OptionalNumber(v, OPT_SCRWIDTH, &applet->screenWidth))
        return error;
    if (uint32_t error = OptionalNumber(v, OPT_SCRHEIGHT, &applet->screenHeight))
        return error;
    int32_t monitor = 0;
    bool monitorGiven = false;
    if (uint32_t error = OptionalNumber(v, OPT_MONITOR, &monitor, &monitorGiven))
        return error;
    if (monitorGiven) {
        if (monitor < 1)
            return ERR_MONITORRANGE;
        applet->monitor = monitor - 1;
    }

    auto text = [v](uint32_t slot) { return v->given[slot] ? v->text[slot] : nullptr; };
    if (text(OPT_BACKFILL)) {
        if (uint32_t error = ParseBackfillOption(text(OPT_BACKFILL), text(OPT_BRUSH), text(OPT_STARTCOLOR),
                                                 text(OPT_ENDCOLOR), text(OPT_BRUSHFILE), applet)) {
            if (argumentErrorDetail.empty())
                argumentErrorDetail = std::string("-BACKFILL ") + text(OPT_BACKFILL);
            return error;
        }
    }
    // A picture that is not there would otherwise leave the display
    // silently without its backfill.
    if (const char* file = text(OPT_BRUSHFILE)) {
        StreamHandle* stream = StreamOpen(file, STREAM_READ);
        if (!stream) {
            SetErrorText(file);
            return ERR_FILEEXIST;
        }
        StreamClose(stream);
    }
    if (Switch(v, OPT_SCALEPICTURE))
        applet->backfill.scalePicture = 1;
    if (uint32_t error = OptionalNumber(v, OPT_PICXPOS, &applet->backfill.picX))
        return error;
    if (uint32_t error = OptionalNumber(v, OPT_PICYPOS, &applet->backfill.picY))
        return error;
    if (uint32_t error = OptionalNumber(v, OPT_PICTRANS, &applet->backfill.transparentColor))
        return error;

    if (v->given[OPT_QUIET])
        context->quiet = v->flag[OPT_QUIET];
    if (Switch(v, OPT_NOSOUND))
        context->noSound = 1;
    int32_t channels = 0;
    bool channelsGiven = false;
    if (uint32_t error = OptionalNumber(v, OPT_NUMCHANNELS, &channels, &channelsGiven))
        return error;
    if (channelsGiven) {
        if (channels < 1)
            return ArgumentError(ERR_CONSOLEARG, "-NUMCHANNELS " + std::to_string(channels));
        context->numChannels = static_cast<uint32_t>(channels);
    }

    if (const char* dir = text(OPT_TEMPDIR)) {
        std::string full = OsFullPathString(dir);
        if (uint32_t error = OsSetEnv("TMPDIR", full.c_str()))
            return error;
    }
    if (const char* list = text(OPT_SKIPPLUGINS)) {
        char* split = SplitBarList(list);
        if (!split)
            return ERR_MEM;
        ReplaceString(&Startup.skipPlugins, split);
    }
    if (const char* list = text(OPT_REQUIREPLUGINS)) {
        char* split = SplitBarList(list);
        if (!split)
            return ERR_MEM;
        ReplaceString(&Startup.requirePlugins, split);
    }
    if (const char* tags = text(OPT_REQUIRETAGS)) {
        // Checked now, so that a malformed value fails the start, not the
        // first plugin that would have used it.
        std::vector<RequireTagGroup> groups;
        if (uint32_t error = ParseRequireTags(tags, &groups))
            return error;
        char* copy = CopyString(tags);
        if (!copy)
            return ERR_MEM;
        ReplaceString(&Startup.requireTags, copy);
    }
    if (const char* device = text(OPT_DEBUGDEVICE)) {
        DebugDeviceSet = 1;
        if (int error = OsOpenDebugChannel(device))
            return static_cast<uint32_t>(error);
    }
    if (Switch(v, OPT_DEBUGOUTPUT))
        Startup.debugOutput = 1;
    if (Switch(v, OPT_NODEBUG))
        Startup.noDebug = 1;
    if (Switch(v, OPT_FORCEFLUSH))
        forceFlush = 1;
    if (Switch(v, OPT_OVERRIDEPLACEMENT))
        Startup.overridePlacement = 1;
    if (Switch(v, OPT_SOFTTIMER)) {
        AppletSettings[0] |= 1;
        OsSetTimerMode(static_cast<uint32_t>(AppletSettings[0]));
    }
    if (Switch(v, OPT_NOCHDIR))
        Startup.noChangeDir = 1;

    static const struct {
        uint32_t slot;
        uint32_t mode;
    } kModes[] = {{OPT_WINDOW, 1}, {OPT_FULLSCREEN, 2}, {OPT_FAKEFULLSCREEN, 6}, {OPT_MODEREQUESTER, 4},
                  {OPT_ASKDISPLAYMODE, 3}};
    uint32_t modes = 0;
    for (const auto& m : kModes) {
        if (Switch(v, m.slot)) {
            applet->displayMode = m.mode;
            modes++;
        }
    }
    if (modes > 1) {
        std::string given;
        for (const auto& m : kModes) {
            if (Switch(v, m.slot))
                given += std::string(given.empty() ? "-" : " with -") + OptionTable[m.slot].name;
        }
        return ArgumentError(ERR_CONSOLEARG, given);
    }
    return 0;
}

void FreeScriptArguments(CoreContext* context)
{
    ScriptArgument* arg = context->scriptArgs;
    while (arg) {
        ScriptArgument* next = arg->next;
        OsFreeMem(arg->name);
        OsFreeMem(arg->value);
        OsFreeMem(arg);
        arg = next;
    }
    context->scriptArgs = nullptr;
    if (lastArgument.context == context)
        lastArgument = {nullptr, nullptr};
}
