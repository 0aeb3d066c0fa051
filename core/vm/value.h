// The VM's value representation and object layouts, shared by every part of
// the VM (not by the libraries, which see only vm.h): the 16-byte tagged
// value, the collectable objects, the per-thread state with its value stack
// and call records, and the global state. Object headers come first in every
// collectable object so the collector can walk them as one kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/vm/vm.h"

// Tags of objects that never appear in a VmValue.
constexpr int32_t VM_TPROTO = 9;
constexpr int32_t VM_TUPVALUE = 10;
// A key whose collectable object was removed from a weak table: keeps its
// pointer so collision chains and traversal stay intact.
constexpr int32_t VM_TDEADKEY = VM_TNONE;

// GC flag bits.
constexpr uint8_t VM_GC_REACHED = 0x01;
constexpr uint8_t VM_GC_FINALIZE = 0x02;  // userdata whose finaliser has not run
constexpr uint8_t VM_GC_WEAKKEYS = 0x02;  // tables
constexpr uint8_t VM_GC_WEAKVALUES = 0x04;
constexpr uint8_t VM_GC_FIXED = 0x10;

struct VmGcHeader {
    VmGcHeader* next;
    uint8_t tt;
    uint8_t marked;
    // A string's hash, in what would otherwise be the header's padding
    // (unused by other objects): it keeps a string's header at 20 bytes.
    uint32_t hash;
};

struct VmString;
struct VmTable;
struct VmClosure;
struct VmUserdata;
struct VmProto;
struct VmUpvalue;

struct VmValue {
    int32_t tt;
    // Free word beside the tag: a string value made by VmSetString carries
    // its string's hash here (and so do its copies, table keys among them),
    // so placing keys and the interpreter's field lookups never touch the
    // string itself. Lookups that find nothing through it look again by the
    // string's own hash, so a value that lacks it is only slower.
    uint32_t aux;
    union {
        VmGcHeader* gc;
        void* p;
        double n;
        int32_t b;
    } v;
};
static_assert(sizeof(VmValue) == 16);

// ---- value helpers ----------------------------------------------------------
inline bool VmIsNil(const VmValue* o) { return o->tt == VM_TNIL; }
inline bool VmIsNum(const VmValue* o) { return o->tt == VM_TNUMBER; }
inline bool VmIsStr(const VmValue* o) { return o->tt == VM_TSTRING; }
inline bool VmIsTab(const VmValue* o) { return o->tt == VM_TTABLE; }
inline bool VmIsFunc(const VmValue* o) { return o->tt == VM_TFUNCTION; }
inline bool VmIsCollectable(const VmValue* o) { return o->tt >= VM_TSTRING; }

// Values are written whole, as one 16-byte store: a value is usually
// copied soon after it is made, and a 16-byte load that spans two smaller
// recent stores stalls the processor.
inline void VmStoreValue(VmValue* o, int32_t tt, uint64_t payload, uint32_t aux = 0)
{
#if defined(__SSE2__)
    uint64_t head = static_cast<uint64_t>(static_cast<uint32_t>(tt)) | static_cast<uint64_t>(aux) << 32;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                     _mm_set_epi64x(static_cast<int64_t>(payload), static_cast<int64_t>(head)));
#else
    o->tt = tt;
    o->aux = aux;
    std::memcpy(&o->v, &payload, sizeof payload);
#endif
}
inline uint64_t VmPayloadOf(double n)
{
    uint64_t bits;
    std::memcpy(&bits, &n, sizeof bits);
    return bits;
}
inline uint64_t VmPayloadOf(const void* p) { return reinterpret_cast<uintptr_t>(p); }

inline void VmSetNil(VmValue* o) { VmStoreValue(o, VM_TNIL, 0); }
inline void VmSetNumber(VmValue* o, double n) { VmStoreValue(o, VM_TNUMBER, VmPayloadOf(n)); }
inline void VmSetBool(VmValue* o, int b) { VmStoreValue(o, VM_TBOOLEAN, b != 0); }
inline void VmSetLight(VmValue* o, void* p) { VmStoreValue(o, VM_TLIGHTUSERDATA, VmPayloadOf(p)); }
inline void VmSetObject(VmValue* o, int32_t tt, void* obj)
{
    VmStoreValue(o, tt, VmPayloadOf(static_cast<VmGcHeader*>(obj)));
}
// ---- objects ----------------------------------------------------------------
// Interned string; its bytes and one terminating zero follow the record.
// The bytes follow the length at once, not at the record's aligned size:
// with a 20-byte header a string of up to 11 bytes fits a 32-byte block.
// A length fits 32 bits since no block reaches VM_MAX_BLOCK.
struct VmString : VmGcHeader {
    uint32_t len;
};
constexpr size_t VM_STRING_HEADER = sizeof(VmGcHeader) + sizeof(uint32_t);
static_assert(sizeof(VmGcHeader) == 16 && sizeof(VmString) == 24);
// The size of the block of a string of this length, terminator included.
constexpr size_t VmStringBlockSize(size_t length) { return VM_STRING_HEADER + length + 1; }
inline char* VmStringBytes(VmString* s) { return reinterpret_cast<char*>(s) + VM_STRING_HEADER; }
inline const char* VmStringBytes(const VmString* s)
{
    return reinterpret_cast<const char*>(s) + VM_STRING_HEADER;
}
// Full userdata; its data block follows the record.
struct VmUserdata : VmGcHeader {
    VmTable* metatable;
    uint64_t len;
};
inline void* VmUserdataBytes(VmUserdata* u) { return u + 1; }

