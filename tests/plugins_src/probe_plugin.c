/* The probe plugin calls the host's tables through the interface handed to
 * InitPlugin alone (it links against neither FreeType, zlib nor libjpeg).
 * ProbeRun(step, argument, out, capacity) answers the number of bytes
 * written to out, or -1 with a line naming the failed check in out. */
#include <ft2build.h>
#include FT_FREETYPE_H
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <jpeglib.h>
#include <zlib.h>

#include "test_plugin_info.h"

static const PluginHostApi* host;

EXPORT int InitPlugin(PluginInfo* info, const PluginHostApi* api, const char* path)
{
    (void)path;
    host = api;
    FillTestPluginInfo(info, PLUGINCAPS_EXTENSIONS, "probe", "probe", "Calls every host table");
    return 1;
}

EXPORT void ClosePlugin(void) {}

EXPORT_NO_EXTENSIONS

/* Slot types of tables 7, 10 and 11: the library's own declarations. */
#define SLOT(table, index, function) ((__typeof__(&function))host->table->slot[index])

static long Fail(char* out, size_t capacity, const char* what)
{
    snprintf(out, capacity, "failed: %s", what);
    return -1;
}

#define CHECK(cond) \
    do { \
        if (!(cond)) \
            return Fail(out, capacity, #cond); \
    } while (0)

static long Text(char* out, size_t capacity, const char* text)
{
    size_t length = strlen(text);
    if (length >= capacity) {
        if (capacity)
            out[0] = '\0';
        return -1;
    }
    memcpy(out, text, length + 1);
    return (long)length;
}

/* Table 0: case comparison and conversion through the Latin-1 tables, and
 * the real clock. */
static long ProbeRuntime(char* out, size_t capacity)
{
    const QmRuntimeTable* rt = host->runtime;
    char word[] = "Gr\xE4\xDF" "e";
    struct timeval tv = {0, 0};
    CHECK(rt->StrCaseCmp("GR\xC4\xDF" "E", "gr\xE4\xDF" "e") == 0);
    CHECK(rt->StrCaseCmp("abc", "abd") < 0);
    CHECK(rt->StrNCaseCmp("ABCx", "abcy", 3) == 0);
    CHECK(rt->toupper(0xE9) == 0xC9 && rt->tolower(0xC9) == 0xE9);
    CHECK(strcmp(rt->PluginStrToUpper(word), "GR\xC4\xDF" "E") == 0);
    CHECK(rt->gettimeofday(&tv, NULL) == 0);
    CHECK(tv.tv_usec >= 0 && tv.tv_usec < 1000000);
    return snprintf(out, capacity, "%lld", (long long)tv.tv_sec);
}

/* Table 1: tags and memory. */
static long ProbeSystem(char* out, size_t capacity)
{
    const QmSystemTable* sys = host->system;
    uintptr_t zero = 7, vm = 7;
    const char* title = NULL;
    unsigned char* block;
    QmTagItem tags[] = {{QM_HOSTTAG_ZERO, (uintptr_t)&zero},
                        {QM_HOSTTAG_TITLE, (uintptr_t)&title},
                        {QM_HOSTTAG_VMSTATE, (uintptr_t)&vm},
                        {QM_HOSTTAG_WORD31, 5},
                        {0, 0}};
    CHECK(sys->HostGetSetTags(tags) == 4);
    CHECK(zero == 0 && title != NULL);
    block = (unsigned char*)sys->HostAllocMem(64, QM_HOSTALLOC_ZERO);
    CHECK(block && block[0] == 0 && block[63] == 0);
    sys->HostFreeMem(block);
    return snprintf(out, capacity, "%s|%llx", title, (unsigned long long)vm);
}

/* Table 2: a whole file read through a stream; the argument is its name. */
static long ProbeStream(const char* name, char* out, size_t capacity)
{
    QmStream* stream = host->streams->HostOpenStream(name, 0);
    size_t n;
    CHECK(stream != NULL);
    n = host->streams->StreamRead(stream, out, capacity);
    CHECK(host->streams->StreamEof(stream) || n == capacity);
    host->streams->StreamClose(stream);
    return (long)n;
}

/* Table 3: a brush made, locked, blitted and drawn into; the argument is
 * the brush's id. The picture: black 16 x 16, a white 4 x 4 square blitted
 * at (2, 3), a green line along row 10, a blue pixel at (15, 15). */
static long ProbeDraw(uintptr_t id, char* out, size_t capacity)
{
    const QmGraphicsTable* g = host->graphics;
    uint32_t black[16 * 16];
    QmBrushLock lock;
    void* held;
    int32_t width = 0, height = 0, plain = 0;
    uint32_t* argb;
    memset(black, 0, sizeof black);
    CHECK(((QmCreateBrushFunc)g->slot[QM_GFX_CREATEBRUSH])((uint32_t)id, black, 16, 16, 0) == 0);
    held = ((QmLockBrushFunc)g->slot[QM_GFX_LOCKBRUSH])((uint32_t)id, NULL, &lock);
    CHECK(held != NULL);
    CHECK(lock.width == 16 && lock.height == 16 && lock.maskPixels == NULL && lock.alphaPixels == NULL);
    {
        const QmTagItem tags[] = {{1, lock.format}, {2, lock.rowLength}, {3, 4}, {0, 0}};
        uint32_t source[4 * 4];
        uint32_t pixel = ((uint32_t(*)(uint32_t, uint32_t))g->slot[QM_GFX_ARGBTOPIXEL])(0xFFFFFFFF,
                                                                                      (uint32_t)lock.format);
        int i;
        for (i = 0; i < 16; ++i)
            source[i] = pixel;
        ((QmBltBitMapFunc)g->slot[QM_GFX_BLTBITMAP])(source, 0, 0, lock.pixels, 2, 3, 4, 4, 0, tags);
        ((QmDrawLineFunc)g->slot[QM_GFX_DRAWLINE])(lock.pixels, 0, 10, 15, 10, 0x0000FF00, 0, tags);
        ((QmWritePixelFunc)g->slot[QM_GFX_WRITEPIXEL])(lock.pixels, 15, 15, 0x000000FF, 0, tags);
    }
    ((void (*)(void*))g->slot[QM_GFX_UNLOCKBRUSH])(held);
    {
        QmTagItem tags[] = {{1, (uintptr_t)&width}, {2, (uintptr_t)&height}, {3, (uintptr_t)&plain}, {0, 0}};
        argb = ((QmGetBrushArgbFunc)g->slot[QM_GFX_GETBRUSHARGB])((uint32_t)id, tags);
    }
    CHECK(argb != NULL && width == 16 && height == 16 && plain == 1);
    CHECK((argb[3 * 16 + 2] & 0xFFFFFF) == 0xFFFFFF && (argb[10 * 16 + 7] & 0xFFFFFF) == 0x00FF00);
    ((void (*)(void*))g->slot[QM_GFX_HOSTFREEMEM])(argb);
    return Text(out, capacity, "drawn");
}

/* Table 7 with table 9: each inbuilt face opened from memory. */
static long ProbeFonts(char* out, size_t capacity)
{
    FT_Library library;
    long length = 0;
    int i;
    CHECK(SLOT(freetype, QM_FT_INIT_FREETYPE, FT_Init_FreeType)(&library) == 0);
    for (i = 0; i < 3; ++i) {
        FT_Face face;
        FT_UInt glyph;
        const FT_Byte* data = (const FT_Byte*)host->inbuiltFonts->data[i];
        CHECK(SLOT(freetype, QM_FT_NEW_MEMORY_FACE, FT_New_Memory_Face)(
                  library, data, (FT_Long)host->inbuiltFonts->size[i], 0, &face) == 0);
        CHECK(SLOT(freetype, QM_FT_SET_PIXEL_SIZES, FT_Set_Pixel_Sizes)(face, 0, 24) == 0);
        glyph = SLOT(freetype, QM_FT_GET_CHAR_INDEX, FT_Get_Char_Index)(face, 'A');
        CHECK(glyph != 0);
        CHECK(SLOT(freetype, QM_FT_LOAD_GLYPH, FT_Load_Glyph)(face, glyph, FT_LOAD_RENDER) == 0);
        CHECK(face->glyph->bitmap.rows > 10);
        length += snprintf(out + length, capacity - (size_t)length, "%s%s|%ld", i ? ";" : "", face->family_name,
                           (long)host->inbuiltFonts->size[i]);
        SLOT(freetype, QM_FT_DONE_FACE, FT_Done_Face)(face);
    }
    SLOT(freetype, QM_FT_DONE_FREETYPE, FT_Done_FreeType)(library);
    return length;
}

/* Table 10: the argument's text deflated into out. */
static long ProbeDeflate(const char* text, char* out, size_t capacity)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    CHECK(SLOT(zlib, QM_Z_DEFLATEINIT_, deflateInit_)(&z, 9, ZLIB_VERSION, (int)sizeof z) == Z_OK);
    z.next_in = (Bytef*)text;
    z.avail_in = (uInt)strlen(text);
    z.next_out = (Bytef*)out;
    z.avail_out = (uInt)capacity;
    CHECK(SLOT(zlib, QM_Z_DEFLATE, deflate)(&z, Z_FINISH) == Z_STREAM_END);
    CHECK(SLOT(zlib, QM_Z_DEFLATEEND, deflateEnd)(&z) == Z_OK);
    return (long)z.total_out;
}

