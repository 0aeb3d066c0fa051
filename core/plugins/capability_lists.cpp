// The per-capability plugin lists.
#include "core/plugins/capability_lists.h"

#include "core/io/error_codes.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr uint32_t kListBits[] = {
    PLUGINCAPS_IMAGE, PLUGINCAPS_ANIM, PLUGINCAPS_SOUND,
    PLUGINCAPS_VIDEO, PLUGINCAPS_FILEADAPTER, PLUGINCAPS_DIRADAPTER,
};
constexpr int kListCount = sizeof(kListBits) / sizeof(kListBits[0]);

PluginListNode* g_lists[kListCount];

PluginListNode** HeadFor(uint32_t capability)
{
    for (int i = 0; i < kListCount; ++i)
        if (kListBits[i] == capability)
            return &g_lists[i];
    return nullptr;
}

} // namespace

PluginListNode* GetPluginListForCapability(uint32_t capability)
{
    PluginListNode** head = HeadFor(capability);
    return head ? *head : nullptr;
}

int AddPluginToCapabilityList(PluginInfo* info, uint32_t capability)
{
    PluginListNode** link = HeadFor(capability);
    if (!link)
        return ERR_WRONGUSAGE;
    for (; *link; link = &(*link)->next)
        if ((*link)->info == info)
            return 0;
    auto* node = static_cast<PluginListNode*>(OsAllocMem(sizeof(PluginListNode), 1));
    if (!node)
        return ERR_MEM;
    node->info = info;
    *link = node;
    return 0;
}

void RemovePluginFromCapabilityList(PluginInfo* info, uint32_t capability)
{
    PluginListNode** link = HeadFor(capability);
    if (!link)
        return;
    while (*link) {
        if ((*link)->info == info) {
            PluginListNode* gone = *link;
            *link = gone->next;
            OsFreeMem(gone);
            return;
        }
        link = &(*link)->next;
    }
}

void RemovePluginFromAllCapabilityLists(PluginInfo* info)
{
    for (uint32_t bit : kListBits)
        RemovePluginFromCapabilityList(info, bit);
}

bool IsPluginInCapabilityList(const PluginInfo* info, uint32_t capability)
{
    for (PluginListNode* node = GetPluginListForCapability(capability); node; node = node->next)
        if (node->info == info)
            return true;
    return false;
}