struct VmUpvalue : VmGcHeader {
    VmValue* v;      // the stack slot while open, &value once closed
    VmValue value;
};

struct VmLocalVar {
    VmString* name;
    int32_t startPc;
    int32_t endPc;
};

// Function prototype of a loaded chunk.
struct VmProto : VmGcHeader {
    VmValue* k;
    uint32_t* code;
    VmProto** p;
    int32_t* lineInfo;
    VmLocalVar* locVars;
    VmString** upvalueNames;
    VmString* source;
    // Per constant: where a field lookup with it as the key last found its
    // node (an index into that table's hash part); only ever a hint.
    uint32_t* kHint;
    // Per instruction (sizeCode bytes, or null): 1 at a concatenation whose
    // operands but the first are never read again, so need no conversion
    // in place (VmFindDeadOperands).
    uint8_t* deadOperands;
    int32_t sizeK;
    int32_t sizeCode;
    int32_t sizeLineInfo;
    int32_t sizeP;
    int32_t sizeLocVars;
    int32_t sizeUpvalueNames;
    int32_t lineDefined;
    VmGcHeader* gclist;
    uint8_t nups;
    uint8_t numParams;
    uint8_t isVararg;
    uint8_t maxStackSize;
};

// Closure; the upvalues follow the record: VmValue each for a native
// closure, VmUpvalue* each for a script closure.
struct VmClosure : VmGcHeader {
    uint8_t isNative;
    uint8_t nupvalues;
    VmGcHeader* gclist;
    VmValue env;             // script closures: the globals table they use
    VmNativeFunction f;      // native closures
    VmProto* proto;          // script closures
};
inline VmValue* VmNativeUpvalues(VmClosure* c) { return reinterpret_cast<VmValue*>(c + 1); }
inline VmUpvalue** VmScriptUpvalues(VmClosure* c) { return reinterpret_cast<VmUpvalue**>(c + 1); }

// ---- tables -----------------------------------------------------------------
struct VmNode {
    VmValue val;
    VmValue key;
    VmNode* next;
};

struct VmTable : VmGcHeader {
    uint8_t flags;       // bit e: used as a metatable, it has no entry for event e (0-7)
    uint8_t lsizenode;   // log2 of the hash part's size
    VmTable* metatable;  // the default metatable when it has none
    VmValue* array;
    VmNode* node;
    VmNode* firstfree;   // free positions are searched below this
    VmGcHeader* gclist;
    uint32_t sizearray;
};

// Metamethod events, in the order of their names.
enum VmTmEvent : uint8_t {
    TM_INDEX, TM_NEWINDEX, TM_GC, TM_MODE, TM_EQ, TM_ADD, TM_SUB, TM_MUL,
    TM_DIV, TM_DIVINT, TM_MOD, TM_LSH, TM_RSH, TM_OR, TM_AND, TM_XOR,
    TM_POW, TM_UNM, TM_NOT, TM_LT, TM_LE, TM_CONCAT, TM_CALL,
    TM_N
};

// ---- state --------------------------------------------------------------------
enum VmCallState : uint32_t {
    VM_CI_NATIVE = 1,
    VM_CI_HASPC = 2,        // (unused: see VmCallInfo::pc)
    VM_CI_CALLING = 4,      // has called a script function in the same loop
    VM_CI_SAVEDPC = 8,      // saved instruction pointer valid
    VM_CI_YIELD = 16,
};

struct VmCallInfo {
    VmValue* base;
    VmValue* top;
    uint32_t state;
    int32_t tailCalls;       // beside the state: a call sets both at once
    const uint32_t* savedPc;
    const uint32_t** pc;     // always null: the interpreter publishes its
                             // instruction in savedPc before it can raise
    const uint32_t* hookPc;  // last instruction the line hook saw
};

struct VmProtectedRecord;

