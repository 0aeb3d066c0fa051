// The inbuilt decoder of tracker modules (MOD, S3M, XM, IT and the many
// formats libopenmpt knows), for music only. A file is taken only when
// libopenmpt's header probe recognises it, so that other sounds are not
// mistaken for one of its weakly marked formats; the module is then loaded
// through libopenmpt's stream callbacks over the stream layer and rendered
// as 16-bit stereo at a fixed rate.
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "core/io/error_codes.h"
#include "core/io/stream.h"
#include "media/sound_decoders.h"
#include "platform/posix/os_memory.h"

namespace {

constexpr int32_t kModuleRate = 48000;
// Modules are loaded whole by the library; larger files are not modules.
constexpr uint64_t kMaxModuleBytes = uint64_t{256} << 20;

struct ModuleState {
    StreamHandle* stream;
    openmpt_module* module;
};

size_t ModRead(void* user, void* buffer, size_t count)
{
    return StreamRead(static_cast<StreamHandle*>(user), buffer, count);
}

int ModSeek(void* user, int64_t offset, int whence)
{
    int mode = whence == OPENMPT_STREAM_SEEK_SET   ? STREAM_SEEK_BEGINNING
               : whence == OPENMPT_STREAM_SEEK_END ? STREAM_SEEK_END
                                                   : STREAM_SEEK_CURRENT;
    return StreamSeek(static_cast<StreamHandle*>(user), offset, mode) < 0 ? -1 : 0;
}

int64_t ModTell(void* user)
{
    return StreamSeek(static_cast<StreamHandle*>(user), 0, STREAM_SEEK_CURRENT);
}

void ModuleClose(void* raw)
{
    auto* s = static_cast<ModuleState*>(raw);
    if (!s) return;
    if (s->module) openmpt_module_destroy(s->module);
    if (s->stream) StreamClose(s->stream);
    OsFreeMem(s);
}

bool LooksLikeModule(StreamHandle* stream, uint64_t size)
{
    std::vector<uint8_t> head(openmpt_probe_file_header_get_recommended_size());
    size_t n = StreamRead(stream, head.data(), head.size());
    if (StreamSeek(stream, 0, STREAM_SEEK_BEGINNING) < 0) return false;
    int answer = openmpt_probe_file_header(OPENMPT_PROBE_FILE_HEADER_FLAGS_DEFAULT, head.data(), n, size,
                                           openmpt_log_func_silent, nullptr, openmpt_error_func_ignore, nullptr,
                                           nullptr, nullptr);
    return answer == OPENMPT_PROBE_FILE_HEADER_RESULT_SUCCESS;
}

uint32_t ModuleOpen(StreamHandle* stream, uint32_t purpose, void** state, SoundFormat* format)
{
    uint64_t size = StreamSize(stream);
    if (purpose != SOUNDFOR_MUSIC || IsStreamNoSeek(stream) || size > kMaxModuleBytes ||
        !LooksLikeModule(stream, size)) {
        StreamClose(stream);
        return ERR_LOADSOUND;
    }
    auto* s = static_cast<ModuleState*>(OsAllocMem(sizeof(ModuleState), 1));
    if (!s) {
        StreamClose(stream);
        return ERR_MEM;
    }
    s->stream = stream;
    openmpt_stream_callbacks callbacks{ModRead, ModSeek, ModTell};
    s->module = openmpt_module_create2(callbacks, stream, openmpt_log_func_silent, nullptr, openmpt_error_func_ignore,
                                       nullptr, nullptr, nullptr, nullptr);
    if (!s->module) {
        ModuleClose(s);
        return ERR_LOADSOUND;
    }
    double seconds = openmpt_module_get_duration_seconds(s->module);
    format->channels = 2;
    format->frequency = kModuleRate;
    format->bits = 16;
    format->frames = std::isfinite(seconds) && seconds >= 0 && seconds < 1e7
                         ? static_cast<int64_t>(std::llround(seconds * kModuleRate))
                         : -1;
    format->canSeek = 1;
    int32_t subsongs = openmpt_module_get_num_subsongs(s->module);
    format->subsongs = subsongs > 0 ? static_cast<uint32_t>(subsongs) : 1;
    format->type = MUSICTYPE_MODULE;
    const char* type = openmpt_module_get_metadata(s->module, "type_long");
    std::snprintf(format->format, sizeof format->format, "%s", type && *type ? type : "module");
    openmpt_free_string(type);
    *state = s;
    return 0;
}

int64_t ModuleRead(void* raw, void* buffer, int64_t frames)
{
    auto* s = static_cast<ModuleState*>(raw);
    int64_t total = 0;
    auto* out = static_cast<int16_t*>(buffer);
    while (total < frames) {
        size_t step = static_cast<size_t>(std::min<int64_t>(frames - total, 1 << 16));
        size_t n = openmpt_module_read_interleaved_stereo(s->module, kModuleRate, step, out + total * 2);
        if (!n) break;
        total += static_cast<int64_t>(n);
    }
    return total;
}

bool ModuleSeek(void* raw, uint64_t frame)
{
    auto* s = static_cast<ModuleState*>(raw);
    openmpt_module_set_position_seconds(s->module, static_cast<double>(frame) / kModuleRate);
    return true;
}

}  // namespace

const SoundDecoderOps kModuleDecoder = {"openmpt", ModuleOpen, ModuleRead, ModuleSeek, ModuleClose};
