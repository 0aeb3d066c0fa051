// The external-program thread and the requester button sets.
#include "core/glue/external_program.h"
#include "core/services/requester_buttons.h"

#include "core/glue/timers.h"
#include "core/io/error_codes.h"
#include "platform/posix/os_thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "support/temp_dir.h"

namespace {

struct FinishLog {
    std::atomic<void*> record{nullptr};
    std::atomic<int> failed{-1};
};

void OnFinish(OsThread* thread, int failed, void* user)
{
    auto* log = static_cast<FinishLog*>(user);
    log->failed.store(failed);
    log->record.store(OsThreadArgument(thread));
}

bool WaitFor(const std::atomic<void*>& value)
{
    for (int i = 0; i < 10000 && !value.load(); i++)
        OsDelay(1);
    return value.load() != nullptr;
}

TEST(ExternalProgramTest, ReportsTheEndOfTheProgramWithItsRecord)
{
    TempDir dir;
    std::string mark = dir.file("mark");
    std::string arguments = "-c \"echo ran > '" + mark + "'\"";

    FinishLog log;
    OsSetThreadFinishHook(OnFinish, &log);
    int tag = 0;
    ExternalProgram record{&tag, nullptr, "/bin/sh", arguments.c_str()};
    ASSERT_EQ(OsRunExternalProgram(&record), 0u);
    ASSERT_TRUE(WaitFor(log.record));
    EXPECT_EQ(log.record.load(), &record);
    EXPECT_EQ(log.failed.load(), 0);
    EXPECT_EQ(ReadFileBytes(mark), (std::vector<uint8_t>{'r', 'a', 'n', '\n'}));
    OsWaitExternalProgram(&record);
    EXPECT_EQ(record.thread, nullptr);
    EXPECT_EQ(record.argument, &tag);

    FinishLog missing;
    OsSetThreadFinishHook(OnFinish, &missing);
    ExternalProgram bad{nullptr, nullptr, "/no/such/program", ""};
    ASSERT_EQ(OsRunExternalProgram(&bad), 0u);
    ASSERT_TRUE(WaitFor(missing.record));
    EXPECT_EQ(missing.failed.load(), 1);
    OsWaitExternalProgram(&bad);

    OsSetThreadFinishHook(nullptr, nullptr);
}

TEST(RequesterButtonsTest, StandardSetsAreRecognisedInAnyCase)
{
    struct Case {
        const char* text;
        int matched;
        uint32_t type;
    } cases[] = {
        {"OK", 1, REQUEST_BUTTONS_OK},
        {"OK|Cancel", 1, REQUEST_BUTTONS_OK_CANCEL},
        {"yes|NO", 1, REQUEST_BUTTONS_YES_NO},
        {"Yes|No|Cancel", 1, REQUEST_BUTTONS_YES_NO_CANCEL},
        {"Yes|No|", 0, 77},
        {"", 0, 77},
    };
    for (const Case& c : cases) {
        const char* text = c.text;
        uint32_t type = 77;
        EXPECT_EQ(OsRequestButtons(&text, &type), c.matched) << c.text;
        EXPECT_EQ(type, c.type) << c.text;
        EXPECT_EQ(text, c.matched ? nullptr : c.text) << c.text;
    }
    const char* none = nullptr;
    uint32_t type = 77;
    EXPECT_EQ(OsRequestButtons(&none, &type), 0);
}

} // namespace