// The interned strings, in open addressing with linear probing. A slot is 0
// when free, else the string's address (user-space addresses fit in 48
// bits) with 16 further bits of its hash on top, so that a probe passes
// other strings without touching them.
struct VmStringTable {
    uint64_t* slots;
    uint64_t nuse;
    uint64_t size;  // a power of two, at least 32
};

struct VmGlobalState {
    VmStringTable strt;
    VmGcHeader* rootgc;       // every collectable object but strings and userdata
    VmGcHeader* rootudata;
    VmGcHeader* tmudata;      // userdata awaiting finalisation
    char* buffer;             // scratch buffer
    size_t buffsize;
    uint64_t GCthreshold;
    uint64_t nblocks;         // bytes allocated
    int (*panic)(VmState* state);
    VmValue registry;
    VmValue defaultMeta;
    VmState* mainthread;
    VmNode dummynode;         // the shared empty hash part; never written
    VmString* tmname[TM_N];
    VmString* nextName;       // "next", read by generic for loops
    uint8_t inFinalisers;     // a collection's finalisers are being called
    uint8_t closing;          // the state is being freed: no more collections
    struct VmPool* pool;      // the small-block allocator (memory.cpp); null: malloc
};

struct VmState : VmGcHeader {
    VmValue* top;             // first free slot
    VmValue* base;            // frame base of the current call
    VmGlobalState* g;
    VmCallInfo* ci;
    VmValue* stackLast;       // last slot usable without growing
    VmValue* stack;
    uint64_t stackSize;       // in slots
    VmCallInfo* endCi;
    VmCallInfo* baseCi;
    uint32_t sizeCi;
    uint32_t nCcalls;         // nesting depth of native calls
    uint8_t hookMask;
    uint8_t allowHook;
    uint8_t hookInit;
    uint32_t baseHookCount;
    uint32_t hookCount;
    VmHookFunction hook;
    VmValue globals;
    VmGcHeader* openUpval;    // open upvalues, sorted by stack slot, highest first
    VmGcHeader* gclist;
    VmProtectedRecord* errorJmp;
    ptrdiff_t errfunc;
    VmHookFunction eventHook;  // the runtime's event check (VmSetEventHook)
    const uint32_t* eventPc;   // last instruction seen while a pump was due
};

// Slots beyond stackLast that operations may write before growing.
constexpr int VM_EXTRA_STACK = 5;
// Slots granted to a native on entry.
constexpr int VM_MINSTACK = 20;
// Most values a native's frame may hold.
constexpr int VM_MAXCSTACK = 2048;
// Call records beyond which the state overflows.
constexpr uint32_t VM_MAXCALLS = 4096;
// Native nesting depth that raises (and that throws, during an overflow).
constexpr uint32_t VM_MAXCCALLS = 200;
constexpr uint32_t VM_MAXCCALLS_HARD = 225;

// ---- typed access to values ---------------------------------------------------
inline VmString* VmStrValue(const VmValue* o) { return static_cast<VmString*>(o->v.gc); }
inline VmTable* VmTabValue(const VmValue* o) { return static_cast<VmTable*>(o->v.gc); }
inline VmClosure* VmFuncValue(const VmValue* o) { return static_cast<VmClosure*>(o->v.gc); }
inline VmUserdata* VmUdataValue(const VmValue* o) { return static_cast<VmUserdata*>(o->v.gc); }
inline VmState* VmThreadValue(const VmValue* o) { return static_cast<VmState*>(o->v.gc); }

inline void VmSetString(VmValue* o, VmString* s)
{
    VmStoreValue(o, VM_TSTRING, VmPayloadOf(static_cast<VmGcHeader*>(s)), s->hash);
}
inline void VmSetTableValue(VmValue* o, VmTable* t) { VmSetObject(o, VM_TTABLE, t); }
inline void VmSetFunction(VmValue* o, VmClosure* c) { VmSetObject(o, VM_TFUNCTION, c); }

inline const char* VmSvalue(const VmValue* o) { return VmStringBytes(VmStrValue(o)); }

inline VmTable* VmRegistry(VmState* L) { return VmTabValue(&L->g->registry); }
inline VmTable* VmDefaultMeta(VmState* L) { return VmTabValue(&L->g->defaultMeta); }
inline ptrdiff_t VmSaveStack(VmState* L, const VmValue* p) { return reinterpret_cast<const char*>(p) - reinterpret_cast<const char*>(L->stack); }
inline VmValue* VmRestoreStack(VmState* L, ptrdiff_t n) { return reinterpret_cast<VmValue*>(reinterpret_cast<char*>(L->stack) + n); }

// The shared nil that lookups answer when a key is absent.
extern const VmValue VmNilObject;
