// Display records, adapters, the frame limiter and the requesters as the
// display subsystem shows them.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "core/plugins/plugin_manager.h"
#include "core/startup/run_records.h"
#include "display/adapters.h"
#include "display/display.h"
#include "display/event_handlers.h"
#include "display/rects.h"
#include "display/requesters.h"
#include "platform/posix/os_runloop.h"

namespace {

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(InitPlatformGlue(), 0u); }
    void TearDown() override
    {
        FreeAllDisplays(nullptr);
        ResetAdapters();
        OsSetRequesterBackend(nullptr);
        ScriptedRequesterReset();
        OsShutdown();
    }
    Display* Make(uint32_t id)
    {
        DisplayOptions o;
        InitDisplayOptions(&o);
        Display* d = nullptr;
        EXPECT_EQ(CreateDisplayRecord(nullptr, MakeObjectId(id), false, o, &d), 0u);
        return d;
    }
};

TEST_F(DisplayTest, ReplacingAnOpenDisplayIsRefused)
{
    Display* d = Make(3);
    ASSERT_EQ(OpenDisplayRecord(d), 0u);
    DisplayOptions o;
    InitDisplayOptions(&o);
    Display* again;
    EXPECT_EQ(CreateDisplayRecord(nullptr, MakeObjectId(3), false, o, &again), uint32_t{ERR_FREEADISPLAY});
    CloseDisplayRecord(d);
    EXPECT_EQ(CreateDisplayRecord(nullptr, MakeObjectId(3), false, o, &again), 0u);
}

TEST_F(DisplayTest, FirstDisplayOpensWithDefaultsAndEndsAdapterSetup)
{
    EXPECT_TRUE(AdapterSetupOpen());
    ASSERT_EQ(OpenFirstDisplay(nullptr, nullptr, nullptr), 0u);
    ASSERT_NE(CurrentDisplay, nullptr);
    EXPECT_EQ(CurrentDisplay->header.id, 1u);
    EXPECT_EQ(CurrentDisplay->state, uint32_t{DISPSTATE_OPEN});
    EXPECT_FALSE(AdapterSetupOpen());
    PluginInfo late{};
    late.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    EXPECT_EQ(SetDisplayAdapter(&late, 0, nullptr), uint32_t{ERR_SETADAPTER});
}

TEST_F(DisplayTest, AdapterSetterRules)
{
    PluginInfo a{}, b{}, requester{};
    a.capabilities = PLUGINCAPS_REQUESTERADAPTER;
    EXPECT_EQ(SetDisplayAdapter(&a, 0, nullptr), uint32_t{ERR_WRONGUSAGE});
    EXPECT_EQ(SetDisplayAdapter(nullptr, 0, nullptr), uint32_t{ERR_WRONGUSAGE});
    EXPECT_FALSE(HaveDisplayAdapter());

    a.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    QmTagItem tags[] = {{1, 32}, {3, 0x77}, {0, 0}};
    ASSERT_EQ(SetDisplayAdapter(&a, ADAPTERFLAG_LOCKED, tags), 0u);
    EXPECT_TRUE(HaveDisplayAdapter());
    b.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    EXPECT_EQ(SetDisplayAdapter(&b, 0, nullptr), uint32_t{ERR_SETADAPTER}) << "locked adapter";
    EXPECT_EQ(DisplayAdapterPlugin, &a);

    ResetAdapters();
    ASSERT_EQ(SetDisplayAdapter(&b, 0, nullptr), 0u);
    ASSERT_EQ(SetDisplayAdapter(&a, 0, nullptr), 0u) << "an unlocked adapter may be replaced";

    ResetAdapters();
    AppletInfo old{};
    old.loaded = 1;
    old.versionMajor = 5;
    old.versionMinor = 9;
    AppletInfo* saved = ProgramAppletInfo;
    ProgramAppletInfo = &old;
    EXPECT_EQ(SetDisplayAdapter(&b, 0, nullptr), uint32_t{ERR_OLDAPPLET});
    ProgramAppletInfo = saved;
    requester.capabilities = PLUGINCAPS_REQUESTERADAPTER;
    EXPECT_EQ(SetRequesterAdapter(&b, 0), uint32_t{ERR_WRONGUSAGE});
    ASSERT_EQ(SetRequesterAdapter(&requester, 4), 0u);
    // A requester adapter without bound entry points leaves the platform in
    // charge; bound ones take over.
    OsSetRequesterBackend(&ScriptedRequesterBackend);
    ScriptedAnswer second;
    second.button = 2;
    ScriptedRequesterPush(second);
    int button = -1;
    EXPECT_EQ(ShowSystemRequester(nullptr, nullptr, "t", "b", "A|B|C", 0, 1, &button), 0u);
    EXPECT_EQ(button, 2);
    OsRequesterBackend plugin{};
    plugin.systemRequest = [](const char*, const char*, const char*, int, int* out) {
        *out = 7;
        return 0;
    };
    SetRequesterAdapterHooks(&plugin);
    EXPECT_EQ(ShowSystemRequester(nullptr, nullptr, "t", "b", "A|B|C", 0, 1, &button), 0u);
    EXPECT_EQ(button, 7);
}

