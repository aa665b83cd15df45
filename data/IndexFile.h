// Index files (NTX, CDX) on disk: read whole or viewed in place, and written
// whole through the replace routine (readers see the old file or the new one).
// The system's failures end in one EADSDatabaseError, alike for both formats.
#pragma once

#include "data/KeyEntries.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace xbase {

// The bytes of an index file, read-only: a copy in memory, or a view of the
// file in the system's file cache that brings in only the pages read.
class IndexFileBytes {
  public:
    IndexFileBytes() = default;
    ~IndexFileBytes();
    IndexFileBytes(IndexFileBytes&& other) noexcept;
    IndexFileBytes& operator=(IndexFileBytes&& other) noexcept;
    IndexFileBytes(const IndexFileBytes&) = delete;
    IndexFileBytes& operator=(const IndexFileBytes&) = delete;

    const unsigned char* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    friend IndexFileBytes readIndexFile(const std::string& path);
    friend IndexFileBytes viewIndexFile(const std::string& path);
    void release();

    RawVector<unsigned char> copy_;
    const unsigned char* data_ = nullptr;
    size_t size_ = 0;
    const void* view_ = nullptr; // a view to let go of, when it is one
};

// The whole file copied into memory, for a reader that goes over all of it.
// Errors: AE_FILE_NOT_FOUND when there is no such file, AE_FILE_OPEN_FAILED
// for a folder, a device or a file that cannot be opened, AE_READ_FAILED when
// the read fails.
IndexFileBytes readIndexFile(const std::string& path);
// A view of the file where the system gives one, for a reader that touches
// only parts of it; otherwise a copy as readIndexFile makes. Errors as there.
IndexFileBytes viewIndexFile(const std::string& path);

// Replaces the file `path` (or creates it) with `bytes`, after removing the
// temporary files that killed runs left beside it. Errors: AE_CREATE_FAILED
// when the folder does not exist, AE_WRITE_FAILED for any other failure; the
// old file then stays as it was.
void writeIndexFile(const std::string& path, std::string_view bytes);

// A number in hexadecimal with "0x" in front ("0x1A00"), for the texts that
// say where a file is damaged.
std::string hexText(uint64_t value);

} // namespace xbase
