#include "data/IndexFile.h"

#include "common/Paths.h"
#include "data/Error.h"
#include "os/Os.h"

#include <cstdio>
#include <utility>

namespace xbase {

namespace {

[[noreturn]] void fail(int code, const std::string& path, const std::string& problem) {
    throw EADSDatabaseError(code, "The index file " + path + " " + problem + ".");
}

// Opens an index file for reading: only a regular file is an index, and
// opening a pipe or a device would wait forever.
kes::os::File openIndexFile(const std::string& path, uint64_t& size) {
    switch (kes::os::fileKind(path)) {
    case kes::os::FileKind::Missing:
        fail(AE_FILE_NOT_FOUND, path, "does not exist");
    case kes::os::FileKind::Regular:
        break;
    default:
        fail(AE_NOT_A_FILE, path, "is not a regular file");
    }
    kes::os::File file;
    kes::os::Status status = kes::os::File::openRead(path, file);
    if (!status.ok())
        fail(status.kind() == kes::os::ErrorKind::NotFound ? AE_FILE_NOT_FOUND
             : status.kind() == kes::os::ErrorKind::AccessDenied &&
                     !kes::os::kAccessDeniedMayMeanInUse
                 ? AE_ACCESS_DENIED
                 : AE_FILE_OPEN_FAILED,
             path, "cannot be opened: " + status.reason());
    status = file.size(size);
    if (!status.ok()) fail(AE_READ_FAILED, path, "cannot be read: " + status.reason());
    if (size > SIZE_MAX / 2) fail(AE_READ_FAILED, path, "cannot be read: it is too large");
    return file;
}

} // namespace

IndexFileBytes::~IndexFileBytes() {
    release();
}

IndexFileBytes::IndexFileBytes(IndexFileBytes&& other) noexcept
    : copy_(std::move(other.copy_)), data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)), view_(std::exchange(other.view_, nullptr)) {}

IndexFileBytes& IndexFileBytes::operator=(IndexFileBytes&& other) noexcept {
    if (this != &other) {
        release();
        copy_ = std::move(other.copy_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        view_ = std::exchange(other.view_, nullptr);
    }
    return *this;
}

void IndexFileBytes::release() {
    if (view_) kes::os::unmapFile(view_, size_);
    view_ = nullptr;
    data_ = nullptr;
    size_ = 0;
    copy_ = RawVector<unsigned char>();
}

IndexFileBytes readIndexFile(const std::string& path) {
    uint64_t size = 0;
    const kes::os::File file = openIndexFile(path, size);
    IndexFileBytes bytes;
    bytes.copy_.resize(static_cast<size_t>(size));
    const kes::os::Status status = file.readAt(0, bytes.copy_.data(), bytes.copy_.size());
    if (!status.ok()) fail(AE_READ_FAILED, path, "cannot be read: " + status.reason());
    bytes.data_ = bytes.copy_.data();
    bytes.size_ = bytes.copy_.size();
    return bytes;
}

IndexFileBytes viewIndexFile(const std::string& path) {
    uint64_t size = 0;
    {
        const kes::os::File file = openIndexFile(path, size);
        if (size > 0)
            if (const void* view = kes::os::mapFileForReading(file, static_cast<size_t>(size))) {
                // Only the pages read come into memory.
                kes::os::adviseSmallPages(view, static_cast<size_t>(size));
                IndexFileBytes bytes;
                bytes.view_ = view;
                bytes.data_ = static_cast<const unsigned char*>(view);
                bytes.size_ = static_cast<size_t>(size);
                return bytes;
            }
    }
    return readIndexFile(path);
}

void writeIndexFile(const std::string& path, std::string_view bytes) {
    kes::removeStaleNumberedAndReplacementTemporaries(path);
    const kes::os::Status status = kes::os::writeFileReplacing(path, bytes);
    if (!status.ok())
        fail(status.kind() == kes::os::ErrorKind::NotFound ? AE_CREATE_FAILED : AE_WRITE_FAILED,
             path, "cannot be written: " + status.reason());
}

std::string hexText(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

} // namespace xbase
