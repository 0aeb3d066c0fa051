/* The test plugins: one source compiled once per variant (see
 * CMakeLists.txt), the switches named after what they do (NEED_VERSION and
 * NEED_REVISION default to 6.1; LIB_BASE names the LIBRARY's table;
 * MULTI_FLAG_ONLY declares several libraries without exporting the calls;
 * FILE_ADAPTER serves "mem:" names, NOSEEK marking its streams noseek,
 * VIRTUAL taking linked files too, BY_NAME_ONLY keeping it out of the
 * file-adapter list; DIR_ADAPTER serves "mem:dir"; SAVER's READBACK walks
 * its list by reading its previous answer back, ENDLESS never ends it).
 * Every call of InitPlugin, ClosePlugin, RequirePlugin and FOpen is
 * appended as a line to the file that QM_TEST_PLUGIN_LOG names, written
 * through the host's runtime table. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "test_plugin_info.h"

#ifndef NEED_VERSION
#define NEED_VERSION 6
#endif
#ifndef NEED_REVISION
#define NEED_REVISION 1
#endif

static const PluginHostApi* host;

static void LogLine(const char* what, const char* detail)
{
    const char* path = getenv("QM_TEST_PLUGIN_LOG");
    if (!host || !path)
        return;
    FILE* file = host->runtime->fopen(path, "ab");
    if (!file)
        return;
    host->runtime->fwrite(what, 1, strlen(what), file);
    host->runtime->fputc(' ', file);
    host->runtime->fwrite(MODULE_NAME, 1, strlen(MODULE_NAME), file);
    if (detail) {
        host->runtime->fputc(' ', file);
        host->runtime->fwrite(detail, 1, strlen(detail), file);
    }
    host->runtime->fputc('\n', file);
    host->runtime->fclose(file);
}

#ifdef NO_INIT
#define INIT_LINKAGE static __attribute__((unused))
#else
#define INIT_LINKAGE EXPORT
#endif

INIT_LINKAGE int InitPlugin(PluginInfo* info, const PluginHostApi* api, const char* path)
{
    (void)path;
    host = api;
    FillTestPluginInfo(info, CAPS, "Test plugin " MODULE_NAME, MODULE_NAME, "Plugin for the host's tests");
    info->revision = 4;
    info->neededVersion = NEED_VERSION;
    info->neededRevision = NEED_REVISION;
#ifdef FOREIGN
    info->callForm = QM_CALLFORM_FOREIGN;
#endif
#ifdef FILE_ADAPTER
#ifdef VIRTUAL
    api->system->SetAdapterFlags(info, PLUGINCAPS_FILEADAPTER, QM_FILEADAPTER_VIRTUAL);
#endif
#ifndef BY_NAME_ONLY
    api->system->AddPluginToCapabilityList(info, PLUGINCAPS_FILEADAPTER);
#endif
#endif
#ifdef DIR_ADAPTER
    api->system->AddPluginToCapabilityList(info, PLUGINCAPS_DIRADAPTER);
#endif
#ifdef SAVER
    api->system->HostAddSaverFormat(info, 7, "qmraw", NULL, "raw", 0, 0);
    api->system->HostAddSaverFormat(info, 8, "qmhex", "hex text", "hex", 5, 1);
#endif
    LogLine("init", NULL);
#ifdef INIT_FAILS
    return 0;
#else
    return 1;
#endif
}

#ifndef NO_CLOSE
EXPORT void ClosePlugin(void) { LogLine("close", NULL); }
#endif

#if (CAPS) & 0x20000
EXPORT uint32_t GetExtensions(uint32_t capability, uintptr_t reserved)
{
    (void)reserved;
#if defined(ON_REQUIRE)
    if (capability == PLUGINCAPS_LIBRARY)
        return QM_LIBEXT_ON_REQUIRE;
#endif
#if defined(MULTI_FLAG_ONLY)
    if (capability == PLUGINCAPS_LIBRARY)
        return QM_LIBEXT_MULTIPLE;
#endif
#if defined(IMAGE_BY_NAME)
    if (capability == PLUGINCAPS_IMAGE)
        return QM_LOADEREXT_BY_NAME;
#endif
    (void)capability;
    return 0;
}
#endif

/* A command library */

#ifdef LIBRARY
static uint32_t Add(struct VmState* state)
{
    double sum = host->vm->VmGetNumber(state, 1) + host->vm->VmGetNumber(state, 2);
    host->vm->VmPushNumber(state, sum);
    return 1;
}

static uint32_t Fail(struct VmState* state) { (void)state; return 1459; }

/* WriteCopy(file, text): has the host write text to file through its own
 * copier, which reads the text through a memory name of the host's making. */
static uint32_t WriteCopy(struct VmState* state)
{
    const char* file = host->vm->VmGetString(state, 1);
    size_t length = 0;
    const char* text = host->vm->VmCheckString(state, 2, &length);
    if (!file)
        return 1055;
    return host->streams->HostWriteFile(file, text, 0, length, 0);
}

