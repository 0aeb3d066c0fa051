// Catalogs: translations of the runtime's messages or of a script's strings,
// found by the user's language and indexed by string number.
//
// Two forms are read. The IFF form: "FORM", a length, "CTLG", a first chunk
// "FVER", and from the first "STRS" on (at an even offset) string records of
// {u32 number, u32 length n, n bytes of text terminated within n, padding to
// a multiple of 4}, all big-endian. The text form (any file of at most 100
// bytes, or one not starting with "FORM"): one string per line, numbered
// from 0, with the escapes \n, \r and \t.
//
// Catalog texts are data: a caller that shows one with an argument goes
// through FormatMessageText (core/io/errors.h), never through printf.
#pragma once

#include <cstddef>
#include <cstdint>

struct Catalog {
    uint8_t* data;              // the loaded file, followed by the end word 0xFFFFFFFF
    const uint8_t* firstRecord; // IFF form: the first string record; null for the text form
    size_t dataSize;            // bytes of the file (IFF form)
    size_t textLength;          // length of the converted text (text form)
};

// Languages, indexed by the numbers of the LANGUAGE_* constants.
struct CatalogLanguage {
    const char* nativeName; // Latin-1 (Czech: ISO-8859-2), as the folders are named
    const char* englishName;
};
constexpr int CATALOG_LANGUAGE_COUNT = 18; // 17 is "unknown"
constexpr int LANGUAGE_NONE = 18;          // the user's language is not in the table
extern const CatalogLanguage CatalogLanguages[CATALOG_LANGUAGE_COUNT];

// Builds a catalog from a copy of a file's bytes. Answers 0 with the catalog,
// ERR_FILEFORMAT for an IFF catalog without "CTLGFVER" or "STRS" or with a
// record that runs past the end or is not terminated, ERR_MEM.
int ParseCatalog(const void* bytes, size_t size, Catalog** out);

// Reads a catalog file through the stream layer (file adapters included);
// 0, ERR_READFILE with the name as error text when it does not open,
// ERR_READ, ERR_FILEFORMAT or ERR_MEM.
int LoadCatalogFile(const char* path, Catalog** out);

// Opens the catalog `name` for a language: tries "Catalogs"/English
// name/name and "Catalogs"/native name/name in the current directory, then
// both under programDir (when not null). English and LANGUAGE_NONE use no
// catalog. Null when none opens.
Catalog* OpenCatalogForLanguage(const char* name, int language, const char* programDir);

// The same for the user's language (OsGetSystemLanguage) and the program's
// own directory.
Catalog* OsOpenCatalog(const char* name);

// The text of string n, or defaultText when there is no catalog or no such
// string.
const char* OsGetCatalogString(const Catalog* catalog, int32_t n, const char* defaultText);

void OsCloseCatalog(Catalog* catalog);

// The runtime's own catalog ("Quillmere.catalog"), opened at start-up and
// read by GetString; null when none is used.
extern Catalog* runtimeCatalog;
