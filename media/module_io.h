// The player's stream as its media modules (libqm_sound.so, libqm_ffmpeg.so)
// see it: plain C callbacks, so that nothing of the player's stream layer
// crosses into a module. The stream stays the player's: a module never
// closes it.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct QmStreamIo {
    void* opaque;
    // Reads up to size bytes: the count, 0 at the end or on a read error.
    size_t (*read)(void* opaque, void* buffer, size_t size);
    // Moves to offset from origin (SEEK_SET, SEEK_CUR or SEEK_END): the new
    // position, or -1 when the stream refused. Telling the position (0 from
    // SEEK_CUR) works on every stream; moving only where canSeek is set
    // (seeks there may be emulated by reading forward, and rewinding).
    int64_t (*seek)(void* opaque, int64_t offset, int origin);
    // The stream's length in bytes, 0 when it cannot be examined.
    uint64_t (*size)(void* opaque);
    // Zero for a stream that can only be read forward.
    uint32_t canSeek;
};
}
