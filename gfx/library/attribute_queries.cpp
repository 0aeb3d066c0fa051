// GetAttribute. Each object type has one answer function that finds its
// record (the finder's error goes back unchanged) and pushes the asked
// field; the table of types says which of them answer ATTRCOUNT before any
// lookup. Nothing here changes a record.
#include "gfx/library/attribute_queries.h"

#include <cstdio>
#include <string_view>

#include "core/io/error_codes.h"
#include "core/io/errors.h"
#include "core/io/stream.h"
#include "core/plugins/image_loaders.h"
#include "core/plugins/plugin_manager.h"
#include "core/services/arg_helpers.h"
#include "core/services/check_args.h"
#include "core/services/command_services.h"
#include "core/services/object_registry.h"
#include "core/vm/vm.h"
#include "display/anims.h"
#include "display/display.h"
#include "display/event_handlers.h"
#include "display/intervals.h"
#include "display/layers.h"
#include "display/output.h"
#include "display/pictures.h"
#include "display/script_refs.h"
#include "display/sprites.h"
#include "draw/draw_library.h"
#include "gfx/bitmaps/bitmap.h"
#include "gfx/blits/clip_regions.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/graphics_tables.h"
#include "gfx/library/pointers.h"
#include "libs/dos/dos_library.h"
#include "libs/memblock/memblock_library.h"
#include "media/sound.h"
#include "media/video.h"
#include "media/video_decoder.h"

