// Scratch arrays of the effect kernels: taken from the one allocator and
// given back when the owner leaves scope, so that every early return of a
// kernel frees what it took. The element count is checked against size_t
// before the multiplication, so a huge picture fails the allocation instead
// of wrapping to a small block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/posix/os_memory.h"

template <typename T>
class WorkBuffer {
public:
    WorkBuffer() = default;
    explicit WorkBuffer(size_t count, int zero = 0) { Allocate(count, zero); }
    ~WorkBuffer() { OsFreeMem(data_); }
    WorkBuffer(const WorkBuffer&) = delete;
    WorkBuffer& operator=(const WorkBuffer&) = delete;

    // False (and no block) when the count is 0 or the block cannot be had.
    bool Allocate(size_t count, int zero = 0)
    {
        OsFreeMem(data_);
        data_ = nullptr;
        if (count == 0 || count > SIZE_MAX / sizeof(T)) return false;
        data_ = static_cast<T*>(OsAllocMem(count * sizeof(T), zero));
        return data_ != nullptr;
    }
    T* get() const { return data_; }
    T& operator[](size_t i) const { return data_[i]; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    T* data_ = nullptr;
};
