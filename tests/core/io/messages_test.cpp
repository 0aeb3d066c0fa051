// The error table and the message table: invariants that hold for every
// entry, and the texts that scripts and users already know.
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/messages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

// The enum as written in the header, read back from the source tree.
std::map<std::string, uint32_t> ReadErrorEnum()
{
    std::string path = std::string(QM_SOURCE_DIR) + "/core/io/error_codes.h";
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::stringstream text;
    text << in.rdbuf();
    std::string source = text.str();
    std::map<std::string, uint32_t> codes;
    std::regex entry(R"(\b(ERR_[A-Z0-9_]+) = (\d+),)");
    for (auto it = std::sregex_iterator(source.begin(), source.end(), entry); it != std::sregex_iterator();
         ++it) {
        std::string name = (*it)[1];
        EXPECT_EQ(codes.count(name), 0u) << name << " declared twice";
        codes[name] = static_cast<uint32_t>(std::stoul((*it)[2]));
    }
    return codes;
}

int CountPlaceholders(const char* text)
{
    int count = 0;
    for (const char* p = text; *p; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        if (p[1] == 's' || p[1] == 'd' || (p[1] == 'l' && p[2] == 'd'))
            ++count;
    }
    return count;
}

} // namespace

TEST(ErrorTable, NamesAndNumbersAreUniqueAndCoverTheBuiltinRange)
{
    auto codes = ReadErrorEnum();
    EXPECT_EQ(codes.size(), 578u);
    std::set<uint32_t> numbers;
    for (const auto& [name, number] : codes) {
        EXPECT_TRUE(numbers.insert(number).second) << name << " reuses " << number;
        if (name != "ERR_NONE") {
            EXPECT_GE(number, ERR_FIRST_BUILTIN) << name;
            EXPECT_LE(number, ERR_LAST_BUILTIN) << name;
        }
    }
    for (uint32_t gap : {1249u, 1406u, 1407u, 1408u})
        EXPECT_EQ(numbers.count(gap), 0u) << gap;
    EXPECT_EQ(numbers.size(), 1u + (ERR_LAST_BUILTIN - ERR_FIRST_BUILTIN + 1) - 4);
}

TEST(MessageTable, IdsAreTheirPositionsAndTextsHaveAtMostOnePlaceholder)
{
    for (uint32_t id = 0; id < MESSAGE_COUNT; ++id) {
        EXPECT_EQ(MessageTable[id].id, id);
        if (MessageTable[id].text) {
            EXPECT_LE(CountPlaceholders(MessageTable[id].text), 1) << id << ": " << MessageTable[id].text;
        }
    }
}

TEST(MessageTable, EveryCodeHasItsOwnText)
{
    auto codes = ReadErrorEnum();
    std::map<uint32_t, std::string> owner;
    for (const auto& [name, number] : codes) {
        if (number == ERR_NONE)
            continue;
        uint32_t id = ErrorMessageIds[number - ERR_FIRST_BUILTIN];
        if (number == ERR_OPENFONT || number == ERR_ERRORCALLED) {
            EXPECT_EQ(id, MESSAGE_FROM_ERROR_TEXT) << name;
            continue;
        }
        ASSERT_LT(id, MESSAGE_COUNT) << name;
        EXPECT_NE(MessageTable[id].text, nullptr) << name;
        EXPECT_NE(id, MSG_UNKNOWN_ERROR_CODE) << name;
        EXPECT_TRUE(owner.emplace(id, name).second) << name << " shares its text with " << owner[id];
    }
    for (uint32_t gap : {1249u, 1406u, 1407u, 1408u})
        EXPECT_EQ(ErrorMessageIds[gap - ERR_FIRST_BUILTIN], MSG_UNKNOWN_ERROR_CODE) << gap;
}

TEST(MessageTable, KnownTextsStandAsPublished)
{
    struct Case { uint32_t code; const char* text; };
    const Case cases[] = {
        {ERR_UNKNOWNCMD, "Unknown command %s !"},
        {ERR_WRONGUSAGE, "Wrong usage/parameters for this command!\nRead the documentation!"},
        {ERR_PLAYERCOMP, "Compilation is not possible with QuillmerePlayer!"},
        {ERR_OLDAPPLET, "This functionality is only available to applets compiled by Quillmere %s or higher!"},
        {ERR_LOADPLUGIN, "Error loading plugin \"%s\"!"},
        {ERR_SOCKET, "The following network error occurred:\n%s"},
        {ERR_INTERNAL1, "Internal limit reached! Error code %s."},
        {ERR_FILEFORMAT, "File format error!"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(GetErrorMessage(c.code), c.text) << c.code;
}
