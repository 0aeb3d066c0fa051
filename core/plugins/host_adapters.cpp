// Bridges from the host interface to the adapter setters of the display,
// requester, sound and timer services.
#include "core/plugins/host_adapters.h"

#include "core/check_args.h"
#include "core/io/error_codes.h"
#include "display/adapters.h"
#include "media/sound.h"

TimerAdapterState TimerAdapter;

namespace {

constexpr uint32_t kTimerAdapterCapability = 0x1000;

AdapterPlugin Plugin(void* info, uint32_t capabilities, const char* name)
{
    return AdapterPlugin{info, capabilities, name};
}

} // namespace

uint32_t BridgeSetDisplayAdapter(void* info, uint32_t capabilities, const char* name, uint32_t flags,
                                 const void* tags)
{
    return SetDisplayAdapter(Plugin(info, capabilities, name), flags, static_cast<const TagItem*>(tags));
}

uint32_t BridgeSetRequesterAdapter(void* info, uint32_t capabilities, const char* name, uint32_t flags)
{
    return SetRequesterAdapter(Plugin(info, capabilities, name), flags);
}

uint32_t BridgeSetSoundAdapter(void* info, uint32_t capabilities, const char* name, uint32_t flags,
                               const void* tags)
{
    return SetSoundAdapter(Plugin(info, capabilities, name), flags, static_cast<const TagItem*>(tags));
}

uint32_t BridgeSetTimerAdapter(void* info, uint32_t capabilities, uint32_t flags)
{
    if (!RequireAppletVersion(6, 0))
        return ERR_OLDAPPLET;
    if (!(capabilities & kTimerAdapterCapability))
        return ERR_WRONGUSAGE;
    if (!AdapterSetupOpen() || (TimerAdapter.info && (TimerAdapter.flags & ADAPTERFLAG_LOCKED)))
        return ERR_SETADAPTER;
    TimerAdapter.info = info;
    TimerAdapter.flags = flags;
    return 0;
}