/* Table 11: a 16 x 16 picture written as a JPEG through the raw-data
 * writer (the colour planes given at full resolution): red on the left
 * half, blue on the right. */
static long ProbeJpeg(char* out, size_t capacity)
{
    struct jpeg_compress_struct c;
    struct jpeg_error_mgr error;
    unsigned char* buffer = NULL;
    unsigned long size = 0;
    JSAMPLE planes[3][16][16];
    JSAMPROW rows[3][8];
    JSAMPARRAY components[3];
    int x, y, i, band;
    for (y = 0; y < 16; ++y)
        for (x = 0; x < 16; ++x) {
            int r = x < 8 ? 255 : 0, b = x < 8 ? 0 : 255;
            planes[0][y][x] = (JSAMPLE)((299 * r + 114 * b) / 1000);
            planes[1][y][x] = (JSAMPLE)(128 + (-169 * r + 500 * b) / 1000);
            planes[2][y][x] = (JSAMPLE)(128 + (500 * r - 81 * b) / 1000);
        }
    c.err = SLOT(jpeg, QM_JPEG_STD_ERROR, jpeg_std_error)(&error);
    SLOT(jpeg, QM_JPEG_CREATECOMPRESS, jpeg_CreateCompress)(&c, JPEG_LIB_VERSION, sizeof c);
    SLOT(jpeg, QM_JPEG_MEM_DEST, jpeg_mem_dest)(&c, &buffer, &size);
    c.image_width = 16;
    c.image_height = 16;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    SLOT(jpeg, QM_JPEG_SET_DEFAULTS, jpeg_set_defaults)(&c);
    SLOT(jpeg, QM_JPEG_SET_QUALITY, jpeg_set_quality)(&c, 95, TRUE);
    c.raw_data_in = TRUE;
    for (i = 0; i < 3; ++i) {
        c.comp_info[i].h_samp_factor = 1;
        c.comp_info[i].v_samp_factor = 1;
    }
    SLOT(jpeg, QM_JPEG_START_COMPRESS, jpeg_start_compress)(&c, TRUE);
    for (band = 0; band < 2; ++band) {
        for (i = 0; i < 3; ++i) {
            for (y = 0; y < 8; ++y)
                rows[i][y] = planes[i][band * 8 + y];
            components[i] = rows[i];
        }
        CHECK(SLOT(jpeg, QM_JPEG_WRITE_RAW_DATA, jpeg_write_raw_data)(&c, components, 8) == 8);
    }
    SLOT(jpeg, QM_JPEG_FINISH_COMPRESS, jpeg_finish_compress)(&c);
    SLOT(jpeg, QM_JPEG_DESTROY_COMPRESS, jpeg_destroy_compress)(&c);
    if (size > capacity) {
        host->runtime->free(buffer);
        return Fail(out, capacity, "room for the JPEG");
    }
    memcpy(out, buffer, size);
    host->runtime->free(buffer);
    return (long)size;
}

