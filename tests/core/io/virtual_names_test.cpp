// Chunk and memory names: made and taken apart by one pair of helpers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/io/virtual_files.h"
#include "core/io/virtual_names.h"

namespace {

TEST(ChunkNames, SeparatorsAreTakenAtTheirFirstOccurrenceAndMalformedNamesRefused)
{
    struct Case { const char* name; const char* display; const char* file; const char* extension; uint64_t offset; };
    const Case cases[] = {
        {":::chunk5:6*a.b.c?dir/x?y.exe", "a.b.c", "dir/x?y.exe", ".c", 5},
        {":::chunk0:0*noext?", "noext", "", "", 0},
        {":::chunk18446744073709551615:0*big?f", "big", "f", "", UINT64_MAX}, {":::chunk7:1**?f", "*", "f", "", 7},
    };
    for (const Case& c : cases) {
        ChunkNameParts parts;
        ASSERT_TRUE(ParseChunkName(c.name, &parts)) << c.name;
        EXPECT_EQ(std::tie(parts.displayName, parts.file, parts.extension, parts.offset),
                  std::make_tuple(std::string_view(c.display), std::string_view(c.file),
                                  std::string_view(c.extension), c.offset));
    }
    // Malformed names are refused.
    const char* names[] = {
        "", "chunk1:2*a?b", ":::chunk", ":::chunk1", ":::chunk1:", ":::chunk1:2", ":::chunk1:2*a",
        ":::chunk-1:2*a?b", ":::chunk1:-2*a?b", ":::chunk 1:2*a?b", ":::chunk1;2*a?b",
        ":::chunk18446744073709551616:0*a?b", ":::chunk1:18446744073709551616*a?b", ":::chunk:5*a?b",
        ":::chunkS:0*a?unused", ":::chunkSx:0*a?unused",
    };
    for (const char* name : names) {
        ChunkNameParts parts;
        EXPECT_FALSE(ParseChunkName(name, &parts)) << name;
    }
    // Names that do not fit are not made.
    char small[16];
    EXPECT_FALSE(MakeChunkName("pic.png", small, sizeof small, 1, 2, 0, "container"));
    EXPECT_STREQ(small, "");
    char name[64];
    EXPECT_FALSE(MakeChunkName("x", name, sizeof name, UINT64_MAX - 1, 1, 2, "c"));
}

TEST(ChunkNames, StringFormFindsTheVirtualFileAndItsCurrentSize)
{
    const uint8_t bytes[] = {1, 2, 3};
    VirtualStringFile* file = NewVirtualStringFile("v.txt", bytes, 3, false);
    ASSERT_NE(file, nullptr);
    file->anchorRef = 42;
    char name[128];
    ASSERT_TRUE(MakeChunkName("v.txt", name, sizeof name, CHUNK_STRING_OFFSET, 0, 42, "unused"));
    EXPECT_STREQ(name, ":::chunkS42:0*v.txt?unused");
    ChunkNameParts parts;
    ASSERT_TRUE(ParseChunkName(name, &parts));
    EXPECT_TRUE(parts.object == file && parts.size == 3);
    EXPECT_FALSE(ParseChunkName(":::chunkS43:0*v.txt?unused", &parts));
    FreeVirtualStringFile(file);
    EXPECT_FALSE(ParseChunkName(name, &parts));
}

TEST(MemoryNames, OnlyHeldNamesOfTheirWholeBlockOpen)
{
    static const uint8_t block[10] = {};
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    std::string text;
    {
        MemoryName name;
        ASSERT_TRUE(MakeMemoryName(block, sizeof block, &name));
        char expected[64];
        std::snprintf(expected, sizeof expected, ":::memory%llx:a",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(block)));
        EXPECT_STREQ(name.c_str(), expected);
        ASSERT_TRUE(ParseMemoryName(name.c_str(), &data, &size));
        EXPECT_EQ(data, block);
        EXPECT_EQ(size, 10u);
        text = name.c_str();

        // The same address with another size, or inside the block, was
        // never made: text that claims it is refused.
        char other[64];
        std::snprintf(other, sizeof other, ":::memory%llx:b",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(block)));
        EXPECT_FALSE(ParseMemoryName(other, &data, &size));
        std::snprintf(other, sizeof other, ":::memory%llx:9",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(block + 1)));
        EXPECT_FALSE(ParseMemoryName(other, &data, &size));

        // Two holders of one block: the name opens until both let go.
        MemoryName second;
        ASSERT_TRUE(MakeMemoryName(block, sizeof block, &second));
        ReleaseMemoryName(&second);
        EXPECT_STREQ(second.c_str(), "");
        EXPECT_TRUE(ParseMemoryName(text.c_str(), &data, &size));
        ReleaseMemoryName(&second);  // a second release changes nothing
        EXPECT_TRUE(ParseMemoryName(text.c_str(), &data, &size));
    }
    EXPECT_FALSE(ParseMemoryName(text.c_str(), &data, &size));

    // Making a new name lets go of the old one.
    MemoryName name;
    ASSERT_TRUE(MakeMemoryName(block, sizeof block, &name));
    ASSERT_TRUE(MakeMemoryName(block, 4, &name));
    EXPECT_FALSE(ParseMemoryName(text.c_str(), &data, &size));
    EXPECT_TRUE(ParseMemoryName(name.c_str(), &data, &size));
    EXPECT_EQ(size, 4u);

    // Blocks that wrap around, or bytes at address 0, get no name.
    EXPECT_FALSE(MakeMemoryName(reinterpret_cast<void*>(UINTPTR_MAX), 2, &name));
    EXPECT_STREQ(name.c_str(), "");
    EXPECT_FALSE(MakeMemoryName(nullptr, 5, &name));
    EXPECT_FALSE(ParseMemoryName(":::memoryffffffffffffffff:ffffffffffffffff", &data, &size));

    const char* bad[] = {":::memory",       ":::memory10",     ":::memory10:",
                         ":::memory:10",    ":::memoryxyz:1",  ":::memory10:1 ",
                         ":::memory10000000000000000:1",     ":::memory0:5",
                         ":::memory1000:40"};
    for (const char* n : bad)
        EXPECT_FALSE(ParseMemoryName(n, &data, &size)) << n;
}

} // namespace
