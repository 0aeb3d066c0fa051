// The REQUIRETAGS parser: well-formed values give their groups in order,
// with typed settings; every malformed value is refused as a whole.
#include "core/startup/require_tags.h"

#include <gtest/gtest.h>

#include "core/io/error_codes.h"

namespace {

TEST(RequireTags, GroupsAndTypedSettings)
{
    std::vector<RequireTagGroup> groups;
    ASSERT_EQ(ParseRequireTags(" vec_fonts[quality=2, Engine='free type',on=true,off=false,hex=$1F,"
                               "neg=-1.5e1,word=fast] empty[]  mp3[x='']",
                               &groups),
              0u);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].plugin, "vec_fonts");
    EXPECT_EQ(groups[1].plugin, "empty");
    EXPECT_TRUE(groups[1].settings.empty());
    struct Expect {
        const char* key;
        bool isText;
        double number;
        const char* text;
    } expected[] = {
        {"quality", false, 2, ""}, {"Engine", true, 0, "free type"}, {"on", false, 1, ""}, {"off", false, 0, ""},
        {"hex", false, 31, ""},    {"neg", false, -15, ""},          {"word", true, 0, "fast"},
    };
    ASSERT_EQ(groups[0].settings.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const RequireTagSetting& s = groups[0].settings[i];
        EXPECT_EQ(s.key, expected[i].key);
        EXPECT_EQ(s.isText, expected[i].isText) << s.key;
        if (s.isText)
            EXPECT_EQ(s.text, expected[i].text) << s.key;
        else
            EXPECT_EQ(s.number, expected[i].number) << s.key;
    }
    ASSERT_EQ(groups[2].settings.size(), 1u);
    EXPECT_TRUE(groups[2].settings[0].isText);
    EXPECT_EQ(groups[2].settings[0].text, "");

    for (const char* blank : {"", "   ", "\t"}) {
        EXPECT_EQ(ParseRequireTags(blank, &groups), 0u);
        EXPECT_TRUE(groups.empty());
    }
}

TEST(RequireTags, MalformedValuesAreRefused)
{
    // More malformed values are refused in the player's tests.
    const char* cases[] = {"x",      "x[",         "x[1a=2]", "x[a=]",    "x[=1]",
                           "x[a 1]", "x[a=1 b=2]", "x[a=1]]", "x y[a=1]", "x[a=1][b=2]"};
    for (const char* text : cases) {
        std::vector<RequireTagGroup> groups(1);
        EXPECT_EQ(ParseRequireTags(text, &groups), uint32_t{ERR_REQUIRETAGFMT}) << text;
        EXPECT_TRUE(groups.empty()) << text;
    }
}

}  // namespace
