// Catalogs in both forms, built here byte by byte, the choice of the file by
// language, and catalog texts on their way into messages.
#include "core/io/byte_order.h"
#include "core/io/catalog.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/messages.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string Be32(uint32_t v)
{
    std::string s(4, '\0');
    StoreBE32(s.data(), v);
    return s;
}

std::string Chunk(const char* id, const std::string& body)
{
    return id + Be32(static_cast<uint32_t>(body.size())) + body + std::string(body.size() & 1, '\0');
}

struct Record {
    uint32_t number;
    std::string text;  // stored with its terminator unless raw is set
    bool raw = false;
};

// "FORM" <length> "CTLG" "FVER" <version text> "STRS" <records>; the version
// text keeps every file above the size from which the IFF form is read.
std::string IffCatalog(const std::vector<Record>& records)
{
    std::string strings;
    for (const Record& r : records) {
        std::string text = r.raw ? r.text : r.text + '\0';
        strings += Be32(r.number) + Be32(static_cast<uint32_t>(text.size())) + text;
        strings.resize((strings.size() + 3) / 4 * 4, '\0');
    }
    std::string body = "CTLG" + Chunk("FVER", "$VER: test.catalog 1.0 (07.12.2026) built by the catalog test\n") +
                       Chunk("STRS", strings);
    return "FORM" + Be32(static_cast<uint32_t>(body.size())) + body;
}

struct CatalogPtr {
    Catalog* catalog = nullptr;
    ~CatalogPtr() { OsCloseCatalog(catalog); }
};

int Parse(const std::string& bytes, CatalogPtr& out)
{
    return ParseCatalog(bytes.data(), bytes.size(), &out.catalog);
}

std::string Lookup(const Catalog* catalog, int32_t n)
{
    return OsGetCatalogString(catalog, n, "<default>");
}

class CatalogFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(root / "cwd");
        fs::current_path(root / "cwd");
    }
    void TearDown() override { fs::current_path(previous); }
    std::string Open(const char* name, int language)
    {
        CatalogPtr c{OpenCatalogForLanguage(name, language, (root / "prog").c_str())};
        return c.catalog ? Lookup(c.catalog, 0) : "<none>";
    }
    TempDir scratch;
    fs::path root = fs::absolute(scratch.path());
    fs::path previous = fs::current_path();
};

} // namespace

TEST(IffCatalog, AnswersByStringNumberAndDefaultsForGaps)
{
    CatalogPtr c;
    ASSERT_EQ(Parse(IffCatalog({{0, "zero"}, {1, "one"}, {5, "five, a little longer"}, {7, "", true}}), c), 0);
    const std::pair<int32_t, std::string> answers[] = {
        {0, "zero"}, {1, "one"}, {2, "<default>"}, {5, "five, a little longer"}, {7, ""}, {-1, "<default>"}};
    for (const auto& [n, text] : answers)
        EXPECT_EQ(Lookup(c.catalog, n), text) << n;
    EXPECT_EQ(Lookup(nullptr, 0), "<default>");
    // An end word inside the data ends the walk.
    CatalogPtr ended;
    ASSERT_EQ(Parse(IffCatalog({{0, "zero"}, {0xFFFFFFFF, "end"}, {3, "hidden"}}), ended), 0);
    EXPECT_EQ(Lookup(ended.catalog, 0), "zero");
    EXPECT_EQ(Lookup(ended.catalog, 3), "<default>");
}

TEST(IffCatalog, MalformedFilesAreRefused)
{
    std::string good = IffCatalog({{0, "zero"}, {1, "one"}});
    const std::pair<const char*, std::string> cases[] = {
        {"no CTLGFVER", std::string(good).replace(12, 4, "XXXX")},
        {"no STRS", std::string(good).replace(good.find("STRS"), 4, "DATA")},
        {"record past the end", IffCatalog({{0, "zero"}}) + Be32(1) + Be32(1000) + "short"},
        {"text without terminator", IffCatalog({{0, "zero"}, {1, "abcd", true}})},
        {"length near 2^32", IffCatalog({{0, "zero"}}) + Be32(2) + Be32(0xFFFFFFF0u) + "x"},
    };
    for (const auto& [what, bytes] : cases) {
        CatalogPtr c;
        EXPECT_EQ(Parse(bytes, c), static_cast<int>(ERR_FILEFORMAT)) << what;
        EXPECT_EQ(c.catalog, nullptr) << what;
    }
    // A few stray bytes behind the last record are padding, not an error.
    CatalogPtr tail;
    ASSERT_EQ(Parse(good + "abc", tail), 0);
    EXPECT_EQ(Lookup(tail.catalog, 1), "one");
}

