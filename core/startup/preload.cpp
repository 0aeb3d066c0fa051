// Resource preloading: every declaration of the applet becomes an ordinary
// call of its script command (LoadBrush, LoadBGPic, ...) with the declared
// id, the file (a ":::chunk" name for a file linked into the applet) and
// an options table, as if the script had made it; then the declared
// displays are made through CreateDisplay with their saved placement. A
// failing call ends preloading with its error, reported at the line of the
// declaration.
#include "core/startup/preload.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include <unistd.h>

#include "core/io/case_tables.h"
#include "core/io/errors.h"
#include "core/io/messages.h"
#include "core/io/utilities.h"
#include "core/io/virtual_names.h"
#include "core/services/command_services.h"
#include "core/services/error_report.h"
#include "core/services/option_tables.h"
#include "core/startup/applet.h"
#include "core/startup/options.h"
#include "core/startup/startup.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "display/display.h"
#include "display/window_icons.h"
#include "draw/text_state.h"
#include "gfx/library/gfx_cache.h"
#include "libs/dos/dos_library.h"
#include "libs/system/system_library.h"

void ApplyStartupDisplayOptions(const AppletInfo* applet, DisplayDesc* desc)
{
    if (applet->displayMode)
        desc->mode = applet->displayMode;
    if (applet->screenWidth != -1)
        desc->scrWidth = applet->screenWidth;
    if (applet->screenHeight != -1)
        desc->scrHeight = applet->screenHeight;
    if (applet->screenDepth != -1)
        desc->scrDepth = static_cast<uint32_t>(applet->screenDepth);
    if (applet->scaleWidth)
        desc->scaleWidth = applet->scaleWidth;
    if (applet->scaleHeight)
        desc->scaleHeight = applet->scaleHeight;
    if (applet->monitor)
        desc->monitor = static_cast<uint32_t>(applet->monitor);
    if (applet->backfill.kind)
        desc->backfill.desc = applet->backfill;
    else if (applet->backfill.hideTitleBar)
        desc->backfill.desc.hideTitleBar = 1;
    desc->flags |= applet->displayFlags;
}

