// The linked-program block: the contract between the player binary and the
// linker tool. Plain constants only, so that the player side can include
// this header without taking any code of the tools.
//
// The block is 45 bytes in the player's constant data:
//   bytes 0..31   kLinkedBlockMarker, then zero bytes up to byte 32; the
//                 player does not interpret them, the linker finds the block
//                 by them
//   bytes 32..35  the applet's byte offset inside the program file, a
//                 big-endian u32, or kLinkedBlockNoApplet while none is linked
//   bytes 36..44  zero; not interpreted
// The player keeps it in its own ELF section, kLinkedBlockSection, e.g.
//   __attribute__((section(".qmlinked"), used))
//   const volatile unsigned char kLinkedProgramBlock[45] = { marker..., 0xDE, 0xAD, 0xC0, 0xDE };
// and must read it through the volatile object: the linker patches the file,
// so a compiler that folded the initial value into the code would never see
// the patched offset.
//
// The linker appends to a copy of the player, in this order: an optional
// plugin bundle, then the applet, and writes the offset of the first of the
// two into bytes 32..35. The bundle is "QMP!", a big-endian u32 of flags
// (bit 0: entries are packed as "PLPK" containers), then entries {name as a
// NUL-terminated string without directory and without the ".qmp"
// extension, big-endian u32 size, that many bytes}, ended by an empty name.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr char kLinkedBlockSection[] = ".qmlinked";
inline constexpr char kLinkedBlockMarker[] = "QuillmereLinkedProgramBlock";
inline constexpr size_t kLinkedBlockSize = 45;
inline constexpr size_t kLinkedBlockMarkerArea = 32;
inline constexpr size_t kLinkedBlockOffsetPos = 32;
inline constexpr uint32_t kLinkedBlockNoApplet = 0xDEADC0DE;

inline constexpr char kPluginBundleMagic[4] = {'Q', 'M', 'P', '!'};
inline constexpr uint32_t kPluginBundlePacked = 1;
