#include "data/ByteBuffer.h"
#include "data/KeyEntries.h"

#include "data/Error.h"
#include "os/Os.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace xbase {

namespace {

constexpr size_t kHugePage = 2u << 20;

size_t roundUp(size_t n) {
    return (n + kHugePage - 1) / kHugePage * kHugePage;
}

} // namespace

void* allocateLarge(size_t bytes) {
    const size_t size = roundUp(bytes);
    void* p = kes::os::allocatePages(size);
    if (!p) throw std::bad_alloc();
    kes::os::adviseHugePages(p, size);
    return p;
}

void freeLarge(void* data, size_t bytes) {
    kes::os::freePages(data, roundUp(bytes));
}

void adviseHugePages(void* data, size_t size) {
    if (size >= 2 * kHugePage) kes::os::adviseHugePages(data, size);
}

ByteBuffer::~ByteBuffer() {
    release();
}

void ByteBuffer::release() {
    if (data_) kes::os::freePages(data_, capacity_);
    data_ = nullptr;
    size_ = capacity_ = 0;
}

void ByteBuffer::reserve(size_t capacity) {
    if (capacity <= capacity_) return;
    size_t wanted = roundUp(capacity);
    void* p = data_ ? kes::os::growPages(data_, capacity_, wanted) : kes::os::allocatePages(wanted);
    if (!p) throw EADSDatabaseError(AE_READ_FAILED, "Out of memory for the table");
    kes::os::adviseHugePages(p, wanted);
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
