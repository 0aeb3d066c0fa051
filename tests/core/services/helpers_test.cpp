// Path joining, '%' escaping, simple and exec lists.
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/services/lists.h"
#include "core/services/message_helpers.h"
#include "core/services/path_helpers.h"
#include "core/startup/run_records.h"
#include "platform/posix/os_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

TEST(PathHelpers, AddPartJoinsWithOneSeparator)
{
    struct Case {
        const char *dir, *name, *joined;
    } cases[] = {
        {"data", "x", "data/x"},   {"data/", "x", "data/x"},   {"data\\", "x", "data\\x"},
        {"", "x", "x"},            {"/", "x", "/x"},           {"a/b", "c/d", "a/b/c/d"},
        {"PROGDIR:", "x", "PROGDIR:/x"}, {"data", "", "data/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AddPart(c.dir, c.name), c.joined) << c.dir << " + " << c.name;
        char buffer[64];
        std::strcpy(buffer, c.dir);
        EXPECT_EQ(AddPart(buffer, sizeof buffer, c.name), 0u);
        EXPECT_STREQ(buffer, c.joined);
    }
    // A path that does not fit is left whole.
    char buffer[8] = "abc";
    EXPECT_EQ(AddPart(buffer, sizeof buffer, "defg"), static_cast<unsigned>(ERR_NAMETOOLONG));
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(AddPart(buffer, sizeof buffer, "def"), 0u);  // "abc/def" and its terminator fit exactly
    EXPECT_STREQ(buffer, "abc/def");
    char full[4] = {'a', 'b', 'c', 'd'};  // no terminator inside the buffer
    EXPECT_EQ(AddPart(full, sizeof full, ""), static_cast<unsigned>(ERR_NAMETOOLONG));
}

TEST(PathHelpers, PathFilePartFollowsTheLastSeparator)
{
    for (const char* path : {"a/b/pic.png", "C:\\dir\\pic.png", "PROGDIR:pic.png", "pic.png"})
        EXPECT_STREQ(PathFilePart(path), "pic.png") << path;
    EXPECT_STREQ(PathFilePart("dir/"), "");
    EXPECT_STREQ(PathFilePart(""), "");
}

TEST(MessageHelpers, EscapePercentDoublesEveryPercent)
{
    EXPECT_EQ(EscapePercent(""), nullptr);
    EXPECT_EQ(EscapePercent("no placeholders"), nullptr);
    for (auto [in, out] : {std::pair{"50%", "50%%"}, {"%s%d", "%%s%%d"}, {"%%", "%%%%"}, {"a % b", "a %% b"}}) {
        char* escaped = EscapePercent(in);
        ASSERT_NE(escaped, nullptr);
        EXPECT_STREQ(escaped, out);
        // The copy prints back as the original text through a formatter.
        char printed[32];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        std::snprintf(printed, sizeof printed, escaped);
#pragma GCC diagnostic pop
        EXPECT_STREQ(printed, in);
        OsFreeMem(escaped);
    }
}

TEST(SimpleLists, NeedASixAppletAndRemoveEveryMatch)
{
    AppletInfo applet{};
    applet.loaded = 1;
    applet.versionMajor = 5;
    ProgramAppletInfo = &applet;
    SimpleListNode* list = nullptr;
    EXPECT_EQ(AddToList(&list, 1), static_cast<uint32_t>(ERR_OLDAPPLET));
    EXPECT_EQ(list, nullptr);

    applet.versionMajor = 6;
    for (uintptr_t v : {1, 2, 1, 3, 1})
        ASSERT_EQ(AddToList(&list, v), 0u);
    RemoveFromList(&list, 1);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->value, 2u);
    ASSERT_NE(list->next, nullptr);
    EXPECT_EQ(list->next->value, 3u);
    EXPECT_EQ(list->next->next, nullptr);
    FreeSimpleList(list);
    ProgramAppletInfo = nullptr;
}

namespace {

struct Item {
    ExecNode node;
    int value;
};

std::vector<int> Values(ExecList* list)
{
    std::vector<int> values;
    for (ExecNode* n = list->first.succ; n->succ; n = n->succ)
        values.push_back(reinterpret_cast<Item*>(n)->value);
    // Walking backwards must give the same nodes.
    std::vector<int> backwards;
    for (ExecNode* n = list->last.pred; n->pred; n = n->pred)
        backwards.insert(backwards.begin(), reinterpret_cast<Item*>(n)->value);
    EXPECT_EQ(values, backwards);
    return values;
}

} // namespace

TEST(ExecLists, AddRemoveAndInsertKeepBothDirectionsLinked)
{
    ExecList list;
    InitList(&list);
    EXPECT_TRUE(IsListEmpty(&list));
    EXPECT_EQ(RemHeadNode(&list), nullptr);

    Item items[6];
    for (int i = 0; i < 6; ++i)
        items[i].value = i;
    AddTailNode(&list, &items[1].node);
    AddTailNode(&list, &items[2].node);
    AddHeadNode(&list, &items[0].node);
    EXPECT_EQ(Values(&list), (std::vector<int>{0, 1, 2}));

    InsertNode(&list, &items[3].node, nullptr);               // front
    InsertNode(&list, &items[4].node, ListEndNode(&list));    // end
    InsertNode(&list, &items[5].node, &items[1].node);        // after 1
    EXPECT_EQ(Values(&list), (std::vector<int>{3, 0, 1, 5, 2, 4}));

    RemoveNode(&items[5].node);
    RemoveNode(&items[4].node);
    EXPECT_EQ(RemHeadNode(&list), &items[3].node);
    EXPECT_EQ(Values(&list), (std::vector<int>{0, 1, 2}));
    while (RemHeadNode(&list)) {
    }
    EXPECT_TRUE(IsListEmpty(&list));
}
