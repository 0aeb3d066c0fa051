// GetAttribute. Each object type has one answer function that finds its
// record (the finder's error goes back unchanged) and pushes the asked
// field; the table of types says which of them answer ATTRCOUNT before any
// lookup. Nothing here changes a record.
#include "gfx/library/attribute_queries.h"

#include <cstdio>
#include <string>
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

// Pictures keep their loader's name; those made by commands keep none.
const char* KeptLoaderName(const char* kept)
{
    return kept[0] ? kept : GetLoaderName(nullptr);
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
    case ATTRLOADER: return PushText(q.vm, KeptLoaderName(b->loader));
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
    case ATTRLOADER: return PushText(q.vm, KeptLoaderName(p->loader));
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

// A video layer answers for the video it shows as the video itself would.
uint32_t ShownVideoAttr(const Query& q, const Layer* layer)
{
    Query asVideo = q;
    asVideo.type = OBJ_VIDEO;
    asVideo.id = ObjectId{layer->object->id, layer->object->handle};
    return VideoAttr(asVideo);
}

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
        if (video && l->object) return ShownVideoAttr(q, l);
        if (video) return PushNumber(q.vm, 1);  // the one frame the layer kept of it
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
        return ShownVideoAttr(q, l);
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
    case ATTRNUMFRAMES: {
        int64_t frames;
        if (uint32_t error = GetVideoFrameCount(v->backEnd, &frames)) return error;
        return PushNumber(q.vm, static_cast<double>(frames));
    }
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

// The lists below are what each type answers; an attribute missing from a
// list is refused, and the reference prints them as they stand.
constexpr const char* kTransparent = "the transparent colour $RRGGBB; $FFFFFFFF (4294967295) when there is none";
constexpr const char* kLoader = "the loader that read it, as text: \"inbuilt\", \"native\" or a plugin's name";
constexpr const char* kPictureLoader =
    "the loader that read it, as text: \"inbuilt\", \"native\" or a plugin's name; a picture taken from the graphics "
    "cache (cachedload) names the loader that read the file";
constexpr const char* kImageType = "#IMAGETYPE_RASTER or #IMAGETYPE_VECTOR";
// No command starts an interval or a time-out, so a script never has one
// to ask about.
constexpr const char* kNoTimerObjects = "number or handle, but no script can make one: no command starts it";

#define FONT_ANSWERS(whose)                                                                   \
    {ATTRFONTASCENDER, "the ascender of " whose ", in pixels", nullptr},                      \
    {ATTRFONTDESCENDER, "the line height of " whose " minus its ascender, in pixels", nullptr}, \
    {ATTRFONTNAME, "the name of " whose ", as text", nullptr},                                \
    {ATTRFONTSIZE, "the size of " whose ", in pixels", nullptr},                              \
    {ATTRFONTSCALABLE, "1 when " whose " is scalable, else 0", nullptr},                     \
    {ATTRFONTAA, "1 when " whose " is drawn anti-aliased, else 0", nullptr}

constexpr AttributeAnswer kAnimAnswers[] = {
    {ATTRWIDTH, "the width in pixels", nullptr},
    {ATTRHEIGHT, "the height in pixels", nullptr},
    {ATTRTRANSPARENTCOLOR, kTransparent, nullptr},
    {ATTRHASMASK, "1 when the frames have a mask, else 0", nullptr},
    {ATTRHASALPHA, "1 when the frames have an alpha channel, else 0", nullptr},
    {ATTRNUMFRAMES, "the number of frames", nullptr},
    {ATTRFRAMEDELAY, "how long the frame shows, in milliseconds (ERR_ANIMFRAME for a frame out of range)",
     "the frame, from 1"},
    {ATTRLOADER, kPictureLoader, nullptr},
};

constexpr AttributeAnswer kBrushAnswers[] = {
    {ATTRWIDTH, "the width in pixels", nullptr},
    {ATTRHEIGHT, "the height in pixels", nullptr},
    {ATTRTRANSPARENTCOLOR, kTransparent, nullptr},
    {ATTRHASMASK, "1 when it has a mask, else 0", nullptr},
    {ATTRHASALPHA, "1 when it has an alpha channel, else 0", nullptr},
    {ATTRTYPE, kImageType, nullptr},
    {ATTRHARDWARE, "1 for a hardware brush, else 0", nullptr},
    {ATTRLOADER, kPictureLoader, nullptr},
    {ATTRDISPLAY, "the display it is bound to, -1 for none", nullptr},
};

constexpr AttributeAnswer kSpriteAnswers[] = {
    {ATTRWIDTH, "the width in pixels", nullptr},
    {ATTRHEIGHT, "the height in pixels", nullptr},
    {ATTRNUMFRAMES, "the number of frames", nullptr},
    {ATTRTRANSPARENTCOLOR, kTransparent, nullptr},
    {ATTRHASMASK, "1 when its first frame has a mask, else 0", nullptr},
    {ATTRHASALPHA, "1 when its first frame has an alpha channel, else 0", nullptr},
    {ATTRONSCREEN, "1 while it is shown, else 0", nullptr},
    {ATTRXPOS, "the x position where it is shown, in pixels (ERR_SPRITEONSCREEN when it is not shown)", nullptr},
    {ATTRYPOS, "the y position where it is shown, in pixels (ERR_SPRITEONSCREEN when it is not shown)", nullptr},
    {ATTRCURFRAME, "the frame shown, from 1 (ERR_SPRITEONSCREEN when it is not shown)", nullptr},
};

constexpr AttributeAnswer kBGPicAnswers[] = {
    {ATTRWIDTH, "the width in pixels", nullptr},
    {ATTRHEIGHT, "the height in pixels", nullptr},
    {ATTRLAYERS, "its number of layers", nullptr},
    {ATTRHASMASK, "1 when it has a mask, else 0", nullptr},
    {ATTRHASALPHA, "1 when it has an alpha channel, else 0", nullptr},
    {ATTRTRANSPARENTCOLOR, kTransparent, nullptr},
    {ATTRTYPE, kImageType, nullptr},
    {ATTRLOADER, kPictureLoader, nullptr},
    {ATTRCLIPREGION, "the clip region set on the current output, -1 for none", nullptr},
};

constexpr AttributeAnswer kTextObjectAnswers[] = {
    {ATTRWIDTH, "the width in pixels", nullptr},
    {ATTRHEIGHT, "the height in pixels", nullptr},
    {ATTRTEXT, "its text", nullptr},
    FONT_ANSWERS("its font"),
};

constexpr AttributeAnswer kDisplayAnswers[] = {
    {ATTRWIDTH, "the width in pixels (of the background picture shown, when there is one)", nullptr},
    {ATTRHEIGHT, "the height in pixels (of the background picture shown, when there is one)", nullptr},
    {ATTRLAYERS, "the number of layers of the background picture shown", nullptr},
    {ATTRBGPIC, "the background picture shown, -1 for none", nullptr},
    {ATTRXPOS, "the window's x position on the monitor, in pixels", nullptr},
    {ATTRYPOS, "the window's y position on the monitor, in pixels", nullptr},
    {ATTRCURSORX, "the mouse pointer's x position in the display, in pixels", nullptr},
    {ATTRCURSORY, "the mouse pointer's y position in the display, in pixels", nullptr},
    {ATTRBORDERLEFT, "the width of the window's left border, in pixels", nullptr},
    {ATTRBORDERTOP, "the height of the window's top border, in pixels", nullptr},
    {ATTRBORDERRIGHT, "the width of the window's right border, in pixels", nullptr},
    {ATTRBORDERBOTTOM, "the height of the window's bottom border, in pixels", nullptr},
    {ATTRMAXWIDTH, "the widest the display can be on its monitor, in pixels", nullptr},
    {ATTRMAXHEIGHT, "the highest the display can be on its monitor, in pixels", nullptr},
    {ATTRHOSTWIDTH, "the width of its monitor, in pixels", nullptr},
    {ATTRHOSTHEIGHT, "the height of its monitor, in pixels", nullptr},
    {ATTRHOSTDEPTH, "the desktop's colour depth, in bits per pixel", nullptr},
    {ATTRHOSTMONITORS, "the number of monitors", nullptr},
    {ATTRMONITOR, "its monitor, from 1", nullptr},
    FONT_ANSWERS("the current font"),
    {ATTRPOINTER, "its mouse pointer (CreatePointer), -1 for the standard one", nullptr},
    {ATTRMENU, "its menu (CreateMenu), -1 for none", nullptr},
    {ATTRSTATE, "0 closed, 1 open, 2 minimized", nullptr},
    {ATTRACTIVE, "1 when it is the active window, else 0", nullptr},
    {ATTRMODE, "2 in full-screen mode, else 1 (a window)", nullptr},
    {ATTRSCALEMODE, "1 when everything is scaled, 2 when the layers are scaled, else 0", nullptr},
    {ATTRSCALEWIDTH, "the width it is shown at when scaled, else its own width, in pixels", nullptr},
    {ATTRSCALEHEIGHT, "the height it is shown at when scaled, else its own height, in pixels", nullptr},
    {ATTRBORDERLESS, "1 when the window has no border, else 0", nullptr},
    {ATTRSIZEABLE, "1 when the window may be resized, else 0", nullptr},
    {ATTRFIXED, "1 when the window may not be dragged, else 0", nullptr},
    {ATTRNOMODESWITCH, "1 when switching to full screen is forbidden, else 0", nullptr},
    {ATTRNOHIDE, "1 when the window may not be minimized, else 0", nullptr},
    {ATTRNOCLOSE, "1 when the window has no close button, else 0", nullptr},
    {ATTRTITLE, "the window title", nullptr},
    {ATTRMARGINLEFT, "the left margin, in pixels", nullptr},
    {ATTRMARGINRIGHT, "the right margin, in pixels", nullptr},
    {ATTRDOUBLEBUFFER, "1 while it is double-buffered, else 0", nullptr},
    {ATTROUTPUTDEVICE,
     "three values saying where drawing goes: 38, 0, 0 while double-buffered; #DISPLAY, the display, 0; "
     "#BGPIC, the picture, 0; else the object's type, its id and the output mode (3 a brush, 28 its mask, "
     "30 its alpha channel)",
     nullptr},
    {ATTRMASKMODE, "the current mask mode", nullptr},
    {ATTRALPHAINTENSITY, "the current alpha intensity", nullptr},
    {ATTRLAYERSON, "1 when layers are on, else 0", nullptr},
    {ATTRORIENTATION, "its orientation, as set", nullptr},
    {ATTRDENSITY, "its density, as set", nullptr},
    {ATTRKEYBOARD, "its keyboard state, as set", nullptr},
    {ATTRXDPI, "its horizontal resolution, in dots per inch", nullptr},
    {ATTRYDPI, "its vertical resolution, in dots per inch", nullptr},
    {ATTRADAPTER, "the display adapter plugin's name, \"inbuilt\" when none serves it", nullptr},
};

constexpr AttributeAnswer kLayerAnswers[] = {
    {ATTRWIDTH, "the width as drawn, in pixels", nullptr},
    {ATTRHEIGHT, "the height as drawn, in pixels", nullptr},
    {ATTRXPOS, "the x position as drawn, in pixels", nullptr},
    {ATTRYPOS, "the y position as drawn, in pixels", nullptr},
    {ATTRRAWWIDTH, "the width before any transformation, in pixels", nullptr},
    {ATTRRAWHEIGHT, "the height before any transformation, in pixels", nullptr},
    {ATTRRAWXPOS, "the x position before any transformation, in pixels", nullptr},
    {ATTRRAWYPOS, "the y position before any transformation, in pixels", nullptr},
    {ATTRTYPE, "the layer's type", nullptr},
    {ATTRVISIBLE, "1 unless it is hidden, else 0", nullptr},
    {ATTRLAYERID, "its position in the layer stack", nullptr},
    {ATTRZPOS, "its position in the layer stack", nullptr},
    {ATTRGROUP, "its group's name", nullptr},
    {ATTRLAYERS, "the number of layers of all background pictures together", nullptr},
    {ATTRCURFRAME, "an anim layer's frame shown, from 1 (ERR_NOANMLAYER for other layers)", nullptr},
    {ATTRFRAMEDELAY, "how long an anim layer's frame shows, in milliseconds (ERR_NOANMLAYER for other layers)",
     nullptr},
    {ATTRNUMFRAMES, "the number of frames of an anim or video layer (ERR_BADLAYERTYPE for other layers)", nullptr},
    {ATTRTEXT, "a text layer's text (ERR_NOTXTLAYER for other layers)", nullptr},
    FONT_ANSWERS("a text layer's font"),
    {ATTRDURATION, "a video layer's length, in milliseconds (ERR_BADLAYERTYPE for other layers)", nullptr},
    {ATTRPOSITION, "a video layer's position, in milliseconds (ERR_BADLAYERTYPE for other layers)", nullptr},
    {ATTRFORMAT, "a video layer's format name (ERR_BADLAYERTYPE for other layers)", nullptr},
    {ATTRCANSEEK, "1 when a video layer can seek, else 0 (ERR_BADLAYERTYPE for other layers)", nullptr},
    {ATTRPLAYING, "1 while a video layer plays, else 0 (ERR_BADLAYERTYPE for other layers)", nullptr},
    {ATTRPAUSED, "1 while a video layer is paused, else 0 (ERR_BADLAYERTYPE for other layers)", nullptr},
    {ATTRID, "the object the layer shows (a brush, anim, text object, video, ...; ERR_BADLAYERTYPE for drawn shapes)",
     nullptr},
};

constexpr AttributeAnswer kSampleAnswers[] = {
    {ATTRTYPE, "the sample's type word (0 for samples that LoadSample made)", nullptr},
    {ATTRDURATION, "its length, in milliseconds", nullptr},
    {ATTRPITCH, "its playback rate, in Hz", nullptr},
    {ATTRNUMFRAMES, "its length in sample frames (one frame holds a value for every channel)", nullptr},
    {ATTRPLAYING, "1 while it plays, else 0", nullptr},
    {ATTRLOADER, kLoader, nullptr},
    {ATTRPOSITION, "two values: the playing position's whole seconds and the milliseconds beyond them (0, 0 "
                   "when it is not playing)",
     nullptr},
};

constexpr AttributeAnswer kMusicAnswers[] = {
    {ATTRDURATION, "its length, in milliseconds (0 when the file does not say)", nullptr},
    {ATTRPOSITION, "its playing position, in milliseconds", nullptr},
    {ATTRFORMAT, "its format's name, such as \"WAV\"", nullptr},
    {ATTRBITRATE, "its bit rate, in bits per second", nullptr},
    {ATTRPITCH, "its sample rate, in Hz", nullptr},
    {ATTRTYPE, "0 for sampled sound, 1 for a tracker module", nullptr},
    {ATTRCANSEEK, "1 when it can seek, else 0", nullptr},
    {ATTRNUMSUBSONGS, "its number of subsongs", nullptr},
    {ATTRCURSUBSONG, "the subsong chosen, from 1", nullptr},
    {ATTRPLAYING, "1 while it plays, else 0", nullptr},
    {ATTRPAUSED, "1 while it is paused, else 0", nullptr},
    {ATTRLOADER, kLoader, nullptr},
};

constexpr AttributeAnswer kClipRegionAnswers[] = {
    {ATTRXPOS, "the rectangle's left edge, in pixels", nullptr},
    {ATTRYPOS, "the rectangle's top edge, in pixels", nullptr},
    {ATTRWIDTH, "the rectangle's width, in pixels", nullptr},
    {ATTRHEIGHT, "the rectangle's height, in pixels", nullptr},
};

constexpr AttributeAnswer kPointerAnswers[] = {
    {ATTRWIDTH, "the image's width, in pixels", nullptr},
    {ATTRHEIGHT, "the image's height, in pixels", nullptr},
    {ATTRTYPE, "#STDPTR_SYSTEM, #STDPTR_BUSY or #STDPTR_CUSTOM", nullptr},
};

constexpr AttributeAnswer kAsyncDrawAnswers[] = {
    {ATTRTYPE, "#ADF_FX, #ADF_MOVEOBJECT or #ADF_ANIM", nullptr},
    {ATTRNUMFRAMES, "its number of frames, -1 when its maker cannot say", nullptr},
    {ATTRCURFRAME, "the frame it stands at, -1 when its maker cannot say", nullptr},
};

constexpr AttributeAnswer kMemoryAnswers[] = {
    {ATTRSIZE, "its size in bytes (0 for a block of unknown size)", nullptr},
};

constexpr AttributeAnswer kTimerObjectAnswers[] = {
    {ATTRDURATION, "its time, in milliseconds", nullptr},
    {ATTRFUNCTION, "the function it calls", nullptr},
    {ATTRUSERDATA, "the userdata handed to the function, 0 when none was given", nullptr},
};

constexpr AttributeAnswer kEventHandlerAnswers[] = {
    {ATTRFUNCTION, "the function installed for the event, 0 when none is", nullptr},
    {ATTRUSERDATA, "the userdata installed with it, 0 when none was given", nullptr},
};

constexpr AttributeAnswer kFontAnswers[] = {
    FONT_ANSWERS("the font"),
};

constexpr AttributeAnswer kFileAnswers[] = {
    {ATTRMODE, "#MODE_READ, #MODE_WRITE or #MODE_READWRITE", nullptr},
    {ATTRADAPTER, "the file adapter plugin's name, \"inbuilt\" when none serves it", nullptr},
};

constexpr AttributeAnswer kDirectoryAnswers[] = {
    {ATTRADAPTER, "the directory adapter plugin's name, \"inbuilt\" when none serves it", nullptr},
};

constexpr AttributeAnswer kVideoAnswers[] = {
    {ATTRWIDTH, "the width in pixels", nullptr},
    {ATTRHEIGHT, "the height in pixels", nullptr},
    {ATTRSCALEMODE, "its scale mode", nullptr},
    {ATTRSCALEWIDTH, "the width it is shown at, in pixels", nullptr},
    {ATTRSCALEHEIGHT, "the height it is shown at, in pixels", nullptr},
    {ATTRDURATION, "its length, in milliseconds", nullptr},
    {ATTRPOSITION, "its playing position, in milliseconds", nullptr},
    {ATTRNUMFRAMES, "its number of frames, 0 when the file does not say", nullptr},
    {ATTRFORMAT, "its format's name", nullptr},
    {ATTRCANSEEK, "1 when it can seek, else 0", nullptr},
    {ATTRPLAYING, "1 while it plays, else 0", nullptr},
    {ATTRPAUSED, "1 while it is paused, else 0", nullptr},
    {ATTRDRIVER, "#VIDDRV_OS when the \"native\" loader plays it, else #VIDDRV_QUILLMERE", nullptr},
    {ATTRLOADER, kLoader, nullptr},
};

#undef FONT_ANSWERS

struct TypeBranch {
    AttributeTypeInfo info;
    uint32_t (*answer)(const Query& q);
};

template <size_t N>
constexpr AttributeTypeInfo Info(uint32_t type, const char* name, const AttributeAnswer (&answers)[N],
                                 bool countsFirst, uint32_t notFound, const char* id = "number or handle")
{
    return {type, name, answers, N, countsFirst, notFound, id};
}

constexpr AttributeTypeInfo CountInfo(uint32_t type, const char* name)
{
    return {type, name, nullptr, 0, true, 0, "number or handle (not looked at)"};
}

constexpr TypeBranch kBranches[] = {
    {Info(OBJ_ANIM, "ANIM", kAnimAnswers, true, ERR_FINDANIM), AnimAttr},
    {Info(OBJ_BRUSH, "BRUSH", kBrushAnswers, true, ERR_FINDBRUSH), BrushAttr},
    {Info(OBJ_SPRITE, "SPRITE", kSpriteAnswers, true, ERR_FINDSPRITE), SpriteAttr},
    {Info(OBJ_BGPIC, "BGPIC", kBGPicAnswers, true, ERR_FINDBGPIC), BGPicAttr},
    {Info(OBJ_TEXTOBJECT, "TEXTOBJECT", kTextObjectAnswers, true, ERR_FINDTEXTOBJECT), TextObjectAttr},
    {Info(OBJ_DISPLAY, "DISPLAY", kDisplayAnswers, true, ERR_FINDDISPLAY,
          "number or handle; 0 for the current display"),
     DisplayAttr},
    {Info(OBJ_LAYER, "LAYER", kLayerAnswers, false, ERR_LAYERRANGE,
          "a layer's number or name on the current output (layers must be on)"),
     LayerAttr},
    {Info(OBJ_SAMPLE, "SAMPLE", kSampleAnswers, true, ERR_FINDSAMPLE), SampleAttr},
    {Info(OBJ_MUSIC, "MUSIC", kMusicAnswers, true, ERR_FINDMUSIC), MusicAttr},
    {Info(OBJ_CLIPREGION, "CLIPREGION", kClipRegionAnswers, true, ERR_FINDCLIPREGION), ClipRegionAttr},
    {Info(OBJ_POINTER, "POINTER", kPointerAnswers, true, ERR_FINDPOINTER), PointerAttr},
    {Info(OBJ_ASYNCDRAW, "ASYNCDRAW", kAsyncDrawAnswers, true, ERR_FINDASYNCDRAW), AsyncDrawAttr},
    {Info(OBJ_MEMORY, "MEMORY", kMemoryAnswers, true, ERR_FINDMEMBLK), MemoryAttr},
    {Info(OBJ_INTERVAL, "INTERVAL", kTimerObjectAnswers, false, ERR_FINDINTERVAL, kNoTimerObjects),
     TimerObjectAttr},
    {Info(OBJ_TIMEOUT, "TIMEOUT", kTimerObjectAnswers, false, ERR_FINDTIMEOUT, kNoTimerObjects), TimerObjectAttr},
    {Info(OBJ_EVENTHANDLER, "EVENTHANDLER", kEventHandlerAnswers, false, ERR_UNKNOWNTAG,
          "an event name (any case); a display event's handler is the current display's"),
     EventHandlerAttr},
    {Info(OBJ_FONT, "FONT", kFontAnswers, true, ERR_FINDFONT2), FontAttr},
    {Info(OBJ_FILE, "FILE", kFileAnswers, true, ERR_FINDFILE), FileAttr},
    {Info(OBJ_DIRECTORY, "DIRECTORY", kDirectoryAnswers, true, ERR_FINDDIR), DirectoryAttr},
    {Info(OBJ_VIDEO, "VIDEO", kVideoAnswers, true, ERR_FINDVIDEO), VideoAttr},
    {CountInfo(OBJ_VECTORPATH, "VECTORPATH"), CountOnly},
    {CountInfo(OBJ_MOVELIST, "MOVELIST"), CountOnly},
    {CountInfo(OBJ_ANIMSTREAM, "ANIMSTREAM"), CountOnly},
    {CountInfo(OBJ_TIMER, "TIMER"), CountOnly},
    {CountInfo(OBJ_CLIENT, "CLIENT"), CountOnly},
    {CountInfo(OBJ_SERVER, "SERVER"), CountOnly},
    {CountInfo(OBJ_UDPOBJECT, "UDPOBJECT"), CountOnly},
    {CountInfo(OBJ_MENU, "MENU"), CountOnly},
};

const TypeBranch* BranchOf(int32_t type)
{
    for (const TypeBranch& b : kBranches)
        if (static_cast<int32_t>(b.info.type) == type) return &b;
    return nullptr;
}

// The name of an #ATTR constant, or null when no constant has the number.
const char* AttributeName(int32_t attribute)
{
    for (const ConstantTableEntry* c = kGraphicsConstants; c->name; ++c)
        if (std::string_view(c->name).starts_with("ATTR") && c->number == attribute) return c->name;
    return nullptr;
}

// The detail of an attribute that a type does not answer: the type's and
// the attribute's constants, and what the type does answer.
uint32_t UnknownAttribute(const TypeBranch* branch, int32_t type, int32_t attribute)
{
    const char* attributeName = AttributeName(attribute);
    std::string text = "Type ";
    text += branch ? std::string("#") + branch->info.name : std::to_string(type);
    text += " does not answer attribute ";
    text += attributeName ? "#" + std::string(attributeName) + " (" + std::to_string(attribute) + ")"
                          : std::to_string(attribute) + ", which no #ATTR constant names";
    if (!branch || branch->info.answerCount == 0) {
        text += "; it answers #ATTRCOUNT only";
    } else if (branch->info.answerCount > 12) {
        // A long list would bury the message; the reference prints it.
        text += "; it answers " + std::to_string(branch->info.answerCount) +
                " attributes, listed under GetAttribute in docs/commands.md";
    } else {
        text += "; it answers";
        for (size_t i = 0; i < branch->info.answerCount; ++i) {
            const char* name = AttributeName(branch->info.answers[i].attribute);
            text += i ? ", #" : " #";
            text += name ? name : "?";
        }
    }
    SetErrorDetail(ERR_UNKNOWNATTR, text.c_str());
    return ERR_UNKNOWNATTR;
}

bool Answers(const AttributeTypeInfo& info, int32_t attribute)
{
    for (size_t i = 0; i < info.answerCount; i++)
        if (info.answers[i].attribute == attribute) return true;
    return false;
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
    bool countsFirst = branch ? branch->info.countsFirst : type < knownTypes;
    if (attribute == ATTRCOUNT && countsFirst)
        return PushNumber(vm, type < 0 ? 0 : CountObjectsOfType(static_cast<uint32_t>(type)));

    // An attribute the type's list lacks reaches the answer as one that no
    // type knows: the object is still looked up first, so a missing object
    // is reported before an unknown attribute.
    bool listed = branch && Answers(branch->info, attribute);
    Query q{vm, static_cast<uint32_t>(type), ObjectId{0, 0}, listed ? attribute : -1};
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

size_t AttributeTypeCount() { return std::size(kBranches); }

const AttributeTypeInfo& AttributeTypeAt(size_t index) { return kBranches[index].info; }
