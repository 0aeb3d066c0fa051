// Whole-file writers over the stream layer and the platform's sibling
// temporary files.
#include "core/io/whole_file.h"

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "platform/posix/os_files.h"

WholeFileWriter::~WholeFileWriter()
{
    AbandonWholeFile(this);
}

uint32_t BeginWholeFile(const char* path, uint32_t extraMode, WholeFileWriter* w)
{
    w->target = path;
    w->temp.clear();
    w->renameTo.clear();
    if (!IsChunkName(path) && !IsMemoryName(path)) {
        if (OsCreateSiblingTemp(path, &w->temp, &w->renameTo)) {
            SetErrorText(path);
            return ERR_WRITEFILE;
        }
    }
    w->stream = StreamOpen(w->temp.empty() ? path : w->temp.c_str(), STREAM_WRITE | extraMode);
    if (!w->stream) {
        if (!w->temp.empty())
            OsDeleteFile(w->temp.c_str());
        w->temp.clear();
        SetErrorText(path);
        return ERR_WRITEFILE;
    }
    return 0;
}

uint32_t CommitWholeFile(WholeFileWriter* w)
{
    if (!w->stream)
        return ERR_WRITE;
    uint32_t code = StreamCloseWritten(w->stream);
    w->stream = nullptr;
    if (w->temp.empty())
        return code;
    if (!code && !OsRename(w->temp.c_str(), w->renameTo.c_str())) {
        SetErrorText(w->target.c_str());
        code = ERR_RENAME;
    }
    if (code)
        OsDeleteFile(w->temp.c_str());
    w->temp.clear();
    return code;
}

void AbandonWholeFile(WholeFileWriter* w)
{
    if (w->stream)
        StreamClose(w->stream);
    w->stream = nullptr;
    if (!w->temp.empty())
        OsDeleteFile(w->temp.c_str());
    w->temp.clear();
}
