/* The plugin interface of QuillmerePlayer: every record, capability bit, tag
 * and host table that a ".qmp" plugin and the host exchange.
 *
 * A plugin is an ELF shared object that exports InitPlugin, ClosePlugin and
 * the entry points of the capabilities it declares, all with C linkage. The
 * host exports nothing: a plugin reaches the runtime only through the
 * PluginHostApi handed to InitPlugin.
 *
 * Layout is the natural one of the platform's C compiler; every word that
 * may carry an address (tag values, slots, handles, user data) is
 * pointer-sized. Sizes and offsets are pinned at the end of this header, so
 * a change that would break existing plugins does not compile. The order of
 * records, slots and tables never changes: new things are only ever added
 * where they cannot move old ones.
 *
 * Every host slot holds a function (only the reserved slot 45 of table 0 is
 * null); a slot whose service does not exist on this host answers
 * QM_UNSUPPORTED (ERR_UNSUPPORTEDFEAT) without touching its arguments. */
#ifndef QUILLMERE_PLUGIN_ABI_H
#define QUILLMERE_PLUGIN_ABI_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The host's interface version: plugins may ask for at most this. */
#define QM_HOST_VERSION 6
#define QM_HOST_REVISION 1

struct VmState;
typedef struct PluginInfo PluginInfo;
typedef struct PluginHostApi PluginHostApi;

/* A slot whose arguments belong to the service that fills it. */
typedef void (*QmProc)(void);

/* A script command: answers the number of results pushed (0-999), an error
 * code (1000 and above), or one of the two Gosub requests. */
typedef uint32_t (*QmNativeFunction)(struct VmState* state);

/* Tag lists: pairs ended by tag 0. */
typedef struct QmTagItem {
    uint32_t tag;
    uintptr_t value;
} QmTagItem;

/* Command and constant tables of a library plugin; each ends with a null
 * name. An entry with a null function is skipped. A constant with a
 * non-null string is a string, else the number. */
typedef struct QmCommandEntry {
    const char* name;
    QmNativeFunction function;
} QmCommandEntry;

typedef struct QmConstantEntry {
    const char* name;
    const char* stringValue;
    double numberValue;
} QmConstantEntry;

/* Calendar time of a file: month 0-11, four-digit year. */
typedef struct QmDateStamp {
    uint32_t second;
    uint32_t minute;
    uint32_t hour;
    uint32_t day;
    uint32_t month;
    uint32_t year;
} QmDateStamp;

/* ---------------------------------------------------------------------------
 * Capabilities */

enum {
    PLUGINCAPS_CONVERT = 0x1,
    PLUGINCAPS_LIBRARY = 0x2,
    PLUGINCAPS_IMAGE = 0x4,
    PLUGINCAPS_ANIM = 0x8,
    PLUGINCAPS_SOUND = 0x10,
    PLUGINCAPS_VECTOR = 0x20,
    PLUGINCAPS_VIDEO = 0x40,
    PLUGINCAPS_SAVEIMAGE = 0x80,
    PLUGINCAPS_SAVEANIM = 0x100,
    PLUGINCAPS_SAVESAMPLE = 0x200,
    PLUGINCAPS_REQUIRE = 0x400,
    PLUGINCAPS_DISPLAYADAPTER = 0x800,
    PLUGINCAPS_TIMERADAPTER = 0x1000,
    PLUGINCAPS_REQUESTERADAPTER = 0x2000,
    PLUGINCAPS_FILEADAPTER = 0x4000,
    PLUGINCAPS_DIRADAPTER = 0x8000,
    PLUGINCAPS_AUDIOADAPTER = 0x10000,
    PLUGINCAPS_EXTENSIONS = 0x20000
};

/* Bits of the extension words (PluginInfo.extensions[bit number]). */
enum {
    QM_LIBEXT_MULTIPLE = 0x1,     /* word 1: several command libraries */
    QM_LIBEXT_ON_REQUIRE = 0x2,   /* word 1: registered only when required */
    QM_LOADEREXT_BY_NAME = 0x1,   /* words 2, 3, 4, 6: only when a loader list names it */
    QM_DISPLAYEXT_MAINLOOP = 0x1  /* word 11: the adapter runs its own main loop */
};

/* PluginInfo.callForm: the form whose calls the host cannot make here. */
#define QM_CALLFORM_FOREIGN 2

/* Bit of PluginInfo.adapterFlags[QM_ADAPTERFLAGS_FILE]: the file adapter
 * also serves linked files and memory blocks. */
#define QM_FILEADAPTER_VIRTUAL 0x1

enum {
    QM_ADAPTERFLAGS_DISPLAY = 0,
    QM_ADAPTERFLAGS_REQUESTER = 1,
    QM_ADAPTERFLAGS_TIMER = 2,
    QM_ADAPTERFLAGS_FURTHER = 3,
    QM_ADAPTERFLAGS_FILE = 4
};

/* ---------------------------------------------------------------------------
 * File and directory adapters */

/* Adapter mode codes handed to FOpen. */
enum {
    QM_FOPEN_WRITE = 1,
    QM_FOPEN_READWRITE = 2,
    QM_FOPEN_READ = 4
};

/* Tags of FOpen's tag list. The texts and the list live while FOpen runs:
 * an adapter keeps copies of what it needs. */
enum {
    QM_FOPENTAG_STREAMFLAGS = 1, /* uint32_t*: the adapter stores QM_STREAMFLAG_ bits */
    QM_FOPENTAG_CONTAINER = 2,   /* const char*: container file of a linked file */
    QM_FOPENTAG_OFFSET = 3,      /* the linked file's offset in its container */
    QM_FOPENTAG_SIZE = 4,        /* size of the linked file or memory block */
    QM_FOPENTAG_DATA = 5         /* const void*: the bytes of a memory block */
};

enum {
    QM_STREAMFLAG_STREAMING = 0x1,
    QM_STREAMFLAG_NOSEEK = 0x2
};

/* What FStat, Stat and NextDirEntry fill. The host clears it and dates all
 * three stamps with the runtime's start time before each call. */
typedef struct AdapterStatRecord {
    uint32_t type;          /* 1 directory, anything else file */
    uint32_t reserved0;
    uint64_t size;
    uint32_t flags;         /* FILEATTR_ protection bits */
    QmDateStamp modified;
    QmDateStamp accessed;
    QmDateStamp created;
    const char* path;       /* full path, or the entry's name in a scan */
    const char* auxText;    /* may be null */
    uint32_t extra[2];      /* passed through */
    uint32_t reserved1;
} AdapterStatRecord;

/* ---------------------------------------------------------------------------
 * Plugin entry points */

/* InitPlugin fills the information block (path is the plugin file's full
 * path) and answers non-zero to be loaded; 0 refuses the load, which then
 * fails with ERR_LOADPLUGIN (1459). */
typedef int (*QmInitPluginFunc)(PluginInfo* info, const PluginHostApi* host, const char* path);
typedef void (*QmClosePluginFunc)(void);
typedef uint32_t (*QmGetExtensionsFunc)(uint32_t capability, uintptr_t reserved);

typedef const char* (*QmGetBaseTableFunc)(void);
typedef const QmCommandEntry* (*QmGetCommandsFunc)(void);
typedef const QmConstantEntry* (*QmGetConstantsFunc)(void);
/* InitLibrary is called once, after the library's commands and constants
 * are registered. It answers 0, or an error code (1000 and above) that the
 * load then fails with; any other answer fails it with ERR_LOADPLUGIN. */
typedef int (*QmInitLibraryFunc)(struct VmState* state);
typedef void (*QmFreeLibraryFunc)(struct VmState* state);
typedef int (*QmGetLibraryCountFunc)(void);
typedef void (*QmSetCurrentLibraryFunc)(int index);

/* One saver format, as a saver's registration entry fills it and as the
 * host's format-hook arrays hold it (an all-zero entry ends an array). */
typedef struct QmSaverFormat {
    uint32_t flags;
    uint32_t formatId;
    const char* name;
} QmSaverFormat;
typedef int (*QmRegisterSaverFunc)(QmSaverFormat* format);

/* The flag a saver sets in QmSaverFormat.flags while more formats follow. */
enum {
    QM_SAVER_MORE_IMAGE = 0x8,
    QM_SAVER_MORE_ANIM = 0x10,
    QM_SAVER_MORE_SAMPLE = 0x1
};

/* LoadImage's parameter record, cleared before each plugin is asked. */
typedef struct QmLoadImageParams {
    int32_t width;            /* out */
    int32_t height;           /* out */
    int32_t rowLength;        /* out, in pixels */
    int32_t hasAlpha;         /* out */
    int32_t alphaOn;          /* out: alpha switched on for this load */
    int32_t vector;           /* out: 1 for an image the plugin renders at any size */
    uint32_t renderFlags;     /* in: 0x2 transparent pen wanted; out: 0x1 rendered at the requested size */
    int32_t requestedWidth;   /* in: 0 as stored, negative a percentage */
    int32_t requestedHeight;  /* in */
    int32_t sourceWidth;      /* out, with renderFlags 0x1 */
    int32_t sourceHeight;     /* out */
    int32_t smooth;           /* in */
    int32_t option;           /* in: the caller's first option */
} QmLoadImageParams;

/* TransformImage's transform: the 2x2 matrix, then the two offsets. */
typedef struct QmImageTransform {
    double matrix[4];
    double offsetX;
    double offsetY;
} QmImageTransform;

