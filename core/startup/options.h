// Start-up options: the option table, the command line, the ".ini" file
// beside the script, turning the values into the run's records, and the
// defaults of the display descriptions that options and applets fill.
//
// The command line and the file are read against one table into one value
// array; the file is read second, so its values win. Options the table does
// not know are no error: they go to the script as name/value pairs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/startup/applet.h"

struct CoreContext;
struct AppletInfo;

enum StartupOption : uint32_t {
    OPT_WINDOW, OPT_BORDERLESS, OPT_SIZEABLE, OPT_FIXED, OPT_NOHIDE, OPT_DISABLEBLANKER,
    OPT_ALLDISPLAYS, OPT_OVERRIDEPLACEMENT, OPT_FULLSCREEN, OPT_FAKEFULLSCREEN, OPT_MODEREQUESTER,
    OPT_ASKDISPLAYMODE, OPT_SCRWIDTH, OPT_SCRHEIGHT, OPT_SCRDEPTH, OPT_MONITOR, OPT_HIDEPOINTER,
    OPT_NOMODESWITCH, OPT_BACKFILL, OPT_STARTCOLOR, OPT_ENDCOLOR, OPT_BRUSHFILE, OPT_BRUSH,
    OPT_SCALEPICTURE, OPT_PICXPOS, OPT_PICYPOS, OPT_PICTRANS, OPT_HIDETITLEBAR, OPT_AUTOSCALE,
    OPT_LAYERSCALE, OPT_SCALEWIDTH, OPT_SCALEHEIGHT, OPT_SMOOTHSCALE, OPT_KEEPPROPORTIONS,
    OPT_FITSCALE, OPT_NOSOUND, OPT_NUMCHANNELS, OPT_REQUIREPLUGINS, OPT_REQUIRETAGS,
    OPT_SKIPPLUGINS, OPT_DEBUGDEVICE, OPT_DEBUGOUTPUT, OPT_FORCEFLUSH, OPT_NODEBUG, OPT_HELP,
    OPT_QUIET, OPT_TEMPDIR, OPT_NOCHDIR, OPT_SOFTTIMER,
    OPTION_COUNT
};

struct OptionRecord {
    const char* name;
    uint32_t slot;
    uint32_t takesValue;
    uint32_t headingMessage;  // 0: continues the group above
    uint32_t helpMessage;
    const char* argName;
    const char* argHint;
};

extern const OptionRecord OptionTable[OPTION_COUNT];

// One slot per option: `given` once the command line or the file named it;
// a switch's `flag` is 1 (or 0 from the file), a value option's `text`
// points into argv or the file buffer.
struct OptionValues {
    uint32_t given[OPTION_COUNT];
    uint32_t flag[OPTION_COUNT];
    const char* text[OPTION_COUNT];
};

// The option record of a name (compared without regard to case), or null.
const OptionRecord* FindOption(const char* name, size_t length);

// Reads argv[1..] word by word (no line is rebuilt). 0, ERR_ARGS,
// ERR_CONFIG when no script is named, ERR_NAMETOOLONG, ERR_MEM.
uint32_t ParseCommandLine(int argc, char** argv, CoreContext* context, OptionValues* values);

// The word or option the last argument error (ERR_ARGS, ERR_CONSOLEARG,
// ERR_BACKFILL, a bad number) of ParseCommandLine or ApplyStartupOptions
// was about, for the report; empty when none is known.
const char* ArgumentErrorDetail();

// Prints the usage line and every option with its value placeholder and
// help text, grouped under the table's headings, to standard output;
// false when the output failed.
bool PrintOptionHelp();

// Reads the ".ini" file beside scriptPath; *outBuffer receives the file's
// buffer, which values point into (free with OsFreeMem after
// ApplyStartupOptions). A missing file is no error. 0, ERR_INISYNTAX,
// ERR_READ, ERR_MEM.
uint32_t ReadIniOptions(OptionValues* values, CoreContext* context, char** outBuffer);

// The name of the ".ini" file for a script path.
bool IniFileName(const char* scriptPath, char* out, size_t outSize);

uint32_t ApplyStartupOptions(const OptionValues* values, CoreContext* context, AppletInfo* applet);

uint32_t ParseBackfillOption(const char* mode, const char* brush, const char* startColor,
                             const char* endColor, const char* brushFile, AppletInfo* applet);

// "a|b|c" -> "a\0b\0c\0\0" in a new OsAllocMem buffer; null when out of
// memory.
char* SplitBarList(const char* text);

void FreeScriptArguments(CoreContext* context);

// Defaults.
void InitBackfillOptions(BackfillDesc* desc);
void InitDisplayBackfill(DisplayBackfill* record);
void InitGradientDefaults(DisplayGradient* gradient);
void InitDisplayDescDefaults(DisplayDesc* desc);
void InitAppletDisplayDefaults(AppletInfo* applet);
// Zero with the second to sixth words -1 (the backfill's kind is the sixth).
void ResetStartupDisplayRecord(DisplayBackfill* record);

// A display entry (kind 10, id 1) with defaults, flag 1024 and the title
// when given, appended to the preload list. 0 or ERR_MEM.
uint32_t AddPreloadDisplay(const char* title, AppletInfo* applet, PreloadEntry** outEntry = nullptr);
// The first display entry (kind 10, id 1), or null.
PreloadEntry* FindPreloadDisplay(AppletInfo* applet);
uint32_t ApplyFirstDisplayOptions(AppletInfo* applet, const DisplayBackfill* record, uint32_t extraFlags);
