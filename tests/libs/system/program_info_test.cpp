// Information commands over the run's records (the command line is read
// end to end by the player's tests).
#include <sys/utsname.h>

#include <cstring>

#include "core/startup/run_records.h"
#include "core/startup/startup.h"
#include "system_fixture.h"

namespace {

class ProgramInfo : public SystemLibraryTest {
protected:
    void SetUp() override
    {
        SystemLibraryTest::SetUp();
        context = {};
        applet = {};
        SetRecord("clargs", &context);
        SetRecord("applet", &applet);
    }
    CoreContext context;
    AppletInfo applet;
};

TEST_F(ProgramInfo, ProgramTypePathsApplicationAndVersion)
{
    std::strcpy(context.programPath, "/opt/q/quillmereplayer");
    std::strcpy(context.scriptPath, "/home/u/game.qma");
    std::vector<Value> r;
    ASSERT_EQ(Call("GetProgramInfo", {}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{0.0, std::string("/home/u/game.qma"), std::string("/opt/q/quillmereplayer")}));
    context.isApplet = 1;
    ASSERT_EQ(Call("GetProgramInfo", {}, &r), 0u);
    EXPECT_EQ(r[0], Value{1.0});
    Startup.appletLinked = 1;
    ASSERT_EQ(Call("GetProgramInfo", {}, &r), 0u);
    Startup.appletLinked = 0;
    EXPECT_EQ(r, (std::vector<Value>{2.0, std::string("/opt/q/quillmereplayer")}));

    std::strcpy(applet.title, "Game");
    std::strcpy(applet.identifier, "com.example.game");
    int base;
    ASSERT_EQ(CallKeep("GetApplicationInfo", {}, &base), 0u);
    EXPECT_EQ(Field(base + 1, "identifier"), Value{std::string("com.example.game")});

    struct utsname host;
    ASSERT_EQ(uname(&host), 0);
    ASSERT_EQ(CallKeep("GetVersion", {}, &base), 0u);
    EXPECT_EQ(Field(base + 1, "application"), Value{std::string("QuillmerePlayer")});
    EXPECT_EQ(Field(base + 1, "version"), Value{std::string("6.1")});
    EXPECT_EQ(Field(base + 1, "platform"), Value{std::string(host.sysname)});
    EXPECT_EQ(Field(base + 1, "cpu"), Value{std::string(host.machine)});
    VmPushString(vm, "plugins");
    VmRawGet(vm, base + 1);
    EXPECT_EQ(VmType(vm, -1), VM_TTABLE);
}

}  // namespace