/* The image loader's entry points (bound into QmProc slots; cast before a
 * call). LoadImage answers the plugin's image or null; GetImage its ARGB
 * pixels (rows of rowLength pixels); TransformImage non-zero when it
 * rendered the image under the transform at width x height; IsImage
 * non-zero when the file is an image it can load, filling the record's
 * width, height, hasAlpha, vector and renderFlags (0x2: a transparent pen). */
typedef int (*QmIsImageFunc)(const char* file, QmLoadImageParams* params);
typedef void* (*QmLoadImageFunc)(const char* file, QmLoadImageParams* params);
typedef uint32_t* (*QmGetImageFunc)(void* image, QmLoadImageParams* params);
typedef void (*QmFreeImageFunc)(void* image);
typedef int (*QmTransformImageFunc)(void* image, const QmImageTransform* transform, int width, int height);

/* The anim loader's parameter record, cleared before each plugin is asked.
 * OpenAnim answers the plugin's anim or null when the file is not one it
 * reads; LoadFrame the ARGB pixels of a 0-based frame (width x height, rows
 * of width pixels; null on failure), which stay the plugin's until
 * FreeFrame; GetFrameDelay a frame's delay in milliseconds. */
typedef struct QmAnimParams {
    int32_t width;              /* out */
    int32_t height;             /* out */
    int32_t frames;             /* out: the frame count */
    int32_t hasAlpha;           /* out: the frames carry alpha */
    int32_t transparentColour;  /* out: 0xRRGGBB, or -1 for none */
    uint32_t flags;             /* in: QM_ANIM_ */
    int32_t option;             /* in: the caller's first option */
} QmAnimParams;

enum {
    QM_ANIM_SKIPLOOPFRAMES = 0x1,  /* leave out the frames that only close a loop */
    QM_ANIM_DEINTERLACE = 0x2,     /* join interlaced fields into whole frames */
    QM_ANIM_FROMDISK = 0x4         /* frames are asked for one at a time while the anim lives */
};

typedef void* (*QmOpenAnimFunc)(const char* file, QmAnimParams* params);
typedef uint32_t* (*QmLoadFrameFunc)(void* anim, int32_t frame, QmAnimParams* params);
typedef void (*QmFreeFrameFunc)(void* anim, uint32_t* pixels);
typedef int32_t (*QmGetFrameDelayFunc)(void* anim, int32_t frame);
typedef void (*QmCloseAnimFunc)(void* anim);

/* The block an image saver's SaveImage receives, cleared before it is
 * filled; SaveImage answers non-zero on success. */
typedef struct QmSaveImageBlock {
    const void* pixels;        /* palette indices (one byte each) or ARGB words */
    const uint32_t* palette;   /* indexed pixels only */
    int32_t width;
    int32_t height;
    int32_t bytesPerRow;       /* width for indices, 4 * width for ARGB */
    int32_t indexed;
    int32_t quality;
    int32_t colors;            /* indexed pixels only */
    uint32_t flags;            /* QM_SAVEIMAGE_ */
    int32_t transparentIndex;
    uint32_t formatId;
} QmSaveImageBlock;
typedef int (*QmSaveImageFunc)(const char* file, QmSaveImageBlock* block);

enum {
    QM_SAVEIMAGE_ALPHA = 0x1,           /* store the ARGB alpha bytes */
    QM_SAVEIMAGE_TRANSPARENT = 0x2      /* transparentIndex is valid */
};

/* Sound loaders. OpenStream opens a sound file (through the host's streams,
 * so that linked files and file adapters serve it) and describes it in the
 * record, which the host clears and fills with the purpose before each
 * plugin is asked; null when the file is not one of the plugin's.
 * StreamSamples decodes up to `frames` frames of interleaved signed PCM
 * (bits 8 or 16, channels 1 or 2, as described) and answers how many it
 * wrote: 0 at the end, -1 for a broken file. SeekStream moves to a frame
 * (non-zero on success); GetFormatName names the format (the plugin's
 * text, live while the stream is open). */
typedef struct QmSoundInfo {
    uint32_t channels;
    uint32_t frequency;
    uint32_t bits;
    uint32_t flags;            /* QM_SOUND_ */
    int64_t frames;            /* -1 when not known */
    uint32_t bitRate;          /* bits per second, 0 when not known */
    uint32_t subsongs;         /* 0 counts as 1 */
    uint32_t purpose;          /* in: QM_SOUNDOPEN_ */
    uint32_t reserved;
} QmSoundInfo;

enum { QM_SOUND_CANSEEK = 0x1, QM_SOUND_MODULE = 0x2 };
enum { QM_SOUNDOPEN_SAMPLE = 0, QM_SOUNDOPEN_MUSIC = 1 };

typedef void* (*QmOpenStreamFunc)(const char* file, QmSoundInfo* info);
typedef void (*QmCloseStreamFunc)(void* stream);
typedef int (*QmSeekStreamFunc)(void* stream, uint64_t frame);
typedef int64_t (*QmStreamSamplesFunc)(void* stream, void* buffer, int64_t frames);
typedef const char* (*QmGetFormatNameFunc)(void* stream);

/* Video decoders. OpenVideo opens a video file (through the host's streams)
 * and describes it in the cleared record; null when the file is not one of
 * the plugin's. NextPacket fills the next packet of the file (1), or
 * answers 0 at the end and -1 for a broken file; FreePacket gives it back.
 * DecodeVideoFrame decodes a video packet into ARGB pixels (width x height
 * of the description, rows of rowLength pixels): 1 when a frame was
 * written (its time in *timeMs), 0 when it needs more packets, -1 for a
 * broken packet. DecodeAudioFrame writes up to `frames` frames of signed
 * 16-bit PCM and answers how many (-1 on error). SeekVideo moves to a time
 * (non-zero on success); FlushAudio and FlushVideo drop what the decoders
 * hold. GetVideoFrames answers the number of frames (-1 when not known);
 * GetVideoFormat names the format (the plugin's text). */
typedef struct QmVideoInfo {
    int32_t width;
    int32_t height;
    int64_t durationMs;        /* -1 when not known */
    uint32_t flags;            /* QM_VIDEO_ */
    uint32_t audioChannels;
    uint32_t audioFrequency;
    uint32_t reserved;
} QmVideoInfo;

enum { QM_VIDEO_CANSEEK = 0x1, QM_VIDEO_HASAUDIO = 0x2 };
enum { QM_PACKET_VIDEO = 1, QM_PACKET_AUDIO = 2 };

typedef struct QmVideoPacket {
    uint32_t kind;             /* QM_PACKET_ */
    uint32_t reserved;
    int64_t timeMs;
    void* data;                /* the plugin's */
} QmVideoPacket;

typedef void* (*QmOpenVideoFunc)(const char* file, QmVideoInfo* info);
typedef void (*QmCloseVideoFunc)(void* video);
typedef int (*QmNextPacketFunc)(void* video, QmVideoPacket* packet);
typedef void (*QmFreePacketFunc)(void* video, QmVideoPacket* packet);
typedef int (*QmDecodeVideoFrameFunc)(void* video, QmVideoPacket* packet, uint32_t* argb, int32_t rowLength,
                                      int64_t* timeMs);
typedef int64_t (*QmDecodeAudioFrameFunc)(void* video, QmVideoPacket* packet, int16_t* pcm, int64_t frames);
typedef int (*QmSeekVideoFunc)(void* video, int64_t timeMs);
typedef void (*QmFlushVideoFunc)(void* video);
typedef int64_t (*QmGetVideoFramesFunc)(void* video);
typedef const char* (*QmGetVideoFormatFunc)(void* video);

/* Bits of an image saver's format flags. */
enum {
    QM_SAVERFORMAT_TRUECOLOR = 0x1,     /* takes ARGB rather than palette indices */
    QM_SAVERFORMAT_ALPHA = 0x4          /* can store alpha */
};

/* The settings a plugin is required with (the LoadPlugin options, the
 * REQUIRETAGS option, an applet's plugin declaration), handed to
 * RequirePlugin as the value of tag 2: a list of records, each a key with a
 * text value, or with text null a number. They live while RequirePlugin
 * runs. */
typedef struct QmPluginOption {
    struct QmPluginOption* next;
    const char* key;
    const char* text;
    double number;
} QmPluginOption;

/* RequirePlugin answers as InitLibrary does: 0, an error code, or else the
 * requirement fails with ERR_LOADPLUGIN. */
typedef int (*QmRequirePluginFunc)(struct VmState* state, int version, int revision, uint32_t reserved,
                                   QmTagItem* tags);

typedef void* (*QmFOpenFunc)(const char* name, int mode, QmTagItem* tags);
typedef int (*QmFCloseFunc)(void* handle);
typedef int64_t (*QmFReadFunc)(void* handle, void* buffer, int64_t count);
typedef int (*QmFGetCFunc)(void* handle);
typedef int64_t (*QmFWriteFunc)(void* handle, const void* buffer, int64_t count);
typedef int (*QmFPutCFunc)(void* handle, int byte);
/* Answers the position before the seek, -1 on failure. */
typedef int64_t (*QmFSeekFunc)(void* handle, int64_t offset, int mode);
typedef int (*QmFFlushFunc)(void* handle);
typedef int (*QmFEofFunc)(void* handle);
typedef int (*QmFStatFunc)(void* handle, uint32_t flags, AdapterStatRecord* record, QmTagItem* tags);
typedef int (*QmStatFunc)(const char* name, uint32_t flags, AdapterStatRecord* record, QmTagItem* tags);
typedef void* (*QmOpenDirFunc)(const char* name, uint32_t flags, QmTagItem* tags);
typedef void (*QmCloseDirFunc)(void* handle);
typedef int (*QmNextDirEntryFunc)(void* handle, AdapterStatRecord* record, QmTagItem* tags);

