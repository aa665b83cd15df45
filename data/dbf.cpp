#include "data/dbf.h"

#include "common/Clock.h"
#include "common/Paths.h"
#include "common/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xbase {

using namespace dbfformat;

namespace {

uint16_t le16(const char* p) {
    return static_cast<uint16_t>(static_cast<unsigned char>(p[0]) |
                                 (static_cast<unsigned char>(p[1]) << 8));
}
uint32_t le32(const char* p) {
    return static_cast<uint32_t>(static_cast<unsigned char>(p[0])) |
           (static_cast<uint32_t>(static_cast<unsigned char>(p[1])) << 8) |
           (static_cast<uint32_t>(static_cast<unsigned char>(p[2])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(p[3])) << 24);
}
void put16(char* p, uint16_t v) {
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>(v >> 8);
}
void put32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Pending changes are written once this many bytes have piled up; a table
// held exclusively has nobody else reading it and keeps more in memory.
constexpr size_t kFlushThreshold = 8u << 20;
constexpr size_t kExclusiveFlushThreshold = 256u << 20;

bool readFully(int fd, char* buf, size_t size, off_t offset) {
    while (size > 0) {
        ssize_t n = ::pread(fd, buf, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buf += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool writeFully(int fd, const char* buf, size_t size, off_t offset) {
    while (size > 0) {
        ssize_t n = ::pwrite(fd, buf, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buf += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

void stampToday(char* header) {
    kes::LocalTime now = kes::Clock::instance().now();
    header[kOffUpdateYear] = static_cast<char>((now.year - 1900) & 0xFF);
    header[kOffUpdateMonth] = static_cast<char>(now.month);
    header[kOffUpdateDay] = static_cast<char>(now.day);
}

bool knownFieldType(char t) {
    return std::strchr("CDLNFIBMTYGPVQW0+@O", t) != nullptr;
}

} // namespace

int findField(const std::vector<FieldDef>& fields, std::string_view name) {
    for (size_t i = 0; i < fields.size(); ++i)
        if (kes::equalsIgnoreCase(fields[i].name, name)) return static_cast<int>(i);
    return -1;
}

std::vector<FieldDef> parseFieldList(std::string_view text) {
    std::vector<FieldDef> fields;
    auto bad = [&](const std::string& why) -> EADSDatabaseError {
        return EADSDatabaseError(AE_BAD_FIELD_LIST,
                                 "Invalid field list \"" + std::string(text) + "\": " + why);
    };
    size_t pos = 0;
    uint32_t offset = 1;
    while (pos < text.size()) {
        size_t end = text.find(';', pos);
        std::string_view entry =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        std::string_view trimmed = kes::trimBlanksAndControls(entry);
        if (end == std::string_view::npos) {
            if (!trimmed.empty())
                throw bad("the entry \"" + std::string(trimmed) + "\" is not ended by \";\"");
            break;
        }
        pos = end + 1;
        if (trimmed.empty()) {
            if (fields.empty() && kes::trimBlanksAndControls(text.substr(pos)).empty()) break;
            throw bad("an empty entry");
        }
        std::vector<std::string> parts;
        size_t p = 0;
        while (true) {
            size_t comma = trimmed.find(',', p);
            parts.emplace_back(kes::trimBlanksAndControls(trimmed.substr(
                p, comma == std::string_view::npos ? std::string_view::npos : comma - p)));
            if (comma == std::string_view::npos) break;
            p = comma + 1;
        }
        const std::string where = "in the entry \"" + std::string(trimmed) + "\"";
        if (parts.size() != 4) throw bad("expected name, type, width and decimals " + where);
        FieldDef f;
        f.name = kes::toUpperAscii(parts[0]);
        if (f.name.empty() || f.name.size() > 10)
            throw bad("a field name must have 1 to 10 characters " + where);
        for (char c : f.name)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
                throw bad("the field name has a character other than a letter, digit or _ " +
                          where);
        if (parts[1].size() != 1) throw bad("the type must be one letter " + where);
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])));
        if (std::strchr("CDLN", f.type) == nullptr)
            throw bad("unsupported field type \"" + parts[1] + "\" " + where);
        auto number = [&](const std::string& s, const char* what) {
            if (s.empty() || s.size() > 5 ||
                !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
                throw bad(std::string("the ") + what + " is not a whole number " + where);
            return std::stoi(s);
        };
        int width = number(parts[2], "width");
        int decimals = number(parts[3], "decimals");
        switch (f.type) {
        case 'C':
            if (width < 1 || width > 254) throw bad("a C field is 1 to 254 wide " + where);
            break;
        case 'D':
            if (width != 8) throw bad("a D field is 8 wide " + where);
            break;
        case 'L':
            if (width != 1) throw bad("an L field is 1 wide " + where);
            break;
        case 'N':
            if (width < 1 || width > 20) throw bad("an N field is 1 to 20 wide " + where);
            break;
        }
        if (decimals < 0 || (f.type != 'N' && decimals != 0) ||
            (f.type == 'N' && decimals > 0 && decimals > width - 2))
            throw bad("bad number of decimals " + where);
        if (findField(fields, f.name) >= 0) throw bad("the field " + f.name + " occurs twice");
        f.length = static_cast<uint16_t>(width);
        f.decimals = static_cast<uint8_t>(decimals);
        f.offset = offset;
        offset += f.length;
        fields.push_back(f);
    }
    if (fields.empty()) throw bad("no fields");
    if (offset > 65535) throw bad("the record is too long");
    return fields;
}

DbfFile::~DbfFile() {
    try {
        close();
    } catch (...) {
    }
}

[[noreturn]] void DbfFile::fail(int code, const std::string& what) const {
    throw EADSDatabaseError(code, what + ": " + path_);
}

void DbfFile::open(const std::string& path, OpenMode mode) {
    close();
    std::string actual = kes::resolveCaseInsensitive(path);
    path_ = actual.empty() ? path : actual;
    mode_ = mode;
    if (actual.empty()) fail(AE_FILE_NOT_FOUND, "Table file not found");
    struct stat st {};
    // Only a regular file is a table: opening a pipe or a device would wait forever.
    if (::stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        fail(AE_FILE_OPEN_FAILED, "Not a table file");

    // Exclusive opens are for the program's own tables, which it writes.
    int flags = O_CLOEXEC | (mode == OpenMode::Exclusive ? O_RDWR : O_RDONLY);
    int fd = ::open(path_.c_str(), flags);
    if (fd < 0 && mode == OpenMode::Exclusive) fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail(AE_FILE_OPEN_FAILED, std::string("Cannot open table (") + std::strerror(errno) + ")");
    if (mode != OpenMode::ReadOnly) {
        int op = (mode == OpenMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
        if (::flock(fd, op) != 0) {
            ::close(fd);
            fail(AE_LOCK_FAILED, mode == OpenMode::Exclusive
                                     ? "The table is in use and cannot be opened exclusively"
                                     : "The table is opened exclusively by another user");
        }
    }
    fd_ = fd;
    writable_ = (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDWR;
    try {
        readAll();
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        throw;
    }
}

// The header ends right after the descriptors' terminator. Some writers put
// one NUL byte after it; Visual FoxPro tables keep a 263-byte backlink there.
bool DbfFile::headerEndsAtTerminator(size_t terminatorPos) const {
    const size_t afterTerminator = terminatorPos + 1;
    if (headerLength_ < afterTerminator) return false;
    const size_t extra = headerLength_ - afterTerminator;
    const bool visualFoxPro = version_ == 0x30 || version_ == 0x31 || version_ == 0x32;
    if (extra == 0) return true;
    if (extra == 1) return header_[afterTerminator] == 0;
    return visualFoxPro && extra == kVfpBacklinkSize;
}

void DbfFile::readAll() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) fail(AE_READ_FAILED, "Cannot read table");
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
    if (fileSize < kHeaderSize + 1) fail(AE_CORRUPT_TABLE, "Table header is truncated");

    char fixed[kHeaderSize];
    if (!readFully(fd_, fixed, kHeaderSize, 0)) fail(AE_READ_FAILED, "Cannot read table header");
    version_ = static_cast<uint8_t>(fixed[kOffVersion]);
    const uint8_t level = version_ & 0x07;
    if (!(level == 3 || level == 4 || level == 5 || version_ == 0x30 || version_ == 0x31 ||
          version_ == 0x32 || version_ == 0xF5 || version_ == 0xFB || version_ == 0x02))
        fail(AE_CORRUPT_TABLE, "Not a DBF table (unknown version byte)");
    recordCountOnDisk_ = le32(fixed + kOffRecordCount);
    headerLength_ = le16(fixed + kOffHeaderLength);
    recordLength_ = le16(fixed + kOffRecordLength);
    tableFlags_ = static_cast<uint8_t>(fixed[kOffTableFlags]);
    languageDriver_ = static_cast<uint8_t>(fixed[kOffLanguageDriver]);
    codePage_ = kes::codePageFromLanguageDriver(languageDriver_);

    if (headerLength_ < kHeaderSize + 1 || headerLength_ > fileSize)
        fail(AE_CORRUPT_TABLE, "Table header length is invalid");
    if (recordLength_ < 1) fail(AE_CORRUPT_TABLE, "Table record length is invalid");
    header_.assign(headerLength_, 0);
    if (!readFully(fd_, header_.data(), headerLength_, 0))
        fail(AE_READ_FAILED, "Cannot read table header");

    fields_.clear();
    uint32_t offset = 1;
    size_t pos = kHeaderSize;
    while (true) {
        if (pos >= headerLength_) fail(AE_CORRUPT_TABLE, "Field descriptors are not terminated");
        if (static_cast<uint8_t>(header_[pos]) == kFieldTerminator) break;
        if (pos + kFieldDescriptorSize > headerLength_)
            fail(AE_CORRUPT_TABLE, "Field descriptors are truncated");
        const char* d = header_.data() + pos;
        FieldDef f;
        size_t n = 0;
        while (n < 11 && d[n] != 0)
            ++n;
        f.name.assign(d, n);
        while (!f.name.empty() && f.name.back() == ' ')
            f.name.pop_back();
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(d[11])));
        f.length = static_cast<uint8_t>(d[16]);
        f.decimals = static_cast<uint8_t>(d[17]);
        // Clipper stores character fields wider than 255 with the high byte in the decimals.
        if (f.type == 'C' && f.decimals > 0 && version_ != 0x30 && version_ != 0x31) {
            f.length = static_cast<uint16_t>(f.length | (f.decimals << 8));
            f.decimals = 0;
        }
        if (f.name.empty()) fail(AE_CORRUPT_TABLE, "A field has no name");
        if (!knownFieldType(f.type))
            fail(AE_CORRUPT_TABLE, "Field " + f.name + " has an unknown type");
        if (f.length == 0) fail(AE_CORRUPT_TABLE, "Field " + f.name + " has length 0");
        f.offset = offset;
        offset += f.length;
        fields_.push_back(f);
        pos += kFieldDescriptorSize;
    }
    if (fields_.empty()) fail(AE_CORRUPT_TABLE, "The table has no fields");
    if (offset != recordLength_) fail(AE_CORRUPT_TABLE, "Record length does not match the fields");
    if (!headerEndsAtTerminator(pos))
        fail(AE_CORRUPT_TABLE, "The header length does not end at the field descriptors");

    // A file cut short holds fewer records than its header counts; reading
    // what is left would silently drop records.
    const uint64_t available = (fileSize - headerLength_) / recordLength_;
    if (available < recordCountOnDisk_)
        fail(AE_CORRUPT_TABLE, "The table file is cut short: its header counts " +
                                   std::to_string(recordCountOnDisk_) +
                                   " records, the file holds " + std::to_string(available));
    recordCount_ = recordCountOnDisk_;
    records_.release();
    records_.resize(static_cast<size_t>(recordCount_) * recordLength_);
    if (!records_.empty() && !readFully(fd_, records_.data(), records_.size(), headerLength_))
        fail(AE_READ_FAILED, "Cannot read table records");
    // Every record begins with its deletion flag; any other byte there means
    // the records are not where the header puts them.
    for (uint32_t r = 0; r < recordCount_; ++r) {
        const char flag = records_.data()[static_cast<size_t>(r) * recordLength_];
        if (flag != static_cast<char>(kLiveFlag) && flag != static_cast<char>(kDeletedFlag))
            fail(AE_CORRUPT_TABLE, "Record " + std::to_string(r + 1) +
                                       " has neither a blank nor \"*\" as its deletion flag");
    }
    dirtyFirst_ = dirtyLast_ = 0;
    headerDirty_ = false;
}

void DbfFile::ensureWritable() {
    if (fd_ < 0) fail(AE_TABLE_NOT_OPEN, "Table is not open");
    if (writable_) return;
    int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        fail(AE_READ_ONLY, std::string("Cannot write to table (") + std::strerror(errno) + ")");
    if (mode_ != OpenMode::ReadOnly) {
        // The lock moves to the descriptor that can write.
        int op = (mode_ == OpenMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
        if (::flock(fd, op) != 0) {
            ::close(fd);
            fail(AE_LOCK_FAILED, "Cannot lock the table for writing");
        }
    }
    ::close(fd_);
    fd_ = fd;
    writable_ = true;
}

void DbfFile::markDirty(uint32_t first, uint32_t last) {
    if (dirtyFirst_ == 0) {
        dirtyFirst_ = first;
        dirtyLast_ = last;
    } else {
        dirtyFirst_ = std::min(dirtyFirst_, first);
        dirtyLast_ = std::max(dirtyLast_, last);
    }
    const size_t limit = mode_ == OpenMode::Exclusive ? kExclusiveFlushThreshold : kFlushThreshold;
    if (static_cast<size_t>(dirtyLast_ - dirtyFirst_ + 1) * recordLength_ >= limit) flush();
}

void DbfFile::writeRecord(uint32_t recno, const char* bytes) {
    if (recno < 1 || recno > recordCount_) fail(AE_NO_CURRENT_RECORD, "Record number out of range");
    ensureWritable();
    std::memcpy(records_.data() + static_cast<size_t>(recno - 1) * recordLength_, bytes,
                recordLength_);
    headerDirty_ = true;
    markDirty(recno, recno);
}

uint32_t DbfFile::appendRecord(const char* bytes) {
    appendRecords(bytes, 1);
    return recordCount_;
}

void DbfFile::appendRecords(const char* bytes, size_t count) {
    if (count == 0) return;
    ensureWritable();
    if (static_cast<uint64_t>(recordCount_) + count > 0xFFFFFFFFull)
        fail(AE_WRITE_FAILED, "Too many records");
    const uint32_t first = recordCount_ + 1;
    records_.append(bytes, count * recordLength_);
    recordCount_ += static_cast<uint32_t>(count);
    headerDirty_ = true;
    markDirty(first, recordCount_);
}

void DbfFile::reserveRecords(size_t count) {
    records_.reserve(records_.size() + count * recordLength_);
}

char* DbfFile::appendArea(size_t maxCount) {
    ensureWritable();
    if (static_cast<uint64_t>(recordCount_) + maxCount > 0xFFFFFFFFull)
        fail(AE_WRITE_FAILED, "Too many records");
    records_.reserve(records_.size() + maxCount * recordLength_);
    return records_.data() + records_.size();
}

void DbfFile::commitAppended(size_t count) {
    if (count == 0) return;
    const uint32_t first = recordCount_ + 1;
    records_.resize(records_.size() + count * recordLength_);
    recordCount_ += static_cast<uint32_t>(count);
    headerDirty_ = true;
    markDirty(first, recordCount_);
}

void DbfFile::setDeleted(uint32_t recno, bool deleted) {
    if (recno < 1 || recno > recordCount_) fail(AE_NO_CURRENT_RECORD, "Record number out of range");
    ensureWritable();
    records_.data()[static_cast<size_t>(recno - 1) * recordLength_] =
        static_cast<char>(deleted ? kDeletedFlag : kLiveFlag);
    headerDirty_ = true;
    markDirty(recno, recno);
}

void DbfFile::setStructuralCdxFlag(bool on) {
    uint8_t flags = on ? (tableFlags_ | kFlagStructuralCdx)
                       : static_cast<uint8_t>(tableFlags_ & ~kFlagStructuralCdx);
    if (flags == tableFlags_) return;
    ensureWritable();
    tableFlags_ = flags;
    headerDirty_ = true;
    flush();
}

void DbfFile::writeHeader() {
    std::vector<char> h = header_;
    put32(h.data() + kOffRecordCount, recordCount_);
    h[kOffTableFlags] = static_cast<char>(tableFlags_);
    stampToday(h.data());
    if (!writeFully(fd_, h.data(), kHeaderSize, 0))
        fail(AE_WRITE_FAILED, "Cannot write table header");
    header_ = std::move(h);
    recordCountOnDisk_ = recordCount_;
}

void DbfFile::flush() {
    if (fd_ < 0 || (!headerDirty_ && dirtyFirst_ == 0)) return;
    ensureWritable();
    if (dirtyFirst_ != 0) {
        const size_t from = static_cast<size_t>(dirtyFirst_ - 1) * recordLength_;
        const size_t size = static_cast<size_t>(dirtyLast_ - dirtyFirst_ + 1) * recordLength_;
        if (!writeFully(fd_, records_.data() + from, size,
                        static_cast<off_t>(headerLength_ + from)))
            fail(AE_WRITE_FAILED,
                 std::string("Cannot write records (") + std::strerror(errno) + ")");
    }
    // The end-of-file mark follows the last record; anything beyond is cut off.
    const off_t end = static_cast<off_t>(headerLength_) +
                      static_cast<off_t>(static_cast<size_t>(recordCount_) * recordLength_);
    if (dirtyLast_ == recordCount_ || recordCountOnDisk_ != recordCount_) {
        char eof = static_cast<char>(kEndOfFile);
        if (!writeFully(fd_, &eof, 1, end) || ::ftruncate(fd_, end + 1) != 0)
            fail(AE_WRITE_FAILED, "Cannot write the end of the table");
    }
    writeHeader();
    dirtyFirst_ = dirtyLast_ = 0;
    headerDirty_ = false;
}

void DbfFile::pack() {
    ensureWritable();
    size_t out = 0;
    uint32_t kept = 0;
    for (uint32_t r = 0; r < recordCount_; ++r) {
        const char* rec = records_.data() + static_cast<size_t>(r) * recordLength_;
        if (rec[0] == static_cast<char>(kDeletedFlag)) continue;
        if (out != static_cast<size_t>(r) * recordLength_)
            std::memmove(records_.data() + out, rec, recordLength_);
        out += recordLength_;
        ++kept;
    }
    records_.resize(out);
    recordCount_ = kept;
    headerDirty_ = true;
    dirtyFirst_ = kept ? 1 : 0;
    dirtyLast_ = kept;
    recordCountOnDisk_ = 0xFFFFFFFF; // forces the end mark and truncation
    flush();
}

void DbfFile::close() {
    if (fd_ < 0) return;
    std::exception_ptr error;
    try {
        flush();
    } catch (...) {
        error = std::current_exception();
    }
    ::close(fd_); // also releases the lock
    fd_ = -1;
    writable_ = false;
    records_.release();
    if (error) std::rethrow_exception(error);
}

void DbfFile::create(const std::string& path, const std::vector<FieldDef>& fields,
                     kes::CodePage codePage, bool structuralCdx) {
    if (fields.empty()) throw EADSDatabaseError(AE_CREATE_FAILED, "No fields to create: " + path);
    const size_t headerLength = kHeaderSize + fields.size() * kFieldDescriptorSize + 1;
    uint32_t recordLength = 1;
    for (const FieldDef& f : fields)
        recordLength += f.length;
    std::vector<char> file(headerLength + 1, 0);
    char* h = file.data();
    h[kOffVersion] = 0x03;
    stampToday(h);
    put32(h + kOffRecordCount, 0);
    put16(h + kOffHeaderLength, static_cast<uint16_t>(headerLength));
    put16(h + kOffRecordLength, static_cast<uint16_t>(recordLength));
    h[kOffTableFlags] = static_cast<char>(structuralCdx ? kFlagStructuralCdx : 0);
    h[kOffLanguageDriver] = static_cast<char>(kes::languageDriverFor(codePage));
    uint32_t offset = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        char* d = h + kHeaderSize + i * kFieldDescriptorSize;
        const FieldDef& f = fields[i];
        std::memcpy(d, f.name.data(), std::min<size_t>(f.name.size(), 10));
        d[11] = f.type;
        put32(d + 12, offset); // FoxPro keeps the field's displacement here
        d[16] = static_cast<char>(f.length & 0xFF);
        d[17] = static_cast<char>(f.decimals);
        offset += f.length;
    }
    h[headerLength - 1] = static_cast<char>(kFieldTerminator);
    file[headerLength] = static_cast<char>(kEndOfFile);

    // Write beside the target, then rename over it: an old table is replaced whole.
    const std::string target = kes::resolveForWriting(path);
    // A table that somebody holds open is not replaced under them: their
    // changes would go to a file that no longer has a name.
    int held = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) != 0) {
        ::close(held);
        throw EADSDatabaseError(AE_LOCK_FAILED,
                                "The table is in use and cannot be created anew: " + path);
    }
    const std::string temp = target + ".tmp-create";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int openError = errno;
        if (held >= 0) ::close(held);
        throw EADSDatabaseError(AE_CREATE_FAILED, std::string("Cannot create table (") +
                                                      std::strerror(openError) + "): " + path);
    }
    bool ok = writeFully(fd, file.data(), file.size(), 0);
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    const int err = errno;
    if (held >= 0) ::close(held);
    if (!ok) {
        ::unlink(temp.c_str());
        throw EADSDatabaseError(AE_CREATE_FAILED, std::string("Cannot create table (") +
                                                      std::strerror(err) + "): " + path);
    }
}

} // namespace xbase
