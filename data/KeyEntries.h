// The keys of one index order held in memory: fixed-length key bytes in the
// form the index file stores them (so that byte order is key order) and the
// record number of each, in index order.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace xbase {

// Memory for arrays of half a megabyte or more: a mapping of its own in huge
// pages (one page fault per 2 MB instead of one per 4 KB), handed back to the
// system when freed. allocateLarge throws std::bad_alloc when there is no room.
void* allocateLarge(size_t bytes);
void freeLarge(void* data, size_t bytes);
constexpr size_t kLargeBlock = size_t(512) << 10;

// Leaves the elements a vector grows by as the memory gives them (large
// arrays are sized first and written whole afterwards: clearing them first
// would be a second pass over fresh memory), and takes large arrays from
// allocateLarge.
template <class T> struct UninitializedAllocator {
    using value_type = T;
    UninitializedAllocator() = default;
    template <class U> UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n * sizeof(T) >= kLargeBlock) return static_cast<T*>(allocateLarge(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, size_t n) noexcept {
        if (n * sizeof(T) >= kLargeBlock)
            freeLarge(p, n * sizeof(T));
        else
            std::allocator<T>().deallocate(p, n);
    }
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U> bool operator==(const UninitializedAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T> using RawVector = std::vector<T, UninitializedAllocator<T>>;

struct KeyEntries {
    uint16_t keyLength = 0;
    RawVector<unsigned char> keys; // size() * keyLength bytes
    RawVector<uint32_t> recnos;

    size_t size() const { return recnos.size(); }
    const unsigned char* key(size_t i) const { return keys.data() + i * keyLength; }
    void clear() {
        keys.clear();
        recnos.clear();
    }
    void push(const unsigned char* k, uint32_t recno) {
        keys.insert(keys.end(), k, k + keyLength);
        recnos.push_back(recno);
    }
};

} // namespace xbase