/* A format that a saver plugin announced through AddSaverFormat. */
typedef struct QmSaverFormatNode {
    struct QmSaverFormatNode* next;
    uint32_t formatId;
    const char* name;
    const char* secondName;   /* null when not given */
    const char* extension;
    uint32_t value;           /* kept only with bit 0x1 of flags */
    uint32_t flags;
} QmSaverFormatNode;

/* ---------------------------------------------------------------------------
 * The information block: allocated zero-filled by the host, filled by the
 * plugin in InitPlugin (up to helpfile, callForm and, for adapters, the
 * words it knows); the rest is the host's. */

struct PluginInfo {
    uint32_t capabilities;
    int32_t version;
    int32_t revision;
    int32_t neededVersion;   /* the host writes 6 before InitPlugin */
    int32_t neededRevision;  /* the host writes 1 before InitPlugin */
    const char* name;
    const char* modulename;  /* must equal the file name */
    const char* author;
    const char* description;
    const char* copyright;
    const char* url;
    const char* date;
    const char* settings;
    const char* helpfile;
    uint32_t callForm;
    QmSaverFormatNode* saverFormats;
    uint32_t displayAdapterCaps;
    uint32_t displayAdapterWord;  /* default 10 */
    uint32_t disabled;            /* loader chains and savers pass the plugin by */
    uintptr_t userData;
    uint32_t adapterWords[4];
    uint32_t adapterFlags[5];     /* QM_ADAPTERFLAGS_ */
    uint32_t extensions[32];      /* by capability bit number */
    uint32_t enteredByName;
    uint32_t libraryInitialised;

    /* Entry points, bound by the host after InitPlugin. */
    QmInitPluginFunc InitPlugin;
    QmClosePluginFunc ClosePlugin;
    QmProc IsImage;
    QmProc LoadImage;
    QmProc GetImage;
    QmProc FreeImage;
    QmProc TransformImage;
    QmProc OpenAnim;
    QmProc LoadFrame;
    QmProc FreeFrame;
    QmProc GetFrameDelay;
    QmProc CloseAnim;
    QmProc OpenStream;
    QmProc CloseStream;
    QmProc SeekStream;
    QmProc StreamSamples;
    QmProc GetFormatName;
    QmProc GetPathExtents;
    QmProc DrawPath;
    QmProc TranslatePath;
    QmProc GetCurrentPoint;
    QmProc CreateVectorFont;
    QmProc FreeVectorFont;
    QmProc OpenFont;
    QmProc CloseFont;
    QmProc OpenVideo;
    QmProc CloseVideo;
    QmProc NextPacket;
    QmProc FreePacket;
    QmProc DecodeVideoFrame;
    QmProc DecodeAudioFrame;
    QmProc SeekVideo;
    QmProc FlushAudio;
    QmProc FlushVideo;
    QmProc GetVideoFrames;
    QmProc GetVideoFormat;
    QmGetBaseTableFunc GetBaseTable;
    QmGetCommandsFunc GetCommands;
    QmGetConstantsFunc GetConstants;
    QmInitLibraryFunc InitLibrary;
    QmFreeLibraryFunc FreeLibrary;
    QmGetLibraryCountFunc GetLibraryCount;
    QmSetCurrentLibraryFunc SetCurrentLibrary;
    QmProc GetScript;
    QmProc FreeScript;
    QmRegisterSaverFunc RegisterImageSaver;
    QmProc SaveImage;
    QmSaverFormat* imageSaverFormats;
    QmRegisterSaverFunc RegisterAnimSaver;
    QmProc BeginAnimStream;
    QmProc WriteAnimFrame;
    QmProc FinishAnimStream;
    QmSaverFormat* animSaverFormats;
    QmRegisterSaverFunc RegisterSampleSaver;
    QmProc SaveSample;
    QmSaverFormat* sampleSaverFormats;
    QmRequirePluginFunc RequirePlugin;
    QmProc HandleEvents;
    QmProc WaitEvents;
    QmProc ForceEventLoopIteration;
    QmProc Sleep;
    QmProc VWait;
    QmProc DetermineBorderSizes;
    QmProc OpenDisplay;
    QmProc CloseDisplay;
    QmProc ChangeBufferSize;
    QmProc ShowHideDisplay;
    QmProc SizeMoveDisplay;
    QmProc SetDisplayTitle;
    QmProc ActivateDisplay;
    QmProc SetDisplayAttributes;
    QmProc CreatePointer;
    QmProc FreePointer;
    QmProc SetPointer;
    QmProc ShowHidePointer;
    QmProc MovePointer;
    QmProc GetMousePos;
    QmProc GetQualifiers;
    QmProc BltBitMap;
    QmProc RectFill;
    QmProc WritePixel;
    QmProc Line;
    QmProc GetMonitorInfo;
    QmProc FreeMonitorInfo;
    QmProc GrabScreenPixels;
    QmProc FreeGrabScreenPixels;
    QmProc AdapterMainLoop;
    QmProc BeginDoubleBuffer;
    QmProc EndDoubleBuffer;
    QmProc Flip;
    QmProc Cls;
    QmProc AllocVideoBitMap;
    QmProc FreeVideoBitMap;
    QmProc ReadVideoPixels;
    QmProc FreeVideoPixels;
    QmProc DoVideoBitMapMethod;
    QmProc AllocBitMap;
    QmProc FreeBitMap;
    QmProc LockBitMap;
    QmProc UnLockBitMap;
    QmProc GetBitMapAttr;
    QmProc RegisterTimer;
    QmProc FreeTimer;
    QmProc SystemRequest;
    QmProc FileRequest;
    QmProc PathRequest;
    QmProc StringRequest;
    QmProc ListRequest;
    QmProc FontRequest;
    QmProc ColorRequest;
    QmProc FreeRequest;
    QmFOpenFunc FOpen;
    QmFCloseFunc FClose;
    QmFReadFunc FRead;
    QmFGetCFunc FGetC;
    QmFWriteFunc FWrite;
    QmFPutCFunc FPutC;
    QmFSeekFunc FSeek;
    QmFFlushFunc FFlush;
    QmFEofFunc FEof;
    QmFStatFunc FStat;
    QmStatFunc Stat;
    QmOpenDirFunc OpenDir;
    QmCloseDirFunc CloseDir;
    QmNextDirEntryFunc NextDirEntry;
    QmProc OpenAudio;
    QmProc CloseAudio;
    QmProc AllocAudioChannel;
    QmProc FreeAudioChannel;
    QmProc SetChannelAttributes;
    QmGetExtensionsFunc GetExtensions;
};

/* Number of entry-point slots (InitPlugin .. GetExtensions). */
#define QM_PLUGIN_SLOT_COUNT 131

/* ---------------------------------------------------------------------------
 * Records of the host tables */

/* Broken-down time of the table-0 time wrappers. */
typedef struct QmTimeRecord {
    uint32_t recordSize;  /* 48 */
    int32_t second;
    int32_t minute;
    int32_t hour;
    int32_t dayOfMonth;
    int32_t month;
    int32_t year;         /* years since 1900 */
    int32_t weekday;
    int32_t dayOfYear;
    int32_t daylight;
    uint32_t reserved[2];
} QmTimeRecord;

/* File status of the table-0 stat and fstat. */
typedef struct QmFileStatus {
    uint64_t device;
    uint64_t inode;
    uint32_t mode;
    uint32_t links;
    uint32_t user;
    uint32_t group;
    uint64_t specialDevice;
    int64_t size;
    int64_t accessTime;
    int64_t modificationTime;
    int64_t changeTime;
} QmFileStatus;

/* What the file-information wrappers of table 2 fill. With bit
 * QM_FILEINFO_ALLOCATE of their flags, name and comment are new blocks the
 * plugin frees with HostFreeMem; otherwise they point into host buffers
 * that the next call overwrites. */
typedef struct QmFileInfo {
    uint32_t isDirectory;
    uint32_t reserved;
    uint64_t size;
    uint32_t flags;
    QmDateStamp modified;
    QmDateStamp accessed;
    QmDateStamp created;
    char* name;
    char* comment;
} QmFileInfo;
#define QM_FILEINFO_ALLOCATE 0x2

/* HostDescribeChunk's record. */
typedef struct QmChunkDescription {
    char fileName[1024];
    uint64_t offset;
    uint64_t size;
    uintptr_t linkedFile;
} QmChunkDescription;

/* HostOpenStream flags. */
enum {
    QM_HOSTOPEN_WRITE = 0x1,
    QM_HOSTOPEN_READWRITE = 0x2,
    QM_HOSTOPEN_NOADAPTERS = 0x8,
    QM_HOSTOPEN_SEEKEMULATION = 0x10
};

/* HostLockFile flags. */
enum {
    QM_HOSTLOCK_WRITE = 0x1,
    QM_HOSTLOCK_NOADAPTERS = 0x4
};

