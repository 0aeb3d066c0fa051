// The two records of one run: the start-up context (`CoreContext`, kept in
// the VM registry as "clargs") and the applet block (`AppletInfo`, registry
// "applet"). Start-up allocates both zero-filled; the applet loader fills
// `AppletInfo`; the command services, the error report and the libraries
// read them. The records the loader hangs off `AppletInfo` are declared here
// too where more than the loader reads them.
#pragma once

#include <cstdint>

struct LinkedFileRecord;
struct PreloadEntry;
struct VmState;

// An option the option table does not know, handed on to the script.
struct ScriptArgument {
    ScriptArgument* next;
    char* name;   // own copy, without the leading '-'
    char* value;  // own copy of the following word, or null
};

struct CoreContext {
    uint32_t isApplet;
    char scriptPath[1024];
    char programPath[1024];
    uint32_t quiet;
    uint32_t noSound;
    uint32_t audioOpenValue;
    char errorText[2048];  // the final report that ReportFatalError builds
    ScriptArgument* scriptArgs;
    uint32_t noOptionOverride;
    uint32_t allDisplays;
    uint32_t numChannels;
};

// One source file that went into the applet's code: the file's code covers
// the applet-wide lines firstLine..lastLine and starts at beginLine of the
// file itself.
struct IncludedFileRecord {
    IncludedFileRecord* next;
    uint32_t firstLine;
    uint32_t lastLine;
    uint32_t beginLine;
    const char* name;  // the texts live in the record's own block
    const char* file;
};

struct BackfillDesc {
    uint32_t kind;  // 0 none, 1 colour, 2 gradient, 3 texture, 4 picture
    uint32_t color1;
    uint32_t color2;
    int32_t picX;
    int32_t picY;
    int32_t brush;
    uint32_t scalePicture;
    int32_t transparentColor;
    char file[1024];
    uint32_t hideTitleBar;
    uint32_t flag6;
};

struct AppletInfo {
    uint8_t* code;
    uint32_t codeSize;
    uint8_t* altCode;
    uint32_t altCodeSize;
    char title[256];
    char version[256];
    char copyright[256];
    char author[256];
    char description[256];
    char identifier[256];
    PreloadEntry* preloadEntries;
    IncludedFileRecord* includedFiles;
    LinkedFileRecord* linkedFiles;
    uint32_t versionMajor;
    uint32_t versionMinor;
    int32_t scaleWidth;
    int32_t scaleHeight;
    int32_t monitor;
    uint32_t displayMode;
    int32_t screenWidth;
    int32_t screenHeight;
    int32_t screenDepth;
    uint32_t reserved1;
    BackfillDesc backfill;
    uint32_t reserved2;
    uint32_t displayFlags;
    uint32_t loaded;
};

// The run's applet record and main VM state, set by start-up before
// anything reads them; the version checks consult the applet record when no
// VM is at hand.
extern AppletInfo* ProgramAppletInfo;
extern VmState* ProgramVmState;
// 1 once the DEBUGDEVICE option opened a debug channel: the fatal error is
// then reported as one machine-readable line instead of a requester.
extern uint32_t DebugDeviceSet;

// The records kept in the VM registry as "clargs" and "applet" (of the main
// state when vm is null); null when the entry is not there.
CoreContext* GetClargsTable(VmState* vm);
AppletInfo* GetAppletInfo(VmState* vm);
