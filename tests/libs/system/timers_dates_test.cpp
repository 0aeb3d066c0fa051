// Timers and waits on the test's clock, dates at fixed times against
// Python's strftime, and the catalog commands without a catalog.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "core/io/error_codes.h"
#include "system_fixture.h"

namespace {

using TimerCommands = SystemLibraryTest;

TEST_F(TimerCommands, PauseResumeAndResetWorkOnTheTimersValue)
{
    ASSERT_EQ(Call("StartTimer", {1.0}), 0u);
    FakeClock::nowMs += 300;
    ASSERT_EQ(Call("PauseTimer", {1.0}), 0u);
    FakeClock::nowMs += 1000;
    EXPECT_EQ(One("GetTimer", {1.0}), Value{300.0});
    ASSERT_EQ(Call("PauseTimer", {1.0}), 0u);  // a second pause changes nothing
    ASSERT_EQ(Call("ResumeTimer", {1.0}), 0u);
    FakeClock::nowMs += 50;
    EXPECT_EQ(One("GetTimer", {1.0}), Value{350.0});
    // A reset sets the value of a paused timer and lets it run.
    ASSERT_EQ(Call("PauseTimer", {1.0}), 0u);
    ASSERT_EQ(Call("ResetTimer", {1.0, 5000.0}), 0u);
    EXPECT_EQ(One("GetTimer", {1.0}), Value{5000.0});
    FakeClock::nowMs += 10;
    EXPECT_EQ(One("GetTimer", {1.0}), Value{5010.0});
}

TEST_F(TimerCommands, WaitTimerSleepsTheRestRefusesAPausedTimerAndPassesAnAbortOn)
{
    ASSERT_EQ(Call("StartTimer", {1.0}), 0u);
    FakeClock::nowMs += 40;
    ASSERT_EQ(Call("WaitTimer", {1.0, 100.0}), 0u);
    ASSERT_EQ(FakeClock::sleeps, std::vector<uint32_t>{60});
    EXPECT_EQ(One("GetTimer", {1.0}), Value{0.0});
    // Already past the mark: no sleep; without restart the value stays.
    FakeClock::nowMs += 150;
    ASSERT_EQ(Call("WaitTimer", {1.0, 100.0, 0.0}), 0u);
    EXPECT_EQ(FakeClock::sleeps.size(), 1u);
    EXPECT_EQ(One("GetTimer", {1.0}), Value{150.0});
    ASSERT_EQ(Call("PauseTimer", {1.0}), 0u);
    EXPECT_EQ(Call("WaitTimer", {1.0, 1000.0}), static_cast<uint32_t>(ERR_WRONGUSAGE));
    ASSERT_EQ(Call("ResumeTimer", {1.0}), 0u);
    FakeClock::sleepResult = ERR_USERABORT;
    EXPECT_EQ(Call("WaitTimer", {1.0, 1000.0}), static_cast<uint32_t>(ERR_USERABORT));
}

TEST_F(TimerCommands, AnIdInUseIsReplacedAndANilIdGivesAHandle)
{
    ASSERT_EQ(Call("StartTimer", {3.0}), 0u);
    FakeClock::nowMs += 500;
    ASSERT_EQ(Call("StartTimer", {3.0}), 0u);
    FakeClock::nowMs += 20;
    EXPECT_EQ(One("GetTimer", {3.0}), Value{20.0});
    ASSERT_EQ(Call("StopTimer", {3.0}), 0u);
    EXPECT_EQ(Call("GetTimer", {3.0}), static_cast<uint32_t>(ERR_FINDTIMER));

    int base;
    ASSERT_EQ(CallKeep("StartTimer", {Nil{}}, &base), 0u);
    int handle = VmGetTop(vm);
    FakeClock::nowMs += 9;
    EXPECT_EQ(One("GetTimer", {}, {handle}), Value{9.0});
    ASSERT_EQ(Call("StopTimer", {}, nullptr, {handle}), 0u);
    EXPECT_EQ(Call("GetTimer", {}, nullptr, {handle}), static_cast<uint32_t>(ERR_FINDARRAY));
}

TEST_F(TimerCommands, WaitConvertsUnits)
{
    const std::pair<std::vector<Value>, std::vector<uint32_t>> cases[] = {
        {{5.0}, {100}},         // ticks of 20 ms
        {{2.0, 0.0}, {2000}},   // seconds
        {{7.0, 1.0}, {7}},      // milliseconds
        {{7.0, 99.0}, {7}},     // any other unit counts as milliseconds
        {{-3.0, 0.0}, {}},
    };
    for (const auto& [args, sleeps] : cases) {
        FakeClock::sleeps.clear();
        EXPECT_EQ(Call("Wait", args), 0u);
        EXPECT_EQ(FakeClock::sleeps, sleeps);
    }
}

// Dates are local time; the expectations are UTC's.
class DateCommands : public SystemLibraryTest {
protected:
    void SetUp() override
    {
        SystemLibraryTest::SetUp();
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

std::string PythonStrftime(const char* format, uint64_t seconds)
{
    std::string command = "TZ=UTC python3 -c \"import time,sys; sys.stdout.write(time.strftime('" +
                          std::string(format) + "', time.gmtime(" + std::to_string(seconds) + ")))\"";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char buffer[256];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0)
        out.append(buffer, n);
    return out;
}

TEST_F(DateCommands, FormsAgreeWithStrftimeAndTheWeekdayIsTodays)
{
    // 2026-12-07 09:05:07, 1999-01-31 23:59:59, 2000-02-29 00:00:00,
    // 2100-01-01 00:00:00 (UTC): the long form and the number carry the
    // whole year, the short form two digits.
    for (uint64_t t : {1796634307ull, 917827199ull, 951782400ull, 4102444800ull}) {
        FakeClock::wallSeconds = t;
        SCOPED_TRACE(t);
        EXPECT_EQ(One("GetDate", {}), Value{PythonStrftime("%m-%d-%y", t)});
        EXPECT_EQ(One("GetDate", {1.0}), Value{PythonStrftime("%d-%b-%Y %H:%M:%S", t)});
        EXPECT_EQ(One("GetTime", {1.0}), Value{PythonStrftime("%H:%M:%S", t)});
        EXPECT_EQ(One("GetTime", {0.0}), Value{PythonStrftime("%H:%M", t)});
        const char* numbers[] = {"%Y", "%m", "%d", "%H%M%S"};
        for (int kind = 0; kind < 4; ++kind)
            EXPECT_EQ(One("GetDateNum", {double(kind)}), Value{std::stod(PythonStrftime(numbers[kind], t))});
        EXPECT_EQ(One("GetDateNum", {9.0}), Value{0.0});
    }

    // Read before and after, so that a call across midnight still matches;
    // under a plain and a UTF-8 user locale.
    const char* saved = getenv("LC_ALL");
    std::string savedLocale = saved ? saved : "";
    for (const char* locale : {"C", "C.UTF-8"}) {
        setenv("LC_ALL", locale, 1);
        std::string before = PythonStrftime("%A", static_cast<uint64_t>(time(nullptr)));
        Value day = One("GetWeekday", {});
        std::string after = PythonStrftime("%A", static_cast<uint64_t>(time(nullptr)));
        EXPECT_TRUE(day == Value{before} || day == Value{after}) << locale;
    }
    if (saved)
        setenv("LC_ALL", savedLocale.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

TEST_F(DateCommands, CompareDatesAndACatalogStringWithoutACatalog)
{
    // Two dates, whether only the dates count, the error and the result.
    const std::tuple<const char*, const char*, double, uint32_t, double> cases[] = {
        {"07-Dec-2026 09:05:07", "07-Dec-2026 09:05:07", 0, 0, 0},
        {"07-Dec-2026 09:05:08", "07-Dec-2026 09:05:07", 0, 0, 1},
        {"07-Dec-2026 09:05:07", "08-Dec-2026 00:00:00", 0, 0, 2},
        {"01-Jan-2027 00:00:00", "31-Dec-2026 23:59:59", 0, 0, 1},
        {"31-Jan-2026 00:00:00", "01-Feb-2026 00:00:00", 0, 0, 2},
        {"07-Dec-2026", "07-Dec-2026", 1, 0, 0},
        {"07-Dec-2026", "06-Dec-2026", 1, 0, 1},
        {"7-Dec-2026 09:05:07", "07-Dec-2026 09:05:07", 0, ERR_INVALIDDATE, 0},   // 19 characters
        {"07-Dex-2026 09:05:07", "07-Dec-2026 09:05:07", 0, ERR_INVALIDDATE, 0},  // no such month
        {"07-Dec-2026 09:05:07", "07-Dec-2026", 1, ERR_INVALIDDATE, 0},
        {"0x-Dec-2026 09:05:07", "07-Dec-2026 09:05:07", 0, ERR_INVALIDDATE, 0},
    };
    for (auto [a, b, dateOnly, error, result] : cases) {
        SCOPED_TRACE(std::string(a) + " / " + b);
        std::vector<Value> r;
        ASSERT_EQ(Call("CompareDates", {std::string(a), std::string(b), dateOnly}, &r), error);
        if (!error) {
            EXPECT_EQ(r, std::vector<Value>{result});
        }
    }

    // Without a catalog a catalog string is its default.
    ASSERT_EQ(Call("OpenCatalog", {std::string("no-such-catalog")}), 0u);
    EXPECT_EQ(One("GetCatalogString", {5.0, std::string("x")}), Value{std::string("x")});
}

}  // namespace