/* HostWriteFile flags. */
#define QM_HOSTWRITE_RAW 0x1

/* HostAllocMem flags. */
#define QM_HOSTALLOC_ZERO 0x1

/* An element of GetPluginArray's answer. */
typedef struct QmPluginArrayEntry {
    struct QmPluginArrayEntry* next;
    PluginInfo* info;
} QmPluginArrayEntry;

/* ---------------------------------------------------------------------------
 * Host tables */

typedef struct QmRuntimeTable { /* table 0: the standard runtime library */
    void* (*malloc)(size_t size);
    void* (*calloc)(size_t count, size_t size);
    void* (*realloc)(void* block, size_t size);
    void (*free)(void* block);
    char* (*strdup)(const char* text);
    FILE* (*fopen)(const char* path, const char* mode);
    int (*fclose)(FILE* file);
    int (*fseek)(FILE* file, long offset, int whence);
    long (*ftell)(FILE* file);
    size_t (*fread)(void* buffer, size_t size, size_t count, FILE* file);
    size_t (*fwrite)(const void* buffer, size_t size, size_t count, FILE* file);
    int (*fgetc)(FILE* file);
    int (*fputc)(int c, FILE* file);
    int (*ferror)(FILE* file);
    int (*feof)(FILE* file);
    int (*vfprintf)(FILE* file, const char* format, va_list args);
    int (*vsnprintf)(char* buffer, size_t size, const char* format, va_list args);
    int (*vprintf)(const char* format, va_list args);
    void (*qsort)(void* base, size_t count, size_t size, int (*compare)(const void*, const void*));
    int (*vsscanf)(const char* text, const char* format, va_list args);
    double (*strtod)(const char* text, char** end);
    long (*strtol)(const char* text, char** end, int base);
    unsigned long (*strtoul)(const char* text, char** end, int base);
    int (*StrCaseCmp)(const char* a, const char* b);
    int (*StrNCaseCmp)(const char* a, const char* b, size_t n);
    int (*tolower)(int c);
    int (*toupper)(int c);
    char* (*PluginStrToLower)(char* text);
    char* (*PluginStrToUpper)(char* text);
    int (*gettimeofday)(void* time, void* zone); /* struct timeval*, struct timezone* or null */
    int64_t (*time)(int64_t* out);
    int32_t (*RoundToInt)(double x);
    QmTimeRecord* (*localtime)(const int64_t* time);
    QmTimeRecord* (*gmtime)(const int64_t* time);
    char* (*asctime)(const QmTimeRecord* record);
    char* (*ctime)(const int64_t* time);
    int64_t (*mktime)(QmTimeRecord* record);
    size_t (*strftime)(char* buffer, size_t size, const char* format, const QmTimeRecord* record);
    long (*clock)(void);
    void (*difftime)(int64_t time1, int64_t time2, double* out);
    void (*clearerr)(FILE* file);
    int (*fileno)(FILE* file);
    int (*fflush)(FILE* file);
    int (*stat)(const char* path, QmFileStatus* record);
    int (*fstat)(int fd, QmFileStatus* record);
    QmProc reserved45;
    int (*ungetc)(int c, FILE* file);
    int (*rename)(const char* from, const char* to);
    int (*remove)(const char* path);
    int (*GetErrno)(void);
    void (*SetErrno)(int value);
} QmRuntimeTable;

typedef struct QmTimeValue {
    uint32_t seconds;
    uint32_t microseconds;
} QmTimeValue;

typedef struct QmLock QmLock;

typedef struct QmSystemTable { /* table 1: system services */
    uint32_t (*HostGetSetTags)(QmTagItem* tags);
    uint32_t (*AddUserErrorCode)(const char* text);
    void (*SetErrorText)(const char* text);
    void (*SetErrorArgNumber)(int32_t n);
    void (*GetErrorText)(uint32_t code, char* out, size_t size);
    void (*OsGetTime)(QmTimeValue* out);
    void (*OsSubTime)(QmTimeValue* a, const QmTimeValue* b);
    void (*OsAddTime)(QmTimeValue* a, const QmTimeValue* b);
    int (*OsCmpTime)(const QmTimeValue* a, const QmTimeValue* b);
    void (*OsDelay)(uint32_t ms);
    /* The local date and time as text: mode 0 the date "MM-dd-yy", 1 also the
     * time "HH:mm:ss" into text2, 2 the time, 3 the weekday's name; 0 or
     * ERR_WRONGUSAGE. */
    uint32_t (*FormatCurrentDateTime)(int mode, char* text, size_t textSize, char* text2, size_t text2Size);
    void* (*HostAllocMem)(size_t size, uint32_t flags);
    void (*HostFreeMem)(void* block);
    void* (*HostAddHook)(uint32_t kind, void* function, void* userData, uint32_t foreign);
    QmProc eventService14;
    QmProc OsEventCallback;
    /* Presents every open display again from its back buffer. */
    void (*RepaintAllDisplays)(void);
    uint32_t (*HostRegisterObjectType)(void* listHead, const char* name, QmProc handler);
    void (*HostFreeObjectData)(struct VmState* state, void** list);
    int (*HostAddSaverFormat)(PluginInfo* info, uint32_t formatId, const char* name, const char* secondName,
                              const char* extension, uint32_t value, uint32_t flags);
    /* Calls back for every display until the callback answers non-zero and
     * answers that; 0 at once while the runtime shuts down. */
    int (*HostForEachDisplay)(int (*callback)(void* display, void* userData), void* userData, uint32_t flags);
    /* A hook's call function is uint32_t (hook, state, command, userData) and
     * answers for the command; its error function is void (hook, state,
     * code, userData). */
    void* (*HostAddCommandHook)(void* reserved, void* callFunction, void* errorFunction, void* userData);
    void (*HostRemoveCommandHook)(void* hook);
    int (*HostHookCommand)(void* hook, QmNativeFunction function);
    void (*HostSetHookErrorFunc)(void* hook, void* errorFunction);
    void* (*GetWordAt8)(void* hook);
    void (*HostSetHookDisabled)(void* hook, uint32_t disabled);
    QmProc HandleOsEvent;
    /* Pumps events once (mode bit 0x1 also runs the runtime's hooks): 0 to
     * go on, 1 when the caller should stop and report *outCode. */
    int (*HostPumpEvents)(struct VmState* state, uint32_t mode, uint32_t reserved, uint32_t* outCode);
    /* Waits for the next event, timer or quit request: 0 or an error code. */
    uint32_t (*HostWaitEvents)(struct VmState* state, uint32_t mode, uint32_t reserved1, uint32_t reserved2);
    QmLock* (*OsCreateLock)(void);
    void (*OsDeleteLock)(QmLock* lock);
    void (*OsLock)(QmLock* lock);
    void (*OsUnlock)(QmLock* lock);
    void (*SetHookDisabled)(void* hook, uint32_t disabled);
    void (*RemoveHook)(void* hook);
    QmProc eventService36;
    void (*OsWriteConsole)(const char* format, va_list args);
    QmProc DispatchInterval;
    uint32_t (*SetTimerAdapter)(PluginInfo* info, uint32_t flags);
    void (*DebugPrintf)(const char* format, ...);
    char* (*ConvertEncoding)(const char* text, int from, int to);
    void (*HostFreeMem2)(void* block);
    int (*AddPluginToCapabilityList)(PluginInfo* info, uint32_t capability);
    void (*RemovePluginFromCapabilityList)(PluginInfo* info, uint32_t capability);
    int (*SetAdapterFlags)(PluginInfo* info, uint32_t capability, uint32_t flags);
    QmProc DispatchPluginEvent;
    int (*HostGetErrorLocation)(struct VmState* state, const char** file, const char** command, int32_t* line);
    QmProc eventService48;
} QmSystemTable;

typedef struct QmStream QmStream;
typedef struct QmFileLock QmFileLock;

typedef struct QmStreamTable { /* table 2: files and streams */
    QmStream* (*HostOpenStream)(const char* name, uint32_t flags);
    int (*StreamClose)(QmStream* stream);
    int64_t (*HostSeekStream)(QmStream* stream, int32_t position, int mode);
    size_t (*StreamRead)(QmStream* stream, void* buffer, size_t count);
    size_t (*StreamWrite)(QmStream* stream, const void* buffer, size_t count);
    int (*StreamGetC)(QmStream* stream);
    int (*StreamPutC)(QmStream* stream, int byte);
    int (*StreamEof)(QmStream* stream);
    int (*OsDeleteFile)(const char* path);
    QmFileLock* (*HostLockFile)(const char* name, uint32_t flags);
    void (*CloseFileLock)(QmFileLock* lock);
    int (*GetLockFullPath)(QmFileLock* lock, char* buffer, size_t size);
    int (*HostExamineLock)(QmFileLock* lock, QmFileInfo* info, uint32_t flags);
    int (*DirScanBegin)(QmFileLock* lock, void** scanWord);
    void (*Nothing)(void);
    int (*HostNextDirEntry)(QmFileLock* lock, void* scanWord, QmFileInfo* info, uint32_t flags);
    int (*OsMakeDir)(const char* path);
    int (*OsRename)(const char* from, const char* to);
    int (*GetCurrentDirectoryPath)(char* buffer, size_t size);
    uint32_t (*OsGetTempFileName)(char* buffer, size_t size);
    unsigned (*AddPart)(char* directory, size_t size, const char* name);
    const char* (*PathFilePart)(const char* path);
    size_t (*ChunkNameToFileName)(const char* name, char* out, size_t size);
    int (*HostGetChunkRange)(const char* name, char* fileName, size_t capacity, int64_t* offset, int64_t* size);
    int (*HostExamineFile)(const char* name, QmFileInfo* info, uint32_t flags);
    int64_t (*StreamSeek)(QmStream* stream, int64_t offset, int mode);
    uint32_t (*GetStreamFlags)(QmStream* stream);
    int (*HostExamineStream)(QmStream* stream, QmFileInfo* info, uint32_t flags);
    uint32_t (*HostWriteFile)(const char* name, const void* data, uint32_t option, size_t size, uint32_t flags);
    int (*HostDescribeChunk)(const char* name, QmChunkDescription* record);
    int (*StreamFlush)(QmStream* stream);
    uint32_t (*HostGetTempFileName)(char* buffer, size_t size, const char* name);
    QmStream* (*HostOpenStreamEx)(const char* name, uint32_t flags, QmTagItem* tags);
} QmStreamTable;