namespace {

// What one query works with: the arguments as read, and the VM to push to.
struct Query {
    VmState* vm;
    uint32_t type;
    ObjectId id;
    int32_t attribute;
};

uint32_t PushNumber(VmState* vm, double n)
{
    VmPushNumber(vm, n);
    return 1;
}

uint32_t PushText(VmState* vm, const char* text)
{
    VmPushCString(vm, text ? text : "");
    return 1;
}

uint32_t PushFlag(VmState* vm, bool set) { return PushNumber(vm, set ? 1 : 0); }

// An object's id as scripts see it, or -1 for none.
uint32_t PushIdOf(VmState* vm, const ObjectHeader* record)
{
    if (!record) return PushNumber(vm, -1);
    PushObjectId(vm, ObjectId{record->id, record->handle});
    return 1;
}

// Objects remember who loaded them as 0 (built in) or 1 (the platform).
const char* LoaderNameOf(uint32_t loader)
{
    return GetLoaderName(reinterpret_cast<const PluginInfo*>(uintptr_t{loader}));
}

uint32_t NotFound(ObjectId id, uint32_t code)
{
    if (id.handle) return ERR_FINDARRAY;
    SetErrorArgNumber(static_cast<int32_t>(id.id));
    return code;
}

// Frame numbers of scripts are 1-based.
uint32_t AnimAttr(const Query& q)
{
    Anim* a;
    if (uint32_t error = FindAnim(q.vm, q.id, &a, 0)) return error;
    const FrameSet& f = a->frames;
    switch (q.attribute) {
    case ATTRWIDTH: return PushNumber(q.vm, f.width);
    case ATTRHEIGHT: return PushNumber(q.vm, f.height);
    case ATTRTRANSPARENTCOLOR: return PushNumber(q.vm, f.transparentColour);
    case ATTRHASMASK: return PushFlag(q.vm, f.maskMode != FRAMEMASK_NONE);
    case ATTRHASALPHA: return PushFlag(q.vm, f.withAlpha != 0);
    case ATTRNUMFRAMES: return PushNumber(q.vm, f.frameCount);
    case ATTRFRAMEDELAY: {
        int32_t frame = VmType(q.vm, 4) == VM_TNONE ? 0 : VmCheckInteger(q.vm, 4);
        if (frame < 1 || static_cast<uint32_t>(frame) > f.frameCount)
            return SetRangeErrorDetail(ERR_ANIMFRAME, "frame", frame, 1, f.frameCount);
        return PushNumber(q.vm, LookupAnimFrameDelay(a, static_cast<uint32_t>(frame - 1)));
    }
    case ATTRLOADER: return PushText(q.vm, GetLoaderName(f.loader));
    default: return ERR_UNKNOWNATTR;
    }
}

uint32_t SpriteAttr(const Query& q)
{
    Sprite* s;
    if (uint32_t error = FindSprite(q.id, &s)) return error;
    const FrameSet& f = ResolveSpriteLink(s)->frames;
    SpriteInstance* shown = nullptr;
    switch (q.attribute) {
    case ATTRWIDTH: return PushNumber(q.vm, f.width);
    case ATTRHEIGHT: return PushNumber(q.vm, f.height);
    case ATTRNUMFRAMES: return PushNumber(q.vm, f.frameCount);
    case ATTRTRANSPARENTCOLOR: return PushNumber(q.vm, f.transparentColour);
    case ATTRHASMASK:
    case ATTRHASALPHA: {
        BitMapHandle *bitmap, *mask, *alpha;
        if (uint32_t error = GetSpriteFramePlanes(s, 0, &bitmap, &mask, &alpha)) return error;
        return PushFlag(q.vm, (q.attribute == ATTRHASMASK ? mask : alpha) != nullptr);
    }
    case ATTRONSCREEN: return PushFlag(q.vm, FindSpriteInstance(q.id, &shown) == 0);
    case ATTRXPOS:
    case ATTRYPOS:
    case ATTRCURFRAME:
        if (uint32_t error = FindSpriteInstance(q.id, &shown)) return error;
        if (q.attribute == ATTRXPOS) return PushNumber(q.vm, shown->instance.x);
        if (q.attribute == ATTRYPOS) return PushNumber(q.vm, shown->instance.y);
        return PushNumber(q.vm, shown->frame + 1);
    default: return ERR_UNKNOWNATTR;
    }
}

uint32_t PointerAttr(const Query& q)
{
    PointerNode* p;
    if (uint32_t error = FindPointer(q.id, &p)) return error;
    switch (q.attribute) {
    case ATTRWIDTH: return PushNumber(q.vm, p->width);
    case ATTRHEIGHT: return PushNumber(q.vm, p->height);
    case ATTRTYPE: return PushNumber(q.vm, p->kind);
    default: return ERR_UNKNOWNATTR;
    }
}

// Frame numbers are the producer's to know; a node that cannot be asked
// answers -1.
uint32_t AsyncDrawAttr(const Query& q)
{
    AsyncDrawNode* node;
    if (uint32_t error = FindAsyncDraw(q.id, &node)) return error;
    switch (q.attribute) {
    case ATTRTYPE: return PushNumber(q.vm, node->kind);
    case ATTRNUMFRAMES:
    case ATTRCURFRAME: {
        uint32_t message = q.attribute == ATTRNUMFRAMES ? ADMSG_FRAMECOUNT : ADMSG_CURFRAME;
        if (!node->message) return PushNumber(q.vm, -1);
        return PushNumber(q.vm, static_cast<double>(node->message(message, 0, node->userData)));
    }
    default: return ERR_UNKNOWNATTR;
    }
}

uint32_t BrushAttr(const Query& q)
{
    Brush* b;
    if (uint32_t error = FindBrush(q.vm, q.id, &b, 0)) return error;
    switch (q.attribute) {
    case ATTRWIDTH: return PushNumber(q.vm, b->width);
    case ATTRHEIGHT: return PushNumber(q.vm, b->height);
    case ATTRTRANSPARENTCOLOR: return PushNumber(q.vm, b->transparentColour);
    case ATTRHASMASK:
        return PushFlag(q.vm, b->hardware ? (b->planeFlags & BRUSHPLANE_MASK) != 0 : b->mask != nullptr);
    case ATTRHASALPHA:
        return PushFlag(q.vm, b->hardware ? (b->planeFlags & BRUSHPLANE_ALPHA) != 0 : b->alpha != nullptr);
    case ATTRTYPE: return PushNumber(q.vm, b->imageType);
    case ATTRHARDWARE: return PushFlag(q.vm, b->hardware != 0);
    case ATTRLOADER: return PushText(q.vm, LoaderNameOf(b->loader));
    case ATTRDISPLAY: return PushIdOf(q.vm, b->boundDisplay ? &b->boundDisplay->header : nullptr);
    default: return ERR_UNKNOWNATTR;
    }
}

uint32_t BGPicAttr(const Query& q)
{
    BGPic* p;
    if (uint32_t error = FindBGPic(q.vm, q.id, &p, 0)) return error;
    switch (q.attribute) {
    case ATTRWIDTH: return PushNumber(q.vm, p->width);
    case ATTRHEIGHT: return PushNumber(q.vm, p->height);
    case ATTRLAYERS: return PushNumber(q.vm, CountLayers(p));
    case ATTRHASMASK: return PushFlag(q.vm, p->mask != nullptr);
    case ATTRHASALPHA: return PushFlag(q.vm, p->alpha != nullptr);
    case ATTRTRANSPARENTCOLOR: return PushNumber(q.vm, p->transparentColour);
    case ATTRTYPE: return PushNumber(q.vm, p->imageType);
    case ATTRLOADER: return PushText(q.vm, LoaderNameOf(p->loader));
    case ATTRCLIPREGION: {
        const OutputRecord* output = CurrentOutput();
        return PushIdOf(q.vm, output && output->clipRegion ? &output->clipRegion->header : nullptr);
    }
    default: return ERR_UNKNOWNATTR;
    }
}

uint32_t TextObjectAttr(const Query& q)
{
    TextObject* t;
    if (uint32_t error = FindTextObject(q.vm, q.id, &t, 0)) return error;
    switch (q.attribute) {
    case ATTRWIDTH: return PushNumber(q.vm, t->width);
    case ATTRHEIGHT: return PushNumber(q.vm, t->height);
    case ATTRTEXT: return PushText(q.vm, t->text);
    default: return GetFontAttr(q.vm, t->font, q.attribute);
    }
}

uint32_t FontAttr(const Query& q)
{
    FontNode* node;
    if (uint32_t error = FindFont(q.id, &node)) return error;
    return GetFontAttr(q.vm, node->font, q.attribute);
}

// The record that the display's drawing goes to while it is not the
// display itself: a selected background picture or brush.
const ObjectHeader* OutputObject(const Display* d)
{
    for (BGPic* p = BGPicList; p; p = reinterpret_cast<BGPic*>(p->header.next))
        if (d->selectedOutput == &p->output || (d->outputTarget && d->outputTarget == p->bitmap))
            return &p->header;
    for (Brush* b = BrushList; b; b = reinterpret_cast<Brush*>(b->header.next))
        if (d->outputTarget && (d->outputTarget == b->bitmap || d->outputTarget == b->mask ||
                                d->outputTarget == b->alpha))
            return &b->header;
    return nullptr;
}

uint32_t PushOutputDevice(VmState* vm, const Display* d)
{
    uint32_t values[2] = {0, 0};
    const ObjectHeader* target = nullptr;
    if (d->doubleBuffer || d->adapterDoubleBuffer) {
        values[0] = 38;  // DOUBLEBUFFER
    } else if (d->outputMode == OUTPUT_DISPLAY) {
        values[0] = OBJ_DISPLAY;
        target = &d->header;
    } else {
        target = OutputObject(d);
        values[0] = d->outputMode == OUTPUT_BGPIC ? OBJ_BGPIC : (target ? target->type : 0);
        if (d->outputMode != OUTPUT_BGPIC) values[1] = d->outputMode;
    }
    VmPushNumber(vm, values[0]);
    if (target)
        PushObjectId(vm, ObjectId{target->id, target->handle});
    else
        VmPushNumber(vm, 0);
    VmPushNumber(vm, values[1]);
    return 3;
}

uint32_t DisplayAttr(const Query& q)
{
    Display* d;
    if (!q.id.handle && q.id.id == 0) {
        // Id 0 means the current display, which need not exist.
        d = CurrentDisplay;
        if (!d) return NotFound(q.id, ERR_FINDDISPLAY);
    } else if (uint32_t error = FindDisplay(q.id, &d)) {
        return error;
    }
    VmState* vm = q.vm;
    const auto* shown = static_cast<const BGPic*>(d->shownBGPic);
    int32_t mx, my, mw, mh;
    switch (q.attribute) {
    case ATTRWIDTH: return PushNumber(vm, shown ? shown->width : d->width);
    case ATTRHEIGHT: return PushNumber(vm, shown ? shown->height : d->height);
    case ATTRLAYERS: return PushNumber(vm, CountLayers(shown));
    case ATTRBGPIC: return PushIdOf(vm, shown ? &shown->header : nullptr);
    case ATTRXPOS: return PushNumber(vm, d->x);
    case ATTRYPOS: return PushNumber(vm, d->y);
    case ATTRCURSORX: return PushNumber(vm, d->mouseX);
    case ATTRCURSORY: return PushNumber(vm, d->mouseY);
    case ATTRBORDERLEFT: return PushNumber(vm, d->borderLeft);
    case ATTRBORDERTOP: return PushNumber(vm, d->borderTop);
    case ATTRBORDERRIGHT: return PushNumber(vm, d->borderWidth - d->borderLeft);
    case ATTRBORDERBOTTOM: return PushNumber(vm, d->borderHeight - d->borderTop);
    case ATTRMAXWIDTH:
    case ATTRMAXHEIGHT:
    case ATTRHOSTWIDTH:
    case ATTRHOSTHEIGHT:
        if (uint32_t error = GetDisplayMonitorRect(d, &mx, &my, &mw, &mh)) return error;
        if (q.attribute == ATTRMAXWIDTH) return PushNumber(vm, mw - d->borderWidth);
        if (q.attribute == ATTRMAXHEIGHT) return PushNumber(vm, mh - d->borderHeight);
        return PushNumber(vm, q.attribute == ATTRHOSTWIDTH ? mw : mh);
    case ATTRHOSTDEPTH: return PushNumber(vm, static_cast<double>(QueryBitMapAttr(nullptr, BMATTR_DESKTOP_DEPTH)));
    case ATTRHOSTMONITORS: return PushNumber(vm, CountMonitors(d));
    case ATTRMONITOR: return PushNumber(vm, d->monitor);
    case ATTRFONTASCENDER:
    case ATTRFONTDESCENDER:
    case ATTRFONTNAME:
    case ATTRFONTSIZE:
    case ATTRFONTSCALABLE:
    case ATTRFONTAA: {
        const FontObject* font = GetCurrentFont();
        if (!font) return ERR_DEFFONT;
        return GetFontAttr(vm, font, q.attribute);
    }
    case ATTRPOINTER: return PushIdOf(vm, d->pointerObject);
    case ATTRMENU: return PushNumber(vm, d->menu ? static_cast<double>(d->menu) : -1);
    case ATTRSTATE: return PushNumber(vm, d->state);
    case ATTRACTIVE: return PushFlag(vm, d->active != 0);
    case ATTRMODE: return PushNumber(vm, d->fullScreen ? DISPMODE_FULLSCREEN : DISPMODE_WINDOWED);
    case ATTRSCALEMODE: return PushNumber(vm, d->autoScale ? 1 : d->layerScale ? 2 : 0);
    case ATTRSCALEWIDTH: return PushNumber(vm, d->scaleFlag ? d->scaledWidth : d->width);
    case ATTRSCALEHEIGHT: return PushNumber(vm, d->scaleFlag ? d->scaledHeight : d->height);
    case ATTRBORDERLESS: return PushFlag(vm, d->windowFlags & DISPFLAG_BORDERLESS);
    case ATTRSIZEABLE: return PushFlag(vm, d->windowFlags & DISPFLAG_SIZEABLE);
    case ATTRFIXED: return PushFlag(vm, d->windowFlags & DISPFLAG_FIXED);
    case ATTRNOMODESWITCH: return PushFlag(vm, d->windowFlags & DISPFLAG_NOMODESWITCH);
    case ATTRNOHIDE: return PushFlag(vm, d->windowFlags & DISPFLAG_NOHIDE);
    case ATTRNOCLOSE: return PushFlag(vm, d->windowFlags & DISPFLAG_NOCLOSE);
    case ATTRTITLE: return PushText(vm, d->title);
    case ATTRMARGINLEFT: return PushNumber(vm, d->marginLeft);
    case ATTRMARGINRIGHT: return PushNumber(vm, d->marginRight);
    case ATTRDOUBLEBUFFER: return PushFlag(vm, d->doubleBuffer || d->adapterDoubleBuffer);
    case ATTROUTPUTDEVICE: return PushOutputDevice(vm, d);
    case ATTRMASKMODE: return PushNumber(vm, GraphicsMaskMode);
    case ATTRALPHAINTENSITY: return PushNumber(vm, GraphicsAlphaIntensity);
    case ATTRLAYERSON: return PushFlag(vm, d->layersEnabled != 0);
    case ATTRORIENTATION: return PushNumber(vm, d->orientation);
    case ATTRDENSITY: return PushNumber(vm, d->density);
    case ATTRKEYBOARD: return PushNumber(vm, d->keyboard);
    case ATTRXDPI: return PushNumber(vm, d->xdpi);
    case ATTRYDPI: return PushNumber(vm, d->ydpi);
    case ATTRADAPTER:
        return PushText(vm, DisplayAdapterPlugin && DisplayAdapterPlugin->modulename
                                ? DisplayAdapterPlugin->modulename
                                : "inbuilt");
    default: return ERR_UNKNOWNATTR;
    }
}

uint32_t VideoAttr(const Query& q);

// Layers are numbered in the layer list of the current output.
uint32_t LayerAttr(const Query& q)
{
    BGPic* owner;
    if (uint32_t error = GetCurrentLayerOwner(&owner)) return error;
    int32_t position = GetLayerIdArg(q.vm, 2, owner);
    Layer* l = GetLayerByPosition(owner, position);
    if (!l) return ERR_LAYERRANGE;
    bool anim = l->layerType == LAYERTYPE_ANIM, video = l->layerType == OBJ_VIDEO;
    bool text = l->layerType == LAYERTYPE_TEXT || l->layerType == 11;
    switch (q.attribute) {
    case ATTRWIDTH: return PushNumber(q.vm, l->width);
    case ATTRHEIGHT: return PushNumber(q.vm, l->height);
    case ATTRXPOS: return PushNumber(q.vm, l->x);
    case ATTRYPOS: return PushNumber(q.vm, l->y);
    case ATTRRAWWIDTH: return PushNumber(q.vm, l->rawWidth);
    case ATTRRAWHEIGHT: return PushNumber(q.vm, l->rawHeight);
    case ATTRRAWXPOS: return PushNumber(q.vm, l->rawX);
    case ATTRRAWYPOS: return PushNumber(q.vm, l->rawY);
    case ATTRTYPE: return PushNumber(q.vm, l->layerType);
    case ATTRVISIBLE: return PushFlag(q.vm, !l->hidden);
    case ATTRLAYERID:
    case ATTRZPOS: return PushNumber(q.vm, position);
    case ATTRGROUP: return PushText(q.vm, l->group);
    case ATTRLAYERS: return PushNumber(q.vm, CountAllLayers());
    case ATTRCURFRAME:
    case ATTRFRAMEDELAY: {
        if (!anim) return ERR_NOANMLAYER;
        if (q.attribute == ATTRCURFRAME) return PushNumber(q.vm, l->frame + 1);
        const auto* a = reinterpret_cast<const Anim*>(l->object);
        return PushNumber(q.vm, a ? LookupAnimFrameDelay(a, l->frame) : 0);
    }
    case ATTRNUMFRAMES:
        if (anim) {
            const auto* a = reinterpret_cast<const Anim*>(l->object);
            return PushNumber(q.vm, a ? a->frames.frameCount : 1);
        }
        if (video) return PushNumber(q.vm, 0);  // videos have no decoding back end here
        return ERR_BADLAYERTYPE;
    case ATTRTEXT:
        if (!text) return ERR_NOTXTLAYER;
        return PushText(q.vm, l->text);
    case ATTRFONTASCENDER:
    case ATTRFONTDESCENDER:
    case ATTRFONTNAME:
    case ATTRFONTSIZE:
    case ATTRFONTSCALABLE:
    case ATTRFONTAA: {
        if (!text) return ERR_NOTXTLAYER;
        const FontObject* font = GetCurrentFont();
        if (!font) return ERR_DEFFONT;
        return GetFontAttr(q.vm, font, q.attribute);
    }
    case ATTRDURATION:
    case ATTRPOSITION:
    case ATTRFORMAT:
    case ATTRCANSEEK:
    case ATTRPLAYING:
    case ATTRPAUSED: {
        if (!video || !l->object) return ERR_BADLAYERTYPE;
        Query asVideo = q;
        asVideo.type = OBJ_VIDEO;
        asVideo.id = ObjectId{l->object->id, l->object->handle};
        return VideoAttr(asVideo);
    }
    case ATTRID: {
        uint32_t t = l->layerType;
        bool shows = t == 3 || t == 4 || t == 8 || t == 12 || t == 13 || t == 49 || t == 50;
        if (!shows) return ERR_BADLAYERTYPE;
        return PushIdOf(q.vm, l->object);
    }
    default: return ERR_UNKNOWNATTR;
    }
}

// The sound library answers for its objects through the tag lists; no
// answer means there is no such object.
uint32_t SoundAttr(const Query& q, const int32_t (*tags)[2], uint32_t notFoundCode)
{
    uint32_t tag = 0;
    for (; (*tags)[0] >= 0; ++tags)
        if ((*tags)[0] == q.attribute) tag = static_cast<uint32_t>((*tags)[1]);
    if (!tag) return ERR_UNKNOWNATTR;
    SoundTagQuery answer{static_cast<intptr_t>(q.id.id), static_cast<intptr_t>(q.id.handle)};
    if (!GetTags(q.vm, {{tag, reinterpret_cast<intptr_t>(&answer)}, {TAG_END, 0}})) {
        SetErrorArgNumber(static_cast<int32_t>(q.id.id));
        return notFoundCode;
    }
    bool text = q.attribute == ATTRLOADER || q.attribute == ATTRFORMAT;
    if (text) return PushText(q.vm, reinterpret_cast<const char*>(answer.word1));
    if (tag == SOUNDTAG_SAMPLEPOSITION) {
        VmPushNumber(q.vm, static_cast<double>(answer.word0));
        VmPushNumber(q.vm, static_cast<double>(answer.word1));
        return 2;
    }
    return PushNumber(q.vm, static_cast<double>(answer.word0));
}

constexpr int32_t kSampleTags[][2] = {
    {ATTRTYPE, SOUNDTAG_SAMPLETYPE},         {ATTRDURATION, SOUNDTAG_SAMPLEDURATION},
    {ATTRPITCH, SOUNDTAG_SAMPLEPITCH},       {ATTRNUMFRAMES, SOUNDTAG_SAMPLEFRAMES},
    {ATTRPLAYING, SOUNDTAG_SAMPLEPLAYING},   {ATTRLOADER, SOUNDTAG_SAMPLELOADER},
    {ATTRPOSITION, SOUNDTAG_SAMPLEPOSITION}, {-1, 0},
};

constexpr int32_t kMusicTags[][2] = {
    {ATTRDURATION, SOUNDTAG_MUSICDURATION},    {ATTRPOSITION, SOUNDTAG_MUSICPOSITION},
    {ATTRFORMAT, SOUNDTAG_MUSICFORMAT},        {ATTRBITRATE, SOUNDTAG_MUSICBITRATE},
    {ATTRPITCH, SOUNDTAG_MUSICPITCH},          {ATTRTYPE, SOUNDTAG_MUSICTYPE},
    {ATTRCANSEEK, SOUNDTAG_MUSICCANSEEK},      {ATTRNUMSUBSONGS, SOUNDTAG_MUSICSUBSONGS},
    {ATTRCURSUBSONG, SOUNDTAG_MUSICSUBSONG},   {ATTRPLAYING, SOUNDTAG_MUSICPLAYING},
    {ATTRPAUSED, SOUNDTAG_MUSICPAUSED},        {ATTRLOADER, SOUNDTAG_MUSICLOADER},
    {-1, 0},
};

uint32_t SampleAttr(const Query& q) { return SoundAttr(q, kSampleTags, ERR_FINDSAMPLE); }
uint32_t MusicAttr(const Query& q) { return SoundAttr(q, kMusicTags, ERR_FINDMUSIC); }

uint32_t ClipRegionAttr(const Query& q)
{
    ClipRegion* r;
    if (uint32_t error = FindClipRegion(q.id, &r, 0)) return error;
    switch (q.attribute) {
    case ATTRXPOS: return PushNumber(q.vm, r->x);
    case ATTRYPOS: return PushNumber(q.vm, r->y);
    case ATTRWIDTH: return PushNumber(q.vm, r->width);
    case ATTRHEIGHT: return PushNumber(q.vm, r->height);
    default: return ERR_UNKNOWNATTR;
    }
}

uint32_t MemoryAttr(const Query& q)
{
    MemBlock* m;
    if (uint32_t error = FindMemBlock(q.id, &m)) return error;
    if (q.attribute != ATTRSIZE) return ERR_UNKNOWNATTR;
    return PushNumber(q.vm, m->size);
}

uint32_t PushHandler(VmState* vm, const EventHandler& h, int32_t attribute)
{
    int32_t ref = attribute == ATTRFUNCTION ? h.functionRef : h.userdataRef;
    if (ref < 0) return PushNumber(vm, 0);
    PushRegistryRef(vm, ref);
    return 1;
}

uint32_t TimerObjectAttr(const Query& q)
{
    IntervalRecord* r;
    uint32_t error = q.type == OBJ_INTERVAL ? FindInterval(q.id, &r) : FindTimeout(q.id, &r);
    if (error) return error;
    switch (q.attribute) {
    case ATTRDURATION:
        return PushNumber(q.vm, static_cast<double>(r->time.seconds) * 1000 + r->time.microseconds / 1000);
    case ATTRFUNCTION:
    case ATTRUSERDATA: return PushHandler(q.vm, r->handler, q.attribute);
    default: return ERR_UNKNOWNATTR;
    }
}

uint32_t EventHandlerAttr(const Query& q)
{
    const char* name = VmCheckString(q.vm, 2, nullptr);
    bool global = false;
    int slot = FindEventName(name, &global);
    if (slot < 0) {
        SetErrorText(name);
        return ERR_UNKNOWNTAG;
    }
    if (q.attribute != ATTRFUNCTION && q.attribute != ATTRUSERDATA) return ERR_UNKNOWNATTR;
    if (global) return PushHandler(q.vm, GlobalEventHandlers[slot], q.attribute);
    // The slots of a display's events belong to the current display.
    if (!CurrentDisplay) return NotFound(ObjectId{0, 0}, ERR_FINDDISPLAY);
    return PushHandler(q.vm, CurrentDisplay->handlers[slot], q.attribute);
}

uint32_t FileAttr(const Query& q)
{
    DosFile* f;
    if (uint32_t error = FindFileHandle(q.id, &f)) return error;
    switch (q.attribute) {
    case ATTRMODE: return PushNumber(q.vm, f->mode);
    case ATTRADAPTER: {
        const char* name = f->stream ? GetStreamAdapterName(f->stream) : nullptr;
        return PushText(q.vm, name ? name : "inbuilt");
    }
    default: return ERR_UNKNOWNATTR;
    }
}

uint32_t DirectoryAttr(const Query& q)
{
    DosDirectory* d;
    if (uint32_t error = FindDirectoryHandle(q.id, &d)) return error;
    if (q.attribute != ATTRADAPTER) return ERR_UNKNOWNATTR;
    const char* name = d->lock ? GetLockAdapterName(d->lock) : nullptr;
    return PushText(q.vm, name ? name : "inbuilt");
}

// Position, length and format name come from the video's back end.
uint32_t VideoAttr(const Query& q)
{
    Video* v;
    if (uint32_t error = FindVideo(q.id, &v, 0)) return error;
    switch (q.attribute) {
    case ATTRWIDTH: return PushNumber(q.vm, v->width);
    case ATTRHEIGHT: return PushNumber(q.vm, v->height);
    case ATTRSCALEMODE: return PushNumber(q.vm, v->scaleMode);
    case ATTRSCALEWIDTH: return PushNumber(q.vm, v->scaledWidth);
    case ATTRSCALEHEIGHT: return PushNumber(q.vm, v->scaledHeight);
    case ATTRDURATION: return PushNumber(q.vm, static_cast<double>(OsVideoGetDuration(v->backEnd)));
    case ATTRPOSITION: return PushNumber(q.vm, static_cast<double>(OsVideoGetPosition(v->backEnd)));
    case ATTRNUMFRAMES: return PushNumber(q.vm, v->backEnd ? static_cast<double>(v->backEnd->frames) : 0);
    case ATTRFORMAT: return PushText(q.vm, OsVideoGetFormatName(v->backEnd));
    case ATTRCANSEEK: return PushFlag(q.vm, v->canSeek != 0);
    case ATTRPLAYING: return PushFlag(q.vm, v->playState == 1);
    case ATTRPAUSED: return PushFlag(q.vm, v->playState == 2);
    case ATTRDRIVER: return PushNumber(q.vm, std::string_view(v->loader) == "native" ? 0 : 1);
    case ATTRLOADER: return PushText(q.vm, v->loader);
    default: return ERR_UNKNOWNATTR;
    }
}

// Built-in types that name objects but have no finder: ATTRCOUNT only.
uint32_t CountOnly(const Query&) { return ERR_UNKNOWNATTR; }

struct TypeBranch {
    uint32_t type;
    uint32_t (*answer)(const Query& q);
    bool countsFirst;  // ATTRCOUNT is answered before any lookup
    const char* name;  // the type's constant
};

constexpr TypeBranch kBranches[] = {
    {OBJ_ANIM, AnimAttr, true, "ANIM"},
    {OBJ_BRUSH, BrushAttr, true, "BRUSH"},
    {OBJ_SPRITE, SpriteAttr, true, "SPRITE"},
    {OBJ_BGPIC, BGPicAttr, true, "BGPIC"},
    {OBJ_TEXTOBJECT, TextObjectAttr, true, "TEXTOBJECT"},
    {OBJ_DISPLAY, DisplayAttr, true, "DISPLAY"},
    {OBJ_LAYER, LayerAttr, false, "LAYER"},
    {OBJ_SAMPLE, SampleAttr, true, "SAMPLE"},
    {OBJ_MUSIC, MusicAttr, true, "MUSIC"},
    {OBJ_CLIPREGION, ClipRegionAttr, true, "CLIPREGION"},
    {OBJ_POINTER, PointerAttr, true, "POINTER"},
    {OBJ_ASYNCDRAW, AsyncDrawAttr, true, "ASYNCDRAW"},
    {OBJ_MEMORY, MemoryAttr, true, "MEMORY"},
    {OBJ_INTERVAL, TimerObjectAttr, false, "INTERVAL"},
    {OBJ_TIMEOUT, TimerObjectAttr, false, "TIMEOUT"},
    {OBJ_EVENTHANDLER, EventHandlerAttr, false, "EVENTHANDLER"},
    {OBJ_FONT, FontAttr, true, "FONT"},
    {OBJ_FILE, FileAttr, true, "FILE"},
    {OBJ_DIRECTORY, DirectoryAttr, true, "DIRECTORY"},
    {OBJ_VIDEO, VideoAttr, true, "VIDEO"},
    {OBJ_VECTORPATH, CountOnly, true, "VECTORPATH"},
    {OBJ_MOVELIST, CountOnly, true, "MOVELIST"},
    {OBJ_ANIMSTREAM, CountOnly, true, "ANIMSTREAM"},
    {OBJ_TIMER, CountOnly, true, "TIMER"},
    {OBJ_CLIENT, CountOnly, true, "CLIENT"},
    {OBJ_SERVER, CountOnly, true, "SERVER"},
    {OBJ_UDPOBJECT, CountOnly, true, "UDPOBJECT"},
    {OBJ_MENU, CountOnly, true, "MENU"},
};

const TypeBranch* BranchOf(int32_t type)
{
    for (const TypeBranch& b : kBranches)
        if (static_cast<int32_t>(b.type) == type) return &b;
    return nullptr;
}

// The detail of an attribute that a type does not answer: the type's and
// the attribute's constants as far as the tables name them.
uint32_t UnknownAttribute(const TypeBranch* branch, int32_t type, int32_t attribute)
{
    const char* attributeName = nullptr;
    for (const ConstantTableEntry* c = kGraphicsConstants; c->name && !attributeName; ++c)
        if (std::string_view(c->name).starts_with("ATTR") && c->number == attribute) attributeName = c->name;
    char attributeText[96], typeText[64];
    if (attributeName)
        std::snprintf(attributeText, sizeof attributeText, "#%s (%d)", attributeName, static_cast<int>(attribute));
    else
        std::snprintf(attributeText, sizeof attributeText, "%d, which no #ATTR constant names",
                      static_cast<int>(attribute));
    if (branch)
        std::snprintf(typeText, sizeof typeText, "#%s", branch->name);
    else
        std::snprintf(typeText, sizeof typeText, "%d", static_cast<int>(type));
    bool countOnly = !branch || branch->answer == CountOnly;
    char text[256];
    std::snprintf(text, sizeof text, "Type %s does not answer attribute %s%s", typeText, attributeText,
                  countOnly ? "; it answers #ATTRCOUNT only" : "");
    SetErrorDetail(ERR_UNKNOWNATTR, text);
    return ERR_UNKNOWNATTR;
}

}  // namespace

