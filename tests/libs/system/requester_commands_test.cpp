// Requester commands through the scripted requester back end.
#include "core/io/error_codes.h"
#include "platform/posix/os_requester.h"
#include "system_fixture.h"

namespace {

class RequesterCommands : public SystemLibraryTest {
protected:
    void SetUp() override
    {
        SystemLibraryTest::SetUp();
        OsSetRequesterBackend(&ScriptedRequesterBackend);
        ScriptedRequesterReset();
    }
    void TearDown() override
    {
        ScriptedRequesterReset();
        OsSetRequesterBackend(nullptr);
        SystemLibraryTest::TearDown();
    }
};

const std::string kTitle = "Title", kBody = "Body";

// An answer with its text (the typed text, the path, the font's name),
// perhaps cancelled, perhaps with an index (the list item, the font size).
ScriptedAnswer Answered(const std::string& text, bool cancel = false, int index = -1)
{
    ScriptedAnswer a;
    a.text = text;
    a.cancel = cancel;
    a.index = index;
    return a;
}

TEST_F(RequesterCommands, SystemRequestAnswersTheButton)
{
    ScriptedAnswer a;
    a.button = 2;
    ScriptedRequesterPush(a);
    EXPECT_EQ(One("SystemRequest", {kTitle, kBody, std::string("Yes|No|Cancel")}), Value{2.0});
    a = {};
    a.error = ERR_USERABORT;
    ScriptedRequesterPush(a);
    EXPECT_EQ(Call("SystemRequest", {kTitle, kBody, std::string("OK")}), 0u);
    ASSERT_EQ(ScriptedRequesterLog().size(), 2u);
    EXPECT_EQ(ScriptedRequesterLog()[0].kind, "system");
    EXPECT_EQ(ScriptedRequesterLog()[0].body, kBody);
}

TEST_F(RequesterCommands, StringRequestDefaultsAndLimits)
{
    std::vector<Value> r;
    // A maximum of 0 keeps the default whole.
    ASSERT_EQ(Call("StringRequest", {kTitle, kBody, std::string("hello"), 0.0, 0.0}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{std::string("hello"), 1.0}));
    ASSERT_EQ(Call("StringRequest", {kTitle, kBody, std::string("hello"), 0.0, 3.0}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{std::string("hel"), 1.0}));
    ScriptedRequesterPush(Answered("typed", true));
    ASSERT_EQ(Call("StringRequest", {kTitle, kBody}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{std::string("typed"), 0.0}));

    const std::vector<Value> bad[] = {
        {kTitle, kBody, std::string(""), 1.0}, {kTitle, kBody, std::string(""), 0.0, 1025.0},
        {kTitle, kBody, std::string(""), 0.0, -1.0}, {kTitle, kBody, std::string("12a"), 3.0},
    };
    for (const std::vector<Value>& args : bad)
        EXPECT_EQ(Call("StringRequest", args), static_cast<uint32_t>(ERR_WRONGUSAGE));
    ASSERT_EQ(Call("StringRequest", {kTitle, kBody, std::string("42"), 3.0}, &r), 0u);
    EXPECT_EQ(r[0], Value{std::string("42")});
}

TEST_F(RequesterCommands, FileRequestJoinsPathsAndRemembersThem)
{
    ScriptedAnswer a = Answered("/data/a.txt");
    ScriptedRequesterPush(a);
    EXPECT_EQ(One("FileRequest", {kTitle}), Value{std::string("/data/a.txt")});
    EXPECT_EQ(SystemState.lastFileFolder + "|" + SystemState.lastFile, "/data|a.txt");

    a.files = {"b.txt", "c d.txt"};
    ScriptedRequesterPush(a);
    int base;
    ASSERT_EQ(CallKeep("FileRequest", {kTitle, std::string(""), 1.0}, &base), 0u);
    EXPECT_EQ(ReadArray(base + 1, 5), (std::vector<Value>{std::string("/data/a.txt"), std::string("/data/b.txt"),
                                                          std::string("/data/c d.txt"), std::string(""), Nil{}}));
    VmSetTop(vm, base);

    ScriptedRequesterPush(Answered("", true));
    EXPECT_EQ(One("FileRequest", {kTitle}), Value{std::string("")});
    ScriptedRequesterPush(Answered("", true));
    ASSERT_EQ(CallKeep("FileRequest", {kTitle, std::string(""), 1.0 + 65536.0}, &base), 0u);
    EXPECT_EQ(ReadArray(base + 1, 2), (std::vector<Value>{std::string(""), Nil{}}));
    EXPECT_EQ(Call("FileRequest", {kTitle, std::string(""), 3.0}), static_cast<uint32_t>(ERR_WRONGUSAGE));
}

TEST_F(RequesterCommands, PathListFontAndColour)
{
    ScriptedRequesterPush(Answered("/home/x"));
    EXPECT_EQ(One("PathRequest", {kTitle}), Value{std::string("/home/x")});
    EXPECT_EQ(SystemState.lastPath, "/home/x");
    EXPECT_EQ(Call("PathRequest", {kTitle, 1.0}), static_cast<uint32_t>(ERR_WRONGUSAGE));

    VmPushString(vm, kTitle.c_str());
    int title = VmGetTop(vm);
    VmPushString(vm, kBody.c_str());
    int body = VmGetTop(vm);
    int choices = PushArray({std::string("one"), std::string(""), std::string("three")});
    ScriptedRequesterPush(Answered("", false, 2));
    EXPECT_EQ(One("ListRequest", {}, {title, body, choices}), Value{2.0});
    // Without an answer the default stands; one outside the choices is none.
    EXPECT_EQ(One("ListRequest", {1.0}, {title, body, choices}), Value{1.0});
    EXPECT_EQ(One("ListRequest", {7.0}, {title, body, choices}), Value{-1.0});
    int mixed = PushArray({std::string("one")});
    SetField(mixed, 1.0, Slot{NewTable()});
    EXPECT_EQ(Call("ListRequest", {}, nullptr, {title, body, mixed}), static_cast<uint32_t>(ERR_STREXPECTED));
    int empty = PushArray({});
    EXPECT_EQ(Call("ListRequest", {}, nullptr, {title, body, empty}), static_cast<uint32_t>(ERR_WRONGUSAGE));

    EXPECT_EQ(One("ColorRequest", {kTitle, 255.0}), Value{255.0});
    ScriptedAnswer a;
    a.color = 0x123456;
    ScriptedRequesterPush(a);
    EXPECT_EQ(One("ColorRequest", {kTitle}), Value{static_cast<double>(0x123456)});

    ScriptedRequesterPush(Answered("Vera", false, 14));
    int base;
    ASSERT_EQ(CallKeep("FontRequest", {kTitle}, &base), 0u);
    EXPECT_EQ(Field(base + 1, "name"), Value{std::string("Vera")});
    EXPECT_EQ(Field(base + 1, "size"), Value{14.0});
}

}  // namespace
