// SHA-256 (FIPS 180-4): the checksum the preparation history keeps of each
// upload file, the figure `sha256sum` prints and PowerShell's Get-FileHash
// gives by default, so that an office can check the file it sent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kes {

class Sha256 {
  public:
    Sha256();
    void update(const void* data, size_t size);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
    // The digest of everything given so far, as 64 lower-case hex digits.
    // The object is spent afterwards.
    std::string hexDigest();

  private:
    void compress(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

std::string sha256Hex(std::string_view bytes);

// The size and digest of a file, read in pieces. False with `error` naming
// the file and the system's reason when it cannot be read.
struct FileDigest {
    uint64_t size = 0;
    std::string sha256;
};
bool digestFile(const std::string& path, FileDigest& out, std::string& error);

} // namespace kes
