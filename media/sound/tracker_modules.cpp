// The inbuilt decoder of tracker modules (MOD, S3M, XM, IT and the many
// formats libopenmpt knows), for music only. A file is taken only when
// libopenmpt's header probe recognises it, so that other sounds are not
// mistaken for one of its weakly marked formats; the module is then loaded
// through libopenmpt's stream callbacks over the player's stream and rendered
// as 16-bit stereo at a fixed rate.
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/io/error_codes.h"
#include "media/sound/decoders.h"

namespace {

constexpr int32_t kModuleRate = 48000;
// Modules are loaded whole by the library; larger files are not modules.
constexpr uint64_t kMaxModuleBytes = uint64_t{256} << 20;

struct ModuleState {
    openmpt_module* module;
};

size_t ModRead(void* user, void* buffer, size_t count)
{
    auto* io = static_cast<const QmStreamIo*>(user);
    return io->read(io->opaque, buffer, count);
}

int ModSeek(void* user, int64_t offset, int whence)
{
    int origin = whence == OPENMPT_STREAM_SEEK_SET ? SEEK_SET : whence == OPENMPT_STREAM_SEEK_END ? SEEK_END : SEEK_CUR;
    auto* io = static_cast<const QmStreamIo*>(user);
    return io->seek(io->opaque, offset, origin) < 0 ? -1 : 0;
}

int64_t ModTell(void* user)
{
    auto* io = static_cast<const QmStreamIo*>(user);
    return io->seek(io->opaque, 0, SEEK_CUR);
}

void ModuleClose(void* raw)
{
    auto* s = static_cast<ModuleState*>(raw);
    if (!s) return;
    if (s->module) openmpt_module_destroy(s->module);
    std::free(s);
}

bool LooksLikeModule(const QmStreamIo* io, uint64_t size)
{
    std::vector<uint8_t> head(openmpt_probe_file_header_get_recommended_size());
    size_t n = io->read(io->opaque, head.data(), head.size());
    if (io->seek(io->opaque, 0, SEEK_SET) < 0) return false;
    int answer = openmpt_probe_file_header(OPENMPT_PROBE_FILE_HEADER_FLAGS_DEFAULT, head.data(), n, size,
                                           openmpt_log_func_silent, nullptr, openmpt_error_func_ignore, nullptr,
                                           nullptr, nullptr);
    return answer == OPENMPT_PROBE_FILE_HEADER_RESULT_SUCCESS;
}

uint32_t ModuleOpen(const QmStreamIo* io, uint32_t purpose, void** state, SoundFormat* format)
{
    uint64_t size = io->size(io->opaque);
    if (purpose != SOUNDFOR_MUSIC || !io->canSeek || size > kMaxModuleBytes || !LooksLikeModule(io, size))
        return ERR_LOADSOUND;
    auto* s = static_cast<ModuleState*>(std::calloc(1, sizeof(ModuleState)));
    if (!s) return ERR_MEM;
    openmpt_stream_callbacks callbacks{ModRead, ModSeek, ModTell};
    s->module = openmpt_module_create2(callbacks, const_cast<QmStreamIo*>(io), openmpt_log_func_silent, nullptr, openmpt_error_func_ignore,
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

uint32_t ModuleSeek(void* raw, uint64_t frame)
{
    auto* s = static_cast<ModuleState*>(raw);
    openmpt_module_set_position_seconds(s->module, static_cast<double>(frame) / kModuleRate);
    return 1;
}

}  // namespace

const QmSndDecoder kTrackerModuleDecoder = {ModuleOpen, ModuleRead, ModuleSeek, ModuleClose};
