// The sound loader chain: the sound loader plugins that the loader list
// allows, in the order of their capability list, then the inbuilt decoders
// when the list allows "inbuilt" ("native" has no decoder here). A plugin
// stream is wrapped in the same table of operations as the inbuilt
// decoders, so samples and music use either alike.
#include <cstdio>
#include <cstring>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/io/virtual_names.h"
#include "core/plugins/capability_lists.h"
#include "core/plugins/loader_lists.h"
#include "core/plugins/plugin_loader.h"
#include "media/sound_decoders.h"
#include "platform/posix/os_memory.h"

uint64_t MaxSampleBytes = uint64_t{1} << 30;

namespace {

// A plugin is always handed room for a whole normal read, whatever its
// caller asked for: a caller's buffer that large takes the plugin's frames
// directly, a smaller read goes through a block of the plugin's own, and
// what the caller did not take waits there for the next read.
struct PluginSound {
    PluginInfo* info;
    void* stream;
    uint8_t* block;
    size_t frameBytes;
    int64_t next;  // first frame of the block not handed out
    int64_t held;  // frames of the block not handed out
};

int64_t PluginRead(void* raw, void* buffer, int64_t frames)
{
    auto* s = static_cast<PluginSound*>(raw);
    if (frames <= 0) return 0;
    auto samples = reinterpret_cast<QmStreamSamplesFunc>(s->info->StreamSamples);
    if (!s->held && frames >= SOUND_READ_FRAMES) {
        int64_t n = samples(s->stream, buffer, SOUND_READ_FRAMES);
        return n < 0 || n > SOUND_READ_FRAMES ? -1 : n;
    }
    if (!s->held) {
        int64_t n = samples(s->stream, s->block, SOUND_READ_FRAMES);
        // A plugin that claims more than it was asked for is broken.
        if (n < 0 || n > SOUND_READ_FRAMES) return -1;
        s->next = 0;
        s->held = n;
    }
    int64_t given = frames < s->held ? frames : s->held;
    std::memcpy(buffer, s->block + static_cast<size_t>(s->next) * s->frameBytes,
                static_cast<size_t>(given) * s->frameBytes);
    s->next += given;
    s->held -= given;
    return given;
}

bool PluginSeek(void* raw, uint64_t frame)
{
    auto* s = static_cast<PluginSound*>(raw);
    if (reinterpret_cast<QmSeekStreamFunc>(s->info->SeekStream)(s->stream, frame) == 0) return false;
    s->held = 0;
    return true;
}

void PluginClose(void* raw)
{
    auto* s = static_cast<PluginSound*>(raw);
    if (!s) return;
    if (s->stream) reinterpret_cast<QmCloseStreamFunc>(s->info->CloseStream)(s->stream);
    OsFreeMem(s->block);
    OsFreeMem(s);
}

const SoundDecoderOps kPluginSoundOps = {"plugin", nullptr, PluginRead, PluginSeek, PluginClose};

// Takes what a plugin described, or refuses a description that no sample
// record could hold.
bool AcceptPluginInfo(PluginInfo* info, void* stream, const QmSoundInfo& d, SoundFormat* format)
{
    if (d.channels < 1 || d.channels > 2 || (d.bits != 8 && d.bits != 16) || d.frequency < 1 ||
        d.frequency > 768000 || d.frames < -1)
        return false;
    format->channels = d.channels;
    format->frequency = d.frequency;
    format->bits = d.bits;
    format->frames = d.frames;
    format->bitRate = d.bitRate;
    format->canSeek = d.flags & QM_SOUND_CANSEEK ? 1 : 0;
    format->subsongs = d.subsongs ? d.subsongs : 1;
    format->type = d.flags & QM_SOUND_MODULE ? MUSICTYPE_MODULE : MUSICTYPE_STREAM;
    const char* name = reinterpret_cast<QmGetFormatNameFunc>(info->GetFormatName)(stream);
    std::snprintf(format->format, sizeof format->format, "%s", name ? name : "");
    return true;
}

// Decodes the first frame of a sound that just opened and holds it for the
// first read: false when the sound gives none (empty, or its header lies
// about frames the file does not hold). One frame (a plugin's first block)
// keeps the cost of an open bounded, whatever the file's length.
bool HoldFirstFrame(SoundSource* source)
{
    const SoundFormat& f = source->format;
    if (f.channels < 1 || f.channels > 2 || (f.bits != 8 && f.bits != 16)) return false;
    if (source->ops->read(source->state, source->firstFrame, 1) != 1) return false;
    source->firstFrameHeld = 1;
    return true;
}

// 0 with the source when a plugin took the file, else 1; ERR_LOADSOUND
// when a plugin took it but decodes nothing of it: the plugin knew the
// format, so the file is what is broken.
uint32_t OpenThroughPlugins(const char* file, const char* loaderList, uint32_t purpose, SoundSource* out)
{
    BuildLoaderChain(loaderList, PLUGINCAPS_SOUND);
    for (PluginListNode* node = GetPluginListForCapability(PLUGINCAPS_SOUND); node; node = node->next) {
        PluginInfo* info = node->info;
        if (!PluginPassesLoaderList(info, loaderList) || IsForeignCallForm(info)) continue;
        QmSoundInfo d{};
        d.frames = -1;
        d.purpose = purpose == SOUNDFOR_MUSIC ? QM_SOUNDOPEN_MUSIC : QM_SOUNDOPEN_SAMPLE;
        void* stream = reinterpret_cast<QmOpenStreamFunc>(info->OpenStream)(file, &d);
        if (!stream) continue;
        auto* s = static_cast<PluginSound*>(OsAllocMem(sizeof(PluginSound), 1));
        if (!s) {
            reinterpret_cast<QmCloseStreamFunc>(info->CloseStream)(stream);
            return ERR_MEM;
        }
        s->info = info;
        s->stream = stream;
        SoundSource source{};
        if (!AcceptPluginInfo(info, stream, d, &source.format)) {
            PluginClose(s);
            continue;
        }
        s->frameBytes = size_t{source.format.bits / 8} * source.format.channels;
        s->block = static_cast<uint8_t*>(OsAllocMem(static_cast<size_t>(SOUND_READ_FRAMES) * s->frameBytes, 0));
        if (!s->block) {
            PluginClose(s);
            return ERR_MEM;
        }
        source.ops = &kPluginSoundOps;
        source.state = s;
        source.producer = info;
        if (!HoldFirstFrame(&source)) {
            PluginClose(s);
            return ERR_LOADSOUND;
        }
        *out = source;
        return 0;
    }
    return 1;
}

// Each inbuilt decoder on a fresh stream of its own (they take it over). A
// decoder that opens the file but decodes nothing of it leaves it to the
// next one.
template <typename OpenStreamFn>
uint32_t OpenThroughInbuilt(OpenStreamFn openStream, uint32_t purpose, SoundSource* out)
{
    const SoundDecoderOps* decoders[] = {&kSndfileDecoder, &kModuleDecoder, &kMpg123Decoder};
    for (const SoundDecoderOps* ops : decoders) {
        if (ops == &kModuleDecoder && purpose != SOUNDFOR_MUSIC) continue;
        StreamHandle* stream = openStream();
        if (!stream) return ERR_OPENSOUND;
        SoundSource source{};
        uint32_t error = ops->open(stream, purpose, &source.state, &source.format);
        if (error == ERR_MEM) return error;
        if (error) continue;
        source.ops = ops;
        if (!HoldFirstFrame(&source)) {
            ops->close(source.state);
            continue;
        }
        *out = source;
        return 0;
    }
    return ERR_LOADSOUND;
}

}  // namespace

