// Whole-file writers through a temporary file and a rename.
#include "core/io/replace_file.h"

#include <atomic>

#include <unistd.h>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "platform/posix/os_files.h"

namespace {

std::atomic<uint32_t> temporaryCounter{0};

}  // namespace

uint32_t BeginReplacingFile(const char* name, ReplacingFile* file)
{
    file->target = name;
    file->temporary.clear();
    bool virtualName = name[0] == ':' && name[1] == ':' && name[2] == ':';
    if (!virtualName) {
        // Beside the target, so that the rename never crosses file systems.
        file->temporary = file->target + ".~" + std::to_string(getpid()) + "-" +
                          std::to_string(temporaryCounter.fetch_add(1)) + ".tmp";
    }
    file->stream = StreamOpen(virtualName ? name : file->temporary.c_str(), STREAM_WRITE);
    if (!file->stream) {
        file->temporary.clear();
        SetErrorText(name);
        return ERR_WRITEFILE;
    }
    return 0;
}

uint32_t FinishReplacingFile(ReplacingFile* file)
{
    int flushed = StreamFlush(file->stream);
    int closed = StreamClose(file->stream);
    file->stream = nullptr;
    if (!flushed || !closed) {
        if (!file->temporary.empty())
            OsDeleteFile(file->temporary.c_str());
        file->temporary.clear();
        return ERR_CLOSEFILE;
    }
    if (!file->temporary.empty() && !OsRename(file->temporary.c_str(), file->target.c_str())) {
        OsDeleteFile(file->temporary.c_str());
        file->temporary.clear();
        SetErrorText(file->target.c_str());
        return ERR_RENAME;
    }
    file->temporary.clear();
    return 0;
}

void AbandonReplacingFile(ReplacingFile* file)
{
    if (file->stream)
        StreamClose(file->stream);
    file->stream = nullptr;
    if (!file->temporary.empty())
        OsDeleteFile(file->temporary.c_str());
    file->temporary.clear();
}

uint32_t WriteFileReplacing(const char* name, const void* data, size_t size)
{
    ReplacingFile file;
    if (uint32_t error = BeginReplacingFile(name, &file))
        return error;
    if (StreamWrite(file.stream, data, size) != size) {
        AbandonReplacingFile(&file);
        return ERR_WRITE;
    }
    return FinishReplacingFile(&file);
}