TEST(TextCatalog, LinesAreStringsNumberedFromZero)
{
    // Each text and the answers for 0, 1, 2, ...
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"a\nb\nc", {"a", "b", "c", "<default>"}},
        {"a\nb\nc\n", {"a", "b", "c", "<default>"}},
        {"a\r\nb\r\nc", {"a", "b", "c", "<default>"}},
        {"a\rb\rc", {"a", "b", "c", "<default>"}},  // a bare CR keeps the next line whole
        {"a\n\nc", {"a", "", "c", "<default>"}},
        {"tab\\tnew\\nret\\rback\\\\x\\q", {"tab\tnew\nret\rback\\x\\", "<default>"}},
        {"ends in \\", {"ends in \\", "<default>"}},
        {"", {"", "<default>"}},
        {"FORM but short\nsecond", {"FORM but short", "second", "<default>"}},
    };
    for (const auto& [text, lines] : cases) {
        CatalogPtr c;
        ASSERT_EQ(Parse(text, c), 0) << text;
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(Lookup(c.catalog, static_cast<int32_t>(i)), lines[i]) << text << " line " << i;
        EXPECT_EQ(Lookup(c.catalog, -3), lines[0]);
    }
}

TEST(CatalogMessages, CatalogTextsReplaceMessagesAndStayData)
{
    uint32_t findFile = ErrorMessageIds[ERR_FINDFILE - ERR_FIRST_BUILTIN];
    CatalogPtr c;
    ASSERT_EQ(Parse(IffCatalog({{MSG_FILE, "Datei"}, {findFile, "Datei %ld: 50% %n %x fertig"}}), c), 0);
    runtimeCatalog = c.catalog;
    EXPECT_STREQ(GetString(MSG_FILE), "Datei");
    EXPECT_STREQ(GetString(MSG_CURRENT_LINE), "current line");
    SetErrorArgNumber(7);
    char out[ERROR_MESSAGE_SIZE];
    GetErrorText(ERR_FINDFILE, out, sizeof out);
    EXPECT_STREQ(out, "Datei 7: 50% %n %x fertig");
    runtimeCatalog = nullptr;
    EXPECT_STREQ(GetString(MSG_FILE), "File");
}

// The English folder name comes before the native one, and the first file
// that opens decides.
TEST_F(CatalogFiles, TheFirstFileThatOpensDecidesEvenWhenBroken)
{
    std::string broken = IffCatalog({{0, "zero"}});
    broken.replace(broken.find("STRS"), 4, "NOPE");
    WriteFileText(root / "prog/Catalogs/german/app.catalog", broken);
    WriteFileText(root / "prog/Catalogs/deutsch/app.catalog", "usable\n");
    EXPECT_EQ(Open("app.catalog", 1), "<none>");
    fs::create_directories(root / "prog/Catalogs/italian/app.catalog");  // a folder is no file
    WriteFileText(root / "prog/Catalogs/italiano/app.catalog", "italiano\n");
    EXPECT_EQ(Open("app.catalog", 3), "italiano");
    // The current folder comes before the program's; native names are in Latin-1.
    WriteFileText(root / "prog/Catalogs/french/app.catalog", "program\n");
    WriteFileText(root / "cwd/Catalogs/fran\xE7" "ais/app.catalog", "current\n");
    EXPECT_EQ(Open("app.catalog", 4), "current");
    // Folder names in UTF-8 are not the Latin-1 bytes looked for; Russian
    // users read the folder "unknown".
    WriteFileText(root / "cwd/Catalogs/espa\xC3\xB1ol/app.catalog", "utf-8\n");
    EXPECT_EQ(Open("app.catalog", 5), "<none>");
    WriteFileText(root / "cwd/Catalogs/unknown/app.catalog", "unknown\n");
    EXPECT_EQ(Open("app.catalog", 17), "unknown");
    // English and unknown users use no catalog.
    WriteFileText(root / "prog/Catalogs/english/app.catalog", "english\n");
    WriteFileText(root / "prog/Catalogs/german/app.catalog", "german\n");
    for (int language : {0, LANGUAGE_NONE, -1})
        EXPECT_EQ(Open("app.catalog", language), "<none>") << language;
    EXPECT_EQ(Open("missing.catalog", 1), "<none>");
}

TEST_F(CatalogFiles, UserLanguageComesFromTheLocale)
{
    WriteFileText(root / "cwd/Catalogs/swedish/locale.catalog", "svenska\n");
    WriteFileText(root / "cwd/Catalogs/unknown/locale.catalog", "russian\n");
    const char* saved = getenv("LC_ALL");
    std::string previousValue = saved ? saved : "";
    auto openAs = [](const char* locale) {
        setenv("LC_ALL", locale, 1);
        return OsOpenCatalog("locale.catalog");
    };
    CatalogPtr swedish{openAs("sv_SE.UTF-8")}, russian{openAs("ru_RU.UTF-8")}, none{openAs("C")};
    if (saved)
        setenv("LC_ALL", previousValue.c_str(), 1);
    else
        unsetenv("LC_ALL");
    EXPECT_EQ(Lookup(swedish.catalog, 0), "svenska");
    EXPECT_EQ(Lookup(russian.catalog, 0), "russian");
    EXPECT_EQ(none.catalog, nullptr);
}
