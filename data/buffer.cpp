#include "data/buffer.h"

#include "data/Error.h"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>

namespace xbase {

namespace {

constexpr size_t kHugePage = 2u << 20;

size_t roundUp(size_t n) {
    return (n + kHugePage - 1) / kHugePage * kHugePage;
}

} // namespace

void adviseHugePages(void* data, size_t size) {
#ifdef MADV_HUGEPAGE
    if (size < 2 * kHugePage) return;
    uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kHugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

ByteBuffer::~ByteBuffer() {
    release();
}

void ByteBuffer::release() {
    if (data_) ::munmap(data_, capacity_);
    data_ = nullptr;
    size_ = capacity_ = 0;
}

void ByteBuffer::reserve(size_t capacity) {
    if (capacity <= capacity_) return;
    size_t wanted = roundUp(capacity);
    void* p;
    if (!data_) {
        p = ::mmap(nullptr, wanted, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    } else {
        p = ::mremap(data_, capacity_, wanted, MREMAP_MAYMOVE);
    }
    if (p == MAP_FAILED) throw EADSDatabaseError(AE_READ_FAILED, "Out of memory for the table");
#ifdef MADV_HUGEPAGE
    ::madvise(p, wanted, MADV_HUGEPAGE);
#endif
    data_ = static_cast<char*>(p);
    capacity_ = wanted;
}

void ByteBuffer::resize(size_t size) {
    if (size > capacity_) reserve(size > capacity_ * 2 ? size : capacity_ * 2);
    size_ = size;
}

void ByteBuffer::append(const char* bytes, size_t count) {
    size_t at = size_;
    resize(size_ + count);
    std::memcpy(data_ + at, bytes, count);
}

} // namespace xbase