uint32_t GetFontAttr(VmState* vm, const FontObject* font, int32_t attribute)
{
    switch (attribute) {
    case ATTRFONTASCENDER: return PushNumber(vm, font->ascender);
    case ATTRFONTDESCENDER: return PushNumber(vm, font->lineHeight - font->ascender);
    case ATTRFONTNAME: return PushText(vm, font->name);
    case ATTRFONTSIZE: return PushNumber(vm, font->size);
    case ATTRFONTSCALABLE: return PushFlag(vm, font->scalable != 0);
    case ATTRFONTAA: return PushFlag(vm, font->antiAlias != 0);
    default: return ERR_UNKNOWNATTR;
    }
}

uint32_t CmdGetAttribute(VmState* vm)
{
    CheckArgs(vm, 3, 4, 0, 0);
    int32_t type = VmCheckInteger(vm, 1);
    int32_t attribute = VmCheckInteger(vm, 3);
    const TypeBranch* branch = BranchOf(type);
    int64_t knownTypes = int64_t{OBJ_FIRST_PLUGIN_TYPE} + GetPluginObjectTypeCount();
    bool countsFirst = branch ? branch->countsFirst : type < knownTypes;
    if (attribute == ATTRCOUNT && countsFirst)
        return PushNumber(vm, type < 0 ? 0 : CountObjectsOfType(static_cast<uint32_t>(type)));

    Query q{vm, static_cast<uint32_t>(type), ObjectId{0, 0}, attribute};
    if (branch && type != OBJ_LAYER && type != OBJ_EVENTHANDLER) q.id = GetObjectIdArg(vm, 2);
    if (branch) {
        uint32_t answer = branch->answer(q);
        return answer == ERR_UNKNOWNATTR ? UnknownAttribute(branch, type, attribute) : answer;
    }
    // Built-in type ids without a record of their own have nothing to ask.
    if (type >= 0 && type < static_cast<int32_t>(OBJ_FIRST_PLUGIN_TYPE))
        return UnknownAttribute(nullptr, type, attribute);
    // Plugin types: the handler gets the VM, the attribute and the id word
    // (the handle when the script passed one, else the number); what it
    // answers is the command's answer.
    ObjectId id = GetObjectIdArg(vm, 2);
    intptr_t idWord = id.handle ? static_cast<intptr_t>(id.handle) : static_cast<intptr_t>(id.id);
    int result = CallObjectTypeHandler(vm, static_cast<uint32_t>(type), attribute, idWord);
    // A negative answer would read as a Gosub request; it is a usage error.
    return result < 0 ? ERR_WRONGUSAGE : static_cast<uint32_t>(result);
}
