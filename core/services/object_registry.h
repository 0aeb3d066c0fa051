// Object registry: every script object (brush, file, timer, connection ...)
// is a record on a per-type list owned by its library, and each record starts
// with an `ObjectHeader`. The registry knows all these lists, so that generic
// commands can count the objects of a type, list their ids, find one by type
// and id or by handle, and ask a plugin-defined type for attributes. It also
// hands out the type ids of plugin object types (from 58 up).
//
// A handle is the record's own address, handed to the script as a light
// userdata. A handle that comes back from a script is only ever compared
// with the handles on the lists, never dereferenced, so a stale or forged
// handle simply finds nothing.
#pragma once

#include <cstdint>
#include <functional>

struct VmState;

// Built-in object type ids (script constants of the same names).
enum ObjectType : uint32_t {
    OBJ_BGPIC = 1,
    OBJ_SAMPLE = 2,
    OBJ_BRUSH = 3,
    OBJ_ANIM = 4,
    OBJ_TEXTOBJECT = 8,
    OBJ_DISPLAY = 21,
    OBJ_LAYER = 22,
    OBJ_SPRITE = 32,
    OBJ_MUSIC = 33,
    OBJ_CLIPREGION = 35,
    OBJ_POINTER = 36,
    OBJ_ASYNCDRAW = 37,
    OBJ_MEMORY = 39,
    OBJ_EVENTHANDLER = 40,
    OBJ_INTERVAL = 41,
    OBJ_TIMEOUT = 42,
    OBJ_FONT = 43,
    OBJ_FILE = 44,
    OBJ_DIRECTORY = 45,
    OBJ_VECTORPATH = 49,
    OBJ_VIDEO = 50,
    OBJ_MOVELIST = 51,
    OBJ_ANIMSTREAM = 52,
    OBJ_TIMER = 53,
    OBJ_CLIENT = 54,
    OBJ_SERVER = 55,
    OBJ_UDPOBJECT = 56,
    OBJ_MENU = 57,
    OBJ_FIRST_PLUGIN_TYPE = 58,
    // Objects that scripts make but no type constant names: far above any
    // plugin type, so that no query reaches them by number.
    OBJ_BUTTON = 0x40000000,
    OBJ_KEYHANDLER = 0x40000001,
};

// A value attached to an object with SetObjectData. The key text lives in
// the same allocation as the entry, so freeing the entry frees both.
struct ObjectDataEntry {
    ObjectDataEntry* next;
    const char* key;
    int32_t ref;  // VM registry reference of the value
};

struct ObjectHeader {
    uint32_t type;
    uint32_t id;                // the numeric id the script chose
    uintptr_t handle;           // the record's address for objects made with Nil, else 0
    ObjectDataEntry* dataList;
    ObjectHeader* next;         // next record of the same list
};

// How scripts and handlers name an object: a number is (n, 0), a light
// userdata is (0, handle).
struct ObjectId {
    uint32_t id;
    uintptr_t handle;
};

inline ObjectId MakeObjectId(uint32_t id) { return ObjectId{id, 0}; }
inline ObjectId MakeHandleId(uintptr_t handle) { return ObjectId{0, handle}; }

// int f(context, a, b), answering GetAttribute for a plugin type: its number
// of pushed values or an error code.
using ObjectAttrHandler = int (*)(void* context, intptr_t a, intptr_t b);

struct ObjectTypeNode {
    ObjectTypeNode* next;
    char* name;       // owned; only plugin types have one
    uint32_t typeId;  // plugin types only
    uint32_t foreign;
    ObjectAttrHandler attrHandler;
    void* listHead;   // address of the variable that holds the list's first record
};

// `listHead` is the address of a library's list variable (a pointer to the
// first record, whose records begin with ObjectHeader). 0 or ERR_MEM.
uint32_t RegisterObjectList(void* listHead);

// With a null name, the same as RegisterObjectList. Otherwise the name is
// copied and the type gets the next plugin type id, written to outTypeId
// when given. 0 or ERR_MEM.
uint32_t RegisterObjectType(void* listHead, const char* name, ObjectAttrHandler attrHandler,
                            uint32_t* outTypeId, uint32_t foreign);

uint32_t GetPluginObjectTypeCount();

// Over all registered lists, in registration order.
uint32_t CountObjectsOfType(uint32_t type);

// Stores the ids of the matching records into the table on top of the VM
// stack at keys 0, 1, 2 ... (a number, or a light userdata for a handle);
// returns how many.
uint32_t PushObjectsOfType(VmState* vm, uint32_t type);

// The type of the record with this handle; -1 for 0 or when none has it.
int32_t GetObjectTypeOf(uintptr_t handle);

// The first record of the type named by the id: by handle when the id
// carries one, else by number among the records that have no handle.
ObjectHeader* FindObjectOfType(uint32_t type, ObjectId objectId);

// Asks the first named type with this id and a handler; ERR_WRONGUSAGE when
// no plugin type answers it.
int CallObjectTypeHandler(void* context, uint32_t type, intptr_t a, intptr_t b);

// Releases every entry's registry reference and frees the entries; every
// object destructor calls it on its data list, which it leaves empty.
void FreeObjectDataList(VmState* vm, ObjectDataEntry** list);

// Calls `visit` for every record of every registered list, in registry
// and list order, until it answers true; answers that record or null.
ObjectHeader* ForEachObjectRecord(const std::function<bool(ObjectHeader*)>& visit);

// Frees the registry's nodes and names (the lists themselves belong to
// their libraries) and starts plugin type ids at 58 again.
void FreeObjectTypeRegistry();
