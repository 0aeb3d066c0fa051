// Catalog reading and look-up, and GetString, through which every runtime
// message passes on its way to the user.
//
// A catalog is untrusted input: the IFF records are checked once when the
// file is read (every record inside the file, every text terminated within
// its length), so that look-ups can walk them without further checks, and
// the walk still stops at the end of the data should a check be missed.
#include "core/io/catalog.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "core/io/byte_order.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/messages.h"
#include "core/io/stream.h"
#include "core/services/path_helpers.h"
#include "platform/posix/os_env.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"

Catalog* runtimeCatalog = nullptr;

const CatalogLanguage CatalogLanguages[CATALOG_LANGUAGE_COUNT] = {
    {"english", "english"},      {"deutsch", "german"},       {"nederlands", "dutch"},
    {"italiano", "italian"},     {"fran\xE7" "ais", "french"}, {"espa\xF1ol", "spanish"},
    {"portugu\xEAs", "portuguese"}, {"svenska", "swedish"},   {"dansk", "danish"},
    {"suomi", "finnish"},        {"norsk", "norwegian"},      {"polski", "polish"},
    {"magyar", "hungarian"},     {"greek", "greek"},          {"\xC8" "e\xB9tina", "czech"},
    {"t\xFCrk\xE7" "e", "turkish"}, {"hrvatski", "croatian"}, {"unknown", "unknown"},
};

namespace {

constexpr uint32_t CATALOG_END_WORD = 0xFFFFFFFF;
// Files of at most this size are always read as text catalogs.
constexpr size_t SMALLEST_IFF_CATALOG = 100;
// Room behind the data: the end word (IFF form) or the terminator (text form).
constexpr size_t CATALOG_TAIL = 4;

size_t PaddedLength(uint32_t n)
{
    return (static_cast<size_t>(n) + 3) & ~static_cast<size_t>(3);
}

// Checks the records from offset `pos` up to the end word or the end of the
// data. Fewer than 8 bytes left over at the end count as padding.
bool RecordsAreSound(const uint8_t* data, size_t size, size_t pos)
{
    while (pos + 8 <= size) {
        if (LoadBE32(data + pos) == CATALOG_END_WORD)
            return true;
        uint32_t n = LoadBE32(data + pos + 4);
        if (n > size - pos - 8)
            return false;
        if (n > 0 && !std::memchr(data + pos + 8, 0, n))
            return false;
        pos += 8 + PaddedLength(n);
    }
    return true;
}

int ParseIffCatalog(Catalog* catalog)
{
    uint8_t* data = catalog->data;
    size_t size = catalog->dataSize;
    StoreBE32(data + size, CATALOG_END_WORD);
    if (std::memcmp(data + 8, "CTLGFVER", 8) != 0)
        return ERR_FILEFORMAT;
    for (size_t offset = 16; offset + 4 <= size; offset += 2) {
        if (std::memcmp(data + offset, "STRS", 4) != 0)
            continue;
        if (!RecordsAreSound(data, size, offset + 8))
            return ERR_FILEFORMAT;
        catalog->firstRecord = data + offset + 8;
        return 0;
    }
    return ERR_FILEFORMAT;
}

// Converts the text form in place: each line end becomes a zero byte, the
// escapes become their characters. The result is never longer than the
// source, so it stays inside the data.
void ConvertTextCatalog(Catalog* catalog)
{
    uint8_t* data = catalog->data;
    size_t size = catalog->dataSize;
    size_t out = 0;
    for (size_t i = 0; i < size; ++i) {
        uint8_t c = data[i];
        if (c == '\n') {
            c = 0;
        } else if (c == '\r') {
            c = 0;
            // Only the LF of a CR LF pair is part of the line end; after a
            // bare CR the next line starts at once.
            if (i + 1 < size && data[i + 1] == '\n')
                ++i;
        } else if (c == '\\' && i + 1 < size) {
            uint8_t e = data[++i];
            c = e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : '\\';
        }
        data[out++] = c;
    }
    data[out] = 0;
    catalog->textLength = out;
}

} // namespace

