// The preferences file of an applet: "PRFS" and one table stream, in the
// user's preferences folder under the applet's identifier.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/whole_file.h"
#include "core/services/check_args.h"
#include "core/services/path_helpers.h"
#include "core/startup/run_records.h"
#include "libs/dos/table_stream.h"
#include "libs/system/system_library.h"
#include "platform/posix/os_env.h"

namespace {

constexpr char kPrefsMagic[4] = {'P', 'R', 'F', 'S'};

uint32_t PrefsPath(VmState* vm, std::string* out)
{
    // The identifier comes from the applet file, whichever tool wrote it:
    // a separator or a dot name would reach outside the folder.
    AppletInfo* applet = GetAppletInfo(vm);
    if (!applet || !IsPlainFileName(applet->identifier))
        return ERR_WRONGUSAGE;
    char folder[4096];
    if (uint32_t code = OsGetPrefsPath(folder, sizeof folder))
        return code;
    *out = AddPart(folder, applet->identifier);
    return 0;
}

}  // namespace

uint32_t ReadPrefsFile(VmState* vm, int index)
{
    if (index < 0 && index > VM_REGISTRYINDEX)
        index = VmGetTop(vm) + index + 1;
    std::string path;
    if (uint32_t code = PrefsPath(vm, &path))
        return code;
    StreamCloser file{StreamOpen(path.c_str(), STREAM_READ)};
    if (!file.stream) {
        SetErrorText(path.c_str());
        return ERR_READFILE;
    }
    char magic[4];
    if (StreamRead(file.stream, magic, sizeof magic) != sizeof magic)
        return ERR_READ;
    if (std::memcmp(magic, kPrefsMagic, sizeof magic) != 0)
        return ERR_FILEFORMAT;
    if (uint32_t code = ReadTableStream(vm, file.stream))
        return code;
    VmPushNil(vm);
    while (VmNext(vm, -2)) {
        VmPushValue(vm, -2);
        VmInsert(vm, -2);
        VmRawSet(vm, index);
    }
    VmPop(vm, 1);
    return 0;
}

uint32_t WritePrefsFile(VmState* vm, int index)
{
    std::string path;
    if (uint32_t code = PrefsPath(vm, &path))
        return code;
    // A table that fails half way (a key of the wrong type) must not leave
    // a file that no later LoadPrefs can read.
    WholeFileWriter file;
    if (uint32_t code = BeginWholeFile(path.c_str(), 0, &file))
        return code;
    if (StreamWrite(file.stream, kPrefsMagic, sizeof kPrefsMagic) != sizeof kPrefsMagic)
        return ERR_WRITE;
    if (uint32_t code = WriteTableStream(vm, index, file.stream))
        return code;
    return CommitWholeFile(&file);
}

uint32_t CmdLoadPrefs(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmCheckTable(vm, 1);
    uint32_t code = ReadPrefsFile(vm, 1);
    return code == ERR_READFILE ? 0 : code;
}

uint32_t CmdSavePrefs(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmCheckTable(vm, 1);
    return WritePrefsFile(vm, 1);
}

uint32_t CmdDeletePrefs(VmState* vm)
{
    CheckArgs(vm, 0, 0, 0, 0);
    std::string path;
    if (uint32_t code = PrefsPath(vm, &path))
        return code;
    // A missing file is no error; one that stays is.
    if (std::remove(path.c_str()) != 0 && errno != ENOENT) {
        SetErrorText(path.c_str());
        return ERR_DELETEFILE;
    }
    return 0;
}