static const QmCommandEntry commands[] = {
    {"Add", Add},
    {"Fail", Fail},
    {"Unused", NULL},
    {"WriteCopy", WriteCopy},
    {NULL, NULL},
};

static const QmConstantEntry constants[] = {
    {"MATHX_ONE", NULL, 1},
    {"MATHX_NAME", "mathx", 0},
    {NULL, NULL, 0},
};

EXPORT const char* GetBaseTable(void) { return LIB_BASE; }
EXPORT const QmCommandEntry* GetCommands(void) { return commands; }
EXPORT const QmConstantEntry* GetConstants(void) { return constants; }

EXPORT int InitLibrary(struct VmState* state) { (void)state; LogLine("initlibrary", NULL); return 0; }
EXPORT void FreeLibrary(struct VmState* state) { (void)state; LogLine("freelibrary", NULL); }
#endif

#ifdef MULTI_FLAG_ONLY
EXPORT const char* GetBaseTable(void) { return "multi"; }
EXPORT const QmCommandEntry* GetCommands(void) { return NULL; }
EXPORT const QmConstantEntry* GetConstants(void) { return NULL; }
EXPORT int InitLibrary(struct VmState* state) { (void)state; return 0; }
EXPORT void FreeLibrary(struct VmState* state) { (void)state; }
#endif

#ifdef REQUIRE
/* Logs the version asked for and the settings of tag 2 as " key=value". */
EXPORT int RequirePlugin(struct VmState* state, int version, int revision, uint32_t reserved, QmTagItem* tags)
{
    char detail[512];
    QmTagItem* tag;
    (void)state;
    (void)reserved;
    snprintf(detail, sizeof detail, "%d.%d", version, revision);
    for (tag = tags; tag && tag->tag; ++tag) {
        const QmPluginOption* option = tag->tag == 2 ? (const QmPluginOption*)tag->value : NULL;
        for (; option; option = option->next) {
            size_t n = strlen(detail);
            if (option->text)
                snprintf(detail + n, sizeof detail - n, " %s=%s", option->key, option->text);
            else
                snprintf(detail + n, sizeof detail - n, " %s=%g", option->key, option->number);
        }
    }
    LogLine("require", detail);
    return 0;
}
#endif

/* An image loader that takes no file */

#if (CAPS) & 0x4
EXPORT int IsImage(const char* file, QmLoadImageParams* params) { (void)file; (void)params; return 0; }
EXPORT void* LoadImage(const char* file, QmLoadImageParams* params) { (void)file; (void)params; return NULL; }
EXPORT uint32_t* GetImage(void* image, QmLoadImageParams* params) { (void)image; (void)params; return NULL; }
EXPORT void FreeImage(void* image) { (void)image; }
EXPORT int TransformImage(void* image, const QmImageTransform* t, int w, int h)
{ (void)image; (void)t; (void)w; (void)h; return 0; }
#endif

/* An image saver */

#ifdef SAVER
static int saverCalls __attribute__((unused));
EXPORT int RegisterImageSaver(QmSaverFormat* format)
{
#if defined(READBACK)
    int index = format->formatId == 7;
#elif defined(ENDLESS)
    int index = 0;
#else
    int index = saverCalls++ % 2;
#endif
    format->formatId = index ? 8 : 7;
    format->name = index ? "hex" : "raw";
    format->flags = index ? 0 : 0x8;
    return 1;
}
EXPORT int SaveImage(const char* file, QmSaveImageBlock* block) { (void)file; (void)block; return 0; }
#endif

/* A file adapter serving "mem:" names from memory: "mem:data.bin" holds the
 * bytes 0, 1, 2 ... 255, 0, 1 ... (1000 bytes); "mem:empty" is empty. A
 * memory block is served from the tags, a linked file as the same pattern. */

#ifdef FILE_ADAPTER
typedef struct MemFile {
    const unsigned char* data;
    int64_t size;
    int64_t position;
} MemFile;

static unsigned char pattern[1000];

static int IsMemName(const char* name)
{
    return strncmp(name, "mem:", 4) == 0 && strcmp(name, "mem:dir") != 0;
}

