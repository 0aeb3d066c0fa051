/* tinypic: a plugin with one command, one constant and an image loader for
 * TPIC pictures, a format made up for this example. A TPIC file holds the
 * four bytes "TPIC", the width and the height (one byte each, 1 to 255),
 * then the pixels row by row from the top, three bytes each: red, green,
 * blue. */
#include <stdlib.h>
#include <string.h>

#include "quillmere/plugin_abi.h"

static const PluginHostApi* host;

int InitPlugin(PluginInfo* info, const PluginHostApi* api, const char* path)
{
    (void)path;
    host = api;
    info->capabilities = PLUGINCAPS_LIBRARY | PLUGINCAPS_IMAGE;
    info->version = 1;
    info->revision = 0;
    info->name = "TPIC pictures";
    info->modulename = "tinypic"; /* the file is tinypic.qmp */
    info->author = "A plugin writer";
    info->description = "Reads TPIC pictures";
    info->copyright = "Public domain";
    info->date = "01.01.2026";
    return 1; /* 0 would refuse the load */
}

void ClosePlugin(void) {}

/* The library: tinypic.header(width, height) and #TINYPIC_MAXSIDE. */

static uint32_t Header(struct VmState* state)
{
    int32_t width = host->vm->VmCheckInteger(state, 1); /* arguments count from 1 */
    int32_t height = host->vm->VmCheckInteger(state, 2);
    char bytes[6] = {'T', 'P', 'I', 'C', (char)width, (char)height};
    if (width < 1 || width > 255 || height < 1 || height > 255)
        return 1055; /* an error code: ERR_WRONGUSAGE */
    host->vm->VmPushLString(state, bytes, sizeof bytes);
    return 1; /* the number of results pushed */
}

static const QmCommandEntry commands[] = {{"Header", Header}, {NULL, NULL}};
static const QmConstantEntry constants[] = {{"TINYPIC_MAXSIDE", NULL, 255}, {NULL, NULL, 0}};

const char* GetBaseTable(void) { return "tinypic"; }
const QmCommandEntry* GetCommands(void) { return commands; }
const QmConstantEntry* GetConstants(void) { return constants; }
int InitLibrary(struct VmState* state) { (void)state; return 0; }
void FreeLibrary(struct VmState* state) { (void)state; }

/* The image loader. */

typedef struct Picture {
    int32_t width;
    int32_t height;
    uint32_t pixels[]; /* 0xAARRGGBB, rows from the top */
} Picture;

/* Reads the header; 1 for a TPIC picture. */
static int ReadHeader(QmStream* stream, int32_t* width, int32_t* height)
{
    unsigned char head[6];
    if (host->streams->StreamRead(stream, head, 6) != 6 || memcmp(head, "TPIC", 4) != 0 || !head[4] || !head[5])
        return 0;
    *width = head[4];
    *height = head[5];
    return 1;
}

static void Describe(QmLoadImageParams* params, int32_t width, int32_t height)
{
    params->width = width;
    params->height = height;
    params->rowLength = width;
    params->hasAlpha = 0;
}

int IsImage(const char* file, QmLoadImageParams* params)
{
    int32_t width, height;
    QmStream* stream = host->streams->HostOpenStream(file, 0);
    int isTpic = stream && ReadHeader(stream, &width, &height);
    if (stream)
        host->streams->StreamClose(stream);
    if (isTpic)
        Describe(params, width, height);
    return isTpic;
}

void* LoadImage(const char* file, QmLoadImageParams* params)
{
    int32_t width, height, i;
    unsigned char rgb[3];
    Picture* picture = NULL;
    QmStream* stream = host->streams->HostOpenStream(file, 0);
    if (!stream)
        return NULL;
    if (ReadHeader(stream, &width, &height))
        picture = malloc(sizeof(Picture) + (size_t)width * (size_t)height * 4);
    for (i = 0; picture && i < width * height; ++i) {
        if (host->streams->StreamRead(stream, rgb, 3) != 3) {
            free(picture); /* cut short: not a picture we can load */
            picture = NULL;
        } else {
            picture->pixels[i] = 0xFF000000u | (uint32_t)rgb[0] << 16 | (uint32_t)rgb[1] << 8 | rgb[2];
        }
    }
    host->streams->StreamClose(stream);
    if (!picture)
        return NULL;
    picture->width = width;
    picture->height = height;
    Describe(params, width, height);
    return picture;
}

uint32_t* GetImage(void* image, QmLoadImageParams* params)
{
    Picture* picture = image;
    Describe(params, picture->width, picture->height);
    return picture->pixels;
}

void FreeImage(void* image) { free(image); }

/* Only a picture that can be drawn at any size renders itself anew. */
int TransformImage(void* image, const QmImageTransform* transform, int width, int height)
{
    (void)image, (void)transform, (void)width, (void)height;
    return 0;
}
