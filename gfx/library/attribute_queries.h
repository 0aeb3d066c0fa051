// GetAttribute: the graphics library's one query command for every kind of
// script object. The object type picks the record and its finder, the
// attribute picks the field; plugin object types answer through the
// handler they registered.
#pragma once

#include <cstdint>

#include "core/vm/library_glue.h"

struct FontObject;
struct VmState;

// Attribute ids (script constants of the same names, ATTRWIDTH .. ATTRLOADER).
enum Attribute : int32_t {
    ATTRWIDTH = 0,
    ATTRHEIGHT = 1,
    ATTRMAXWIDTH = 2,
    ATTRMAXHEIGHT = 3,
    ATTRBGPIC = 4,
    ATTRTRANSPARENTCOLOR = 5,
    ATTRLAYERS = 6,
    ATTRXPOS = 7,
    ATTRYPOS = 8,
    ATTRTYPE = 9,
    ATTRVISIBLE = 10,
    ATTRNUMFRAMES = 11,
    ATTRCURFRAME = 12,
    ATTRLAYERID = 13,
    ATTRDURATION = 14,
    ATTRPITCH = 15,
    ATTRHASMASK = 16,
    ATTRHASALPHA = 17,
    ATTRPOSITION = 18,
    ATTRFORMAT = 19,
    ATTRBITRATE = 20,
    ATTRCURSORX = 21,
    ATTRCURSORY = 22,
    ATTRONSCREEN = 23,
    ATTRBORDERLEFT = 24,
    ATTRBORDERTOP = 25,
    ATTRBORDERRIGHT = 26,
    ATTRBORDERBOTTOM = 27,
    ATTRHOSTWIDTH = 28,
    ATTRHOSTHEIGHT = 29,
    ATTRFONTASCENDER = 30,
    ATTRFONTDESCENDER = 31,
    ATTRFONTNAME = 32,
    ATTRFONTSIZE = 33,
    ATTRFONTSCALABLE = 34,
    ATTRFONTAA = 35,
    ATTRTEXT = 36,
    ATTRFRAMEDELAY = 37,
    ATTRPOINTER = 38,
    ATTRCLIPREGION = 39,
    ATTRSTATE = 40,
    ATTRACTIVE = 41,
    ATTRMODE = 42,
    ATTRSCALEMODE = 43,
    ATTRSCALEWIDTH = 44,
    ATTRSCALEHEIGHT = 45,
    ATTRBORDERLESS = 46,
    ATTRFIXED = 47,
    ATTRSIZEABLE = 48,
    ATTRNOHIDE = 49,
    ATTRNOMODESWITCH = 50,
    ATTRTITLE = 51,
    ATTRMARGINLEFT = 52,
    ATTRMARGINRIGHT = 53,
    ATTROUTPUTDEVICE = 54,
    ATTRDOUBLEBUFFER = 55,
    ATTRHOSTDEPTH = 56,
    ATTRSIZE = 57,
    ATTRFUNCTION = 58,
    ATTRUSERDATA = 59,
    ATTRCOUNT = 60,
    ATTRNOCLOSE = 61,
    ATTRGROUP = 62,
    ATTRMASKMODE = 63,
    ATTRALPHAINTENSITY = 64,
    ATTRRAWXPOS = 65,
    ATTRRAWYPOS = 66,
    ATTRRAWWIDTH = 67,
    ATTRRAWHEIGHT = 68,
    ATTRLAYERSON = 69,
    ATTRORIENTATION = 70,
    ATTRKEYBOARD = 71,
    ATTRCANSEEK = 72,
    ATTRHARDWARE = 73,
    ATTRZPOS = 74,
    ATTRDRIVER = 75,
    ATTRPUBSCREEN = 76,
    ATTRDENSITY = 77,
    ATTRXDPI = 78,
    ATTRYDPI = 79,
    ATTRNUMSUBSONGS = 80,
    ATTRCURSUBSONG = 81,
    ATTRID = 82,
    ATTRPLAYING = 83,
    ATTRPAUSED = 84,
    ATTRDISPLAY = 85,
    ATTRMONITOR = 86,
    ATTRADAPTER = 87,
    ATTRMENU = 88,
    ATTRHOSTMONITORS = 89,
    ATTRXSERVER = 90,
    ATTRLOADER = 91,
};

// GetAttribute(type, id, attribute[, extra]).
uint32_t CmdGetAttribute(VmState* vm);

// What GetAttribute answers for one attribute of an object type. The
// command refuses every attribute that its type's list does not name, and
// the command reference is written from the same lists.
struct AttributeAnswer {
    int32_t attribute;
    const char* answer;  // what comes back, with its unit
    const char* extra;   // what the fourth argument gives, or null
};

struct AttributeTypeInfo {
    uint32_t type;
    const char* name;  // the type's constant
    const AttributeAnswer* answers;
    size_t answerCount;
    bool countsFirst;   // ATTRCOUNT is answered before any lookup
    uint32_t notFound;  // the error for an id that names no object (0: none)
    const char* id;     // what the id argument is
};

// The object types that GetAttribute knows itself, in the order of the
// reference (plugin types answer through their own handlers).
size_t AttributeTypeCount();
const AttributeTypeInfo& AttributeTypeAt(size_t index);

// Pushes one font attribute (ATTRFONTASCENDER .. ATTRFONTAA): the name as a
// string, the others as numbers. Answers the number of values pushed, 1;
// ERR_UNKNOWNATTR for any other attribute.
uint32_t GetFontAttr(VmState* vm, const FontObject* font, int32_t attribute);
