// Locks of the effect front ends. An effect either takes a ready lock from
// its caller (several effects then run under one lock and none of them
// unlocks) or locks the bitmap itself and unlocks on every way out.
#pragma once

#include <cstdint>

#include "gfx/bitmaps/bitmap.h"

class EffectLock {
public:
    EffectLock() = default;
    ~EffectLock() { Release(); }
    EffectLock(const EffectLock&) = delete;
    EffectLock& operator=(const EffectLock&) = delete;

    // A given lock with its ok word set is used as it is. False when the
    // bitmap cannot be locked.
    bool Acquire(void* bitmap, uint32_t flags, BitMapLock* given = nullptr)
    {
        Release();
        if (given && given->ok) {
            use_ = given;
            return true;
        }
        if (!LockBitMapPixels(bitmap, flags, &own_)) return false;
        use_ = &own_;
        return true;
    }
    void Release()
    {
        if (use_ == &own_) UnlockBitMapPixels(&own_);
        use_ = nullptr;
    }
    BitMapLock* get() const { return use_; }
    BitMapLock* operator->() const { return use_; }

private:
    BitMapLock own_{};
    BitMapLock* use_ = nullptr;
};

// Cuts w x h at the top-left corner to the locked bitmap; false when
// nothing is left.
inline bool CutToLock(const BitMapLock* lock, int32_t& w, int32_t& h)
{
    if (w > lock->width) w = lock->width;
    if (h > lock->height) h = lock->height;
    return w > 0 && h > 0;
}

// The pixels and bytes per row of a mask or alpha plane handle (through its
// lock), with the handle's size; all zero for a null handle.
struct PlaneAccess {
    EffectLock lock;
    uint8_t* pixels = nullptr;
    int32_t bytesPerRow = 0;
    int32_t width = 0;
    int32_t height = 0;

    bool Open(BitMapHandle* plane)
    {
        if (!plane || (plane->kind != BITMAP_MASK && plane->kind != BITMAP_ALPHA)) return false;
        if (!lock.Acquire(plane, 0)) return false;
        pixels = lock->pixels;
        bytesPerRow = lock->rowLength;
        width = plane->width;
        height = plane->height;
        return pixels != nullptr;
    }

    // Also cuts w x h to the plane's size; a plane not opened cuts
    // nothing. False when nothing is left.
    bool Cut(int32_t& w, int32_t& h) const
    {
        if (!pixels) return true;
        if (w > width) w = width;
        if (h > height) h = height;
        return w > 0 && h > 0;
    }
};