EXPORT void* FOpen(const char* name, int mode, QmTagItem* tags)
{
    MemFile* file;
    const unsigned char* data = NULL;
    int64_t size = -1;
    uint32_t* flags = NULL;
    QmTagItem* tag;
    int container = 0;
    int i;
    for (tag = tags; tag && tag->tag; ++tag) {
        if (tag->tag == QM_FOPENTAG_STREAMFLAGS)
            flags = (uint32_t*)tag->value;
        else if (tag->tag == QM_FOPENTAG_DATA)
            data = (const unsigned char*)tag->value;
        else if (tag->tag == QM_FOPENTAG_SIZE)
            size = (int64_t)tag->value;
        else if (tag->tag == QM_FOPENTAG_CONTAINER)
            container = 1;
    }
    if (mode != QM_FOPEN_READ)
        return NULL;
    if (!data) {
        /* A linked file is served as the pattern, cut to its size. */
        if (!container && !IsMemName(name))
            return NULL;
        for (i = 0; i < 1000; ++i)
            pattern[i] = (unsigned char)i;
        data = pattern;
        if (!container)
            size = strcmp(name, "mem:empty") == 0 ? 0 : 1000;
        else if (size > 1000)
            size = 1000;
    }
    file = (MemFile*)host->system->HostAllocMem(sizeof(MemFile), QM_HOSTALLOC_ZERO);
    if (!file)
        return NULL;
    file->data = data;
    file->size = size < 0 ? 0 : size;
#ifdef NOSEEK
    if (flags)
        *flags = QM_STREAMFLAG_NOSEEK | QM_STREAMFLAG_STREAMING;
#else
    (void)flags;
#endif
    LogLine("fopen", name);
    return file;
}

EXPORT int FClose(void* handle) { host->system->HostFreeMem(handle); return 1; }

EXPORT int64_t FRead(void* handle, void* buffer, int64_t count)
{
    MemFile* file = (MemFile*)handle;
    int64_t left = file->size - file->position;
    if (count > left)
        count = left;
    memcpy(buffer, file->data + file->position, (size_t)count);
    file->position += count;
    return count;
}

EXPORT int FGetC(void* handle)
{
    MemFile* file = (MemFile*)handle;
    return file->position < file->size ? file->data[file->position++] : -1;
}

EXPORT int64_t FWrite(void* handle, const void* buffer, int64_t count)
{ (void)handle; (void)buffer; (void)count; return 0; }
EXPORT int FPutC(void* handle, int byte) { (void)handle; (void)byte; return -1; }

/* A noseek stream still answers tell and rewind; anything else is refused
 * and counted, so that the tests see that the host emulated it. */
EXPORT int64_t FSeek(void* handle, int64_t offset, int mode)
{
    MemFile* file = (MemFile*)handle;
    int64_t before = file->position;
    int64_t target;
#ifdef NOSEEK
    if (!(offset == 0 && (mode == 0 || mode == 1))) {
        LogLine("refusedseek", NULL);
        return -1;
    }
#endif
    target = mode == 0 ? before + offset : mode == 2 ? file->size + offset : offset;
    if (target < 0 || target > file->size)
        return -1;
    file->position = target;
    return before;
}

EXPORT int FFlush(void* handle) { (void)handle; return 1; }

EXPORT int FEof(void* handle)
{
    MemFile* file = (MemFile*)handle;
    return file->position >= file->size;
}

static void Describe(AdapterStatRecord* record, int64_t size, const char* path)
{
    record->type = 0;
    record->size = (uint64_t)size;
    record->flags = 3;
    record->modified.year = 2020;
    record->modified.month = 1;
    record->modified.day = 15;
    record->modified.hour = 12;
    record->path = path;
    record->auxText = "from memory";
    record->extra[0] = 11;
    record->extra[1] = 22;
}

EXPORT int FStat(void* handle, uint32_t flags, AdapterStatRecord* record, QmTagItem* tags)
{
    (void)flags, (void)tags;
    Describe(record, ((MemFile*)handle)->size, "mem:open");
    return 1;
}

EXPORT int Stat(const char* name, uint32_t flags, AdapterStatRecord* record, QmTagItem* tags)
{
    (void)flags, (void)tags;
    if (!IsMemName(name))
        return 0;
    Describe(record, strcmp(name, "mem:empty") == 0 ? 0 : 1000, name);
    return 1;
}
#endif

/* A directory adapter serving "mem:dir": a.txt (3 bytes) and sub (a folder). */

#ifdef DIR_ADAPTER
typedef struct MemDir {
    int next;
} MemDir;

EXPORT void* OpenDir(const char* name, uint32_t flags, QmTagItem* tags)
{
    (void)flags, (void)tags;
    if (strcmp(name, "mem:dir") != 0)
        return NULL;
    return host->system->HostAllocMem(sizeof(MemDir), QM_HOSTALLOC_ZERO);
}

EXPORT void CloseDir(void* handle)
{
    LogLine("closedir", NULL);
    host->system->HostFreeMem(handle);
}

EXPORT int NextDirEntry(void* handle, AdapterStatRecord* record, QmTagItem* tags)
{
    MemDir* dir = (MemDir*)handle;
    (void)tags;
    switch (dir->next++) {
    case 0:
        record->type = 0;
        record->size = 3;
        record->path = "a.txt";
        return 1;
    case 1:
        record->type = 1;
        record->path = "sub";
        return 1;
    default:
        return 0;
    }
}
#endif
