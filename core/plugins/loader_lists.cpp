// Loader lists: which loaders a caller allows.
#include "core/plugins/loader_lists.h"

#include <cstring>

#include <string>

#include "core/io/case_tables.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/plugin_manager.h"

namespace {

bool EqualNoCase(const char* a, const char* b, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (ToLowerLatin1(static_cast<uint8_t>(a[i])) != ToLowerLatin1(static_cast<uint8_t>(b[i])))
            return false;
    return true;
}

bool IsDefaultList(const char* list)
{
    return !list || !*list || (std::strlen(list) == 7 && EqualNoCase(list, "default", 7));
}

bool IsReservedName(const char* name)
{
    return std::strcmp(name, "native") == 0 || std::strcmp(name, "inbuilt") == 0 ||
           std::strcmp(name, "plugin") == 0;
}

// The first case-insensitive occurrence of word in list decides.
bool FirstOccurrenceIsItem(const char* list, const char* word)
{
    size_t listLength = std::strlen(list);
    size_t wordLength = std::strlen(word);
    for (size_t i = 0; i + wordLength <= listLength; ++i) {
        if (!EqualNoCase(list + i, word, wordLength))
            continue;
        bool startsItem = i == 0 || list[i - 1] == '|';
        char after = list[i + wordLength];
        return startsItem && (after == 0 || after == '|');
    }
    return false;
}

} // namespace

bool IsLoaderAllowed(const char* loaderList, const char* loaderName, bool pluginWildcard)
{
    if (IsDefaultList(loaderList))
        return true;
    if (IsReservedName(loaderName))
        return FirstOccurrenceIsItem(loaderList, loaderName);

    size_t nameLength = std::strlen(loaderName);
    const char* item = loaderList;
    for (;;) {
        const char* bar = std::strchr(item, '|');
        size_t itemLength = bar ? static_cast<size_t>(bar - item) : std::strlen(item);
        if (itemLength > 0) {
            if (itemLength <= nameLength && EqualNoCase(item, loaderName, itemLength))
                return true;
            if (pluginWildcard && itemLength <= 6 && EqualNoCase(item, "plugin", itemLength))
                return true;
        }
        if (!bar)
            return false;
        item = bar + 1;
    }
}

bool LoaderListNamesLoader(const char* loaderList, const char* loaderName)
{
    return !IsDefaultList(loaderList) && IsLoaderAllowed(loaderList, loaderName, false);
}

void BuildLoaderChain(const char* loaderList, uint32_t capability)
{
    if (IsDefaultList(loaderList))
        return;
    const char* item = loaderList;
    for (;;) {
        const char* bar = std::strchr(item, '|');
        std::string name(item, bar ? static_cast<size_t>(bar - item) : std::strlen(item));
        // An empty item names no plugin.
        if (!name.empty() && !PluginNamesEqual(name.c_str(), "plugin") && !PluginNamesEqual(name.c_str(), "native") &&
            !PluginNamesEqual(name.c_str(), "inbuilt")) {
            for (PluginRecord* record = PluginList; record; record = record->next) {
                if (!record->node)
                    continue;
                PluginInfo* info = record->node->info;
                if (!info->modulename || info->disabled || !PluginNamesEqual(info->modulename, name.c_str()))
                    continue;
                if ((info->capabilities & capability) && !IsPluginInCapabilityList(info, capability) &&
                    AddPluginToCapabilityList(info, capability) == 0)
                    info->enteredByName = 1;
                break;
            }
        }
        if (!bar)
            return;
        item = bar + 1;
    }
}

bool PluginPassesLoaderList(const PluginInfo* info, const char* loaderList)
{
    const char* name = info->modulename ? info->modulename : "";
    return !info->disabled && IsLoaderAllowed(loaderList, name, true) &&
           (!info->enteredByName || LoaderListNamesLoader(loaderList, name));
}
