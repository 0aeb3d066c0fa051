// Virtual files (a region of another file, or a script string, opened like a
// file), whole files as strings, the byte patcher, environment variables,
// MD5 digests and line iteration.
#include <algorithm>
#include <cstring>
#include <string>

#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/io/md5.h"
#include "core/io/number_conv.h"
#include "core/io/stream.h"
#include "core/io/virtual_files.h"
#include "core/io/virtual_names.h"
#include "core/io/whole_file.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/services/command_services.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "display/events.h"
#include "libs/dos/dos_library.h"
#include "platform/posix/os_env.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr size_t LINE_LIMIT = 1024;
// Bytes the patcher handles between two pumps of the event loop.
constexpr uint64_t PATCH_PUMP_INTERVAL = 4096;
// Room for a chunk name: two 20-digit numbers, the prefix and separators,
// besides the display name and the container path.
constexpr size_t CHUNK_NAME_EXTRA = 64;

// The open stream of FileLines' iterator, kept in a full userdata so that
// a loop left early still closes it when the VM frees the userdata.
struct LineStream {
    StreamHandle* stream;
};

uint32_t CloseLineStream(VmState* vm)
{
    auto* ls = static_cast<LineStream*>(VmGetUserdata(vm, 1));
    if (ls && ls->stream) {
        StreamClose(ls->stream);
        ls->stream = nullptr;
    }
    return 0;
}

// The iterator: the next line of at most 1024 bytes, LF ending it and CR
// dropped; at the end of the file the stream closes and nothing is answered.
uint32_t NextFileLine(VmState* vm)
{
    auto* ls = static_cast<LineStream*>(VmGetUserdata(vm, VmUpvalueIndex(1)));
    if (!ls || !ls->stream)
        return 0;
    char line[LINE_LIMIT];
    size_t length = 0;
    bool any = false;
    while (length < LINE_LIMIT) {
        int c = StreamGetC(ls->stream);
        if (c < 0)
            break;
        any = true;
        if (c == '\n')
            break;
        if (c != '\r')
            line[length++] = static_cast<char>(c);
    }
    if (!any) {
        StreamClose(ls->stream);
        ls->stream = nullptr;
        return 0;
    }
    VmPushLString(vm, line, length);
    return 1;
}

// Releases a virtual string file's references and frees it. The record
// goes (or, while borrowed, takes its own copy of the bytes) before the
// string it read can be collected.
void UndefineVirtualFile(VmState* vm, VirtualStringFile* file)
{
    int32_t sourceRef = file->sourceRef, anchorRef = file->anchorRef;
    FreeVirtualStringFile(file);
    if (sourceRef != VM_NOREF)
        VmUnrefValue(vm, VM_REGISTRYINDEX, sourceRef);
    if (anchorRef != VM_NOREF)
        VmUnrefValue(vm, VM_REGISTRYINDEX, anchorRef);
}

} // namespace

uint32_t CmdDefineVirtualFile(VmState* vm)
{
    CheckArgs(vm, 4, 4, 0, 0);
    std::string file = GetFileNameArg(vm, 1);
    double offsetArg = VmCheckNumber(vm, 2);
    double sizeArg = VmCheckNumber(vm, 3);
    const char* name = VmCheckString(vm, 4, nullptr);
    int64_t offset = DoubleToInt64(offsetArg), size = DoubleToInt64(sizeArg);
    if (file.empty() || size <= 0 || offset < 0)
        return ERR_WRONGUSAGE;
    uint64_t base = 0;
    std::string container = file;
    if (IsChunkName(file.c_str())) {
        ChunkNameParts parts;
        // A region of a string file cannot be named; only byte regions nest.
        if (!ParseChunkName(file.c_str(), &parts) || parts.isString)
            return ERR_WRONGUSAGE;
        uint64_t outer = ChunkRegionSize(parts);
        if (static_cast<uint64_t>(offset) > outer || static_cast<uint64_t>(size) > outer - offset)
            return ERR_WRONGUSAGE;
        base = parts.offset;
        container.assign(parts.file);
    }
    std::string out(std::strlen(name) + container.size() + CHUNK_NAME_EXTRA, '\0');
    if (!MakeChunkName(name, out.data(), out.size(), static_cast<uint64_t>(offset), static_cast<uint64_t>(size),
                       base, container.c_str()))
        return ERR_WRONGUSAGE;
    VmPushCString(vm, out.c_str());
    return 1;
}

