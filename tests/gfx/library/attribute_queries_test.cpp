// GetAttribute where it does more than read a field.
#include <map>
#include <set>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/services/object_registry.h"
#include "display/intervals.h"
#include "display/object_list.h"
#include "display/output.h"
#include "display/pictures.h"
#include "display/script_refs.h"
#include "draw/draw_library.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/graphics_fixture.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/attribute_queries.h"

namespace {

enum : int { BGPIC = 1, BRUSH = 3, DISPLAY = 21, LAYER = 22, ASYNCDRAW = 37, EVENTHANDLER = 40, INTERVAL = 41,
             TIMEOUT = 42, FONT = 43 };

// An async draw producer of 7 frames standing at frame 4; it remembers what
// it was asked and answers nothing to any other message.
struct Producer { std::vector<std::pair<uint32_t, intptr_t>> asked; };

intptr_t ProducerMessage(uint32_t message, intptr_t argument, void* user)
{
    static_cast<Producer*>(user)->asked.emplace_back(message, argument);
    return message == ADMSG_FRAMECOUNT ? 7 : message == ADMSG_CURFRAME ? 4 : 0;
}

uint32_t ProducerFrame(void*, uint32_t*) { return 0; }
void ProducerCleanup(void*, uint32_t) {}

// A plugin type's handler that answers a negative count of values.
int GadgetHandler(void*, intptr_t, intptr_t) { return -1; }

class AttributeQueries : public GraphicsFixture {
protected:
    // Starts without a current display; display 1 stays open beside it.
    void SetUp() override
    {
        GraphicsFixture::SetUp();
        CurrentDisplay = nullptr;
        ASSERT_EQ(InitTextState(), 0);
    }
    void TearDown() override
    {
        CurrentDisplay = nullptr;
        FreeAllDisplays(vm);
        FreeGraphicsResources(vm);
        FreeAllBGPics(vm);
        FreeAllTimerObjects(vm);
        FreeTextResources(vm);
        GraphicsFixture::TearDown();
    }
    // The values a query answers; its error code (0 on success).
    uint32_t Ask(int type, Value id, int attribute, std::vector<Value>* results)
    {
        return CallGlobal(vm, "getattribute", {double(type), id, double(attribute)}, results);
    }
    Value One(int type, Value id, int attribute)
    {
        std::vector<Value> results;
        uint32_t error = Ask(type, id, attribute, &results);
        EXPECT_EQ(error, 0u) << "type " << type << " attribute " << attribute;
        return results.size() == 1 ? results[0] : Value{Nil{}};
    }
    uint32_t Error(int type, Value id, int attribute) { return Ask(type, id, attribute, nullptr); }
    // Display 3 made current, picture 6 of 8 x 6 and brush 9 of 4 x 4 with a mask.
    Display* ShowObjects(BGPic** picture, Brush** brush)
    {
        Display* d = MakeTestDisplay(vm, 3, 64, 48);
        EXPECT_NE(d, nullptr);
        CurrentDisplay = d;
        EXPECT_EQ(AddBGPic(vm, MakeObjectId(6), false, AllocColorBitMap(8, 6, 0, nullptr), nullptr, nullptr, 8, 6,
                           picture), 0u);
        EXPECT_EQ(AddBrush(vm, MakeObjectId(9), false, AllocColorBitMap(4, 4, 0, nullptr),
                           AllocMaskBitMap(nullptr, 4, 4, 1, nullptr, 0), nullptr, 4, 4, brush), 0u);
        return d;
    }
};

TEST_F(AttributeQueries, WithoutACurrentDisplayQueriesOnItAreErrors)
{
    ASSERT_EQ(CurrentDisplay, nullptr);
    for (int attribute : {ATTRWIDTH, ATTROUTPUTDEVICE, ATTRFONTNAME})
        EXPECT_EQ(Error(DISPLAY, 0.0, attribute), ERR_FINDDISPLAY) << attribute;
    EXPECT_EQ(Error(EVENTHANDLER, std::string("OnMouseDown"), ATTRFUNCTION), ERR_FINDDISPLAY);
    EXPECT_EQ(Error(LAYER, 1.0, ATTRWIDTH), ERR_NOLAYERS);
    // A global event's slot needs no display.
    EXPECT_EQ(One(EVENTHANDLER, std::string("OnMusicEnd"), ATTRFUNCTION), Value{0.0});
    // Nor does a picture, whose clip region is the current output's.
    BGPic* picture;
    ASSERT_EQ(AddBGPic(vm, MakeObjectId(4), false, AllocColorBitMap(8, 6, 0, nullptr), nullptr, nullptr, 8, 6,
                       &picture), 0u);
    EXPECT_EQ(One(BGPIC, 4.0, ATTRCLIPREGION), Value{-1.0});
}

TEST_F(AttributeQueries, LayerQueriesNeedLayersOnTheDisplay)
{
    Display* d = MakeTestDisplay(vm, 3, 64, 48);
    ASSERT_NE(d, nullptr);
    CurrentDisplay = d;
    // Layers on: a layer number finds no layer, a name no layer of that name.
    d->layersEnabled = 1;
    EXPECT_EQ(Error(LAYER, 1.0, ATTRWIDTH), ERR_LAYERRANGE);
    EXPECT_EQ(Error(LAYER, std::string("sky"), ATTRWIDTH), ERR_FINDLAYER);
    d->outputMode = OUTPUT_BRUSH;
    EXPECT_EQ(Error(LAYER, 1.0, ATTRWIDTH), ERR_NOLAYERS);
}

TEST_F(AttributeQueries, ShownPicturesAndBrushPlanes)
{
    BGPic* picture = nullptr;
    Brush* brush = nullptr;
    Display* d = ShowObjects(&picture, &brush);
    ASSERT_TRUE(d && picture && brush);
    // A picture shown on the display gives the display's size and id.
    d->shownBGPic = picture;
    EXPECT_EQ(One(DISPLAY, 3.0, ATTRWIDTH), Value{8.0});
    EXPECT_EQ(One(DISPLAY, 3.0, ATTRBGPIC), Value{6.0});
    d->shownBGPic = nullptr;
    brush->boundDisplay = d;
    EXPECT_EQ(One(BRUSH, 9.0, ATTRDISPLAY), Value{3.0});
    EXPECT_EQ(One(BRUSH, 9.0, ATTRHASMASK), Value{1.0});
    brush->hardware = 1;
    brush->planeFlags = BRUSHPLANE_ALPHA;
    EXPECT_EQ(One(BRUSH, 9.0, ATTRHASMASK), Value{0.0});
    EXPECT_EQ(One(BRUSH, 9.0, ATTRHASALPHA), Value{1.0});
    EXPECT_EQ(One(BRUSH, 9.0, ATTRHARDWARE), Value{1.0});
    brush->hardware = 0;
    // Pictures no loader read are the runtime's own.
    EXPECT_EQ(One(BRUSH, 9.0, ATTRLOADER), Value{std::string("inbuilt")});
    EXPECT_EQ(One(BGPIC, 6.0, ATTRLOADER), Value{std::string("inbuilt")});
}

// The message names the font asked for, whatever text an earlier error left.
TEST_F(AttributeQueries, MissingFontsAreNamedInTheMessage)
{
    SetErrorText("stale.png");
    EXPECT_EQ(Error(FONT, 3.0, ATTRFONTSIZE), ERR_FINDFONT2);
    char message[256];
    GetErrorText(ERR_FINDFONT2, message, sizeof message);
    EXPECT_STREQ(message, "Font 3 is not available in this size!");
}

TEST_F(AttributeQueries, IntervalsAnswerTheirTimeHandlerAndUserdata)
{
    VmPushNativeFunction(vm, [](VmState*) -> uint32_t { return 0; });
    int32_t function = TakeRegistryRef(vm);
    VmPushCString(vm, "tick data");
    int32_t userdata = TakeRegistryRef(vm);
    EventHandler handler{function, userdata, -1};
    ASSERT_EQ(AddInterval(vm, MakeObjectId(8), 1500, 0, &handler), 0u);
    EXPECT_EQ(One(INTERVAL, 8.0, ATTRDURATION), Value{1500.0});
    EXPECT_EQ(One(INTERVAL, 8.0, ATTRUSERDATA), Value{std::string("tick data")});
    EXPECT_EQ(Error(INTERVAL, 8.0, ATTRCOUNT), ERR_UNKNOWNATTR);
    // The function answered is the installed one.
    VmSetTop(vm, 0);
    VmPushString(vm, "getattribute");
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmPushNumber(vm, INTERVAL);
    VmPushNumber(vm, 8);
    VmPushNumber(vm, ATTRFUNCTION);
    ASSERT_EQ(VmPCall(vm, 3, 1, 0), 0u);
    PushRegistryRef(vm, function);
    EXPECT_TRUE(VmCompareRawEqual(vm, -1, -2));
    VmSetTop(vm, 0);
}

TEST_F(AttributeQueries, AsyncDrawObjectsAskTheirProducerForFrames)
{
    Producer producer;
    AsyncDrawNode *anim, *move;
    ASSERT_EQ(CreateAsyncDrawObject(ADF_ANIM, ProducerFrame, nullptr, nullptr, ProducerCleanup, ProducerMessage,
                                    &producer, &anim), 0u);
    ASSERT_EQ(CreateAsyncDrawObject(ADF_MOVEOBJECT, ProducerFrame, nullptr, nullptr, ProducerCleanup, nullptr,
                                    &producer, &move), 0u);
    const struct { AsyncDrawNode* node; int attribute; Value expected; } cases[] = {
        {anim, ATTRTYPE, 2.0},
        {anim, ATTRNUMFRAMES, 7.0},
        {anim, ATTRCURFRAME, 4.0},
        {move, ATTRTYPE, 1.0},
        {move, ATTRNUMFRAMES, -1.0},
        {move, ATTRCURFRAME, -1.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(One(ASYNCDRAW, Pointer{c.node}, c.attribute), c.expected) << "attribute " << c.attribute;
    using Asked = std::vector<std::pair<uint32_t, intptr_t>>;
    EXPECT_EQ(producer.asked, (Asked{{ADMSG_FRAMECOUNT, 0}, {ADMSG_CURFRAME, 0}}));
    EXPECT_EQ(One(ASYNCDRAW, 0.0, ATTRCOUNT), Value{2.0});
    EXPECT_EQ(Error(ASYNCDRAW, Pointer{anim}, ATTRWIDTH), ERR_UNKNOWNATTR);
    EXPECT_EQ(Error(ASYNCDRAW, 1.0, ATTRTYPE), ERR_FINDASYNCDRAW);
    FreeAsyncDrawNode(anim, vm, 0);
    EXPECT_EQ(Error(ASYNCDRAW, Pointer{anim}, ATTRTYPE), ERR_FINDARRAY);
}

TEST_F(AttributeQueries, PluginTypesAnswerThroughTheirHandler)
{
    ObjectHeader* gadgets = nullptr;
    uint32_t type = 0;
    ASSERT_EQ(RegisterObjectType(&gadgets, "Gadget", GadgetHandler, &type, 0), 0u);
    ASSERT_EQ(type, 58u);
    ObjectHeader record{};
    AppendObject(&gadgets, &record, type, MakeObjectId(3), false);
    EXPECT_EQ(Error(58, 3.0, 1), ERR_WRONGUSAGE) << "a negative answer is no Gosub request";
    // Below 58 the ids have no finder.
    EXPECT_EQ(Error(49, 3.0, ATTRWIDTH), ERR_UNKNOWNATTR);
    EXPECT_EQ(One(49, 3.0, ATTRCOUNT), Value{0.0});
    gadgets = nullptr;
}

// Listed attributes answer with a value or an error of their own, never as
// unknown; a missing object gives the error the list names.
TEST_F(AttributeQueries, EachTypeAnswersExactlyTheAttributesItLists)
{
    BGPic* picture = nullptr;
    Brush* brush = nullptr;
    ASSERT_TRUE(ShowObjects(&picture, &brush) && picture && brush);
    EventHandler none{-1, -1, -1};
    ASSERT_EQ(AddInterval(vm, MakeObjectId(8), 1500, 0, &none), 0u);
    ASSERT_EQ(AddTimeout(vm, MakeObjectId(8), 700, 0, &none), 0u);
    Producer producer;
    AsyncDrawNode* node;
    ASSERT_EQ(CreateAsyncDrawObject(ADF_ANIM, ProducerFrame, nullptr, nullptr, ProducerCleanup, ProducerMessage,
                                    &producer, &node), 0u);
    const std::map<int, Value> objects = {
        {BGPIC, 6.0}, {BRUSH, 9.0}, {DISPLAY, 3.0}, {INTERVAL, 8.0}, {TIMEOUT, 8.0},
        {ASYNCDRAW, Pointer{node}}, {EVENTHANDLER, std::string("closewindow")},
    };
    size_t checked = 0;
    for (size_t i = 0; i < AttributeTypeCount(); i++) {
        const AttributeTypeInfo& info = AttributeTypeAt(i);
        auto object = objects.find(static_cast<int>(info.type));
        if (object == objects.end())
            continue;
        std::set<int32_t> listed;
        for (size_t k = 0; k < info.answerCount; k++)
            listed.insert(info.answers[k].attribute);
        EXPECT_EQ(listed.size(), info.answerCount) << info.name << " lists an attribute twice";
        for (int32_t attribute = ATTRWIDTH; attribute <= ATTRLOADER; attribute++) {
            if (attribute == ATTRCOUNT)
                continue;
            uint32_t error = Ask(static_cast<int>(info.type), object->second, attribute, nullptr);
            if (listed.count(attribute))
                EXPECT_NE(error, ERR_UNKNOWNATTR) << info.name << " attribute " << attribute;
            else
                EXPECT_EQ(error, ERR_UNKNOWNATTR) << info.name << " attribute " << attribute;
        }
        Value missing = info.type == EVENTHANDLER ? Value{std::string("onnothing")} : Value{77.0};
        EXPECT_EQ(Ask(static_cast<int>(info.type), missing, info.answers[0].attribute, nullptr), info.notFound)
            << info.name;
        checked++;
    }
    EXPECT_EQ(checked, objects.size());
    // A missing object is reported before an unknown attribute.
    EXPECT_EQ(Error(BRUSH, 10.0, ATTRTITLE), ERR_FINDBRUSH);
    FreeAsyncDrawNode(node, vm, 0);
}

}  // namespace
