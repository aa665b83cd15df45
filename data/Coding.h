// Fixed-width integers as the file formats store them: little-endian (DBF,
// NTX, CDX headers and pages) and big-endian (CDX record numbers in keys).
// The pointers may be char or unsigned char; nothing needs to be aligned.
#pragma once

#include <cstdint>

namespace xbase::coding {

template <class Byte> uint16_t getLe16(const Byte* p) {
    return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) |
                                 (static_cast<uint16_t>(static_cast<uint8_t>(p[1])) << 8));
}

template <class Byte> uint32_t getLe32(const Byte* p) {
    return static_cast<uint32_t>(static_cast<uint8_t>(p[0])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(p[3])) << 24);
}

template <class Byte> uint64_t getLe64(const Byte* p) {
    return static_cast<uint64_t>(getLe32(p)) | (static_cast<uint64_t>(getLe32(p + 4)) << 32);
}

template <class Byte> uint32_t getBe32(const Byte* p) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(p[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(p[3]));
}

template <class Byte> void putLe16(Byte* p, uint16_t v) {
    p[0] = static_cast<Byte>(v & 0xFF);
    p[1] = static_cast<Byte>(v >> 8);
}

template <class Byte> void putLe32(Byte* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<Byte>((v >> (8 * i)) & 0xFF);
}

template <class Byte> void putLe64(Byte* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<Byte>((v >> (8 * i)) & 0xFF);
}

template <class Byte> void putBe32(Byte* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[3 - i] = static_cast<Byte>((v >> (8 * i)) & 0xFF);
}

} // namespace xbase::coding