uint32_t OpenSoundSource(const char* file, const char* loaderList, const char* adapterList, uint32_t purpose,
                         SoundSource* out)
{
    *out = SoundSource{};
    uint32_t error = OpenThroughPlugins(file, loaderList, purpose, out);
    if (error == 0) return 0;
    if (error == 1) {
        error = ERR_LOADSOUND;
        if (IsLoaderAllowed(loaderList, "inbuilt", false)) {
            // The decoders look around in their files: an adapter that
            // cannot seek has its seeks emulated.
            const uint32_t mode = STREAM_READ | STREAM_ADAPTERS | STREAM_SEEKEMULATION;
            error = OpenThroughInbuilt([&] { return StreamOpen(file, mode, adapterList); }, purpose, out);
        }
    }
    // Running out of memory for a sound is a failure to load it, named.
    if (error == ERR_MEM) error = ERR_LOADSOUND;
    SetErrorText(file);
    return error;
}

void CloseSoundSource(SoundSource* source)
{
    if (source->ops) source->ops->close(source->state);
    *source = SoundSource{};
}

int64_t ReadSoundSource(SoundSource* source, void* buffer, int64_t frames)
{
    if (frames <= 0 || !source->firstFrameHeld) return source->ops->read(source->state, buffer, frames);
    size_t frameBytes = size_t{source->format.bits / 8} * source->format.channels;
    std::memcpy(buffer, source->firstFrame, frameBytes);
    source->firstFrameHeld = 0;
    if (frames == 1) return 1;
    int64_t n = source->ops->read(source->state, static_cast<uint8_t*>(buffer) + frameBytes, frames - 1);
    // The frame handed out counts even when the file breaks after it; the
    // break shows at the next read.
    return n < 0 ? 1 : n + 1;
}

bool SeekSoundSource(SoundSource* source, uint64_t frame)
{
    if (!source->ops->seek(source->state, frame)) return false;
    // The frame held from the open was the first: it comes again only when
    // the seek was to it, from the decoder.
    source->firstFrameHeld = 0;
    return true;
}

uint32_t OpenInbuiltSoundOnMemory(const uint8_t* data, size_t size, uint32_t purpose, SoundSource* out)
{
    *out = SoundSource{};
    MemoryName name;
    if (!MakeMemoryName(data, size, &name)) return ERR_MEM;
    return OpenThroughInbuilt([&] { return StreamOpen(name.c_str(), STREAM_READ); }, purpose, out);
}
