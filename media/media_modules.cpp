#include "media/media_modules.h"

#include <cstdint>
#include <cstdio>

#include "core/io/stream.h"

namespace {

size_t ReadForModule(void* opaque, void* buffer, size_t size)
{
    return StreamRead(static_cast<StreamHandle*>(opaque), buffer, size);
}

int64_t SeekForModule(void* opaque, int64_t offset, int origin)
{
    auto* stream = static_cast<StreamHandle*>(opaque);
    int mode = origin == SEEK_SET ? STREAM_SEEK_BEGINNING : origin == SEEK_END ? STREAM_SEEK_END : STREAM_SEEK_CURRENT;
    // Seeks from the end are taken from the start where the length is
    // known: a stream that emulates seeks reaches targets only so.
    uint64_t size = 0;
    if (mode == STREAM_SEEK_END && StreamKnownSize(stream, &size) && size <= INT64_MAX) {
        offset += static_cast<int64_t>(size);
        mode = STREAM_SEEK_BEGINNING;
    }
    if (StreamSeek(stream, offset, mode) < 0) return -1;
    return StreamSeek(stream, 0, STREAM_SEEK_CURRENT);
}

uint64_t SizeForModule(void* opaque) { return StreamSize(static_cast<StreamHandle*>(opaque)); }

}  // namespace

QmStreamIo ModuleIoOf(StreamHandle* stream)
{
    return QmStreamIo{stream, ReadForModule, SeekForModule, SizeForModule, StreamCanSeek(stream) ? 1u : 0u};
}