namespace {

struct DisplayFlagKey {
    const char* key;
    uint32_t flag;
};

constexpr DisplayFlagKey kDisplayFlagKeys[] = {
    {"borderless", DISPFLAG_BORDERLESS},   {"sizeable", DISPFLAG_SIZEABLE},
    {"fixed", DISPFLAG_FIXED},             {"nohide", DISPFLAG_NOHIDE},
    {"nomodeswitch", DISPFLAG_NOMODESWITCH}, {"smoothscale", DISPFLAG_SMOOTHSCALE},
    {"hidepointer", DISPFLAG_HIDEPOINTER}, {"layers", DISPFLAG_LAYERS},
    {"noclose", DISPFLAG_NOCLOSE},         {"keepproportions", DISPFLAG_KEEPPROPORTIONS},
    {"fitscale", DISPFLAG_FITSCALE},       {"keepscreenon", DISPFLAG_KEEPSCREENON},
    {"hidefromtaskbar", DISPFLAG_HIDEFROMTASKBAR}, {"hideoptionsmenu", DISPFLAG_HIDEOPTIONSMENU},
    {"nohardwarescale", DISPFLAG_NOHARDWARESCALE}, {"disableblanker", DISPFLAG_DISABLEBLANKER},
    {"rememberposition", DISPFLAG_REMEMBERPOSITION}, {"hidden", DISPFLAG_HIDDEN},
};

constexpr uint32_t kFlagBackgroundPicture = 512;

// The saved placement of a display replaces the declared values: the
// "__placement" table of the applet's preferences, under the display's id.
void ApplySavedPlacement(VmState* vm, uint32_t id, int t)
{
    int top = VmGetTop(vm);
    VmNewTable(vm);
    int prefs = VmGetTop(vm);
    if (ReadPrefsFile(vm, prefs) == 0) {
        VmPushString(vm, "__placement");
        VmRawGet(vm, prefs);
        if (VmType(vm, -1) == VM_TTABLE) {
            VmRawGetI(vm, -1, static_cast<int>(id));
            if (VmType(vm, -1) == VM_TTABLE) {
                int saved = VmGetTop(vm);
                for (const char* key : {"active", "autoscale", "layerscale", "sizeable", "width", "height",
                                        "scalewidth", "scaleheight", "osdata", "x", "y"}) {
                    VmPushString(vm, key);
                    VmRawGet(vm, saved);
                    if (VmType(vm, -1) == VM_TNIL) {
                        VmPop(vm, 1);
                        continue;
                    }
                    VmPushString(vm, key);
                    VmPushValue(vm, -2);
                    VmRawSet(vm, t);
                    VmPop(vm, 1);
                }
                VmPushString(vm, "__placement");
                VmPushValue(vm, saved);
                VmRawSet(vm, t);
            }
        }
    }
    VmSetTop(vm, top);
}

// The gradient keys: the style and the four values of the gradient
// record, the two colours and the angle from the words around it.
void PushGradientTable(VmState* vm, int t, const DisplayGradient& g, uint32_t startColor, uint32_t endColor,
                       int32_t angle)
{
    SetTableInt(vm, t, "gradientstyle", static_cast<int32_t>(g.style));
    SetTableUnsigned(vm, t, "gradientstartcolor", startColor);
    SetTableUnsigned(vm, t, "gradientendcolor", endColor);
    SetTableInt(vm, t, "gradientangle", angle);
    const char* const valueKeys[] = {"gradientcenterx", "gradientcentery", "gradientbalance", "gradientborder"};
    for (int i = 0; i < 4; ++i)
        SetTableNumber(vm, t, valueKeys[i], g.values[i]);
    if (!g.stopCount)
        return;
    VmPushString(vm, "gradientcolors");
    VmNewTable(vm);
    for (uint32_t i = 0; i < g.stopCount && i < GRADIENT_MAX_STOPS; ++i) {
        VmPushNumber(vm, g.colors[i]);
        VmRawSetI(vm, -2, static_cast<int>(2 * i));
        VmPushNumber(vm, g.positions[i]);
        VmRawSetI(vm, -2, static_cast<int>(2 * i + 1));
    }
    VmRawSet(vm, t);
}

// A region list of a display: one table per region, {type, x, y, width,
// height} in the order of the record's five words.
void PushRegionList(VmState* vm, int t, const char* key, const DisplayRegion* regions, uint32_t count)
{
    if (!count)
        return;
    VmPushString(vm, key);
    VmNewTable(vm);
    for (uint32_t i = 0; i < count; ++i) {
        VmNewTable(vm);
        int r = VmGetTop(vm);
        const char* const keys[] = {"type", "x", "y", "width", "height"};
        for (int k = 0; k < 5; ++k)
            SetTableInt(vm, r, keys[k], static_cast<int32_t>(regions[i].words[k]));
        VmRawSetI(vm, -2, static_cast<int>(i + 1));
    }
    VmRawSet(vm, t);
}

// CreateDisplay(id, options) for one declared display, as if the script
// had called it; its error code, reported at the declaration's line.
uint32_t CreateDeclaredDisplay(VmState* vm, const PreloadEntry* entry, bool bgpicOneDeclared, bool hidden)
{
    const auto* d = static_cast<const DisplayDesc*>(entry->details);
    int top = VmGetTop(vm);
    VmPushCString(vm, "createdisplay");
    VmGetTable(vm, VM_GLOBALSINDEX);
    if (VmType(vm, -1) != VM_TFUNCTION) {
        VmSetTop(vm, top);
        return 0;
    }
    VmPushNumber(vm, entry->id);
    VmNewTable(vm);
    int t = VmGetTop(vm);
    SetTableString(vm, t, "title", d->title);
    SetTableInt(vm, t, "x", d->x);
    SetTableInt(vm, t, "y", d->y);
    SetTableInt(vm, t, "width", d->width);
    SetTableInt(vm, t, "height", d->height);
    SetTableUnsigned(vm, t, "color", d->color);
    if (d->fillStyle)
        SetTableInt(vm, t, "fillstyle", static_cast<int32_t>(d->fillStyle));
    if (d->textureBrush) {
        SetTableUnsigned(vm, t, "texturebrush", d->textureBrush);
        SetTableUnsigned(vm, t, "texturex", d->textureX);
        SetTableUnsigned(vm, t, "texturey", d->textureY);
    }
    // The description keeps the gradient's start colour as the display's
    // colour, its end colour and angle in the two words after the fill style.
    PushGradientTable(vm, t, d->gradient, d->fillColor, d->fillWord, d->fillShort);
    if (d->active)
        SetTableInt(vm, t, "active", 1);
    if (hidden)
        SetTableInt(vm, t, "hidden", 1);
    if (d->scaleWidth)
        SetTableInt(vm, t, "scalewidth", d->scaleWidth);
    if (d->scaleHeight)
        SetTableInt(vm, t, "scaleheight", d->scaleHeight);
    if (d->flags & kFlagBackgroundPicture)
        SetTableUnsigned(vm, t, "bgpic", d->bgpic);
    else if (bgpicOneDeclared && entry->id == 1)
        SetTableInt(vm, t, "bgpic", 1);
    if (d->flags & DISPFLAG_LAYERSCALE)
        SetTableInt(vm, t, "scalemode", 2);
    else if (d->flags & DISPFLAG_AUTOSCALE)
        SetTableInt(vm, t, "scalemode", 1);
    for (const DisplayFlagKey& f : kDisplayFlagKeys) {
        if (d->flags & f.flag)
            SetTableInt(vm, t, f.key, 1);
    }
    if (d->monitor)
        SetTableInt(vm, t, "monitor", static_cast<int32_t>(d->monitor));
    if (d->mode)
        SetTableString(vm, t, "mode", GetDisplayModeName(d->mode));
    if (d->scrWidth != -1)
        SetTableInt(vm, t, "scrwidth", d->scrWidth);
    if (d->scrHeight != -1)
        SetTableInt(vm, t, "scrheight", d->scrHeight);
    if (d->scrDepth)
        SetTableUnsigned(vm, t, "scrdepth", d->scrDepth);
    PushRegionList(vm, t, "dragregion", d->dragRegions, d->dragRegionCount);
    PushRegionList(vm, t, "sizeregion", d->sizeRegions, d->sizeRegionCount);
    if (d->orientation)
        SetTableInt(vm, t, "orientation", static_cast<int32_t>(d->orientation));
    if (d->hasMenu && d->menu >= 0)
        SetTableInt(vm, t, "menu", d->menu);
    if (d->desktop)
        SetTableInt(vm, t, "desktop", 1);
    // The declared size, for the display to go back to when a saved
    // placement gave it another.
    SetTableInt(vm, t, "__restorewidth", d->width);
    SetTableInt(vm, t, "__restoreheight", d->height);
    const BackfillDesc& b = d->backfill.desc;
    if (b.kind || b.hideTitleBar) {
        VmPushString(vm, "backfill");
        VmNewTable(vm);
        int f = VmGetTop(vm);
        SetTableInt(vm, f, "hidetitlebar", b.hideTitleBar ? 1 : 0);
        if (b.kind) {
            SetTableString(vm, f, "type", GetBackfillTypeName(b.kind));
            SetTableUnsigned(vm, f, "color", b.color1);
            SetTableUnsigned(vm, f, "startcolor", b.color1);
            SetTableUnsigned(vm, f, "endcolor", b.color2);
            SetTableInt(vm, f, "brush", b.brush);
            SetTableInt(vm, f, "scalepicture", static_cast<int32_t>(b.scalePicture));
            SetTableInt(vm, f, "smoothscale", b.flag6 ? 1 : 0);
        }
        VmRawSet(vm, t);
    }
    if (!Startup.overridePlacement)
        ApplySavedPlacement(vm, entry->id, t);
    uint32_t error = VmPCall(vm, 2, 0, 0);
    VmSetTop(vm, top);
    return error;
}


// ---------------------------------------------------------------------------
// Resource declarations

struct KindCommand {
    uint32_t kind;
    const char* name;
};

constexpr KindCommand kKindCommands[] = {
    {PRELOAD_BGPIC, "LoadBGPic"},   {PRELOAD_BRUSH, "LoadBrush"},     {PRELOAD_ANIM, "LoadAnim"},
    {PRELOAD_MUSIC, "OpenMusic"},   {PRELOAD_SAMPLE, "LoadSample"},   {PRELOAD_BUTTON, "CreateButton"},
    {PRELOAD_KEYDOWN, "CreateKeyDown"}, {PRELOAD_SPRITE, "LoadSprite"}, {PRELOAD_FILE, "OpenFile"},
    {PRELOAD_FONT, "OpenFont"},     {PRELOAD_VIDEO, "OpenVideo"},     {PRELOAD_MENU, "CreateMenu"},
};

const char* CommandOfKind(uint32_t kind)
{
    for (const KindCommand& c : kKindCommands)
        if (c.kind == kind)
            return c.name;
    return nullptr;
}

// The file name the declaration gives: its embedded text.
std::string DeclaredFile(const PreloadEntry* entry)
{
    if (!entry->data || !entry->dataSize)
        return std::string();
    const char* text = reinterpret_cast<const char*>(entry->data);
    return std::string(text, strnlen(text, entry->dataSize));
}

// A file linked into the applet is opened as a region of the applet file,
// whatever became of the file it was built from.
std::string FileArgument(const PreloadEntry* entry)
{
    std::string declared = DeclaredFile(entry);
    if (!entry->linkedSize)
        return declared;
    char name[2048];
    if (!MakeChunkName(declared.c_str(), name, sizeof name, entry->linkedOffset, entry->linkedSize,
                       LoadedAppletOffset, entry->sourceFile))
        return declared;
    return name;
}

const PreloadWords* WordsOf(const PreloadEntry* entry)
{
    return static_cast<const PreloadWords*>(entry->details);
}

int32_t Word(const PreloadEntry* entry, uint32_t index)
{
    const PreloadWords* w = WordsOf(entry);
    return w && index < w->count ? w->words[index] : 0;
}

bool IsImageKind(uint32_t kind)
{
    return kind == PRELOAD_BGPIC || kind == PRELOAD_BRUSH || kind == PRELOAD_ANIM || kind == PRELOAD_SPRITE;
}

// The word of a kind record that feeds `key`, or 0 when none does.
int32_t WordOfKey(const PreloadEntry* entry, const char* key)
{
    uint32_t count = 0;
    const PreloadWordKey* keys = PreloadWordKeys(entry->kind, &count);
    for (uint32_t i = 0; i < count; ++i)
        if (std::strcmp(keys[i].key, key) == 0)
            return Word(entry, keys[i].word);
    return 0;
}

// Files shared by several declarations are loaded once: the first
// declaration puts the picture into the graphics cache, the later ones
// take it from there.
enum : uint32_t { SHARE_NONE = 0, SHARE_FIRST = 1, SHARE_DUPLICATE = 2 };

// What makes two declarations share a picture: the kind, the three
// scaling values and the file, compared without regard to case.
std::string ShareKey(const PreloadEntry* entry, const std::string& file)
{
    std::string key(1, static_cast<char>(entry->kind));
    for (const char* scaling : {"scalewidth", "scaleheight", "smoothscale"}) {
        int32_t word = WordOfKey(entry, scaling);
        key.append(reinterpret_cast<const char*>(&word), sizeof word);
    }
    for (char c : file)
        key += static_cast<char>(ToLowerLatin1(static_cast<uint8_t>(c)));
    return key;
}

// Each declaration's share mark, in list order: the first of a key is
// found once, whatever the number of declarations. A declaration that
// asks to be loaded on its own takes no part, on either side.
void MarkSharedFiles(AppletInfo* applet, std::vector<uint32_t>* share)
{
    std::unordered_map<std::string, size_t> firstOfKey;
    share->clear();
    for (PreloadEntry* e = applet->preloadEntries; e; e = e->next) {
        size_t index = share->size();
        share->push_back(SHARE_NONE);
        if (e->kind != PRELOAD_BRUSH && e->kind != PRELOAD_ANIM && e->kind != PRELOAD_SPRITE)
            continue;
        if (e->flags & PRELOAD_FLAG_SEPARATE)
            continue;
        std::string file = DeclaredFile(e);
        if (file.empty())
            continue;
        auto [first, isNew] = firstOfKey.emplace(ShareKey(e, file), index);
        if (!isNew) {
            (*share)[first->second] = SHARE_FIRST;
            (*share)[index] = SHARE_DUPLICATE;
        }
    }
}

// The options table of an image declaration: the entry's own words, then
// the kind record's words by the table beside the reader.
void PushImageOptions(VmState* vm, const PreloadEntry* entry, uint32_t share)
{
    VmNewTable(vm);
    int t = VmGetTop(vm);
    if (entry->transparentColor != -1)
        SetTableUnsigned(vm, t, "transparency", static_cast<uint32_t>(entry->transparentColor));
    if (entry->flags & PRELOAD_FLAG_LOADALPHA)
        SetTableInt(vm, t, "loadalpha", 1);
    if (entry->flags & PRELOAD_FLAG_LOADTRANSPARENCY)
        SetTableInt(vm, t, "loadtransparency", 1);
    uint32_t count = 0;
    const PreloadWordKey* keys = PreloadWordKeys(entry->kind, &count);
    for (uint32_t i = 0; i < count; ++i) {
        int32_t word = Word(entry, keys[i].word);
        if (!word || keys[i].rule == WORDKEY_GRADIENT)
            continue;
        switch (keys[i].rule) {
        case WORDKEY_INT: SetTableInt(vm, t, keys[i].key, word); break;
        case WORDKEY_UNSIGNED: SetTableUnsigned(vm, t, keys[i].key, static_cast<uint32_t>(word)); break;
        default: SetTableInt(vm, t, keys[i].key, 1); break;
        }
    }
    const PreloadWords* words = WordsOf(entry);
    if (words && words->hasGradient && words->gradient.style)
        PushGradientTable(vm, t, words->gradient, static_cast<uint32_t>(WordOfKey(entry, "gradientstartcolor")),
                          static_cast<uint32_t>(WordOfKey(entry, "gradientendcolor")),
                          WordOfKey(entry, "gradientangle"));
    if (share == SHARE_FIRST)
        SetTableInt(vm, t, "cache", 1);
    if (share == SHARE_DUPLICATE)
        SetTableInt(vm, t, "cachedload", 1);
    if (entry->text1[0])
        SetTableString(vm, t, "loader", entry->text1);
    if (entry->text2[0])
        SetTableString(vm, t, "adapter", entry->text2);
}

// The menu tree as CreateMenu takes it: an array of items, each an array
// {label, submenu} with "flags", "hotkey" and "id" (the item's third text).
void PushMenuTreeTable(VmState* vm, const MenuTreeItem* item, uint32_t depth)
{
    VmNewTable(vm);
    int level = VmGetTop(vm);
    VmCheckStack(vm, 4);
    for (int index = 1; item; item = item->next, ++index) {
        VmNewTable(vm);
        int t = VmGetTop(vm);
        VmPushString(vm, item->label);
        VmRawSetI(vm, t, 1);
        if (item->submenu && depth < MENU_MAX_DEPTH) {
            PushMenuTreeTable(vm, item->submenu, depth + 1);
            VmRawSetI(vm, t, 2);
        }
        if (item->flags)
            SetTableUnsigned(vm, t, "flags", item->flags);
        if (item->hotkey[0])
            SetTableString(vm, t, "hotkey", item->hotkey);
        if (item->extra[0])
            SetTableString(vm, t, "id", item->extra);
        VmRawSetI(vm, level, index);
    }
}

// Calls the command of one declaration as the script would: its error
// code, with the error's line and function name set to the declaration's.
uint32_t CallDeclaredCommand(VmState* vm, const PreloadEntry* entry, uint32_t share)
{
    const char* command = CommandOfKind(entry->kind);
    if (!command)
        return 0;
    std::string lower = command;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    VmErrorLine = static_cast<int32_t>(entry->line);
    SetErrorFunctionName(command);
    int top = VmGetTop(vm);
    VmPushCString(vm, lower.c_str());
    VmGetTable(vm, VM_GLOBALSINDEX);
    if (VmType(vm, -1) != VM_TFUNCTION) {
        VmSetTop(vm, top);
        return ERR_UNIMPLCMD;
    }
    std::string file = FileArgument(entry);
    VmPushNumber(vm, entry->id);
    int arguments = 1;
    switch (entry->kind) {
    case PRELOAD_BUTTON:
        for (uint32_t i = 0; i < 4; ++i)
            VmPushNumber(vm, Word(entry, i));
        arguments += 4;
        break;
    case PRELOAD_KEYDOWN:
        VmPushString(vm, file.c_str());
        arguments += 1;
        break;
    case PRELOAD_MENU:
        PushMenuTreeTable(vm, static_cast<const MenuTreeItem*>(entry->details), 1);
        arguments += 1;
        break;
    case PRELOAD_FILE: {
        // A declared file is opened for reading, through its adapter.
        VmPushString(vm, file.c_str());
        VmPushNumber(vm, MODE_READ);
        VmNewTable(vm);
        if (entry->text2[0])
            SetTableString(vm, VmGetTop(vm), "adapter", entry->text2);
        arguments += 3;
        break;
    }
    default:
        VmPushString(vm, file.c_str());
        if (IsImageKind(entry->kind)) {
            PushImageOptions(vm, entry, share);
        } else {
            VmNewTable(vm);
            int t = VmGetTop(vm);
            if (entry->text1[0])
                SetTableString(vm, t, entry->kind == PRELOAD_FONT ? "engine" : "loader", entry->text1);
            if (entry->text2[0])
                SetTableString(vm, t, entry->kind == PRELOAD_FONT ? "cache" : "adapter", entry->text2);
        }
        arguments += 2;
        break;
    }
    uint32_t error = VmPCall(vm, arguments, 0, 0);
    VmSetTop(vm, top);
    return error;
}

// The settings of a plugin requirement declared by the applet, as the
// plugin's RequirePlugin receives them (they point into the entry).
std::vector<QmPluginOption> RequirementOptions(const PreloadEntry* entry)
{
    std::vector<QmPluginOption> options;
    for (auto* tag = static_cast<const PluginRequireTag*>(entry->details); tag; tag = tag->next)
        options.push_back(QmPluginOption{nullptr, tag->name, tag->isText ? tag->text : nullptr, tag->number});
    return options;
}

// Main chunk's source name, so that errors of declarations are reported
// in the applet's files like errors of the script. A chunk without one
// leaves the report without a file and a line, as for errors of the
// script in such a chunk.
void NameErrorScript(VmState* vm)
{
    if (!errorScriptName || VmType(vm, -1) != VM_TFUNCTION)
        return;
    VmPushValue(vm, -1);
    VmDebugRecord record{};
    if (VmGetInfo(vm, ">S", &record) && SourceNamesFile(record.source))
        std::snprintf(errorScriptName, ERROR_TEXT_SIZE, "%s", record.source);
}

}  // namespace

