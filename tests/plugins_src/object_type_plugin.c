/* A plugin with an object type of its own: it registers "Gadget" with two
 * gadgets (ids 1 and 2) and answers GetAttribute for them through its
 * handler: attribute 0 the id times 10, attribute 1 a name, attribute 2 the
 * unknown-attribute error, any other attribute nothing at all. */
#include <stdint.h>
#include <stdio.h>

#include "test_plugin_info.h"

/* Laid out as the host's object header, which every record begins with. */
typedef struct Gadget {
    uint32_t type;
    uint32_t id;
    uintptr_t handle;
    void* dataList;
    struct Gadget* next;
} Gadget;

static const PluginHostApi* host;
static Gadget gadgets[2];
static Gadget* gadgetList;

static int GadgetAttribute(void* context, intptr_t attribute, intptr_t id)
{
    struct VmState* vm = (struct VmState*)context;
    const Gadget* g = gadgetList;
    while (g && (intptr_t)g->id != id) g = g->next;
    if (!g) return 1041; /* requested object not found */
    if (attribute == 0) {
        host->vm->VmPushNumber(vm, (double)(g->id * 10));
        return 1;
    }
    if (attribute == 1) {
        char name[32];
        snprintf(name, sizeof name, "gadget %u", (unsigned)g->id);
        host->vm->VmPushString(vm, name);
        return 1;
    }
    return attribute == 2 ? 1080 : 0;
}

EXPORT int InitPlugin(PluginInfo* info, const PluginHostApi* api, const char* path)
{
    (void)path;
    host = api;
    FillTestPluginInfo(info, 0x20000, "Gadget objects", "gadgets", "An object type for the attribute tests");
    uint32_t type = api->system->HostRegisterObjectType(&gadgetList, "Gadget", (QmProc)GadgetAttribute);
    if (!type) return 0;
    for (uint32_t i = 0; i < 2; ++i) {
        gadgets[i].type = type;
        gadgets[i].id = i + 1;
        gadgets[i].next = i ? NULL : &gadgets[1];
    }
    gadgetList = &gadgets[0];
    return 1;
}

EXPORT void ClosePlugin(void) {}

EXPORT_NO_EXTENSIONS