int g_frames;
int CountFrame(void*, uint32_t message, void*)
{
    if (message == 5) ++g_frames;
    return 0;
}

TEST_F(DisplayTest, FrameWaitsRunTheFrameCallbacks)
{
    Display* d = Make(1);
    ASSERT_EQ(OpenDisplayRecord(d), 0u);
    ASSERT_EQ(AddDisplayCallback(d, CountFrame, nullptr, nullptr), 0u);
    g_frames = 0;
    for (int i = 0; i < 4; ++i) ASSERT_EQ(AdapterVWait(nullptr, d, 0), 0u);
    EXPECT_EQ(g_frames, 4);
}

// A frame callback may remove the callback after it and itself and add
// one: the signal goes on with the callbacks that were there when it began,
// minus those removed; the added one hears the next signal.
TEST_F(DisplayTest, AFrameCallbackMayRemoveTheNextCallbackAndItself)
{
    Display* d = Make(1);
    static std::vector<intptr_t> heard;
    static DisplayCallback* callbacks[3];
    heard.clear();
    auto callback = [](void* display, uint32_t, void* userData) {
        auto who = reinterpret_cast<intptr_t>(userData);
        heard.push_back(who);
        if (who == 1) {
            auto* owner = static_cast<Display*>(display);
            RemoveDisplayCallback(owner, callbacks[1]);
            RemoveDisplayCallback(owner, callbacks[0]);
            EXPECT_EQ(AddDisplayCallback(owner, CountFrame, nullptr, nullptr), 0u);
        }
        return 0;
    };
    for (intptr_t who = 1; who <= 3; ++who)
        ASSERT_EQ(AddDisplayCallback(d, callback, reinterpret_cast<void*>(who), &callbacks[who - 1]), 0u);
    g_frames = 0;
    SignalDisplayCallback(d, 5);
    EXPECT_EQ(heard, (std::vector<intptr_t>{1, 3}));
    EXPECT_EQ(g_frames, 0);
    SignalDisplayCallback(d, 5);
    EXPECT_EQ(heard, (std::vector<intptr_t>{1, 3, 3}));
    EXPECT_EQ(g_frames, 1);
}

// A callback that frees its display ends the signal: the display's other
// callbacks went with it.
TEST_F(DisplayTest, AFrameCallbackMayFreeItsDisplay)
{
    Display* d = Make(1);
    static int calls;
    calls = 0;
    auto freeDisplay = [](void* display, uint32_t, void*) {
        ++calls;
        FreeDisplayRecord(nullptr, static_cast<Display*>(display));
        return 0;
    };
    ASSERT_EQ(AddDisplayCallback(d, freeDisplay, nullptr, nullptr), 0u);
    ASSERT_EQ(AddDisplayCallback(d, CountFrame, nullptr, nullptr), 0u);
    g_frames = 0;
    SignalDisplayCallback(d, 5);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(g_frames, 0);
    Display* gone;
    EXPECT_EQ(FindDisplay(MakeObjectId(1), &gone), uint32_t{ERR_FINDDISPLAY});
}

