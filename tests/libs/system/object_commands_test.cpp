// Object queries and object data on two object types: the library's own
// timers and records of a list registered by the test.
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "system_fixture.h"

namespace {

struct TestRecord { ObjectHeader header; };

TestRecord* testList = nullptr;

class ObjectCommands : public SystemLibraryTest {
protected:
    void SetUp() override
    {
        SystemLibraryTest::SetUp();
        static bool registered = false;
        if (!registered) {
            ASSERT_EQ(RegisterObjectList(&testList), 0u);
            registered = true;
        }
        first.header = {OBJ_FILE, 1, 0, nullptr, &second.header};
        second.header = {OBJ_FILE, 2, 0, nullptr, nullptr};
        testList = &first;
        ASSERT_EQ(Call("StartTimer", {1.0}), 0u);
    }
    void TearDown() override
    {
        FreeObjectDataList(vm, &first.header.dataList);
        FreeObjectDataList(vm, &second.header.dataList);
        testList = nullptr;
        SystemLibraryTest::TearDown();
    }
    TestRecord first{}, second{};
};

const double kTimer = OBJ_TIMER, kFile = OBJ_FILE;
const std::string kKey = "key";

TEST_F(ObjectCommands, DataIsKeptPerObjectAndKey)
{
    ASSERT_EQ(Call("SetObjectData", {kTimer, 1.0, kKey, std::string("on timer")}), 0u);
    ASSERT_EQ(Call("SetObjectData", {kFile, 1.0, kKey, 11.0}), 0u);
    ASSERT_EQ(Call("SetObjectData", {kFile, 1.0, std::string("other"), 12.0}), 0u);
    EXPECT_EQ(One("GetObjectData", {kTimer, 1.0, kKey}), Value{std::string("on timer")});
    EXPECT_EQ(One("GetObjectData", {kFile, 1.0, kKey}), Value{11.0});
    ASSERT_EQ(Call("SetObjectData", {kFile, 1.0, kKey, 13.0}), 0u);  // replaces
    EXPECT_EQ(One("GetObjectData", {kFile, 1.0, kKey}), Value{13.0});
    EXPECT_EQ(One("HaveObjectData", {kFile, 2.0, kKey}), Value{0.0});
    EXPECT_EQ(Call("GetObjectData", {kFile, 2.0, kKey}), static_cast<uint32_t>(ERR_FINDOBJECTDATA));
    EXPECT_STREQ(errorArgText, "key");

    ASSERT_EQ(Call("ClearObjectData", {kFile, 1.0, kKey}), 0u);
    EXPECT_EQ(One("HaveObjectData", {kFile, 1.0, kKey}), Value{0.0});
    EXPECT_EQ(One("HaveObjectData", {kFile, 1.0, std::string("other")}), Value{1.0});
    EXPECT_EQ(Call("ClearObjectData", {kFile, 1.0, kKey}), static_cast<uint32_t>(ERR_FINDOBJECTDATA));
    ASSERT_EQ(Call("ClearObjectData", {kFile, 1.0}), 0u);
    EXPECT_EQ(first.header.dataList, nullptr);
}

TEST_F(ObjectCommands, CopyTakesOneKeyOrAllAcrossTypes)
{
    ASSERT_EQ(Call("SetObjectData", {kTimer, 1.0, std::string("a"), 1.0}), 0u);
    ASSERT_EQ(Call("SetObjectData", {kTimer, 1.0, std::string("b"), 2.0}), 0u);
    ASSERT_EQ(Call("SetObjectData", {kFile, 2.0, std::string("b"), 99.0}), 0u);
    ASSERT_EQ(Call("CopyObjectData", {kTimer, 1.0, kFile, 1.0, std::string("a")}), 0u);
    EXPECT_EQ(One("GetObjectData", {kFile, 1.0, std::string("a")}), Value{1.0});
    EXPECT_EQ(One("HaveObjectData", {kFile, 1.0, std::string("b")}), Value{0.0});
    ASSERT_EQ(Call("CopyObjectData", {kTimer, 1.0, kFile, 2.0}), 0u);
    EXPECT_EQ(One("GetObjectData", {kFile, 2.0, std::string("a")}), Value{1.0});
    EXPECT_EQ(One("GetObjectData", {kFile, 2.0, std::string("b")}), Value{2.0});
    // Copying an object's data onto itself changes nothing.
    ASSERT_EQ(Call("CopyObjectData", {kFile, 2.0, kFile, 2.0}), 0u);
    EXPECT_EQ(One("GetObjectData", {kFile, 2.0, std::string("b")}), Value{2.0});
}

TEST_F(ObjectCommands, RefusedArgumentsAndDataOfAStoppedTimer)
{
    EXPECT_EQ(Call("SetObjectData", {kFile, 1.0, std::string(""), 1.0}), static_cast<uint32_t>(ERR_WRONGUSAGE));
    EXPECT_EQ(Call("SetObjectData", {kFile, 9.0, kKey, 1.0}), static_cast<uint32_t>(ERR_FINDARRAY));
    EXPECT_EQ(Call("ClearObjectData", {kFile, 1.0, std::string("")}), static_cast<uint32_t>(ERR_WRONGUSAGE));
    // The data of a stopped timer is released with it.
    ASSERT_EQ(Call("SetObjectData", {kTimer, 1.0, kKey, std::string("v")}), 0u);
    ASSERT_EQ(Call("StopTimer", {1.0}), 0u);
    ASSERT_EQ(Call("StartTimer", {1.0}), 0u);
    EXPECT_EQ(One("HaveObjectData", {kTimer, 1.0, kKey}), Value{0.0});
}

TEST_F(ObjectCommands, QueriesFindObjectsByTypeAndHandle)
{
    EXPECT_EQ(One("HaveObject", {kFile, 2.0}), Value{1.0});
    EXPECT_EQ(One("HaveObject", {kFile, 3.0}), Value{0.0});
    EXPECT_EQ(One("HaveObject", {kTimer, 2.0}), Value{0.0});
    int base;
    ASSERT_EQ(CallKeep("GetObjects", {kFile}, &base), 0u);
    EXPECT_EQ(Read(vm, base + 2), Value{2.0});
    EXPECT_EQ(ReadArray(base + 1, 3), (std::vector<Value>{1.0, 2.0, Nil{}}));
    ASSERT_EQ(CallKeep("GetObjects", {kTimer}, &base), 0u);
    EXPECT_EQ(Read(vm, base + 2), Value{1.0});
    ASSERT_EQ(CallKeep("StartTimer", {Nil{}}, &base), 0u);
    EXPECT_EQ(One("GetObjectType", {}, {base + 1}), Value{kTimer});
    EXPECT_EQ(One("GetObjectType", {5.0}), Value{-1.0});
}

}  // namespace
