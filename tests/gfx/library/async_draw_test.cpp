// Async draw objects driven by a test producer; under ASan no node is read after it is freed.
#include "core/io/error_codes.h"
#include "gfx/graphics_fixture.h"
#include "gfx/library/async_draw.h"
#include "support/assembled_script.h"

namespace {

struct Producer {
    int32_t count = 5, current = 0;
    uint32_t frameError = 0, finishFlag = 99, cleanupFlag = 99;
    intptr_t seekError = 0, pending = 0;
    void* object = nullptr;
    int frames = 0, seeks = 0, draws = 0, finishes = 0;
    std::vector<intptr_t> bgpicMessages;
};

uint32_t Frame(void* user, uint32_t* done)
{
    auto* p = static_cast<Producer*>(user);
    if (p->frameError) return p->frameError;
    ++p->frames;
    if (++p->current >= p->count) *done = 1;
    return 0;
}

void Finish(void* user, uint32_t flag)
{
    auto* p = static_cast<Producer*>(user);
    ++p->finishes;
    p->finishFlag = flag;
    p->current = p->count;
}

void Cleanup(void* user, uint32_t flag) { static_cast<Producer*>(user)->cleanupFlag = flag; }

intptr_t Message(uint32_t message, intptr_t argument, void* user)
{
    auto* p = static_cast<Producer*>(user);
    switch (message) {
    case ADMSG_FRAMECOUNT: return p->count;
    case ADMSG_CURFRAME: return p->current;
    case ADMSG_SEEK:
        ++p->seeks;
        if (!p->seekError) p->current = *reinterpret_cast<int32_t*>(argument);
        return p->seekError;
    case ADMSG_DRAW: ++p->draws; return 0;
    case ADMSG_OBJECT: *reinterpret_cast<void**>(argument) = p->object; return 0;
    case ADMSG_PENDING: *reinterpret_cast<intptr_t*>(argument) = p->pending; return 0;
    case ADMSG_BGPIC: p->bgpicMessages.push_back(argument); return 0;
    default: return 0;
    }
}

AsyncDrawNode* Make(Producer* p, uint32_t kind = ADF_FX)
{
    AsyncDrawNode* node = nullptr;
    EXPECT_EQ(CreateAsyncDrawObject(kind, Frame, nullptr, Finish, Cleanup, Message, p, &node), 0u);
    return node;
}

bool Alive(AsyncDrawNode* node)
{
    for (AsyncDrawNode* n = AsyncDrawList; n; n = reinterpret_cast<AsyncDrawNode*>(n->header.next))
        if (n == node) return true;
    return false;
}

// The test producer as a script command: testasyncdraw(frames) -> handle.
std::vector<Producer*> g_scriptProducers;
uint32_t CmdTestAsyncDraw(VmState* vm)
{
    auto* p = new Producer;
    p->count = VmCheckInteger(vm, 1);
    g_scriptProducers.push_back(p);
    AsyncDrawNode* node = Make(p);
    VmPushLightUserdata(vm, node);
    return 1;
}
const CommandTableEntry kTestCommands[] = {{"testasyncdraw", CmdTestAsyncDraw}, {nullptr, nullptr}};

class AsyncDraw : public GraphicsFixture {
protected:
    void SetUp() override
    {
        GraphicsFixture::SetUp();
        AddCommands(kTestCommands);
        display->layersEnabled = 1;
    }
    void TearDown() override
    {
        FreeAllDisplays(vm);
        FreeGraphicsResources(vm);
        EXPECT_EQ(AsyncDrawList, nullptr);
        GraphicsFixture::TearDown();
        for (Producer* p : g_scriptProducers) delete p;
        g_scriptProducers.clear();
    }
    uint32_t Frame(AsyncDrawNode* node, const std::vector<Value>& frame, double* result)
    {
        std::vector<Value> args{Pointer{node}};
        for (const Value& v : frame) args.push_back(v);
        std::vector<Value> results;
        uint32_t error = CallGlobal(vm, "asyncdrawframe", args, &results);
        if (!error && results.size() == 1) *result = std::get<double>(results[0]);
        return error;
    }
};

TEST_F(AsyncDraw, FramesAdvanceSeekAndFinishByTheirRules)
{
    struct Case {
        const char* name;
        std::vector<Value> frame;  // empty: no frame argument
        int32_t current;
        uint32_t done, error;
        double result;
        int frames, seeks;
        bool freed;
        int32_t currentAfter;
    };
    const std::vector<Case> cases = {
        {"the current frame draws nothing", {3.0}, 3, 0, 0, 0, 0, 0, false, 3},
        {"the frame after the current one", {4.0}, 3, 0, 0, 0, 1, 0, false, 4},
        {"frame 0 means the next", {0.0}, 2, 0, 0, 0, 1, 0, false, 3},
        {"a negative frame counts as 0", {-7.0}, 2, 0, 0, 0, 1, 0, false, 3},
        {"frame 0 of a done node finishes", {0.0}, 5, 1, 0, 1, 0, 0, true, 5},
        {"beyond the count", {6.0}, 2, 0, ERR_ANIMFRAME, -1, 0, 0, false, 2},
        {"beyond the count when done finishes", {6.0}, 5, 1, 0, 1, 0, 0, true, 5},
        {"seek back", {2.0}, 4, 0, 0, 0, 0, 1, false, 2},
        {"seek to the last frame is done", {5.0}, 2, 0, 0, 1, 0, 1, false, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Producer p;
        p.current = c.current;
        AsyncDrawNode* node = Make(&p);
        node->done = c.done;
        double result = -1;
        EXPECT_EQ(Frame(node, c.frame, &result), c.error);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(p.frames, c.frames);
        EXPECT_EQ(p.seeks, c.seeks);
        EXPECT_EQ(p.draws, c.seeks);  // a seek redraws the display's state
        EXPECT_EQ(p.current, c.currentAfter);
        EXPECT_EQ(Alive(node), !c.freed);
        if (c.freed) {
            EXPECT_EQ(p.finishFlag, 1u);
            EXPECT_EQ(p.cleanupFlag, 1u);
        } else {
            FreeAsyncDrawNode(node, vm, 0);
        }
    }
}

TEST_F(AsyncDraw, CommandErrorsLeaveTheNodeInPlace)
{
    Producer p;
    AsyncDrawNode* node = Make(&p);
    double result;
    p.frameError = ERR_MEM;
    EXPECT_EQ(Frame(node, {}, &result), uint32_t{ERR_MEM});
    EXPECT_TRUE(Alive(node));
    p.frameError = 0;
    p.seekError = ERR_ANIMFRAME;
    p.current = 1;
    EXPECT_EQ(Frame(node, {4.0}, &result), uint32_t{ERR_ANIMFRAME});
    p.seekError = 0;
    display->layersEnabled = 0;
    EXPECT_EQ(Frame(node, {4.0}, &result), uint32_t{ERR_NOLAYERS});
    display->layersEnabled = 1;
    // Outputs that cannot show a frame (the refresh blocks' tests go through
    // every one of them).
    display->outputMode = OUTPUT_MASK;
    EXPECT_EQ(Frame(node, {}, &result), uint32_t{ERR_SELECTMASK});
    display->outputMode = OUTPUT_DISPLAY;
    Display* other = MakeTestDisplay(vm, 2, 8, 8);
    CurrentDisplay = other;
    EXPECT_EQ(Frame(node, {}, &result), uint32_t{ERR_ADFWRONGDISP});
    CurrentDisplay = display;
    EXPECT_EQ(p.frames, 0);
    EXPECT_EQ(CallGlobal(vm, "asyncdrawframe", {7.0}), uint32_t{ERR_FINDASYNCDRAW});
    EXPECT_NE(CallGlobal(vm, "asyncdrawframe", {std::string("x")}), 0u);
    EXPECT_NE(CallGlobal(vm, "finishasyncdraw", {}), 0u);
    EXPECT_TRUE(Alive(node));
    // Cancel: clean-up with 0, and the handle is unknown afterwards.
    ASSERT_EQ(CallGlobal(vm, "cancelasyncdraw", {Pointer{node}}), 0u);
    EXPECT_EQ(p.cleanupFlag, 0u);
    EXPECT_EQ(p.finishes, 0);
    EXPECT_EQ(CallGlobal(vm, "cancelasyncdraw", {Pointer{node}}), uint32_t{ERR_FINDARRAY});
    EXPECT_EQ(Frame(node, {}, &result), uint32_t{ERR_FINDARRAY});
}

TEST_F(AsyncDraw, FinishPassesTheDoneFlag)
{
    for (uint32_t done : {0u, 1u}) {
        Producer p;
        AsyncDrawNode* node = Make(&p);
        node->done = done;
        ASSERT_EQ(CallGlobal(vm, "finishasyncdraw", {Pointer{node}}), 0u);
        EXPECT_EQ(p.finishFlag, done);
        EXPECT_EQ(p.cleanupFlag, done);
        EXPECT_FALSE(Alive(node));
    }
}

TEST_F(AsyncDraw, BackgroundPictureOutputIsBracketedAndRedrawn)
{
    Producer p;
    int object = 0;
    p.object = &object;
    AsyncDrawNode* node = Make(&p);
    display->outputMode = OUTPUT_BGPIC;
    double result;
    ASSERT_EQ(Frame(node, {}, &result), 0u);
    EXPECT_EQ(p.bgpicMessages, (std::vector<intptr_t>{1, 0}));
    // A seek redraws through the display rather than message 5.
    p.current = 1;
    ASSERT_EQ(Frame(node, {4.0}, &result), 0u);
    EXPECT_EQ(p.draws, 0);
    EXPECT_EQ(p.seeks, 1);
    display->outputMode = OUTPUT_DISPLAY;
    FreeAsyncDrawNode(node, vm, 0);
}

TEST_F(AsyncDraw, QueriesAndBroadcastReachTheRightNodes)
{
    Producer fx, move;
    int object = 0;
    move.object = &object;
    move.pending = 9;  // never asked: only transition nodes are
    AsyncDrawNode* a = Make(&fx, ADF_FX);
    Make(&move, ADF_MOVEOBJECT);
    EXPECT_EQ(QueryAsyncDrawPending(), 0);
    fx.pending = 3;
    EXPECT_EQ(QueryAsyncDrawPending(), 3);
    EXPECT_TRUE(IsAsyncDrawSource(&object));
    EXPECT_FALSE(IsAsyncDrawSource(&fx));
    EXPECT_TRUE(IsAsyncDrawTarget(display));
    BroadcastAsyncDrawMessage(ADMSG_DRAW, 0);
    EXPECT_EQ(fx.draws + move.draws, 2);
    FreeAsyncDrawNode(a, vm, 0);
    FreeAsyncDrawObjects(vm);
    EXPECT_EQ(move.cleanupFlag, 0u);
}

TEST_F(AsyncDraw, FreeingADisplayEndsOnlyItsObjects)
{
    Producer mine, theirs;
    AsyncDrawNode* kept = Make(&mine);
    Display* other = MakeTestDisplay(vm, 2, 8, 8);
    CurrentDisplay = other;
    AsyncDrawNode* gone = Make(&theirs);
    FreeDisplayRecord(vm, other);
    CurrentDisplay = display;
    EXPECT_FALSE(Alive(gone));
    EXPECT_EQ(theirs.cleanupFlag, 0u);
    EXPECT_TRUE(Alive(kept));
    EXPECT_TRUE(IsAsyncDrawTarget(display));
    FreeAsyncDrawNode(kept, vm, 0);
}

TEST_F(AsyncDraw, AnAssembledScriptRunsAProducerToItsEnd)
{
    // h = testasyncdraw(3); n = 0; repeat n = n + 1 until asyncdrawframe(h)
    ASSERT_EQ(RunAssembledScript(vm, R"(
        GETGLOBAL r0, "testasyncdraw"
        LOADK r1, #3
        CALL r0, 2, 2
        LOADK r1, #0
    loop:
        ADD r1, r1, #1
        GETGLOBAL r2, "asyncdrawframe"
        MOVE r3, r0
        CALL r2, 2, 2
        TEST r2, r2, 0
        JMP loop
        RETURN r1, 2
    )"), 0u);
    // Three frames and the call that finishes.
    EXPECT_EQ(VmGetNumber(vm, -1), 4);
    ASSERT_EQ(g_scriptProducers.size(), 1u);
    EXPECT_EQ(g_scriptProducers[0]->frames, 3);
    EXPECT_EQ(g_scriptProducers[0]->cleanupFlag, 1u);
}

}  // namespace