/* Table 13: digests and Base64 of known inputs, and table 10's CRC. */
static long ProbeEncoders(char* out, size_t capacity)
{
    const QmEncoderTable* e = host->encoders;
    char empty[33], abc[33];
    char* text;
    void* bytes;
    size_t length = 0;
    long written;
    e->HostMd5Hex("", 0, empty);
    e->HostMd5Hex("abc", 3, abc);
    text = e->HostEncodeBase64("foobar", 6);
    CHECK(text != NULL);
    bytes = e->HostDecodeBase64("Zm9vYmE=", 8, &length);
    CHECK(bytes != NULL && length == 5 && memcmp(bytes, "fooba", 5) == 0);
    CHECK(SLOT(zlib, QM_Z_CRC32, crc32)(0, (const Bytef*)"123456789", 9) == e->HostCrc32("123456789", 9));
    written = snprintf(out, capacity, "%s|%s|%s|%08x", empty, abc, text, e->HostCrc32("123456789", 9));
    host->system->HostFreeMem(text);
    host->system->HostFreeMem(bytes);
    return written;
}

/* Table 8: the VM's string builder from a plugin; the argument is the VM
 * state, and the text is left on its stack. */
static long ProbeVm(struct VmState* vm, char* out, size_t capacity)
{
    const QmVmTable* t = host->vm;
    QmVmBuffer b;
    int top = t->VmGetTop(vm);
    t->VmBufferInit(vm, &b);
    t->VmBufferAddString(&b, "plugin ");
    t->VmBufferAddBytes(&b, "bytes!", 5);
    t->VmPushNumber(vm, 42);
    t->VmBufferAddValue(&b);
    t->VmBufferPushResult(&b);
    CHECK(t->VmGetTop(vm) == top + 1);
    return Text(out, capacity, t->VmGetString(vm, -1));
}