typedef struct QmProcTable3 { QmProc slot[30]; } QmGraphicsTable;   /* table 3 */
typedef struct QmProcTable4 { QmProc slot[3]; } QmAudioTable;       /* table 4 */
typedef struct QmProcTable5 { QmProc slot[4]; } QmRequesterTable;   /* table 5 */
/* Table 6: EnumerateFonts calls back with each font's name and size until
 * the callback answers non-zero, and answers that. */
typedef struct QmFontTable {
    int (*EnumerateFonts)(int (*callback)(const char* name, int32_t size, void* user), void* user);
} QmFontTable;
typedef struct QmProcTable7 { QmProc slot[38]; } QmFreeTypeTable;   /* table 7 */

/* Slots of table 3. Slots 11, 14, 18 and 25 are spare, and 15 and 19 serve
 * the native window system this host does not have: each answers
 * QM_UNSUPPORTED. */
enum {
    QM_GFX_OPENIMAGEFILE = 0,           /* QmOpenImageFileFunc */
    QM_GFX_LOADIMAGEARGB = 1,           /* QmLoadImageArgbFunc */
    QM_GFX_GETIMAGEPIXELS = 2,          /* uint32_t* (image) */
    QM_GFX_FREEIMAGEDATA = 3,           /* void (image) */
    QM_GFX_LOCKBRUSH = 4,               /* QmLockBrushFunc */
    QM_GFX_UNLOCKBRUSH = 5,             /* void (lock) */
    QM_GFX_GETBRUSHARGB = 6,            /* QmGetBrushArgbFunc */
    QM_GFX_HOSTFREEMEM = 7,
    QM_GFX_ATTACHDISPLAYCALLBACK = 8,   /* QmAttachDisplayCallbackFunc */
    QM_GFX_REMOVEDISPLAYCALLBACK = 9,   /* void (display, callback) */
    QM_GFX_SIGNALDISPLAYCALLBACK = 10,  /* void (display, uint32_t message) */
    QM_GFX_DISPLAYSIZE = 11,            /* QmDisplaySizeFunc */
    QM_GFX_CREATEBRUSH = 12,            /* QmCreateBrushFunc */
    QM_GFX_SETDISPLAYADAPTER = 13,
    QM_GFX_GETICONLIST = 14,            /* QmGetIconListFunc */
    QM_GFX_FREEICONLIST = 15,           /* QmFreeIconListFunc */
    QM_GFX_LOCKBITMAP = 16,             /* QmLockBitMapFunc */
    QM_GFX_UNLOCKBITMAP = 17,           /* void (lock) */
    QM_GFX_REFRESHDISPLAY = 18,         /* uint32_t (state, display): redraw and present */
    QM_GFX_POSTDISPLAYEVENT = 19,       /* QmPostDisplayEventFunc */
    QM_GFX_FINDDISPLAY = 20,            /* QmFindDisplayFunc */
    QM_GFX_BLTBITMAP = 21,              /* QmBltBitMapFunc */
    QM_GFX_RECTFILL = 22,               /* QmRectFillFunc */
    QM_GFX_WRITEPIXEL = 23,             /* QmWritePixelFunc */
    QM_GFX_DRAWLINE = 24,               /* QmDrawLineFunc */
    QM_GFX_BLTBITMAPMASKED = 25,        /* QmBltBitMapFunc with QM_BLTTAG_ planes */
    QM_GFX_GETPLANEDIM = 26,            /* int32_t (plane, uint32_t which) */
    QM_GFX_ARGBTOPIXEL = 27,            /* uint32_t (uint32_t argb, uint32_t format) */
    QM_GFX_PIXELTOARGB = 28,            /* uint32_t (uint32_t pixel, uint32_t format) */
    QM_GFX_FREEBRUSH = 29               /* uint32_t (uint32_t id): 0 or ERR_FINDBRUSH */
};

/* Window input that a display-adapter plugin feeds in. The window is the
 * display record the host handed out (HostFindDisplay, HostForEachDisplay);
 * positions are in display pixels, keys are character codes. */
enum {
    QM_WINEVENT_MOUSEDOWN = 1,
    QM_WINEVENT_MOUSEUP = 2,
    QM_WINEVENT_MOUSEMOVE = 3,
    QM_WINEVENT_RIGHTMOUSEDOWN = 4,
    QM_WINEVENT_KEYDOWN = 5,
    QM_WINEVENT_KEYUP = 6,
    QM_WINEVENT_CLOSE = 7
};
typedef struct QmWindowEvent {
    uint32_t kind; /* QM_WINEVENT_* */
    int32_t x, y;
    int32_t key;
} QmWindowEvent;

/* A display adapter's event entries. HandleEvents pumps the adapter's
 * window system once, feeding window input in through table 1 slot 15 or
 * 27; 0, or an error code that ends the script's wait (ERR_USERABORT stops
 * the script). WaitEvents blocks until the adapter has input; 0 or a code.
 * While an adapter is set they take the place of the platform's pump. */
typedef uint32_t (*QmHandleEventsFunc)(struct VmState* state);
typedef uint32_t (*QmWaitEventsFunc)(struct VmState* state);

/* Table 1 slot 15 (OsEventCallback): feeds a window event in from any
 * thread; 0 or an error code. Slot 27 (HandleOsEvent): the same from the
 * script thread, which then hands the queued events to their handlers. */
typedef uint32_t (*QmOsEventCallbackFunc)(void* window, const QmWindowEvent* event);
typedef uint32_t (*QmHandleOsEventFunc)(struct VmState* state, void* window, const QmWindowEvent* event);
/* Table 1 slots 14 and 36: post a display event (its number among the
 * display event names, 0..29) to the current display with three numbers,
 * x, y and key; slot 36 takes them as a va_list. 0 or an error code. */
typedef uint32_t (*QmPostEventCodeFunc)(uint32_t code, ...);
typedef uint32_t (*QmPostEventCodeVFunc)(uint32_t code, va_list args);
/* Table 1 slot 38: a timer adapter reports that the interval with this id
 * pair fired; slot 46: asks the host to call the script's global function
 * `handler` with a message {action, x, y, key}; slot 48: the number of
 * events waiting for the script. */
typedef uint32_t (*QmDispatchIntervalFunc)(uint32_t id, uintptr_t handle);
typedef uint32_t (*QmDispatchPluginEventFunc)(const char* handler, int32_t x, int32_t y, int32_t key);
typedef uint32_t (*QmQueuedEventCountFunc)(void);
/* Table 3 slot 19: posts a display event (0..29) for a window. */
typedef uint32_t (*QmPostDisplayEventFunc)(void* window, uint32_t code, int32_t x, int32_t y, int32_t key);
/* Table 3 slot 14: the applet's window icons as a window registers them,
 * each an icon resource (a 40-byte bitmap info header, 32 bits per pixel,
 * the height doubled, then the colour rows and the transparency mask),
 * for an adapter that opens a window of its own. 0 with *list set (null
 * when the applet has no icons) or ERR_MEM; slot 15 (FreeIconList) frees
 * the list. */
typedef struct QmIcon {
    int32_t width;
    int32_t height;
    const uint8_t* data;
    size_t size;
} QmIcon;
typedef struct QmIconList {
    uint32_t count;
    QmIcon* icons;
} QmIconList;
typedef uint32_t (*QmGetIconListFunc)(QmIconList** list);
typedef void (*QmFreeIconListFunc)(QmIconList* list);
/* Table 3 slot 11: a display's size; 0 or ERR_FINDDISPLAY. */
typedef uint32_t (*QmDisplaySizeFunc)(void* display, int32_t* width, int32_t* height);

/* The host's own image loader for plugins: HostOpenImageFile answers 1
 * with a decoded image (ARGB pixels through slot 2, freed through slot 3)
 * and its size, 0 when the file is no picture the host can read.
 * HostLoadImageArgb answers a pixel buffer to free with HostFreeMem, or
 * null; unless tag 1 of the list is non-zero the pixels come in ABGR order
 * (red and blue swapped) with alpha 255 where the picture has none. */
typedef int (*QmOpenImageFileFunc)(const char* file, void** outImage, int32_t* outWidth, int32_t* outHeight,
                                   int32_t* outHasAlpha);
