#include "media/media_modules.h"

#include <cstdio>

#include "core/io/stream.h"

int64_t SeekStreamForModule(void* opaque, int64_t offset, int origin)
{
    auto* stream = static_cast<StreamHandle*>(opaque);
    int mode = origin == SEEK_SET ? STREAM_SEEK_BEGINNING : origin == SEEK_END ? STREAM_SEEK_END : STREAM_SEEK_CURRENT;
    if (StreamSeek(stream, offset, mode) < 0) return -1;
    return StreamSeek(stream, 0, STREAM_SEEK_CURRENT);
}