uint32_t CmdDefineVirtualFileFromString(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    size_t length = 0;
    const char* data = VmCheckString(vm, 1, &length);
    const char* name = VmCheckString(vm, 2, nullptr);
    bool writable = DosFlagArg(vm, 3, false);
    if (!*name)
        return ERR_WRONGUSAGE;
    VirtualStringFile* file = NewVirtualStringFile(name, reinterpret_cast<const uint8_t*>(data), length, writable);
    if (!file)
        return ERR_MEM;
    if (!writable) {
        // The file reads the string's own bytes: the string must live as
        // long as the file.
        VmPushValue(vm, 1);
        file->sourceRef = VmRefValue(vm, VM_REGISTRYINDEX);
    }
    VmPushLightUserdata(vm, file);
    file->anchorRef = VmRefValue(vm, VM_REGISTRYINDEX);
    std::string out(std::strlen(name) + CHUNK_NAME_EXTRA, '\0');
    if (!MakeChunkName(name, out.data(), out.size(), CHUNK_STRING_OFFSET, 0, static_cast<uint64_t>(file->anchorRef),
                       "unused")) {
        UndefineVirtualFile(vm, file);
        return ERR_MEM;
    }
    VmPushCString(vm, out.c_str());
    return 1;
}

uint32_t CmdUndefineVirtualStringFile(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* name = VmCheckString(vm, 1, nullptr);
    ChunkNameParts parts;
    if (!IsChunkName(name) || !ParseChunkName(name, &parts) || !parts.isString || !parts.object)
        return ERR_WRONGUSAGE;
    // A file of this library still reading or writing the buffer would be
    // left pointing at freed memory.
    for (DosFile* f = DosState.files; f; f = reinterpret_cast<DosFile*>(f->header.next))
        if (f->stream->region == parts.object)
            return ERR_WRONGUSAGE;
    UndefineVirtualFile(vm, parts.object);
    return 0;
}

uint32_t CmdFileToString(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    std::string name = GetFileNameArg(vm, 1);
    uint8_t* block = nullptr;
    uint64_t size = 0;
    if (uint32_t code = ReadStreamToMemory(name.c_str(), nullptr, nullptr, &block, &size))
        return code;
    VmPushLString(vm, reinterpret_cast<const char*>(block), static_cast<size_t>(size));
    OsFreeMem(block);
    VmPushNumber(vm, static_cast<double>(size));
    return 2;
}

uint32_t CmdStringToFile(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    size_t length = 0;
    const char* data = VmCheckString(vm, 1, &length);
    const char* name = VmCheckString(vm, 2, nullptr);
    WholeFileWriter file;
    if (uint32_t code = BeginWholeFile(name, STREAM_ADAPTERS, &file))
        return code;
    if (DosWrite(file.stream, data, length) != length)
        return ERR_WRITE;
    return CommitWholeFile(&file);
}

namespace {

// The three files of a patch by the ids the script gave. The progress
// callback and the event pump run script code, which may close any of
// them: after each, the files are looked up again.
struct PatchFiles {
    ObjectId ids[3];
    DosFile* files[3];
};

uint32_t FindPatchFiles(PatchFiles* p)
{
    for (int i = 0; i < 3; ++i)
        if (uint32_t code = FindFileHandle(p->ids[i], &p->files[i]))
            return code;
    return 0;
}

}  // namespace

