// Preloading's display steps: display 1 added when the applet declares
// none, and the start-up options copied into display 1 or every display.
#include "core/preload.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "core/applet.h"
#include "core/command_services.h"
#include "core/io/error_codes.h"
#include "core/options.h"
#include "core/vm/vm.h"
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

TEST(Preload, DisplayOneIsAddedWithDefaults)
{
    PreloadRun run;
    ASSERT_EQ(PreloadResources(&run.context, &run.applet, nullptr), 0u);
    PreloadEntry* entry = FindPreloadDisplay(&run.applet);
    ASSERT_NE(entry, nullptr);
    auto* desc = static_cast<DisplayDesc*>(entry->details);
    EXPECT_EQ(desc->width, 640);
    EXPECT_EQ(desc->height, 480);
    EXPECT_EQ(desc->x, -100000);
    EXPECT_EQ(desc->y, -100000);
}

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

}  // namespace
