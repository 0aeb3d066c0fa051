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
#include <fstream>
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
    std::string chunk = id + Be32(static_cast<uint32_t>(body.size())) + body;
    if (body.size() & 1)
        chunk.push_back('\0');
    return chunk;
}

struct Record {
    uint32_t number;
    std::string text;        // stored with its terminator unless raw is set
    bool raw = false;
};

std::string Records(const std::vector<Record>& records)
{
    std::string out;
    for (const Record& r : records) {
        std::string text = r.raw ? r.text : r.text + '\0';
        out += Be32(r.number) + Be32(static_cast<uint32_t>(text.size())) + text;
        while (out.size() % 4)
            out.push_back('\0');
    }
    return out;
}

// "FORM" <length> "CTLG" "FVER" <version text> "STRS" <records>; the version
// text keeps every file above the size from which the IFF form is read.
std::string IffCatalog(const std::vector<Record>& records)
{
    std::string body = "CTLG" + Chunk("FVER", "$VER: test.catalog 1.0 (07.12.2026) built by the catalog test\n") +
                       Chunk("STRS", Records(records));
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

void WriteFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
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
        CatalogPtr c;
        c.catalog = OpenCatalogForLanguage(name, language, (root / "prog").c_str());
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
    EXPECT_EQ(Lookup(c.catalog, 0), "zero");
    EXPECT_EQ(Lookup(c.catalog, 1), "one");
    EXPECT_EQ(Lookup(c.catalog, 2), "<default>");
    EXPECT_EQ(Lookup(c.catalog, 5), "five, a little longer");
    EXPECT_EQ(Lookup(c.catalog, 7), "");
    EXPECT_EQ(Lookup(c.catalog, -1), "<default>");
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
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::string noVersion = good;
    noVersion.replace(12, 4, "XXXX");
    std::string noStrings = good;
    noStrings.replace(noStrings.find("STRS"), 4, "DATA");
    std::string pastEnd = IffCatalog({{0, "zero"}}) + Be32(1) + Be32(1000) + "short";
    std::string unterminated = IffCatalog({{0, "zero"}, {1, "abcd", true}});
    std::string hugeLength = IffCatalog({{0, "zero"}}) + Be32(2) + Be32(0xFFFFFFF0u) + "x";
    const Case cases[] = {
        {"no CTLGFVER", noVersion},
        {"no STRS", noStrings},
        {"record past the end", pastEnd},
        {"text without terminator", unterminated},
        {"length near 2^32", hugeLength},
    };
    for (const Case& k : cases) {
        CatalogPtr c;
        EXPECT_EQ(Parse(k.bytes, c), static_cast<int>(ERR_FILEFORMAT)) << k.what;
        EXPECT_EQ(c.catalog, nullptr) << k.what;
    }
    // A few stray bytes behind the last record are padding, not an error.
    CatalogPtr tail;
    ASSERT_EQ(Parse(good + "abc", tail), 0);
    EXPECT_EQ(Lookup(tail.catalog, 1), "one");
}

TEST(TextCatalog, LinesAreStringsNumberedFromZero)
{
    struct Case {
        std::string text;
        std::vector<std::string> lines;  // expected answers for 0, 1, 2, ...
    } cases[] = {
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
    for (const Case& k : cases) {
        CatalogPtr c;
        ASSERT_EQ(Parse(k.text, c), 0) << k.text;
        for (size_t i = 0; i < k.lines.size(); ++i)
            EXPECT_EQ(Lookup(c.catalog, static_cast<int32_t>(i)), k.lines[i]) << k.text << " line " << i;
        EXPECT_EQ(Lookup(c.catalog, -3), k.lines[0]);
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
    WriteFile(root / "prog/Catalogs/german/app.catalog", broken);
    WriteFile(root / "prog/Catalogs/deutsch/app.catalog", "usable\n");
    EXPECT_EQ(Open("app.catalog", 1), "<none>");
    fs::create_directories(root / "prog/Catalogs/italian/app.catalog");  // a folder is no file
    WriteFile(root / "prog/Catalogs/italiano/app.catalog", "italiano\n");
    EXPECT_EQ(Open("app.catalog", 3), "italiano");
    // The current folder comes before the program's; native names are in Latin-1.
    WriteFile(root / "prog/Catalogs/french/app.catalog", "program\n");
    WriteFile(root / "cwd/Catalogs/fran\xE7" "ais/app.catalog", "current\n");
    EXPECT_EQ(Open("app.catalog", 4), "current");
    // Folder names in UTF-8 are not the Latin-1 bytes looked for; Russian
    // users read the folder "unknown".
    WriteFile(root / "cwd/Catalogs/espa\xC3\xB1ol/app.catalog", "utf-8\n");
    EXPECT_EQ(Open("app.catalog", 5), "<none>");
    WriteFile(root / "cwd/Catalogs/unknown/app.catalog", "unknown\n");
    EXPECT_EQ(Open("app.catalog", 17), "unknown");
    // English and unknown users use no catalog.
    WriteFile(root / "prog/Catalogs/english/app.catalog", "english\n");
    WriteFile(root / "prog/Catalogs/german/app.catalog", "german\n");
    EXPECT_EQ(Open("app.catalog", 0), "<none>");
    EXPECT_EQ(Open("app.catalog", LANGUAGE_NONE), "<none>");
    EXPECT_EQ(Open("app.catalog", -1), "<none>");
    EXPECT_EQ(Open("missing.catalog", 1), "<none>");
}

TEST_F(CatalogFiles, UserLanguageComesFromTheLocale)
{
    WriteFile(root / "cwd/Catalogs/swedish/locale.catalog", "svenska\n");
    const char* saved = getenv("LC_ALL");
    std::string previousValue = saved ? saved : "";
    setenv("LC_ALL", "sv_SE.UTF-8", 1);
    CatalogPtr swedish;
    swedish.catalog = OsOpenCatalog("locale.catalog");
    WriteFile(root / "cwd/Catalogs/unknown/locale.catalog", "russian\n");
    setenv("LC_ALL", "ru_RU.UTF-8", 1);
    CatalogPtr russian;
    russian.catalog = OsOpenCatalog("locale.catalog");
    setenv("LC_ALL", "C", 1);
    CatalogPtr none;
    none.catalog = OsOpenCatalog("locale.catalog");
    if (saved)
        setenv("LC_ALL", previousValue.c_str(), 1);
    else
        unsetenv("LC_ALL");
    ASSERT_NE(swedish.catalog, nullptr);
    EXPECT_EQ(Lookup(swedish.catalog, 0), "svenska");
    ASSERT_NE(russian.catalog, nullptr);
    EXPECT_EQ(Lookup(russian.catalog, 0), "russian");
    EXPECT_EQ(none.catalog, nullptr);
}