uint32_t PreloadResources(CoreContext* context, AppletInfo* applet, VmState* vm)
{
    if (context->isApplet)
        PrintMessage(GetString(MSG_LOADING_APPLET), context->scriptPath, 1);
    if (uint32_t error = LoadWindowIcons(!context->isApplet))
        return error;

    uint32_t pluginAnswer = 0;
    if (uint32_t error = RequireStartupPlugins(vm, &pluginAnswer))
        return error;
    for (PreloadEntry* e = applet->preloadEntries; e && vm; e = e->next) {
        if (e->kind != PRELOAD_PLUGIN)
            continue;
        std::vector<QmPluginOption> options = RequirementOptions(e);
        std::string name = e->text1[0] ? std::string(e->text1) : DeclaredFile(e);
        if (uint32_t error = RequirePluginWithOptions(vm, name.c_str(), &options, &pluginAnswer))
            return error;
    }
    bool firstHidden = pluginAnswer & 1;

    bool bgpicOneDeclared = false;
    for (PreloadEntry* e = applet->preloadEntries; e; e = e->next)
        bgpicOneDeclared = bgpicOneDeclared || (e->kind == PRELOAD_BGPIC && e->id == 1);
    if (int error = InitTextState())
        return static_cast<uint32_t>(error);
    if (!FindPreloadDisplay(applet)) {
        if (uint32_t error = AddPreloadDisplay(nullptr, applet))
            return error;
    }
    if (!context->noOptionOverride) {
        for (PreloadEntry* e = applet->preloadEntries; e; e = e->next) {
            if (e->kind != PRELOAD_DISPLAY || !e->details)
                continue;
            if (e->id == 1 || context->allDisplays)
                ApplyStartupDisplayOptions(applet, static_cast<DisplayDesc*>(e->details));
        }
    }
    std::vector<uint32_t> share;
    MarkSharedFiles(applet, &share);

    SetTags(nullptr, {{TAG_PIXELSWITCH, 1}, {TAG_SCRIPTRUNNING, 1}, {TAG_END, 0}});
    if (vm)
        NameErrorScript(vm);
    char* directory = getcwd(nullptr, 0);
    uint32_t error = 0;
    size_t index = 0;
    for (PreloadEntry* e = applet->preloadEntries; e && vm && !error; e = e->next, ++index) {
        if (e->kind == PRELOAD_DISPLAY || e->kind == PRELOAD_PLUGIN || e->kind == PRELOAD_WARNING)
            continue;
        SetTags(nullptr, {{TAG_QUIET, context->isApplet || context->quiet ? 1u : e->callerFlag}, {TAG_END, 0}});
        // Relative names are the applet's: its folder is current meanwhile.
        std::string folder = e->sourceFile;
        size_t slash = folder.find_last_of('/');
        if (slash != std::string::npos && !Startup.noChangeDir)
            [[maybe_unused]] int changed = chdir(folder.substr(0, slash + 1).c_str());
        error = CallDeclaredCommand(vm, e, share[index]);
        if (directory)
            [[maybe_unused]] int back = chdir(directory);
    }
    std::free(directory);
    for (PreloadEntry* e = applet->preloadEntries; e && !error; e = e->next) {
        if (e->kind == PRELOAD_WARNING && e->data && !Startup.noDebug)
            DebugPrintf("*** WARNING %s ***\n", reinterpret_cast<const char*>(e->data));
        if (e->kind == PRELOAD_DISPLAY && e->details && vm) {
            VmErrorLine = static_cast<int32_t>(e->line);
            SetErrorFunctionName("CreateDisplay");
            error = CreateDeclaredDisplay(vm, e, bgpicOneDeclared, firstHidden && e->id == 1);
        }
    }
    FreeGfxCache();
    if (error)
        return error;
    SetTags(nullptr, {{TAG_PIXELSWITCH, 0}, {TAG_QUIET, context->quiet}, {TAG_SCRIPTRUNNING, 0}, {TAG_END, 0}});
    VmErrorLine = -1;
    SetErrorFunctionName(nullptr);
    PrintDone();
    return 0;
}
