// The timer adapter's setter.
#include "core/plugins/host_adapters.h"

#include "core/io/error_codes.h"
#include "core/services/check_args.h"
#include "display/adapters.h"

PluginInfo* TimerAdapterPlugin = nullptr;

uint32_t SetTimerAdapter(PluginInfo* info, uint32_t flags)
{
    if (!RequireAppletVersion(6, 0))
        return ERR_OLDAPPLET;
    if (!(info->capabilities & PLUGINCAPS_TIMERADAPTER))
        return ERR_WRONGUSAGE;
    if (!AdapterSetupOpen() ||
        (TimerAdapterPlugin && (TimerAdapterPlugin->adapterFlags[QM_ADAPTERFLAGS_TIMER] & ADAPTERFLAG_LOCKED)))
        return ERR_SETADAPTER;
    info->adapterFlags[QM_ADAPTERFLAGS_TIMER] = flags;
    TimerAdapterPlugin = info;
    return 0;
}
