// Intervals and time-outs: the player keeps them for itself, but no command
// starts one, so an applet finds none to ask about.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "e2e/test_applet.h"
#include "tools/player_tables.h"

using namespace qmasm;

namespace {

// A command that starts either would carry its name; the network's time-out
// is another thing.
TEST(TimerObjects, NoCommandStartsAnIntervalOrATimeOut)
{
    PlayerTables tables;
    ASSERT_EQ(OpenPlayerTables(&tables), 0u);
    std::vector<std::string> found;
    size_t commands = 0;
    for (const PlayerLibrary& library : tables.libraries)
        for (const PlayerCommand& c : library.commands) {
            std::string name = c.name;
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::tolower(ch); });
            commands++;
            if ((name.find("interval") != std::string::npos || name.find("timeout") != std::string::npos) &&
                name != "setnetworktimeout")
                found.push_back(library.name + "." + c.name);
        }
    ClosePlayerTables(&tables);
    EXPECT_GT(commands, 300u);
    EXPECT_TRUE(found.empty()) << found.front() << ": say what it does in README.md and tools/command_docs.txt";

    // #INTERVAL 41 and #TIMEOUT 42 with #ATTRDURATION 14: ERR_FINDINTERVAL
    // 1194 and ERR_FINDTIMEOUT 1195 whatever the id.
    TempDir dir;
    const std::vector<Ask> asks = {
        {"interval 1", 41, "#1", 14, "!1194"},
        {"interval 0", 41, "#0", 14, "!1194"},
        {"timeout 1", 42, "#1", 14, "!1195"},
    };
    std::string body = CommandCall("exitonerror", {"#0"});
    for (const Ask& a : asks)
        body += AskText(a);
    ExpectAnswers(PlayApplet(dir, AssembleTestApplet(MainScript(body)), {"-debugdevice", "console"}), asks);
}

}  // namespace