/* Table 4: a sample's data read, replaced by 12 bytes of 0x5A, then read
 * again without writing back; the argument is the sample's id. */
static long ProbeAudio(uintptr_t id, char* out, size_t capacity)
{
    const QmAudioTable* a = host->audio;
    QmGetSampleDataFunc get = (QmGetSampleDataFunc)a->slot[QM_AUDIO_GETSAMPLEDATA];
    QmSetSampleDataFunc set = (QmSetSampleDataFunc)a->slot[QM_AUDIO_SETSAMPLEDATA];
    QmSampleData* data = get((uint32_t)id, 0);
    long written;
    CHECK(data != NULL && data->readOnly == 0);
    written = snprintf(out, capacity, "%u/%u/%u/%llu/%llu", data->bits, data->channels, data->frequency,
                       (unsigned long long)data->frames, (unsigned long long)data->bytes);
    host->system->HostFreeMem(data->data);
    data->data = host->system->HostAllocMem(12, 0);
    CHECK(data->data != NULL);
    memset(data->data, 0x5A, 12);
    data->bytes = 12;
    CHECK(set(data) == 0);
    data = get((uint32_t)id, 1);
    CHECK(data != NULL && data->bytes == 12 && ((unsigned char*)data->data)[11] == 0x5A);
    memset(data->data, 0, 12);
    CHECK(set(data) == 0);
    CHECK(get((uint32_t)id + 1, 0) == NULL);
    return written;
}

/* Table 5: a message requester and a path requester on the current
 * display. */
static long ProbeRequesters(char* out, size_t capacity)
{
    const QmRequesterTable* r = host->requesters;
    int button = -1;
    char* path = NULL;
    long written;
    CHECK(((QmSystemRequestFunc)r->slot[QM_REQ_SYSTEMREQUEST])("Probe", "Go on?", "Yes|Maybe|No", 0, &button) == 0);
    CHECK(((QmPathRequestFunc)r->slot[QM_REQ_PATHREQUEST])("Folder", 0, "/tmp", &path) == 0);
    CHECK(path != NULL);
    written = snprintf(out, capacity, "%d|%s", button, path);
    host->system->HostFreeMem(path);
    return written;
}

static int CollectFont(const char* name, int32_t size, void* user)
{
    char* list = (char*)user;
    size_t used = strlen(list);
    if (used + strlen(name) + 16 < 4096)
        snprintf(list + used, 4096 - used, "%s:%d\n", name, (int)size);
    return 0;
}

/* Tables 6 and 12: the fonts list and the plugin list. */
static long ProbeLists(char* out, size_t capacity)
{
    QmPluginArrayEntry* array = host->pluginList->GetPluginArray();
    QmPluginArrayEntry* entry;
    int found = 0;
    CHECK(capacity >= 4096);
    for (entry = array; entry; entry = entry->next)
        if (strcmp(entry->info->modulename, "probe") == 0)
            found = 1;
    host->pluginList->HostFreeMem(array);
    CHECK(found);
    out[0] = '\0';
    host->fonts->EnumerateFonts(CollectFont, out);
    return (long)strlen(out);
}

EXPORT long ProbeRun(const char* step, const void* argument, char* out, size_t capacity)
{
    if (!host)
        return Fail(out, capacity, "no host");
    if (strcmp(step, "runtime") == 0) return ProbeRuntime(out, capacity);
    if (strcmp(step, "system") == 0) return ProbeSystem(out, capacity);
    if (strcmp(step, "stream") == 0) return ProbeStream((const char*)argument, out, capacity);
    if (strcmp(step, "draw") == 0) return ProbeDraw((uintptr_t)argument, out, capacity);
    if (strcmp(step, "fonts") == 0) return ProbeFonts(out, capacity);
    if (strcmp(step, "deflate") == 0) return ProbeDeflate((const char*)argument, out, capacity);
    if (strcmp(step, "jpeg") == 0) return ProbeJpeg(out, capacity);
    if (strcmp(step, "encoders") == 0) return ProbeEncoders(out, capacity);
    if (strcmp(step, "vm") == 0) return ProbeVm((struct VmState*)argument, out, capacity);
    if (strcmp(step, "lists") == 0) return ProbeLists(out, capacity);
    if (strcmp(step, "audio") == 0) return ProbeAudio((uintptr_t)argument, out, capacity);
    if (strcmp(step, "requesters") == 0) return ProbeRequesters(out, capacity);
    return Fail(out, capacity, "unknown step");
}
