// Loader lists: "|"-separated names of the loaders that may open a file
// ("inbuilt", "native", "plugin" or plugin module names). An empty or absent
// list, or "default", allows every loader in the default order.
#pragma once

// True when the list allows the loader. For a module name each item allows
// every name that begins with it; with the wildcard set, the item "plugin"
// allows every plugin. "inbuilt", "native" and "plugin" themselves are
// allowed only when they stand as a whole item.
bool IsLoaderAllowed(const char* loaderList, const char* loaderName, bool pluginWildcard);

// True only when the list is set, is not "default", and allows the name
// without the wildcard.
bool LoaderListNamesLoader(const char* loaderList, const char* loaderName);
