// The object registry over lists that look like a library's.
#include "core/services/object_registry.h"

#include "core/io/error_codes.h"
#include "core/services/command_services.h"

#include <gtest/gtest.h>

namespace {

struct Record {
    ObjectHeader header;
    int payload;
};

class ObjectRegistry : public ::testing::Test {
protected:
    void TearDown() override { FreeCoreLists(nullptr); }

    // Appends a record at the tail, as the libraries do; a handle object
    // gets its own address as handle.
    static Record* Add(Record*& list, Record* r, uint32_t type, uint32_t id, bool byHandle = false)
    {
        r->header = {};
        r->header.type = type;
        r->header.id = id;
        r->header.handle = byHandle ? reinterpret_cast<uintptr_t>(r) : 0;
        ObjectHeader** link = reinterpret_cast<ObjectHeader**>(&list);
        while (*link)
            link = &(*link)->next;
        *link = &r->header;
        return r;
    }
};

int Handler(void* context, intptr_t a, intptr_t b)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(context) * 100 + a * 10 + b);
}

} // namespace

TEST_F(ObjectRegistry, HandlesAreFoundByWalkingNeverByDereferencing)
{
    Record* list = nullptr;
    Record numeric, automatic;
    Add(list, &numeric, OBJ_TIMER, 0);
    Add(list, &automatic, OBJ_TIMER, 0, true);
    ASSERT_EQ(RegisterObjectList(&list), 0u);

    uintptr_t handle = reinterpret_cast<uintptr_t>(&automatic);
    EXPECT_EQ(FindObjectOfType(OBJ_TIMER, MakeHandleId(handle)), &automatic.header);
    EXPECT_EQ(FindObjectOfType(OBJ_TIMER, MakeObjectId(0)), &numeric.header)
        << "a numeric id never reaches an object made with Nil";
    EXPECT_EQ(FindObjectOfType(OBJ_FILE, MakeHandleId(handle)), nullptr);
    EXPECT_EQ(GetObjectTypeOf(handle), static_cast<int32_t>(OBJ_TIMER));

    // Addresses that are no record's handle, including ones that would
    // crash if they were followed.
    for (uintptr_t forged : {uintptr_t{0}, uintptr_t{1}, uintptr_t{0xdeadbeef}, handle + 1,
                             reinterpret_cast<uintptr_t>(&numeric)}) {
        EXPECT_EQ(GetObjectTypeOf(forged), -1);
        if (forged) {
            EXPECT_EQ(FindObjectOfType(OBJ_TIMER, MakeHandleId(forged)), nullptr);
        }
    }
}

TEST_F(ObjectRegistry, TypeHandlersAnswerOnlyForTheirPluginType)
{
    Record* list = nullptr;
    uint32_t gadget = 0, foreign = 0, bare = 0;
    RegisterObjectList(&list);
    RegisterObjectType(&list, "Gadget", Handler, &gadget, 0);
    RegisterObjectType(&list, "Foreign", Handler, &foreign, 1);
    RegisterObjectType(&list, "Bare", nullptr, &bare, 0);
    void* context = reinterpret_cast<void*>(intptr_t{3});

    EXPECT_EQ(CallObjectTypeHandler(context, gadget, 4, 5), 345);
    EXPECT_EQ(CallObjectTypeHandler(context, foreign, 4, 5), 0);
    EXPECT_EQ(CallObjectTypeHandler(context, bare, 4, 5), static_cast<int>(ERR_WRONGUSAGE));
    EXPECT_EQ(CallObjectTypeHandler(context, OBJ_BRUSH, 4, 5), static_cast<int>(ERR_WRONGUSAGE));
    EXPECT_EQ(CallObjectTypeHandler(context, 0, 4, 5), static_cast<int>(ERR_WRONGUSAGE))
        << "a bare list's zero type id must not match";
}
