// Catalog reader on arbitrary bytes: parsing either form and looking up
// strings must stay inside the data and every answer must be terminated.
#include "core/io/catalog.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Catalog* catalog = nullptr;
    if (ParseCatalog(data, size, &catalog) != 0)
        return 0;
    static const char fallback[] = "default";
    size_t total = 0;
    for (int32_t n = -1; n < 64; ++n)
        total += std::strlen(OsGetCatalogString(catalog, n, fallback));
    total += std::strlen(OsGetCatalogString(catalog, INT32_MAX, fallback));
    OsCloseCatalog(catalog);
    return total == SIZE_MAX;
}
