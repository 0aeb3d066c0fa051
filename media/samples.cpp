// LoadSample: a sound file decoded whole, through the sound loader chain,
// into a sample record (interleaved signed PCM, 8 or 16 bits, one or two
// channels). The decoded size is bounded: all samples together hold at most
// MaxSampleBytes, and a sound that would take more is refused, before
// decoding when its length is known at the start, else as soon as it
// outgrows what is left. Decoding goes in blocks, between which an abort
// stops it. The options reader that OpenMusic and OpenVideo share lives
// here too.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/linked_files.h"
#include "core/plugins/image_loaders.h"
#include "core/services/check_args.h"
#include "core/services/option_tables.h"
#include "core/vm/error_hooks.h"
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
constexpr uint64_t kChunkFrames = SOUND_READ_FRAMES;

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

// The sample that a new one loaded under this id replaces, or null.
Sample* ReplacedSample(const CreateIdArg& id)
{
    if (id.newHandle) return nullptr;
    return reinterpret_cast<Sample*>(FindObjectInList(reinterpret_cast<ObjectHeader*>(SampleList), id.id));
}

// The most bytes of PCM a new sample may take: what the samples loaded
// so far leave of MaxSampleBytes; the one that the new sample replaces
// counts for nothing, as it goes when the new one comes.
uint64_t SampleBudget(const Sample* replaced)
{
    uint64_t held = 0;
    for (const Sample* s = SampleList; s; s = reinterpret_cast<const Sample*>(s->header.next))
        if (s != replaced) held += s->pcmBytes;
    return held < MaxSampleBytes ? MaxSampleBytes - held : 0;
}

// A sound that does not fit in memory names the file like every other
// failure of a sound.
uint32_t NameSampleError(uint32_t error, const char* file)
{
    if (error == ERR_MEM) error = ERR_LOADSOUND;
    if (error == ERR_LOADSOUND) SetErrorText(file);
    return error;
}

}  // namespace

uint32_t DecodeSamplePcm(SoundSource* source, uint64_t budget, void** outPcm, uint64_t* outBytes)
{
    *outPcm = nullptr;
    *outBytes = 0;
    const SoundFormat& f = source->format;
    uint64_t frameBytes = uint64_t{f.bits / 8} * f.channels;
    uint64_t limit = budget / frameBytes * frameBytes;
    // A length known at the start decides before anything is decoded. A
    // file may still hold less than it says: the length only sizes the
    // first allocation.
    if (f.frames > 0 && static_cast<uint64_t>(f.frames) > limit / frameBytes) return ERR_LOADSOUND;
    PcmBuffer pcm;
    if (f.frames > 0) {
        uint64_t guess = static_cast<uint64_t>(f.frames) * frameBytes;
        if (guess > kTrustedPrealloc) guess = kTrustedPrealloc / frameBytes * frameBytes;
        if (!pcm.Reserve(guess, limit)) return ERR_MEM;
    }
    for (;;) {
        if (VmAbortFlag.load()) return ERR_USERABORT;
        if (pcm.capacity - pcm.bytes < frameBytes) {
            if (pcm.capacity >= limit) {
                // Full: one frame more is too much.
                uint8_t probe[4];
                if (ReadSoundSource(source, probe, 1) != 0) return ERR_LOADSOUND;
                break;
            }
            uint64_t need = pcm.bytes + kChunkFrames * frameBytes;
            if (!pcm.Reserve(need < limit ? need : limit, limit)) return ERR_MEM;
        }
        uint64_t room = (pcm.capacity - pcm.bytes) / frameBytes;
        int64_t want = static_cast<int64_t>(room < kChunkFrames ? room : kChunkFrames);
        int64_t n = ReadSoundSource(source, pcm.data + pcm.bytes, want);
        if (n < 0 || n > want) return ERR_LOADSOUND;
        if (n == 0) break;
        pcm.bytes += static_cast<uint64_t>(n) * frameBytes;
    }
    // Nothing decoded is no sample, whatever the header promised.
    if (!pcm.bytes) return ERR_LOADSOUND;
    *outPcm = pcm.data;
    *outBytes = pcm.bytes;
    pcm.data = nullptr;
    return 0;
}

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
    void* pcm = nullptr;
    uint64_t pcmBytes = 0;
    error = DecodeSamplePcm(&source, SampleBudget(ReplacedSample(id)), &pcm, &pcmBytes);
    SoundFormat format = source.format;
    PluginInfo* producer = source.producer;
    CloseSoundSource(&source);
    if (error) return NameSampleError(error, file);
    auto* sample = static_cast<Sample*>(OsAllocMem(sizeof(Sample), 1));
    if (!sample) {
        OsFreeMem(pcm);
        return NameSampleError(ERR_MEM, file);
    }
    sample->frames = pcmBytes / (uint64_t{format.bits / 8} * format.channels);
    sample->frequency = format.frequency;
    sample->pitch = format.frequency;
    sample->bits = format.bits;
    sample->channels = format.channels;
    sample->channel = -1;
    std::snprintf(sample->loader, sizeof sample->loader, "%s", GetLoaderName(producer));
    sample->pcm = pcm;
    sample->pcmBytes = pcmBytes;
    if (Sample* old = ReplacedSample(id)) FreeSample(vm, old);
    return AppendCreatedObject(vm, reinterpret_cast<ObjectHeader**>(&SampleList), &sample->header, OBJ_SAMPLE, id.id,
                               id.newHandle);
}
