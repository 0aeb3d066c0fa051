// FormatStr's formatter: every number conversion agrees with the C library's
// snprintf on the same conversion, strings keep their zero bytes, and
// malformed conversions are refused.
#include "libs/string/format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

struct Arg { double number; std::string text; };

struct Args { std::vector<Arg> list; };  // list[0] is argument 2

double ReadNumber(void* ctx, int index)
{
    auto* a = static_cast<Args*>(ctx);
    return a->list.at(static_cast<size_t>(index - 2)).number;
}

std::string_view ReadString(void* ctx, int index)
{
    auto* a = static_cast<Args*>(ctx);
    return a->list.at(static_cast<size_t>(index - 2)).text;
}

ErrorCode Format(std::string_view fmt, std::vector<Arg> list, std::string* out)
{
    Args args{std::move(list)};
    FormatArgs fa{&args, ReadNumber, ReadString};
    out->clear();
    return FormatTemplate(fmt, fa, out);
}

std::string Formatted(std::string_view fmt, std::vector<Arg> list)
{
    std::string out;
    EXPECT_EQ(Format(fmt, std::move(list), &out), ERR_NONE) << fmt;
    return out;
}

} // namespace

TEST(FormatStr, NumberConversionsMatchSnprintf)
{
    const char* floatSpecs[] = {"%f", "%5.2f", "%-8.3f|", "%+e", "%E", "%g", "%G", "%#.0f", "% 010.4f", "%.99f",
                                "%99.99e", "%-+ #012.5g"};
    const double floats[] = {0.0, -0.0, 3.14159, -2.5, 1e300, -1e-300, 123456789.125, 1.0 / 3};
    for (const char* spec : floatSpecs)
        for (double v : floats) {
            char want[1024];
            std::snprintf(want, sizeof want, spec, v);
            EXPECT_EQ(Formatted(spec, {{v, ""}}), want) << spec << " " << v;
        }

    const char* intSpecs[] = {"%d", "%5d", "%-5d|", "%05d", "%+d", "% d", "%i", "%.3d", "%99.98d"};
    const char* uintSpecs[] = {"%u", "%x", "%X", "%#x", "%o", "%#o", "%08X"};
    struct IntCase { double in; int32_t asInt; uint32_t asUint; };
    const IntCase ints[] = {
        {0, 0, 0}, {7.9, 7, 7}, {-7.9, -7, 0xFFFFFFF9u}, {2147483647, 2147483647, 2147483647u},
        {4294967295.0, -1, 0xFFFFFFFFu}, {8589934590.0, -2, 0xFFFFFFFEu}, {-2147483648.0, INT32_MIN, 0x80000000u},
    };
    for (const IntCase& c : ints) {
        char want[1024];
        for (const char* spec : intSpecs) {
            std::snprintf(want, sizeof want, spec, c.asInt);
            EXPECT_EQ(Formatted(spec, {{c.in, ""}}), want) << spec << " " << c.in;
        }
        for (const char* spec : uintSpecs) {
            std::snprintf(want, sizeof want, spec, c.asUint);
            EXPECT_EQ(Formatted(spec, {{c.in, ""}}), want) << spec << " " << c.in;
        }
    }
    char want[16];
    std::snprintf(want, sizeof want, "%-3c|%c", 'z', 'A');
    EXPECT_EQ(Formatted("%-3c|%c", {{'z', ""}, {65, ""}}), want);
}

TEST(FormatStr, TemplatesAndStrings)
{
    EXPECT_EQ(Formatted("%5.2f|%-4d|%x", {{3.14159, ""}, {7, ""}, {255, ""}}), " 3.14|7   |ff");
    EXPECT_EQ(Formatted("100%% of %s", {{0, "it"}}), "100% of it");
    EXPECT_EQ(Formatted("no conversions\0here"s, {}), "no conversions\0here"s);
    // Strings against snprintf where they hold no zero byte.
    const char* strSpecs[] = {"%s", "%8s", "%-8s|", "%.2s", "%6.3s", "%08s", "%.0s"};
    for (const char* spec : strSpecs) {
        char want[64];
        std::snprintf(want, sizeof want, spec, "abcde");
        EXPECT_EQ(Formatted(spec, {{0, "abcde"}}), want) << spec;
    }
    // Zero bytes are data, with or without width and precision.
    EXPECT_EQ(Formatted("[%s]", {{0, "a\0b"s}}), "[a\0b]"s);
    EXPECT_EQ(Formatted("[%5.2s]", {{0, "\0bc"s}}), "[   \0b]"s);
    EXPECT_EQ(Formatted("%c", {{0, ""}}), "\0"s);
    std::string longText(300, 'x');
    longText[150] = '\0';
    EXPECT_EQ(Formatted("%s", {{0, longText}}), longText);
    EXPECT_EQ(Formatted("%5q", {{0, "\n\\\0\x01"s}}), "\"\\\n\\\\\\000\x01\""s);
}

TEST(FormatStr, RefusesMalformedConversions)
{
    const char* bad[] = {"%y", "%123d", "%5.123f", "%", "abc%", "%5", "%.", "%ld", "%*d", "%-+ #0-+ #0-+ #0-+ #0d"};
    for (const char* fmt : bad) {
        std::string out;
        EXPECT_EQ(Format(fmt, {{1, "s"}}, &out), ERR_WRONGUSAGE) << fmt;
    }
    // Twenty characters from "%" to the letter are still accepted.
    EXPECT_EQ(Formatted("%-+ #0-+ #0-+ #12.3f", {{1, ""}}), "+1.000      ");
}