typedef uint32_t* (*QmLoadImageArgbFunc)(const char* file, QmTagItem* tags, int32_t* outWidth,
                                         int32_t* outHeight, int32_t* outHasAlpha);

/* A display's plugin callback, called with the display and a message. */
typedef int (*QmDisplayCallback)(void* display, uint32_t message, void* userData);
/* The callback's record (for the removal), or null. */
typedef void* (*QmAttachDisplayCallbackFunc)(void* display, QmDisplayCallback callback, void* userData);
/* The display with that number, or null. */
typedef void* (*QmFindDisplayFunc)(uint32_t id);

/* What a slot answers when its service does not exist on this host
 * (ERR_UNSUPPORTEDFEAT). Such slots take any arguments and touch none. */
#define QM_UNSUPPORTED 1288u

/* HostLockBrush's record: the colour pixels with their row length (in
 * pixels), the alpha plane (one byte per pixel) and the mask plane (bit
 * 0x80 >> (x & 7) of byte x >> 3 set where visible), null when the brush
 * has none, then the pixel format, bytes per pixel and size. */
typedef struct QmBrushLock {
    void* pixels;
    uintptr_t rowLength;
    void* alphaPixels;
    uintptr_t alphaBytesPerRow;
    void* maskPixels;
    uintptr_t maskBytesPerRow;
    uintptr_t format;
    uintptr_t bytesPerPixel;
    uintptr_t width;
    uintptr_t height;
} QmBrushLock;
/* Locks the colour bitmap of a brush (tag 1 non-zero: for reading only):
 * the lock for HostUnlockBrush, or null. */
typedef void* (*QmLockBrushFunc)(uint32_t brushId, const QmTagItem* tags, QmBrushLock* record);
/* A new ARGB copy of a brush with its mask and alpha folded into the alpha
 * bytes (free with HostFreeMem), or null. Tags 1, 2, 3 point at int32_t
 * words that receive the width, the height, and 1 for a brush without mask
 * or alpha channel (else 0). */
typedef uint32_t* (*QmGetBrushArgbFunc)(uint32_t brushId, const QmTagItem* tags);
/* Makes (or replaces) the brush of that id from width x height ARGB words,
 * with an alpha channel from their alpha bytes when bit 0x1 of flags is
 * set: 0 or an error code. */
typedef uint32_t (*QmCreateBrushFunc)(uint32_t id, const uint32_t* argb, int32_t width, int32_t height,
                                      uint32_t flags);

/* A locked bitmap handle's pixels. */
typedef struct QmBitMapLock {
    void* pixels;
    uint32_t format;         /* 0-13, 14 alpha plane, 15 mask plane */
    uint32_t bytesPerPixel;
    int32_t rowLength;       /* pixels for colour bitmaps, bytes for planes */
    int32_t width;
    int32_t height;
    uint32_t reserved;
} QmBitMapLock;
/* The lock for HostUnLockBitMap, or null (bit 0x1 of flags: for reading). */
typedef void* (*QmLockBitMapFunc)(void* bitmap, uint32_t flags, QmBitMapLock* record);

/* Software drawing into the caller's pixels. Tag 1 gives the pixel format
 * (default 10), tag 2 the row length in pixels, without which nothing is
 * drawn; with bit 0x1 of flags the colour's top byte is the opacity, else
 * 255. Only the row length cuts what is drawn: the rows are the caller's to
 * keep inside its buffer. HostBltBitMap copies a rectangle between two
 * buffers of one format; tag 3 gives the source's row length (default: the
 * destination's). */
typedef void (*QmBltBitMapFunc)(const void* src, int32_t sx, int32_t sy, void* dst, int32_t dx, int32_t dy,
                                int32_t width, int32_t height, uint32_t flags, const QmTagItem* tags);
/* Table 3 slot 25 takes the blit's tags and a plane read at the source
 * position: with tag 4 (alpha plane pixels, one byte per pixel) and tag 5
 * (its bytes per row) the source is blended over the destination by its
 * alpha; else with tag 6 (mask plane, one bit per pixel, the most
 * significant bit first) and tag 7 (its bytes per row) the pixels whose bit
 * is set are copied; with neither it is the plain blit. The plane's row
 * bounds the source as its row length does. */
enum {
    QM_BLTTAG_ALPHA = 4,
    QM_BLTTAG_ALPHABYTESPERROW = 5,
    QM_BLTTAG_MASK = 6,
    QM_BLTTAG_MASKBYTESPERROW = 7
};
typedef void (*QmRectFillFunc)(void* pixels, int32_t x, int32_t y, int32_t width, int32_t height,
                               uint32_t colour, uint32_t flags, const QmTagItem* tags);
typedef void (*QmWritePixelFunc)(void* pixels, int32_t x, int32_t y, uint32_t colour, uint32_t flags,
                                 const QmTagItem* tags);
typedef void (*QmDrawLineFunc)(void* pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                               uint32_t colour, uint32_t flags, const QmTagItem* tags);

enum { QM_AUDIO_GETSAMPLEDATA = 0, QM_AUDIO_SETSAMPLEDATA = 1, QM_AUDIO_SETSOUNDADAPTER = 2 };
enum { QM_REQ_SYSTEMREQUEST = 0, QM_REQ_FILEREQUEST = 1, QM_REQ_PATHREQUEST = 2, QM_REQ_SETREQUESTERADAPTER = 3 };

/* A sample's PCM data, described by HostGetSampleData and given back with
 * HostSetSampleData. `data` is the host's copy (a HostAllocMem block); a
 * plugin may change it in place or put a block of its own (HostAllocMem)
 * there with its size, which the sample then takes over. */
typedef struct QmSampleData {
    void* data;
    uint64_t bytes;
    uint64_t frames;
    uint32_t bits;           /* 8 or 16 */
    uint32_t channels;       /* 1 or 2 */
    uint32_t frequency;
    uint32_t looping;
    uint32_t playing;
    uint32_t readOnly;       /* bit 0x1 of the flags: nothing is written back */
    uint32_t sampleId;
    uint32_t reserved;
} QmSampleData;
typedef QmSampleData* (*QmGetSampleDataFunc)(uint32_t sampleId, uint32_t flags);
/* Writes the data back (unless read-only) and frees the record: 0, or
 * ERR_FINDSAMPLE when the sample went away meanwhile. */
typedef uint32_t (*QmSetSampleDataFunc)(QmSampleData* record);

/* Requesters on the current display: 0, ERR_USERABORT or an error code. */
typedef uint32_t (*QmSystemRequestFunc)(const char* title, const char* body, const char* buttons, int icon,
                                        int* chosenButton);
/* The chosen file's full path as a new block (free with HostFreeMem), null
 * when cancelled. */
typedef uint32_t (*QmFileRequestFunc)(const char* title, const char* pattern, int mode, const char* folder,
                                      const char* file, char** path);
typedef uint32_t (*QmPathRequestFunc)(const char* title, int mode, const char* folder, char** path);

/* The adapter setters of tables 3-5: 0, or ERR_OLDAPPLET, ERR_WRONGUSAGE
 * or ERR_SETADAPTER. The requester setter takes no tags. */
typedef uint32_t (*QmSetAdapterFunc)(PluginInfo* info, uint32_t flags, const QmTagItem* tags);
typedef uint32_t (*QmSetRequesterAdapterFunc)(PluginInfo* info, uint32_t flags);

/* Tags of HostGetSetTags: each answer is stored through the tag's value,
 * which points at a pointer-sized word. */
enum {
    QM_HOSTTAG_ZERO = 25,
    QM_HOSTTAG_TITLE = 26,
    QM_HOSTTAG_VERSION = 27,
    QM_HOSTTAG_COPYRIGHT = 28,
    QM_HOSTTAG_AUTHOR = 29,
    QM_HOSTTAG_DESCRIPTION = 30,
    QM_HOSTTAG_IDENTIFIER = 37,
    /* The script's VM state (read). */
    QM_HOSTTAG_VMSTATE = 35,
    /* Words the host keeps for plugins: each value is stored as given, and
     * HostGetSetTags answers how many tags it handled. */
    QM_HOSTTAG_WORD31 = 31,
    QM_HOSTTAG_WORD33 = 33,
    QM_HOSTTAG_WORD38 = 38,
    QM_HOSTTAG_WORD39 = 39,
    QM_HOSTTAG_WORD40 = 40
};

/* Slots of the FreeType table, each the FreeType 2 function of that name
 * with its own arguments and result. */
enum {
    QM_FT_INIT_FREETYPE, QM_FT_DONE_FREETYPE, QM_FT_NEW_FACE, QM_FT_NEW_MEMORY_FACE,
    QM_FT_LOAD_GLYPH, QM_FT_RENDER_GLYPH, QM_FT_GET_GLYPH, QM_FT_DONE_GLYPH,
    QM_FT_OUTLINE_TRANSFORM, QM_FT_OUTLINE_TRANSLATE, QM_FT_OUTLINE_GET_BITMAP,
    QM_FT_OUTLINE_GET_CBOX, QM_FT_OUTLINE_DECOMPOSE, QM_FT_DONE_FACE, QM_FT_GET_CHAR_INDEX,
    QM_FT_GET_FIRST_CHAR, QM_FT_GET_NEXT_CHAR, QM_FT_SET_TRANSFORM, QM_FT_SET_CHARMAP,
    QM_FT_SET_PIXEL_SIZES, QM_FT_SET_CHAR_SIZE, QM_FT_MULFIX, QM_FT_VECTOR_TRANSFORM,
    QM_FT_GET_KERNING, QM_FT_GET_SFNT_TABLE, QM_FT_LOAD_SFNT_TABLE, QM_FT_GET_X11_FONT_FORMAT,
    QM_FT_GET_NAME_INDEX, QM_FT_GET_GLYPH_NAME, QM_FT_SELECT_CHARMAP, QM_FT_GET_ADVANCE,
    QM_FT_LIBRARY_VERSION, QM_FT_OUTLINE_EMBOLDEN, QM_FT_STROKER_NEW, QM_FT_STROKER_SET,
    QM_FT_STROKER_DONE, QM_FT_GLYPH_STROKE, QM_FT_GLYPH_TO_BITMAP, QM_FT_SLOT_COUNT
};