uint32_t CmdApplyPatch(VmState* vm)
{
    CheckArgs(vm, 3, 4, 0, 0);
    PatchFiles p{{GetObjectIdArg(vm, 1), GetObjectIdArg(vm, 2), GetObjectIdArg(vm, 3)}, {}};
    if (uint32_t code = FindPatchFiles(&p))
        return code;
    bool haveCallback = VmType(vm, 4) == VM_TFUNCTION;
    uint64_t n = StreamSize(p.files[0]->stream), m = StreamSize(p.files[1]->stream);
    uint8_t source[PATCH_PUMP_INTERVAL], patch[PATCH_PUMP_INTERVAL];
    uint64_t i = 0;
    int64_t lastPercent = 0;
    while (i < n) {
        // A piece ends at the next pump, at the next whole percent (where the
        // callback hears of it, as if byte by byte) or at the end.
        uint64_t end = (i / PATCH_PUMP_INTERVAL + 1) * PATCH_PUMP_INTERVAL;
        if (end > n)
            end = n;
        if (haveCallback) {
            uint64_t nextPercentAt = ((static_cast<unsigned __int128>(lastPercent) + 1) * n + 99) / 100;
            if (nextPercentAt > i && nextPercentAt < end)
                end = nextPercentAt;
        }
        size_t count = static_cast<size_t>(end - i);
        if (StreamRead(p.files[0]->stream, source, count) != count)
            return ERR_READ;
        size_t patched = i < m ? static_cast<size_t>(std::min<uint64_t>(m - i, count)) : 0;
        if (patched && StreamRead(p.files[1]->stream, patch, patched) != patched)
            return ERR_READ;
        for (size_t k = 0; k < patched; ++k)
            source[k] ^= patch[k];
        for (size_t k = patched; k < count; ++k)
            source[k] = static_cast<uint8_t>(~source[k]);
        if (StreamWrite(p.files[2]->stream, source, count) != count)
            return ERR_WRITE;
        i = end;
        int64_t percent = static_cast<int64_t>(static_cast<double>(i) * 100.0 / static_cast<double>(n));
        if (haveCallback && percent != lastPercent) {
            lastPercent = percent;
            VmNewTable(vm);
            VmPushCString(vm, "progress");
            VmPushNumber(vm, static_cast<double>(percent));
            VmRawSet(vm, -3);
            double answer;
            if (uint32_t code = CallProgressCallback(vm, 4, &answer))
                return code;
            if (uint32_t code = FindPatchFiles(&p))
                return code;
        }
        if (i % PATCH_PUMP_INTERVAL == 0 || i == n) {
            uint32_t code = 0;
            if (PumpOsEvents(vm, 2, 0, &code))
                return code;
            if (uint32_t code = FindPatchFiles(&p))
                return code;
        }
    }
    return 0;
}

uint32_t CmdGetEnv(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    const char* value = OsGetEnv(VmCheckString(vm, 1, nullptr));
    VmPushCString(vm, value ? value : "");
    VmPushNumber(vm, value ? 1 : 0);
    return 2;
}

uint32_t CmdSetEnv(VmState* vm)
{
    CheckArgs(vm, 2, 2, 0, 0);
    const char* name = VmCheckString(vm, 1, nullptr);
    return OsSetEnv(name, VmCheckString(vm, 2, nullptr));
}

uint32_t CmdUnsetEnv(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    return OsUnsetEnv(VmCheckString(vm, 1, nullptr));
}

uint32_t CmdMD5(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    Md5Context ctx;
    Md5Init(&ctx);
    auto update = [](void* c, const uint8_t* data, size_t size) { Md5Update(static_cast<Md5Context*>(c), data, size); };
    if (uint32_t code = ReadFileArgInBlocks(vm, 1, update, &ctx))
        return code;
    uint8_t digest[16];
    Md5Final(&ctx, digest);
    static const char hex[] = "0123456789abcdef";
    char text[32];
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = hex[digest[i] >> 4];
        text[2 * i + 1] = hex[digest[i] & 15];
    }
    VmPushLString(vm, text, 32);
    return 1;
}

uint32_t CmdFileLines(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    std::string name = GetFileNameArg(vm, 1);
    StreamHandle* stream = StreamOpen(name.c_str(), STREAM_READ | STREAM_ADAPTERS);
    if (!stream) {
        SetErrorText(name.c_str());
        return ERR_READFILE;
    }
    auto* ls = static_cast<LineStream*>(VmNewUserdata(vm, sizeof(LineStream)));
    ls->stream = stream;
    VmNewTable(vm);
    VmPushCString(vm, "__gc");
    VmPushNativeFunction(vm, CloseLineStream);
    VmRawSet(vm, -3);
    VmSetMetatable(vm, -2);
    VmPushValue(vm, -1);
    VmPushNativeClosure(vm, NextFileLine, 1);
    VmInsert(vm, -2);
    return 2;
}

uint32_t CmdGetAsset(VmState* vm)
{
    CheckArgs(vm, 1, 1, 0, 0);
    VmCheckString(vm, 1, nullptr);
    VmPushValue(vm, 1);
    return 1;
}
