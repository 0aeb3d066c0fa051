// LoadSample: a sound file decoded whole, through the sound loader chain,
// into a sample record (interleaved signed PCM, 8 or 16 bits, one or two
// channels). The decoded size is bounded: a file that decodes to more than
// MaxSampleBytes is refused, whatever its header claimed. The options
// reader that OpenMusic and OpenVideo share lives here too.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/plugins/image_loaders.h"
#include "core/services/check_args.h"
#include "core/services/option_tables.h"
#include "core/vm/vm.h"
#include "display/library_support.h"
#include "display/object_list.h"
#include "media/sound.h"
#include "media/sound_commands.h"
#include "media/sound_decoders.h"
#include "platform/posix/os_memory.h"

namespace {

// A header's length is trusted for a first allocation up to this much.
constexpr uint64_t kTrustedPrealloc = uint64_t{64} << 20;
// Frames asked of a decoder at a time when its length is not known.
constexpr uint64_t kChunkFrames = 1 << 16;

struct PcmBuffer {
    uint8_t* data = nullptr;
    uint64_t bytes = 0;
    uint64_t capacity = 0;
    ~PcmBuffer() { OsFreeMem(data); }
    // Room for `want` bytes (at most limit), growing by doubling.
    bool Reserve(uint64_t want, uint64_t limit)
    {
        if (want <= capacity) return true;
        uint64_t grown = capacity * 2 > want ? capacity * 2 : want;
        if (grown > limit) grown = limit;
        void* more = OsAllocMem(static_cast<size_t>(grown), 0);
        if (!more) return false;
        if (bytes) std::memcpy(more, data, static_cast<size_t>(bytes));
        OsFreeMem(data);
        data = static_cast<uint8_t*>(more);
        capacity = grown;
        return true;
    }
};

// Reads the whole sound: 0, ERR_LOADSOUND (broken or too large; the name
// is the caller's to set) or ERR_MEM.
uint32_t DecodeWhole(SoundSource* source, PcmBuffer* pcm)
{
    const SoundFormat& f = source->format;
    uint64_t frameBytes = uint64_t{f.bits / 8} * f.channels;
    uint64_t limit = MaxSampleBytes / frameBytes * frameBytes;
    if (f.frames > 0) {
        // The header's length is only a first guess: a file may hold less.
        uint64_t guess = static_cast<uint64_t>(f.frames) < limit / frameBytes ? f.frames * frameBytes : limit;
        if (guess > kTrustedPrealloc) guess = kTrustedPrealloc / frameBytes * frameBytes;
        if (!pcm->Reserve(guess, limit)) return ERR_MEM;
    }
    for (;;) {
        if (pcm->capacity - pcm->bytes < frameBytes) {
            if (pcm->capacity >= limit) {
                // Full: one frame more is too much.
                uint8_t probe[4];
                return source->ops->read(source->state, probe, 1) == 0 ? 0u : uint32_t{ERR_LOADSOUND};
            }
            uint64_t need = pcm->bytes + kChunkFrames * frameBytes;
            if (!pcm->Reserve(need < limit ? need : limit, limit)) return ERR_MEM;
        }
        int64_t want = static_cast<int64_t>((pcm->capacity - pcm->bytes) / frameBytes);
        int64_t n = source->ops->read(source->state, pcm->data + pcm->bytes, want);
        if (n < 0 || n > want) return ERR_LOADSOUND;
        if (n == 0) return 0;
        pcm->bytes += static_cast<uint64_t>(n) * frameBytes;
    }
}

}  // namespace

void ReadLoaderOptions(VmState* vm, int table, LoaderOptions* out)
{
    out->loader[0] = 0;
    out->adapter[0] = 0;
    if (VmType(vm, table) != VM_TTABLE) return;
    GetTableString(vm, table, "loader", out->loader, sizeof out->loader);
    GetTableString(vm, table, "adapter", out->adapter, sizeof out->adapter);
}

uint32_t CmdLoadSample(VmState* vm)
{
    CheckArgs(vm, 2, 3, 0, 0);
    CreateIdArg id = GetCreateIdArg(vm, 1);
    const std::string name = GetFileNameArg(vm, 2);
    const char* file = name.c_str();
    LoaderOptions options;
    ReadLoaderOptions(vm, 3, &options);
    SoundSource source;
    uint32_t error = OpenSoundSource(file, options.loader[0] ? options.loader : nullptr,
                                     options.adapter[0] ? options.adapter : nullptr, SOUNDFOR_SAMPLE, &source);
    if (error) return error;
    PcmBuffer pcm;
    error = DecodeWhole(&source, &pcm);
    SoundFormat format = source.format;
    PluginInfo* producer = source.producer;
    CloseSoundSource(&source);
    if (error) {
        if (error == ERR_LOADSOUND) SetErrorText(file);
        return error;
    }
    auto* sample = static_cast<Sample*>(OsAllocMem(sizeof(Sample), 1));
    if (!sample) return ERR_MEM;
    sample->frames = pcm.bytes / (uint64_t{format.bits / 8} * format.channels);
    sample->frequency = format.frequency;
    sample->pitch = format.frequency;
    sample->bits = format.bits;
    sample->channels = format.channels;
    sample->channel = -1;
    std::snprintf(sample->loader, sizeof sample->loader, "%s", GetLoaderName(producer));
    sample->pcm = pcm.data;
    sample->pcmBytes = pcm.bytes;
    pcm.data = nullptr;
    if (!id.newHandle) {
        Sample* old = reinterpret_cast<Sample*>(FindObjectInList(reinterpret_cast<ObjectHeader*>(SampleList), id.id));
        if (old) FreeSample(vm, old);
    }
    return AppendCreatedObject(vm, reinterpret_cast<ObjectHeader**>(&SampleList), &sample->header, OBJ_SAMPLE, id.id,
                               id.newHandle);
}
