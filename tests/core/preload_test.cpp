// Preloading's display steps: display 1 added when the applet declares
// none, and the start-up options copied into display 1 or every display.
#include "core/preload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/command_services.h"
#include "core/io/error_codes.h"
#include "core/options.h"
#include "core/io/errors.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "platform/posix/os_memory.h"
#include "display/display.h"
#include "display/display_library.h"

namespace {

struct PreloadRun {
    CoreContext context{};
    AppletInfo applet{};

    PreloadRun()
    {
        InitAppletDisplayDefaults(&applet);
        context.quiet = 1;
        SetTags(nullptr, {{TAG_QUIET, 1}, {TAG_END, 0}});
    }
    ~PreloadRun() { FreeAppletInfoLists(&applet); }

    DisplayDesc* Add(uint32_t id)
    {
        PreloadEntry* entry = nullptr;
        EXPECT_EQ(AddPreloadDisplay(nullptr, &applet, &entry), 0u);
        entry->id = id;
        return static_cast<DisplayDesc*>(entry->details);
    }
};

TEST(Preload, StartupOptionsReachDisplayOneOrEveryDisplay)
{
    for (uint32_t all : {0u, 1u}) {
        for (uint32_t noOverride : {0u, 1u}) {
            PreloadRun run;
            DisplayDesc* second = run.Add(2);
            DisplayDesc* first = run.Add(1);
            run.context.allDisplays = all;
            run.context.noOptionOverride = noOverride;
            run.applet.displayMode = 2;
            run.applet.screenWidth = 800;
            run.applet.scaleWidth = -50;
            run.applet.displayFlags = 1 | 16;
            run.applet.backfill.hideTitleBar = 1;
            ASSERT_EQ(PreloadResources(&run.context, &run.applet, nullptr), 0u);
            bool firstGets = !noOverride;
            bool secondGets = !noOverride && all;
            EXPECT_EQ(first->mode, firstGets ? 2u : 0u);
            EXPECT_EQ(first->scrWidth, firstGets ? 800 : -1);
            EXPECT_EQ(first->scaleWidth, firstGets ? -50 : 0);
            EXPECT_EQ(first->flags & 17u, firstGets ? 17u : 0u);
            EXPECT_EQ(first->backfill.desc.hideTitleBar, firstGets ? 1u : 0u);
            EXPECT_EQ(second->mode, secondGets ? 2u : 0u);
            EXPECT_EQ(second->flags & 17u, secondGets ? 17u : 0u);
        }
    }
}

TEST(Preload, WholeBackfillReplacesTheDeclaredOne)
{
    PreloadRun run;
    DisplayDesc* desc = run.Add(1);
    desc->backfill.desc.kind = 3;
    desc->backfill.desc.brush = 9;
    run.applet.backfill.kind = 1;
    run.applet.backfill.color1 = 0xABCDEF;
    ASSERT_EQ(PreloadResources(&run.context, &run.applet, nullptr), 0u);
    EXPECT_EQ(desc->backfill.desc.kind, 1u);
    EXPECT_EQ(desc->backfill.desc.color1, 0xABCDEFu);
}

TEST(Preload, DeclaredDisplaysAreCreatedThroughTheScriptCommand)
{
    VmState* vm = VmOpenState();
    VmPushValue(vm, VM_GLOBALSINDEX);
    ASSERT_EQ(OpenDisplayLibrary(vm), 0u);
    VmSetTop(vm, 0);
    {
        PreloadRun run;
        DisplayDesc* second = run.Add(7);
        second->width = 320;
        second->height = 200;
        second->flags |= DISPFLAG_BORDERLESS | DISPFLAG_HIDDEN;
        std::snprintf(second->title, sizeof second->title, "%s", "Second");
        run.applet.displayMode = 1;
        ASSERT_EQ(PreloadResources(&run.context, &run.applet, vm), 0u);
        EXPECT_EQ(VmGetTop(vm), 0);

        Display* display = nullptr;
        ASSERT_EQ(FindDisplay(MakeObjectId(7), &display), 0u);
        EXPECT_EQ(display->width, 320);
        EXPECT_EQ(display->height, 200);
        EXPECT_STREQ(display->title, "Second");
        EXPECT_NE(display->windowFlags & DISPFLAG_BORDERLESS, 0u);
        EXPECT_EQ(display->hidden, 1u);
        ASSERT_EQ(FindDisplay(MakeObjectId(1), &display), 0u);
        EXPECT_EQ(display->width, 640);
        EXPECT_EQ(display->mode, 1u);  // the start-up option reached display 1 only
    }
    {
        PreloadRun run;
        run.Add(3)->width = 0;
        EXPECT_EQ(PreloadResources(&run.context, &run.applet, vm), ERR_DISPLAYSIZE);
        EXPECT_EQ(VmGetTop(vm), 0);
    }
    CloseDisplayLibrary(vm);
    VmCloseState(vm);
}

// What the fake picture commands received: id, file and option keys.
std::vector<std::string> calls;

uint32_t RecordCall(VmState* vm, const char* command)
{
    std::string line = std::string(command) + " " + std::to_string(static_cast<int>(VmGetNumber(vm, 1))) + " " +
                       VmGetString(vm, 2);
    if (VmType(vm, 3) == VM_TTABLE) {
        std::vector<std::string> keys;
        VmPushNil(vm);
        while (VmNext(vm, 3)) {
            std::string value = VmType(vm, -1) == VM_TSTRING ? VmGetString(vm, -1)
                                                             : std::to_string(static_cast<long long>(VmGetNumber(vm, -1)));
            keys.push_back(std::string(VmGetString(vm, -2)) + "=" + value);
            VmPop(vm, 1);
        }
        std::sort(keys.begin(), keys.end());
        for (const std::string& k : keys)
            line += " " + k;
    }
    calls.push_back(line);
    return 0;
}

uint32_t FakeLoadBrush(VmState* vm) { return RecordCall(vm, "brush"); }
uint32_t FakeLoadBGPic(VmState* vm) { return RecordCall(vm, "bgpic"); }

PreloadEntry* AddPicture(AppletInfo* applet, uint32_t kind, uint32_t id, const char* file, uint32_t line)
{
    auto* e = static_cast<PreloadEntry*>(OsAllocMem(sizeof(PreloadEntry), 1));
    e->kind = kind;
    e->id = id;
    e->line = line;
    e->transparentColor = -1;
    e->dataSize = static_cast<uint32_t>(std::strlen(file) + 1);
    e->data = static_cast<uint8_t*>(OsAllocMem(e->dataSize, 1));
    std::memcpy(e->data, file, e->dataSize);
    auto* words = static_cast<PreloadWords*>(OsAllocMem(sizeof(PreloadWords), 1));
    words->count = 10;
    e->details = words;
    std::snprintf(e->sourceFile, sizeof e->sourceFile, "%s", "/applets/app.qma");
    PreloadEntry** tail = &applet->preloadEntries;
    while (*tail)
        tail = &(*tail)->next;
    *tail = e;
    return e;
}

TEST(Preload, DeclarationsCallTheirCommandsWithIdFileAndOptions)
{
    VmState* vm = VmOpenState();
    const std::pair<const char*, VmNativeFunction> fakes[] = {{"loadbrush", FakeLoadBrush}, {"loadbgpic", FakeLoadBGPic}};
    for (auto [name, function] : fakes) {
        VmPushCString(vm, name);
        VmPushNativeFunction(vm, function);
        VmSetTable(vm, VM_GLOBALSINDEX);
    }
    calls.clear();
    {
        PreloadRun run;
        PreloadEntry* alpha = AddPicture(&run.applet, PRELOAD_BRUSH, 2, "a.png", 10);
        alpha->flags = 1 | 2;
        alpha->transparentColor = 0xFF00FF;
        std::snprintf(alpha->text1, sizeof alpha->text1, "%s", "inbuilt");
        PreloadEntry* linked = AddPicture(&run.applet, PRELOAD_BGPIC, 1, "pic.png", 11);
        linked->linkedOffset = 100;
        linked->linkedSize = 20;
        // The same file at the same scale is loaded once: the first one
        // caches it, the second takes it from the cache; another scale is
        // another picture.
        AddPicture(&run.applet, PRELOAD_BRUSH, 3, "Same.png", 12);
        AddPicture(&run.applet, PRELOAD_BRUSH, 4, "same.PNG", 13);
        static_cast<PreloadWords*>(AddPicture(&run.applet, PRELOAD_BRUSH, 5, "same.png", 14)->details)->words[6] = 50;
        ASSERT_EQ(PreloadResources(&run.context, &run.applet, vm), 0u);
    }
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0], "brush 2 a.png loadalpha=1 loader=inbuilt loadtransparency=1 transparency=16711935");
    EXPECT_EQ(calls[1], "bgpic 1 :::chunk100:20*pic.png?/applets/app.qma");
    EXPECT_EQ(calls[2], "brush 3 Same.png cache=1");
    EXPECT_EQ(calls[3], "brush 4 same.PNG cachedload=1");
    EXPECT_EQ(calls[4], "brush 5 same.png scalewidth=50");

    SetTags(nullptr, {{TAG_SCRIPTRUNNING, 0}, {TAG_END, 0}});
    VmErrorLine = -1;
    VmCloseState(vm);
}

}  // namespace