int ParseCatalog(const void* bytes, size_t size, Catalog** out)
{
    *out = nullptr;
    auto* catalog = static_cast<Catalog*>(OsAllocMem(sizeof(Catalog), 1));
    if (!catalog)
        return ERR_MEM;
    catalog->data = static_cast<uint8_t*>(OsAllocMem(size + CATALOG_TAIL, 1));
    if (!catalog->data) {
        OsFreeMem(catalog);
        return ERR_MEM;
    }
    if (size > 0)
        std::memcpy(catalog->data, bytes, size);
    catalog->dataSize = size;
    if (size > SMALLEST_IFF_CATALOG && std::memcmp(catalog->data, "FORM", 4) == 0) {
        int error = ParseIffCatalog(catalog);
        if (error) {
            OsCloseCatalog(catalog);
            return error;
        }
    } else {
        ConvertTextCatalog(catalog);
    }
    *out = catalog;
    return 0;
}

int LoadCatalogFile(const char* path, Catalog** out)
{
    *out = nullptr;
    StreamHandle* stream = StreamOpen(path, STREAM_READ | STREAM_ADAPTERS);
    if (!stream) {
        SetErrorText(path);
        return ERR_READFILE;
    }
    uint8_t* block = nullptr;
    uint64_t size = 0;
    uint32_t error = ReadStreamToMemory(path, nullptr, stream, &block, &size);
    StreamClose(stream);
    if (error)
        return static_cast<int>(error);
    int result = size > SIZE_MAX - CATALOG_TAIL ? static_cast<int>(ERR_MEM)
                                                : ParseCatalog(block, static_cast<size_t>(size), out);
    OsFreeMem(block);
    return result;
}

Catalog* OpenCatalogForLanguage(const char* name, int language, const char* programDir)
{
    if (!name || language <= 0 || language >= CATALOG_LANGUAGE_COUNT)
        return nullptr;
    const CatalogLanguage& names = CatalogLanguages[language];
    std::string tries[4];
    int count = 0;
    for (const char* base : {static_cast<const char*>(""), programDir}) {
        if (!base)
            continue;
        std::string folder = AddPart(base, "Catalogs");
        tries[count++] = AddPart(AddPart(folder, names.englishName), name);
        tries[count++] = AddPart(AddPart(folder, names.nativeName), name);
    }
    for (int i = 0; i < count; ++i) {
        Catalog* catalog = nullptr;
        int error = LoadCatalogFile(tries[i].c_str(), &catalog);
        // The first file that opens decides, even when it cannot be used.
        if (error != ERR_READFILE)
            return catalog;
    }
    return nullptr;
}

Catalog* OsOpenCatalog(const char* name)
{
    const std::string& programDir = OsProgramDirectory();
    return OpenCatalogForLanguage(name, OsGetSystemLanguage(), programDir.empty() ? nullptr : programDir.c_str());
}

const char* OsGetCatalogString(const Catalog* catalog, int32_t n, const char* defaultText)
{
    if (!catalog || !catalog->data)
        return defaultText;
    const uint8_t* data = catalog->data;
    if (catalog->firstRecord) {
        size_t size = catalog->dataSize;
        size_t pos = static_cast<size_t>(catalog->firstRecord - data);
        while (pos + 8 <= size) {
            uint32_t number = LoadBE32(data + pos);
            if (number == CATALOG_END_WORD)
                break;
            uint32_t length = LoadBE32(data + pos + 4);
            if (number == static_cast<uint32_t>(n))
                return length ? reinterpret_cast<const char*>(data + pos + 8) : "";
            pos += 8 + PaddedLength(length);
        }
        return defaultText;
    }
    if (n < 1)
        return reinterpret_cast<const char*>(data);
    int32_t seen = 0;
    for (size_t i = 0; i < catalog->textLength; ++i) {
        if (data[i] != 0 || ++seen < n)
            continue;
        return i + 1 < catalog->textLength ? reinterpret_cast<const char*>(data + i + 1)
                                           : defaultText;
    }
    return defaultText;
}

void OsCloseCatalog(Catalog* catalog)
{
    if (!catalog)
        return;
    OsFreeMem(catalog->data);
    OsFreeMem(catalog);
}

const char* GetString(uint32_t id)
{
    const char* text = id < MESSAGE_COUNT ? MessageTable[id].text : nullptr;
    if (id > static_cast<uint32_t>(INT32_MAX))
        return text;
    return OsGetCatalogString(runtimeCatalog, static_cast<int32_t>(id), text);
}