/* The VM's string builder: the plugin holds it (on its stack) between
 * VmBufferInit and VmBufferPushResult and never touches its fields. */
typedef struct QmVmBuffer {
    char* p;
    int pieces;
    struct VmState* state;
    char buffer[1024];
} QmVmBuffer;

/* An object id as commands take it: a number, or (with id 0) the handle
 * that a script was given for an object created without an id. */
typedef struct QmObjectId {
    uint32_t id;
    uintptr_t handle;
} QmObjectId;

typedef struct QmVmTable { /* table 8: the VM interface */
    int (*VmGetTop)(struct VmState* s);
    void (*VmSetTop)(struct VmState* s, int index);
    void (*VmPushValue)(struct VmState* s, int index);
    void (*VmRemove)(struct VmState* s, int index);
    void (*VmInsert)(struct VmState* s, int index);
    void (*VmReplace)(struct VmState* s, int index);
    int (*VmIsNativeFunction)(struct VmState* s, int index);
    int (*VmIsNumber)(struct VmState* s, int index);
    int (*VmIsString)(struct VmState* s, int index);
    int (*VmIsUserdata)(struct VmState* s, int index);
    int (*VmType)(struct VmState* s, int index);
    int (*VmCompareRawEqual)(struct VmState* s, int a, int b);
    int (*VmCompareEqual)(struct VmState* s, int a, int b);
    int (*VmCompareLess)(struct VmState* s, int a, int b, int mode);
    double (*VmGetNumber)(struct VmState* s, int index);
    const char* (*VmGetString)(struct VmState* s, int index);
    size_t (*VmGetStringLength)(struct VmState* s, int index);
    QmNativeFunction (*VmGetNativeFunction)(struct VmState* s, int index);
    void* (*VmGetUserdata)(struct VmState* s, int index);
    const void* (*VmGetPointer)(struct VmState* s, int index);
    void (*VmPushNil)(struct VmState* s);
    void (*VmPushNumber)(struct VmState* s, double n);
    void (*VmPushLString)(struct VmState* s, const char* bytes, size_t length);
    void (*VmPushString)(struct VmState* s, const char* text);
    void (*VmPushLightUserdata)(struct VmState* s, void* p);
    void (*VmPushNativeClosure)(struct VmState* s, QmNativeFunction f, int n);
    void (*VmGetTable)(struct VmState* s, int index);
    void (*VmRawGet)(struct VmState* s, int index);
    void (*VmRawGetI)(struct VmState* s, int index, int n);
    void (*VmNewTable)(struct VmState* s);
    void (*VmGetFunctionEnv)(struct VmState* s, int index);
    void (*VmSetTable)(struct VmState* s, int index);
    void (*VmRawSet)(struct VmState* s, int index);
    void (*VmRawSetI)(struct VmState* s, int index, int n);
    int (*VmSetFunctionEnv)(struct VmState* s, int index);
    uint32_t (*VmPCall)(struct VmState* s, int nargs, int nresults, int errorFunction);
    int (*VmNext)(struct VmState* s, int index);
    void (*VmConcat)(struct VmState* s, int n);
    int (*VmPushUpvalues)(struct VmState* s);
    const char* (*VmGetUpvalue)(struct VmState* s, int index, int n);
    const char* (*VmSetUpvalue)(struct VmState* s, int index, int n);
    void* (*VmNewUserdata)(struct VmState* s, size_t size);
    int (*VmSetMetatable)(struct VmState* s, int index);
    int (*VmGetMetatable)(struct VmState* s, int index);
    void (*HostRaiseError)(struct VmState* s, uint32_t code);
    const char* (*VmCheckString)(struct VmState* s, int index, size_t* length);
    const char* (*VmOptString)(struct VmState* s, int index, const char* def, size_t* length);
    double (*VmCheckNumber)(struct VmState* s, int index);
    double (*VmOptNumber)(struct VmState* s, int index, double def);
    int32_t (*VmCheckInteger)(struct VmState* s, int index);
    int32_t (*VmOptInteger)(struct VmState* s, int index, int32_t def);
    int (*VmCheckTable)(struct VmState* s, int index);
    int (*VmCheckFunction)(struct VmState* s, int index);
    int (*VmCheckType)(struct VmState* s, int index, int tag);
    int (*VmRefValue)(struct VmState* s, int table);
    void (*VmUnrefValue)(struct VmState* s, int table, int ref);
    uint32_t (*HostGetObjectIdArg)(struct VmState* s, int index, QmObjectId* out);
    int (*VmNewNamedMetatable)(struct VmState* s, const char* name);
    void (*VmGetNamedMetatable)(struct VmState* s, const char* name);
    void* (*VmCheckNamedUserdata)(struct VmState* s, int index, const char* name);
    void (*VmBufferInit)(struct VmState* s, QmVmBuffer* buffer);
    char* (*VmBufferPrepare)(QmVmBuffer* buffer);
    void (*VmBufferAddBytes)(QmVmBuffer* buffer, const char* bytes, size_t n);
    void (*VmBufferAddString)(QmVmBuffer* buffer, const char* text);
    void (*VmBufferAddValue)(QmVmBuffer* buffer);
    void (*VmBufferPushResult)(QmVmBuffer* buffer);
    int (*VmFindString)(const char* text, const char* const* list);
    int (*VmCheckStack)(struct VmState* s, int n);
    const char* (*HostGetFileNameArg)(struct VmState* s, int index);
    /* out[0] the value (0 when absent), out[1] 1 when the argument was nil
     * or not given; answers out[0]. */
    uint32_t (*HostGetOptionalInt)(struct VmState* s, int index, uint32_t out[2]);
    void (*VmPushBoolean)(struct VmState* s, int b);
    int (*VmGetBoolean)(struct VmState* s, int index);
    void (*VmNewTableSized)(struct VmState* s, int arraySize, int hashLog);
    const char* (*VmTypeName)(struct VmState* s, int tag);
    uint32_t (*VmCall)(struct VmState* s, int nargs, int nresults);
    uint32_t (*VmGetGCThreshold)(struct VmState* s);
    uint32_t (*VmGetGCCount)(struct VmState* s);
    void (*VmSetGCThreshold)(struct VmState* s, uint32_t kilobytes);
} QmVmTable;

typedef struct QmInbuiltFontTable { /* table 9: sans, monospaced, serif */
    const void* data[3];
    uintptr_t size[3];
} QmInbuiltFontTable;

typedef struct QmProcTable10 { QmProc slot[13]; } QmZlibTable;  /* table 10 */
typedef struct QmProcTable11 { QmProc slot[25]; } QmJpegTable;  /* table 11 */

enum {
    QM_Z_INFLATEINIT_, QM_Z_INFLATE, QM_Z_INFLATEEND, QM_Z_DEFLATEINIT_, QM_Z_DEFLATE,
    QM_Z_DEFLATEEND, QM_Z_DEFLATERESET, QM_Z_DEFLATEPARAMS, QM_Z_INFLATERESET, QM_Z_INFLATESYNC,
    QM_Z_INFLATEINIT2_, QM_Z_DEFLATEINIT2_, QM_Z_CRC32, QM_Z_SLOT_COUNT
};

enum {
    QM_JPEG_CREATEDECOMPRESS, QM_JPEG_FINISH_DECOMPRESS, QM_JPEG_DESTROY_DECOMPRESS,
    QM_JPEG_STD_ERROR, QM_JPEG_READ_HEADER, QM_JPEG_MEM_SRC, QM_JPEG_START_DECOMPRESS,
    QM_JPEG_RESYNC_TO_RESTART, QM_JPEG_CREATECOMPRESS, QM_JPEG_FINISH_COMPRESS,
    QM_JPEG_DESTROY_COMPRESS, QM_JPEG_START_COMPRESS, QM_JPEG_SIMPLE_PROGRESSION,
    QM_JPEG_MEM_DEST, QM_JPEG_SET_QUALITY, QM_JPEG_SET_DEFAULTS, QM_JPEG_DEFAULT_COLORSPACE,
    QM_JPEG_DESTROY, QM_JPEG_ABORT, QM_JPEG_SUPPRESS_TABLES, QM_JPEG_WRITE_RAW_DATA,
    QM_JPEG_WRITE_TABLES, QM_JPEG_READ_RAW_DATA, QM_JPEG_SAVE_MARKERS,
    QM_JPEG_CALC_OUTPUT_DIMENSIONS, QM_JPEG_SLOT_COUNT
};

