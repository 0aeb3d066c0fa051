// Clocks and date texts (the tests run with TZ=UTC and LANG=C); the
// weekday's name is GetWeekday's test's.
#include "platform/posix/os_time.h"

#include "core/io/error_codes.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>

namespace {

TEST(OsTimeTest, WallClockAgreesWithTheCLibrary)
{
    // time() may read a coarser clock than clock_gettime, so both sides
    // are read from the C library's precise realtime clock.
    auto realtime = [] {
        timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
    };
    for (uint32_t mode : {0u, 1u}) {
        OsSetTimerMode(mode);
        double before = realtime();
        OsTimeValue now;
        OsGetTime(&now);
        double epoch = OsGetEpochSeconds();
        double after = realtime();
        double seconds = static_cast<double>(now.seconds) + now.microseconds / 1e6;
        // The coarse clock may trail by one tick.
        EXPECT_GE(seconds + 0.1, before) << "mode " << mode;
        EXPECT_LE(seconds, after) << "mode " << mode;
        EXPECT_LT(now.microseconds, 1000000u);
        EXPECT_GE(epoch, before);
        EXPECT_LE(epoch, after);
    }
    OsSetTimerMode(0);
}

// Under TZ=UTC the local fields are gmtime's, computed here independently.
TEST(OsTimeTest, DateTextsHaveTheirFixedShapes)
{
    char date[32], clock[32];
    // Retry across a second boundary so that both readings see one second.
    for (int attempt = 0; attempt < 3; attempt++) {
        time_t before = time(nullptr);
        ASSERT_EQ(OsFormatDateTime(1, date, sizeof date, clock, sizeof clock), 0u);
        if (time(nullptr) != before)
            continue;
        struct tm local;
        gmtime_r(&before, &local);
        char expectDate[32], expectClock[32];
        std::snprintf(expectDate, sizeof expectDate, "%02d-%02d-%02d", local.tm_mon + 1,
                      local.tm_mday, local.tm_year % 100);
        std::snprintf(expectClock, sizeof expectClock, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
        EXPECT_STREQ(date, expectDate);
        EXPECT_STREQ(clock, expectClock);
        break;
    }

    char text[32];
    ASSERT_EQ(OsFormatDateTime(0, text, sizeof text, nullptr, 0), 0u);
    EXPECT_TRUE(std::regex_match(text, std::regex("[01][0-9]-[0-3][0-9]-[0-9]{2}"))) << text;
    ASSERT_EQ(OsFormatDateTime(2, text, sizeof text, nullptr, 0), 0u);
    EXPECT_TRUE(std::regex_match(text, std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]"))) << text;
    // Unknown modes and short buffers are refused with an empty text.
    char small[4] = "xyz";
    EXPECT_EQ(OsFormatDateTime(4, small, sizeof small, nullptr, 0), uint32_t{ERR_WRONGUSAGE});
    EXPECT_STREQ(small, "");
    EXPECT_EQ(OsFormatDateTime(0, small, sizeof small, nullptr, 0), uint32_t{ERR_WRONGUSAGE});
    EXPECT_STREQ(small, "");
}

} // namespace
