// Loader lists: "|"-separated names of the loaders that may open a file
// ("inbuilt", "native", "plugin" or plugin module names). An empty or absent
// list, or "default", allows every loader in the default order.
#pragma once

#include <cstdint>

// True when the list allows the loader. For a module name each item allows
// every name that begins with it; with the wildcard set, the item "plugin"
// allows every plugin. "inbuilt", "native" and "plugin" themselves are
// allowed only when they stand as a whole item.
bool IsLoaderAllowed(const char* loaderList, const char* loaderName, bool pluginWildcard);

// True only when the list is set, is not "default", and allows the name
// without the wildcard.
bool LoaderListNamesLoader(const char* loaderList, const char* loaderName);

struct PluginInfo;

// Enters the plugins that the list names by module name into the list of
// the capability (marking them entered by name), in the order of the list.
// Nothing for the default list, or for a capability without a list.
void BuildLoaderChain(const char* loaderList, uint32_t capability);

// Whether a plugin of a capability list may be tried under the list: not
// disabled, allowed by the list (with the "plugin" wildcard), and, when it
// entered the chain only by name, named by the present list.
bool PluginPassesLoaderList(const PluginInfo* info, const char* loaderList);