typedef struct QmPluginListTable { /* table 12 */
    QmPluginArrayEntry* (*GetPluginArray)(void);
    void (*HostFreeMem)(void* block);
    uint32_t (*SetPluginDisabled)(PluginInfo* info, uint32_t value);
    void (*SetPluginUserData)(PluginInfo* info, uintptr_t value);
    uintptr_t (*GetPluginUserData)(PluginInfo* info);
} QmPluginListTable;

typedef struct QmEncoderTable { /* table 13 */
    /* New terminated text; free with HostFreeMem. Null when out of memory. */
    char* (*HostEncodeBase64)(const void* data, size_t length);
    /* New block of the decoded bytes (length through outLength); null for
     * text that is not Base64 or when out of memory. */
    void* (*HostDecodeBase64)(const char* text, size_t length, size_t* outLength);
    uint32_t (*HostCrc32)(const void* data, long length);
    void (*HostMd5Hex)(const void* data, long length, char out[33]);
} QmEncoderTable;

struct PluginHostApi {
    uint32_t version;
    uint32_t revision;
    const QmRuntimeTable* runtime;
    const QmSystemTable* system;
    const QmStreamTable* streams;
    const QmGraphicsTable* graphics;
    const QmAudioTable* audio;
    const QmRequesterTable* requesters;
    const QmFontTable* fonts;
    const QmFreeTypeTable* freetype;
    const QmVmTable* vm;
    const QmInbuiltFontTable* inbuiltFonts;
    const QmZlibTable* zlib;
    const QmJpegTable* jpeg;
    const QmPluginListTable* pluginList;
    const QmEncoderTable* encoders;
};

/* ---------------------------------------------------------------------------
 * The layout, pinned. */

#ifdef __cplusplus
#define QM_ABI_ASSERT(cond, what) static_assert(cond, what)
#else
#define QM_ABI_ASSERT(cond, what) _Static_assert(cond, what)
#endif

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
QM_ABI_ASSERT(sizeof(QmTagItem) == 16, "tag item");
QM_ABI_ASSERT(sizeof(QmCommandEntry) == 16, "command entry");
QM_ABI_ASSERT(sizeof(QmConstantEntry) == 24, "constant entry");
QM_ABI_ASSERT(sizeof(QmDateStamp) == 24, "date stamp");
QM_ABI_ASSERT(sizeof(QmSaverFormat) == 16, "saver format");
QM_ABI_ASSERT(sizeof(QmSaverFormatNode) == 48, "saver format node");
QM_ABI_ASSERT(sizeof(QmLoadImageParams) == 52, "load image parameters");
QM_ABI_ASSERT(offsetof(QmLoadImageParams, renderFlags) == 24, "load image render flags");
QM_ABI_ASSERT(offsetof(QmLoadImageParams, option) == 48, "load image option");
QM_ABI_ASSERT(sizeof(QmAnimParams) == 28, "anim parameters");
QM_ABI_ASSERT(offsetof(QmAnimParams, flags) == 20, "anim flags");
QM_ABI_ASSERT(sizeof(QmImageTransform) == 48, "image transform");
QM_ABI_ASSERT(sizeof(QmSaveImageBlock) == 56, "save image block");
QM_ABI_ASSERT(sizeof(AdapterStatRecord) == 128, "adapter stat record");
QM_ABI_ASSERT(offsetof(AdapterStatRecord, size) == 8, "adapter stat size");
QM_ABI_ASSERT(offsetof(AdapterStatRecord, flags) == 16, "adapter stat flags");
QM_ABI_ASSERT(offsetof(AdapterStatRecord, modified) == 20, "adapter stat modified");
QM_ABI_ASSERT(offsetof(AdapterStatRecord, accessed) == 44, "adapter stat accessed");
QM_ABI_ASSERT(offsetof(AdapterStatRecord, created) == 68, "adapter stat created");
QM_ABI_ASSERT(offsetof(AdapterStatRecord, path) == 96, "adapter stat path");
QM_ABI_ASSERT(offsetof(AdapterStatRecord, auxText) == 104, "adapter stat aux");
QM_ABI_ASSERT(offsetof(AdapterStatRecord, extra) == 112, "adapter stat extra");

QM_ABI_ASSERT(offsetof(PluginInfo, neededVersion) == 12, "info needed version");
QM_ABI_ASSERT(offsetof(PluginInfo, name) == 24, "info name");
QM_ABI_ASSERT(offsetof(PluginInfo, modulename) == 32, "info modulename");
QM_ABI_ASSERT(offsetof(PluginInfo, helpfile) == 88, "info helpfile");
QM_ABI_ASSERT(offsetof(PluginInfo, callForm) == 96, "info call form");
QM_ABI_ASSERT(offsetof(PluginInfo, saverFormats) == 104, "info saver formats");
QM_ABI_ASSERT(offsetof(PluginInfo, displayAdapterCaps) == 112, "info adapter caps");
QM_ABI_ASSERT(offsetof(PluginInfo, disabled) == 120, "info disabled");
QM_ABI_ASSERT(offsetof(PluginInfo, userData) == 128, "info user data");
QM_ABI_ASSERT(offsetof(PluginInfo, adapterWords) == 136, "info adapter words");
QM_ABI_ASSERT(offsetof(PluginInfo, adapterFlags) == 152, "info adapter flags");
QM_ABI_ASSERT(offsetof(PluginInfo, extensions) == 172, "info extensions");
QM_ABI_ASSERT(offsetof(PluginInfo, enteredByName) == 300, "info entered by name");
QM_ABI_ASSERT(offsetof(PluginInfo, libraryInitialised) == 304, "info library initialised");
QM_ABI_ASSERT(offsetof(PluginInfo, InitPlugin) == 312, "info first slot");
QM_ABI_ASSERT(offsetof(PluginInfo, GetBaseTable) == 312 + 36 * 8, "info library slots");
QM_ABI_ASSERT(offsetof(PluginInfo, imageSaverFormats) == 312 + 47 * 8, "info image saver list");
QM_ABI_ASSERT(offsetof(PluginInfo, RequirePlugin) == 312 + 56 * 8, "info require slot");
QM_ABI_ASSERT(offsetof(PluginInfo, FOpen) == 312 + 111 * 8, "info file adapter slots");
QM_ABI_ASSERT(offsetof(PluginInfo, OpenDir) == 312 + 122 * 8, "info directory adapter slots");
QM_ABI_ASSERT(offsetof(PluginInfo, GetExtensions) == 312 + 130 * 8, "info last slot");
QM_ABI_ASSERT(sizeof(PluginInfo) == 312 + QM_PLUGIN_SLOT_COUNT * 8, "info size");

QM_ABI_ASSERT(sizeof(QmTimeRecord) == 48, "time record");
QM_ABI_ASSERT(sizeof(QmObjectId) == 16, "object id");
QM_ABI_ASSERT(sizeof(QmBrushLock) == 80, "brush lock");
QM_ABI_ASSERT(sizeof(QmBitMapLock) == 32, "bitmap lock");
QM_ABI_ASSERT(sizeof(QmSampleData) == 56, "sample data");
QM_ABI_ASSERT(sizeof(QmSoundInfo) == 40, "sound info");
QM_ABI_ASSERT(sizeof(QmVideoInfo) == 32, "video info");
QM_ABI_ASSERT(sizeof(QmVideoPacket) == 24, "video packet");
QM_ABI_ASSERT(sizeof(QmVmBuffer) == 1048, "VM string builder");
QM_ABI_ASSERT(sizeof(QmFileStatus) == 72, "file status");
QM_ABI_ASSERT(sizeof(QmFileInfo) == 112, "file info");
QM_ABI_ASSERT(sizeof(QmChunkDescription) == 1048, "chunk description");
QM_ABI_ASSERT(sizeof(QmRuntimeTable) == 51 * 8, "table 0");
QM_ABI_ASSERT(sizeof(QmSystemTable) == 49 * 8, "table 1");
QM_ABI_ASSERT(sizeof(QmStreamTable) == 33 * 8, "table 2");
QM_ABI_ASSERT(sizeof(QmGraphicsTable) == 30 * 8, "table 3");
QM_ABI_ASSERT(sizeof(QmAudioTable) == 3 * 8, "table 4");
QM_ABI_ASSERT(sizeof(QmRequesterTable) == 4 * 8, "table 5");
QM_ABI_ASSERT(sizeof(QmFontTable) == 1 * 8, "table 6");
QM_ABI_ASSERT(sizeof(QmFreeTypeTable) == QM_FT_SLOT_COUNT * 8, "table 7");
QM_ABI_ASSERT(sizeof(QmVmTable) == 78 * 8, "table 8");
QM_ABI_ASSERT(sizeof(QmInbuiltFontTable) == 6 * 8, "table 9");
QM_ABI_ASSERT(sizeof(QmZlibTable) == QM_Z_SLOT_COUNT * 8, "table 10");
QM_ABI_ASSERT(sizeof(QmJpegTable) == QM_JPEG_SLOT_COUNT * 8, "table 11");
QM_ABI_ASSERT(sizeof(QmPluginListTable) == 5 * 8, "table 12");
QM_ABI_ASSERT(sizeof(QmEncoderTable) == 4 * 8, "table 13");
QM_ABI_ASSERT(sizeof(PluginHostApi) == 8 + 14 * 8, "host interface");
#endif

#ifdef __cplusplus
}
#endif

#endif
