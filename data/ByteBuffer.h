// A growable byte buffer for record areas of many megabytes. It lives in its
// own memory mapping, asks for huge pages (fewer page faults on large tables)
// and grows by remapping instead of copying.
#pragma once

#include <cstddef>

namespace xbase {

// Asks for huge pages for the whole 2 MB pages inside [data, data + size):
// large key arrays then fault in far fewer pages. Call before first touching.
void adviseHugePages(void* data, size_t size);

// Reserves room in a large vector and advises huge pages for it.
template <class Vector> void reserveLarge(Vector& v, size_t count) {
    v.reserve(count);
    adviseHugePages(v.data(), v.capacity() * sizeof(typename Vector::value_type));
}

class ByteBuffer {
  public:
    ByteBuffer() = default;
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    char* data() { return data_; }
    const char* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // New bytes are left as the memory gives them (zero on fresh pages).
    void resize(size_t size);
    void reserve(size_t capacity);
    void append(const char* bytes, size_t count);
    // Releases the memory.
    void release();

  private:
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

} // namespace xbase