// Hot spots are pulled onto the image through the pointer commands' tests.
TEST_F(DisplayTest, PointerImagesWithoutPixelsAreRefused)
{
    uint32_t pixels[4] = {1, 2, 3, 4};
    PointerImage* none = reinterpret_cast<PointerImage*>(pixels);
    int32_t w, h;
    EXPECT_NE(AdapterCreatePointerImage(pixels, 0, 2, 0, 0, &none, &w, &h), 0u);
    EXPECT_EQ(none, nullptr);
}

// ------------------------------------------------------------ requesters

TEST_F(DisplayTest, RequestersMarkTheDisplayAndDropItsInput)
{
    Display* d = Make(1);
    OpenDisplayRecord(d);
    static Display* watched;
    static uint32_t openWhileAsked;
    watched = d;
    OsRequesterBackend probe = ScriptedRequesterBackend;
    probe.systemRequest = [](const char*, const char*, const char*, int, int* out) {
        openWhileAsked = watched->requesterOpen;
        *out = 1;
        return 0;
    };
    OsSetRequesterBackend(&probe);
    d->mouseButtons = 1;
    int button = -1;
    EXPECT_EQ(ShowSystemRequester(nullptr, d, "t", "b", nullptr, 0, 1, &button), 0u);
    EXPECT_EQ(openWhileAsked, 1u);
    EXPECT_EQ(d->requesterOpen, 0u);
    EXPECT_EQ(d->mouseButtons, 0u);
    EXPECT_EQ(button, 1);
}

struct OverlapCase { int32_t a[4], b[4]; bool overlap; int32_t clip[4]; };

TEST(Rects, OverlapAndClipAgreeWithTheCornerForm)
{
    const OverlapCase cases[] = {
        {{0, 0, 10, 10}, {5, 5, 10, 10}, true, {5, 5, 5, 5}},
        {{0, 0, 10, 10}, {10, 0, 5, 5}, false, {10, 0, 0, 0}},   // touching edges share no pixel
        {{0, 0, 10, 10}, {9, 9, 5, 5}, true, {9, 9, 1, 1}},
        {{0, 0, 0, 10}, {0, 0, 10, 10}, false, {0, 0, 0, 0}},    // empty
        {{-5, -5, 10, 10}, {0, 0, 3, 3}, true, {0, 0, 3, 3}},    // inside
        {{2147483600, 0, 100, 10}, {0, 0, 10, 10}, false, {2147483600, 0, 0, 0}},  // no wrap
    };
    for (const OverlapCase& c : cases) {
        int32_t x, y, w, h;
        EXPECT_EQ(ClipRect(c.a[0], c.a[1], c.a[2], c.a[3], c.b[0], c.b[1], c.b[2], c.b[3], &x, &y, &w, &h), c.overlap);
        EXPECT_EQ(RectsOverlap(c.a[0], c.a[1], c.a[2], c.a[3], c.b[0], c.b[1], c.b[2], c.b[3]), c.overlap);
        if (c.overlap) {
            EXPECT_EQ((std::array<int32_t, 4>{x, y, w, h}),
                      (std::array<int32_t, 4>{c.clip[0], c.clip[1], c.clip[2], c.clip[3]}));
            // The corner form of the same rectangles says the same.
            EXPECT_TRUE(RectsIntersect(c.a[0], c.a[1], c.a[0] + c.a[2] - 1, c.a[1] + c.a[3] - 1, c.b[0],
                                       c.b[1], c.b[0] + c.b[2] - 1, c.b[1] + c.b[3] - 1));
        }
    }
}

}  // namespace
