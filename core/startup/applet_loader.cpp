// Finding and opening the applet: the script file or the program itself,
// packed applets inflated into a temporary file, the quick look at an
// applet's header, loading the code chunk into the VM, and the plugin
// bundle that may precede a linked applet.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/io/container.h"
#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/messages.h"
#include "core/io/stream.h"
#include "core/io/utilities.h"
#include "core/io/whole_file.h"
#include "core/services/command_services.h"
#include "core/services/path_helpers.h"
#include "core/startup/applet.h"
#include "core/startup/options.h"
#include "core/startup/startup.h"
#include "core/vm/vm.h"
#include "display/events.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_paths.h"

namespace {

constexpr char kAppletMagic[4] = {'Q', 'M', 'A', '\0'};
constexpr size_t kHeaderPeek = 2048;

bool ReadMagic(StreamHandle* stream, char magic[4]) { return StreamRead(stream, magic, 4) == 4; }

bool CopyInto(char* out, size_t size, const char* text)
{
    return OsCopyPath(out, size, text, std::strlen(text));
}

// Why the script file did not open, as the error that says so: only a name
// that reaches nothing "does not exist"; a folder or an unreadable file
// cannot be read.
uint32_t ScriptOpenError(const char* path)
{
    SetErrorText(path);
    struct stat st;
    if (stat(OsHostPath(path).c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return ERR_FILEEXIST;
    return ERR_READFILE;
}

// The detail of an error about the script file itself, whose message does
// not name it: "File: " and the path, and for assembly text the command
// that makes an applet of it. Answers code.
uint32_t ScriptFileError(uint32_t code, const char* path, const char* more = nullptr)
{
    std::string detail = std::string(GetString(MSG_FILE)) + ": " + OsFullPathString(path);
    if (more && more[0])
        detail += std::string("\n") + more;
    std::string name = PathFilePart(path);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && StrCaseCmp(name.c_str() + dot, ".qas") == 0)
        detail += "\n" + name + " is assembly text: qmasm " + name + " --applet " + name.substr(0, dot) +
                  ".qma makes an applet of it";
    SetErrorDetail(code, detail.c_str());
    return code;
}

// A file too short for the magic is empty, or no applet.
uint32_t ShortScriptError(StreamHandle* stream, const char* path)
{
    SetErrorText(path);
    return ScriptFileError(StreamSize(stream) == 0 ? uint32_t{ERR_EMPTYSCRIPT} : uint32_t{ERR_NOAPPLET}, path);
}

}  // namespace

uint64_t LoadedAppletOffset = 0;

uint32_t OpenAppletStream(StreamHandle** stream, char* path, size_t pathSize, uint64_t* appletOffset,
                          CoreContext* context, AppletOrigin* origin)
{
    if (StreamSeek(*stream, static_cast<int64_t>(*appletOffset), STREAM_SEEK_BEGINNING) < 0)
        return ERR_READ;
    char magic[4];
    if (!ReadMagic(*stream, magic))
        return ERR_READ;
    if (std::memcmp(magic, CONTAINER_MAGIC_APPLET, 4) == 0) {
        const char* temp = MakeTempAppletName();
        if (!temp)
            return ERR_WRITEFILE;
        StreamClose(*stream);
        *stream = nullptr;
        uint64_t inflated = 0, containerLength = 0;
        uint32_t error = InflateFileWithMagic(CONTAINER_MAGIC_APPLET, path, temp, nullptr, *appletOffset,
                                              &inflated, &containerLength, nullptr, 0);
        // The unpacked copy that could not be written (a full temporary
        // folder) is named, not the applet that was read.
        if (error == ERR_WRITE) {
            SetErrorText(temp);
            return ERR_WRITEFILE;
        }
        if (error)
            return error;
        if (!CopyInto(origin->containerPath, sizeof origin->containerPath, path))
            return ERR_NAMETOOLONG;
        origin->containerEnd = *appletOffset + containerLength;
        origin->packed = 1;
        if (!CopyInto(path, pathSize, temp))
            return ERR_NAMETOOLONG;
        *stream = StreamOpen(path, STREAM_READ);
        if (!*stream) {
            SetErrorText(path);
            return ERR_READFILE;
        }
        if (!ReadMagic(*stream, magic))
            return ERR_READ;
        *appletOffset = 0;
    }
    context->isApplet = std::memcmp(magic, kAppletMagic, 4) == 0;
    if (StreamSeek(*stream, static_cast<int64_t>(*appletOffset), STREAM_SEEK_BEGINNING) < 0)
        return ERR_READ;
    return 0;
}

uint32_t LoadApplet(AppletInfo* applet, VmState* vm, CoreContext* context)
{
    std::string full = OsFullPathString(context->scriptPath);
    if (!CopyInto(context->scriptPath, sizeof context->scriptPath, full.c_str()))
        return ERR_NAMETOOLONG;
    StreamHandle* probe = StreamOpen(context->scriptPath, STREAM_READ);
    if (!probe)
        return ScriptOpenError(context->scriptPath);
    StreamClose(probe);

    if (!Startup.noChangeDir) {
        std::string dir = full.substr(0, full.find_last_of('/') + 1);
        // A folder that cannot be entered leaves relative names where the
        // player was started; the script still runs.
        [[maybe_unused]] int changed = chdir(dir.c_str());
    }
    PrintMessage(GetString(MSG_OPENING_SCRIPT), context->scriptPath, 1);

    char path[1024];
    std::memcpy(path, context->scriptPath, sizeof path);
    StreamCloser file{StreamOpen(path, STREAM_READ)};
    if (!file.stream) {
        SetErrorText(path);
        return ERR_READFILE;
    }
    uint64_t offset = Startup.appletOffset;
    AppletOrigin origin{};
    context->isApplet = 0;
    if (StreamSize(file.stream) > offset + 4) {
        if (uint32_t error = OpenAppletStream(&file.stream, path, sizeof path, &offset, context, &origin))
            return error;
    }
    if (!context->isApplet) {
        SetErrorText(context->scriptPath);
        return ScriptFileError(ERR_NOAPPLET, context->scriptPath);
    }
    uint32_t error = ReadAppletSections(path, context, vm, file.stream, offset, applet, &origin);
    LoadedAppletOffset = offset;
    // The linked files point into the file the sections were read from.
    SetLinkedFiles(applet->linkedFiles, offset);
    if (error == ERR_UNEXPECTEDEOF)
        return ScriptFileError(error, context->scriptPath);
    if (error)
        return error;
    PrintDone();
    if (vm) {
        VmPushCString(vm, "script");
        VmPushCString(vm, ":none:");
        VmRawSet(vm, VM_REGISTRYINDEX);
    }
    return 0;
}

uint32_t ReadScriptFileHeader(CoreContext* context, AppletInfo* applet)
{
    if (Startup.appletLinked)
        return 0;
    StreamCloser file{StreamOpen(context->scriptPath, STREAM_READ)};
    if (!file.stream)
        return ScriptOpenError(context->scriptPath);
    char magic[4];
    if (!ReadMagic(file.stream, magic))
        return ShortScriptError(file.stream, context->scriptPath);
    bool packed = std::memcmp(magic, CONTAINER_MAGIC_APPLET, 4) == 0;
    if (!packed && std::memcmp(magic, kAppletMagic, 4) != 0) {
        SetErrorText(context->scriptPath);
        return ScriptFileError(ERR_NOAPPLET, context->scriptPath);
    }
    if (context->quiet)
        return 0;
    uint8_t header[kHeaderPeek];
    size_t size = 0;
    if (packed) {
        uint64_t produced = 0;
        if (StreamSeek(file.stream, 0, STREAM_SEEK_BEGINNING) < 0)
            return ERR_READ;
        if (InflateFileWithMagic(CONTAINER_MAGIC_APPLET, nullptr, nullptr, file.stream, 0, &produced, nullptr,
                                 header, sizeof header) != 0)
            return 0;
        size = static_cast<size_t>(produced);
    } else {
        std::memcpy(header, magic, 4);
        size = 4 + StreamRead(file.stream, header + 4, sizeof header - 4);
    }
    ReadAppletHeaderTexts(header, size, applet);
    return 0;
}

namespace {

struct ChunkSource {
    const uint8_t* bytes;
    size_t size;
};

const char* ReadMemoryChunk(VmState*, void* data, size_t* size)
{
    auto* source = static_cast<ChunkSource*>(data);
    *size = source->size;
    source->size = 0;
    return reinterpret_cast<const char*>(source->bytes);
}

}  // namespace

uint32_t StartScriptChunk(CoreContext* context)
{
    VmState* vm = ProgramVmState;
    AppletInfo* applet = ProgramAppletInfo;
    PrintMessage(GetString(MSG_COMPILING_SCRIPT), nullptr, 1);
    SetTags(nullptr, {{TAG_SCRIPTRUNNING, 1}, {TAG_END, 0}});
    ChunkSource source = context->isApplet ? ChunkSource{applet->code, applet->codeSize}
                                           : ChunkSource{applet->altCode, applet->altCodeSize};
    uint32_t error = source.bytes ? VmLoad(vm, ReadMemoryChunk, &source, context->scriptPath) : ERR_EMPTYSCRIPT;
    SetTags(nullptr, {{TAG_SCRIPTRUNNING, 0}, {TAG_END, 0}});
    // The loader's detail says where in the code; the file is named here.
    if (error == ERR_EMPTYSCRIPT || error == ERR_UNEXPECTEDEOF || error == ERR_BADBYTECODE)
        return ScriptFileError(error, context->scriptPath,
                               error == ERR_EMPTYSCRIPT ? "" : std::string(GetErrorDetail(error)).c_str());
    if (error)
        return error;
    if (uint32_t failed = ApplyFirstDisplayOptions(applet, &StartupDisplayRecord, 0))
        return failed;
    VmSetEventHook(vm, PumpEventsCallback);
    PrintDone();
    return 0;
}

// ---------------------------------------------------------------------------
// The plugin bundle

namespace {

constexpr char kBundleMagic[4] = {'Q', 'M', 'P', '!'};

// An entry's name is reduced to its file part, so that nothing a bundle
// names can land outside the runtime's own directory.
bool BundleFileName(const char* entryName, char* out, size_t outSize)
{
    const char* part = PathFilePart(entryName);
    if (!IsPlainFileName(part))
        return false;
    std::string name = AddPart(Startup.tempDirectory, part) + ".qmp";
    return OsCopyPath(out, outSize, name.c_str(), name.size());
}

uint32_t CopyBundleEntry(StreamHandle* in, uint64_t size, const char* destination)
{
    if (StreamHandle* existing = StreamOpen(destination, STREAM_READ)) {
        StreamClose(existing);
        return StreamSeek(in, static_cast<int64_t>(size), STREAM_SEEK_CURRENT) < 0 ? uint32_t{ERR_READ} : 0;
    }
    WholeFileWriter out;
    if (uint32_t error = BeginWholeFile(destination, 0, &out))
        return error;
    uint8_t buffer[16384];
    while (size) {
        size_t piece = size < sizeof buffer ? static_cast<size_t>(size) : sizeof buffer;
        if (StreamRead(in, buffer, piece) != piece)
            return ERR_READ;
        if (StreamWrite(out.stream, buffer, piece) != piece)
            return ERR_WRITE;
        size -= piece;
    }
    return CommitWholeFile(&out);
}

}  // namespace

uint32_t RunLinkedPluginBundle(const char* programPath, uint32_t* appletOffset)
{
    StreamCloser file{StreamOpen(programPath, STREAM_READ)};
    if (!file.stream) {
        SetErrorText(programPath);
        return ERR_READFILE;
    }
    uint64_t end = StreamSize(file.stream);
    uint64_t pos = *appletOffset;
    char magic[4];
    if (pos + 8 > end || StreamSeek(file.stream, static_cast<int64_t>(pos), STREAM_SEEK_BEGINNING) < 0 ||
        !ReadMagic(file.stream, magic) || std::memcmp(magic, kBundleMagic, 4) != 0)
        return 0;
    uint8_t word[4];
    if (StreamRead(file.stream, word, 4) != 4)
        return ERR_READ;
    bool packed = (word[3] & 1) != 0;
    pos += 8;
    for (;;) {
        char name[1024];
        size_t n = 0;
        for (;;) {
            int c = StreamGetC(file.stream);
            if (c < 0)
                return ERR_READ;
            pos++;
            if (c == 0)
                break;
            if (n + 1 >= sizeof name)
                return ERR_NAMETOOLONG;
            name[n++] = static_cast<char>(c);
        }
        name[n] = 0;
        if (n == 0)
            break;
        if (StreamRead(file.stream, word, 4) != 4)
            return ERR_READ;
        pos += 4;
        uint64_t size = (static_cast<uint32_t>(word[0]) << 24) | (word[1] << 16) | (word[2] << 8) | word[3];
        if (size > end - pos)
            return ERR_READ;
        if (uint32_t error = EnsureRuntimeTempDirectory())
            return error;
        char destination[1200];
        if (!BundleFileName(name, destination, sizeof destination)) {
            // An entry without a usable name is passed over.
        } else if (packed) {
            uint32_t error = InflateFileWithMagic(CONTAINER_MAGIC_PLUGINS, nullptr, destination, file.stream, 0,
                                                  nullptr, nullptr, nullptr, 0);
            if (error)
                return error;
        } else if (uint32_t error = CopyBundleEntry(file.stream, size, destination)) {
            return error;
        }
        pos += size;
        if (StreamSeek(file.stream, static_cast<int64_t>(pos), STREAM_SEEK_BEGINNING) < 0)
            return ERR_READ;
    }
    *appletOffset = static_cast<uint32_t>(pos);
    return 0;
}
