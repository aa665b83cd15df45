#include "data/dbf.h"

#include "common/Clock.h"
#include "common/Parallel.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "data/Coding.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

namespace xbase {

using namespace dbfformat;
using coding::getLe16;
using coding::getLe32;
using coding::putLe16;
using coding::putLe32;

namespace {

// Pending changes are written once this many bytes have piled up; a table
// held exclusively has nobody else reading it and keeps more in memory.
constexpr size_t kFlushThreshold = 8u << 20;
constexpr size_t kExclusiveFlushThreshold = 256u << 20;
// A table read through a view of its file is read in pieces of about this
// size where a pass goes over all its records.
constexpr uint32_t kCheckChunkBytes = 256u << 10;

void stampToday(char* header) {
    kes::LocalTime now = kes::Clock::instance().now();
    header[kOffUpdateYear] = static_cast<char>((now.year - 1900) & 0xFF);
    header[kOffUpdateMonth] = static_cast<char>(now.month);
    header[kOffUpdateDay] = static_cast<char>(now.day);
}

bool knownFieldType(char t) {
    return std::strchr("CDLNFIBMTYGPVQW0+@O", t) != nullptr;
}

// The one width a field of the type has, or 0 when it may have any.
int fixedWidthOf(char type, uint8_t version) {
    switch (type) {
    case 'D':
    case 'T':
    case 'Y':
        return 8;
    case 'L':
        return 1;
    case 'I':
    case '+':
        return 4;
    case 'B':
        return isVisualFoxPro(version) ? 8 : 0;
    default:
        return 0;
    }
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
            int64_t value = 0;
            if (s.size() > 5 || !kes::parseDigits(s, value))
                throw bad(std::string("the ") + what + " is not a whole number " + where);
            return static_cast<int>(value);
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

void DbfFile::lockFile(kes::os::File& file, const char* conflictText) {
    if (mode_ == OpenMode::ReadOnly) return;
    const kes::os::Status locked = file.lock(
        mode_ == OpenMode::Exclusive ? kes::os::LockKind::Exclusive : kes::os::LockKind::Shared);
    if (locked.ok()) return;
    file.close();
    if (locked.kind() == kes::os::ErrorKind::LockConflict) fail(AE_LOCK_FAILED, conflictText);
    fail(AE_LOCK_FAILED, "Cannot lock the table (" + locked.reason() + ")");
}

void DbfFile::open(const std::string& path, OpenMode mode, Reading reading) {
    close();
    reading_ = reading;
    std::string actual = kes::resolveCaseInsensitive(path);
    path_ = actual.empty() ? path : actual;
    mode_ = mode;
    if (actual.empty()) fail(AE_FILE_NOT_FOUND, "Table file not found");
    // Names are matched without regard to case: two files that are one
    // name so matched leave no way to tell which one is the table.
    if (const std::vector<std::string> names = kes::spellingsOf(path_); names.size() > 1)
        fail(AE_AMBIGUOUS_NAME, "Two files bear the table's name in different letter case (" +
                                    kes::fileNameOf(names[0]) + ", " + kes::fileNameOf(names[1]) +
                                    "); remove the one that does not belong");
    // Only a regular file is a table: opening a pipe or a device would wait forever.
    if (kes::os::fileKind(path_) != kes::os::FileKind::Regular)
        fail(AE_NOT_A_FILE, "Not a table file (a folder, a pipe or a device has its name)");

    // Exclusive opens are for the program's own tables, which it writes.
    kes::os::File file;
    kes::os::Status opened = mode == OpenMode::Exclusive ? kes::os::File::openReadWrite(path_, file)
                                                         : kes::os::File::openRead(path_, file);
    const bool readWrite = opened.ok() && mode == OpenMode::Exclusive;
    if (!opened.ok() && mode == OpenMode::Exclusive) opened = kes::os::File::openRead(path_, file);
    if (!opened.ok())
        fail(opened.kind() == kes::os::ErrorKind::AccessDenied &&
                     !kes::os::kAccessDeniedMayMeanInUse
                 ? AE_ACCESS_DENIED
                 : AE_FILE_OPEN_FAILED,
             "Cannot open table (" + opened.reason() + ")");
    lockFile(file, mode == OpenMode::Exclusive
                       ? "The table is in use and cannot be opened exclusively"
                       : "The table is opened exclusively by another user");
    file_ = std::move(file);
    writable_ = readWrite;
    try {
        readAll();
    } catch (...) {
        unmap();
        records_.release();
        file_.close();
        writable_ = false;
        throw;
    }
}

// The header ends right after the descriptors' terminator. Some writers put
// one NUL byte after it; Visual FoxPro tables keep a 263-byte backlink there.
bool DbfFile::headerEndsAtTerminator(size_t terminatorPos) const {
    const size_t afterTerminator = terminatorPos + 1;
    if (headerLength_ < afterTerminator) return false;
    const size_t extra = headerLength_ - afterTerminator;
    if (extra == 0) return true;
    if (extra == 1) return header_[afterTerminator] == 0;
    return isVisualFoxPro(version_) && extra == kVfpBacklinkSize;
}

// The header and the field descriptors, checked against each other and
// against the file's size.
void DbfFile::readHeader(uint64_t fileSize) {
    if (fileSize < kHeaderSize + 1) fail(AE_CORRUPT_TABLE, "Table header is truncated");

    char fixed[kHeaderSize];
    if (!file_.readAt(0, fixed, kHeaderSize).ok()) fail(AE_READ_FAILED, "Cannot read table header");
    version_ = static_cast<uint8_t>(fixed[kOffVersion]);
    const uint8_t level = version_ & 0x07;
    if (!(level == 3 || level == 4 || level == 5 || isVisualFoxPro(version_) || version_ == 0xF5 ||
          version_ == 0xFB || version_ == 0x02))
        fail(AE_CORRUPT_TABLE, "Not a DBF table (unknown version byte)");
    recordCountOnDisk_ = getLe32(fixed + kOffRecordCount);
    headerLength_ = getLe16(fixed + kOffHeaderLength);
    recordLength_ = getLe16(fixed + kOffRecordLength);
    tableFlags_ = static_cast<uint8_t>(fixed[kOffTableFlags]);
    languageDriver_ = static_cast<uint8_t>(fixed[kOffLanguageDriver]);
    codePage_ = kes::codePageFromLanguageDriver(languageDriver_);

    if (headerLength_ < kHeaderSize + 1 || headerLength_ > fileSize)
        fail(AE_CORRUPT_TABLE, "Table header length is invalid");
    if (recordLength_ < 1) fail(AE_CORRUPT_TABLE, "Table record length is invalid");
    header_.assign(headerLength_, 0);
    if (!file_.readAt(0, header_.data(), headerLength_).ok())
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
        while (n < kFieldNameSize && d[kOffFieldName + n] != 0)
            ++n;
        f.name.assign(d + kOffFieldName, n);
        while (!f.name.empty() && f.name.back() == ' ')
            f.name.pop_back();
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(d[kOffFieldType])));
        f.length = static_cast<uint8_t>(d[kOffFieldLength]);
        f.decimals = static_cast<uint8_t>(d[kOffFieldDecimals]);
        // Clipper stores character fields wider than 255 with the high byte in the decimals.
        if (f.type == 'C' && f.decimals > 0 && !isVisualFoxPro(version_)) {
            f.length = static_cast<uint16_t>(f.length | (f.decimals << 8));
            f.decimals = 0;
        }
        if (f.name.empty()) fail(AE_CORRUPT_TABLE, "A field has no name");
        // A name is letters, digits and "_": any other byte there is damage,
        // and a damaged name would make the field seem absent.
        for (char c : f.name)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_') ||
                static_cast<unsigned char>(c) > 0x7F)
                fail(AE_CORRUPT_TABLE,
                     "Field " + std::to_string(fields_.size() + 1) + " has a damaged name");
        if (findField(fields_, f.name) >= 0)
            fail(AE_CORRUPT_TABLE, "The field " + f.name + " occurs twice");
        if (!knownFieldType(f.type))
            fail(AE_CORRUPT_TABLE, "Field " + f.name + " has an unknown type");
        if (f.length == 0) fail(AE_CORRUPT_TABLE, "Field " + f.name + " has length 0");
        f.form = fieldFormOf(f.type, f.length, version_);
        // Dates, logical values and the binary numbers have one width in
        // every writer; another is damage, and the field would read empty.
        const int fixedWidth = fixedWidthOf(f.type, version_);
        if (fixedWidth > 0 && f.length != fixedWidth)
            fail(AE_CORRUPT_TABLE, "Field " + f.name + " of type " + std::string(1, f.type) +
                                       " is " + std::to_string(f.length) + " bytes wide where " +
                                       std::to_string(fixedWidth) + " belong");
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
}

void DbfFile::readAll() {
    recordsPastEnd_ = 0;
    if (reading_ == Reading::Snapshot && mode_ != OpenMode::Exclusive) {
        readSnapshot();
        return;
    }
    uint64_t fileSize = 0;
    if (const kes::os::Status sized = file_.size(fileSize); !sized.ok())
        fail(AE_READ_FAILED, "Cannot read table (" + sized.reason() + ")");
    readHeader(fileSize);
    recordCount_ = recordCountOnDisk_;
    records_.release();
    unmap();
    deletedCount_ = 0;
    const size_t recordBytes = static_cast<size_t>(recordCount_) * recordLength_;
    if (mode_ != OpenMode::Exclusive && recordBytes > 0) {
        mappedSize_ = headerLength_ + recordBytes;
        mapped_ = static_cast<const char*>(kes::os::mapFileForReading(file_, mappedSize_));
    }
    if (mapped_) {
        // The flags are checked through a small buffer: reading them through
        // the view would bring the whole file into the process's memory.
        const uint32_t chunk = std::max<uint32_t>(1, kCheckChunkBytes / recordLength_);
        std::vector<char> buffer(static_cast<size_t>(std::min(chunk, recordCount_)) *
                                 recordLength_);
        for (uint32_t first = 0; first < recordCount_; first += chunk) {
            const uint32_t count = std::min(chunk, recordCount_ - first);
            readRecords(first + 1, count, buffer.data());
            checkDeletionFlags(buffer.data(), first + 1, count);
        }
    } else {
        mappedSize_ = 0;
        records_.resize(recordBytes);
        if (!records_.empty() &&
            !file_.readAt(headerLength_, records_.data(), records_.size()).ok())
            fail(AE_READ_FAILED, "Cannot read table records");
        checkDeletionFlags(records_.data(), 1, recordCount_);
    }
    dirtyFirst_ = dirtyLast_ = 0;
    headerDirty_ = false;
    countRecordsPastEnd(fileSize);
}

// Another program's table is copied whole and then read a second time: the
// copy stands only when the second reading finds the same header, the same
// records and a file no shorter. A record half written while we read (part
// old, part new) is never taken for a record, and a header whose count ran
// ahead of the records being appended is read again. A table still
// changing after a few tries is one another program is busy with.
void DbfFile::readSnapshot() {
    constexpr int kTries = 5;
    std::exception_ptr lastProblem;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt));
        uint64_t fileSize = 0;
        if (const kes::os::Status sized = file_.size(fileSize); !sized.ok())
            fail(AE_READ_FAILED, "Cannot read table (" + sized.reason() + ")");
        try {
            readHeader(fileSize);
            records_.resize(static_cast<size_t>(recordCountOnDisk_) * recordLength_);
            if (!records_.empty() &&
                !file_.readAt(headerLength_, records_.data(), records_.size()).ok())
                fail(AE_CORRUPT_TABLE, "The table file is shorter than its header says");
        } catch (const EADSDatabaseError& e) {
            // A header that does not fit its file may be one being written
            // this moment: it is damage only when it stays so.
            if (e.Number() != AE_CORRUPT_TABLE) throw;
            lastProblem = std::current_exception();
            continue;
        }
        if (!snapshotStillHolds(fileSize)) {
            try {
                fail(AE_LOCK_FAILED, "The table changed while it was read, " +
                                         std::to_string(kTries) +
                                         " times (another program is writing it)");
            } catch (const EADSDatabaseError&) {
                lastProblem = std::current_exception();
            }
            continue;
        }
        recordCount_ = recordCountOnDisk_;
        deletedCount_ = 0;
        checkDeletionFlags(records_.data(), 1, recordCount_);
        countRecordsPastEnd(fileSize);
        dirtyFirst_ = dirtyLast_ = 0;
        headerDirty_ = false;
        return;
    }
    records_.release();
    std::rethrow_exception(lastProblem);
}

// Reads the header and the records once more and compares them with the
// copy; `fileSize` becomes the size found now.
bool DbfFile::snapshotStillHolds(uint64_t& fileSize) const {
    std::vector<char> header(headerLength_);
    if (!file_.readAt(0, header.data(), header.size()).ok() || header != header_) return false;
    std::vector<char> chunk(std::min<size_t>(records_.size(), kCheckChunkBytes));
    for (size_t done = 0; done < records_.size(); done += chunk.size()) {
        const size_t n = std::min(chunk.size(), records_.size() - done);
        if (!file_.readAt(headerLength_ + done, chunk.data(), n).ok() ||
            std::memcmp(chunk.data(), records_.data() + done, n) != 0)
            return false;
    }
    return file_.size(fileSize).ok() && fileSize >= headerLength_ + records_.size();
}

// What lies after the counted records: the end-of-file mark, nothing, or
// records the header does not count.
void DbfFile::countRecordsPastEnd(uint64_t fileSize) {
    recordsPastEnd_ = 0;
    const uint64_t end = headerLength_ + uint64_t{recordCountOnDisk_} * recordLength_;
    if (fileSize <= end) return;
    // The end-of-file mark closes the file, after whatever it holds.
    char last = 0;
    if (!file_.readAt(fileSize - 1, &last, 1).ok()) return;
    uint64_t extra = fileSize - end - (last == static_cast<char>(kEndOfFile) ? 1 : 0);
    if (extra == 0) return;
    // Less than a record of end marks or zeros is padding some writers leave.
    if (extra < recordLength_) {
        std::vector<char> rest(static_cast<size_t>(extra));
        if (file_.readAt(end, rest.data(), rest.size()).ok() &&
            std::all_of(rest.begin(), rest.end(),
                        [](char c) { return c == 0 || c == static_cast<char>(kEndOfFile); }))
            return;
    }
    const uint64_t records = (extra + recordLength_ - 1) / recordLength_;
    recordsPastEnd_ = static_cast<uint32_t>(std::min<uint64_t>(records, 0xFFFFFFFFu));
}

// Every record begins with its deletion flag; any other byte there means the
// records are not where the header puts them.
// Counts the deleted ones on the way.
void DbfFile::checkDeletionFlags(const char* records, uint32_t firstRecno, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const char flag = records[static_cast<size_t>(i) * recordLength_];
        if (flag == static_cast<char>(kDeletedFlag))
            ++deletedCount_;
        else if (flag != static_cast<char>(kLiveFlag))
            fail(AE_CORRUPT_TABLE, "Record " + std::to_string(firstRecno + i) +
                                       " has neither a blank nor \"*\" as its deletion flag");
    }
}

uint32_t DbfFile::deletedAmong(uint32_t firstRecno, uint32_t count) const {
    uint32_t deleted = 0;
    for (uint32_t r = firstRecno; r < firstRecno + count; ++r)
        deleted += isDeleted(r) ? 1 : 0;
    return deleted;
}

// The records read through the view move into memory before the first change.
void DbfFile::bringRecordsIntoMemory() {
    if (!mapped_) return;
    records_.resize(static_cast<size_t>(recordCount_) * recordLength_);
    if (!file_.readAt(headerLength_, records_.data(), records_.size()).ok()) {
        records_.release();
        fail(AE_READ_FAILED, "Cannot read table records");
    }
    unmap();
}

void DbfFile::readRecords(uint32_t firstRecno, uint32_t count, char* out) const {
    if (firstRecno < 1 || count > recordCount_ - (firstRecno - 1))
        fail(AE_NO_CURRENT_RECORD, "Record number out of range");
    const uint64_t at = headerLength_ + static_cast<uint64_t>(firstRecno - 1) * recordLength_;
    if (!file_.readAt(at, out, static_cast<size_t>(count) * recordLength_).ok())
        fail(AE_READ_FAILED, "Cannot read table records");
}

const char* RecordScan::record(uint32_t recno) {
    if (!file_.mapped() && file_.recordsHeld()) return file_.record(recno);
    if (recno < first_ || recno - first_ >= count_) {
        const uint32_t chunk = std::max<uint32_t>(1, kCheckChunkBytes / file_.recordLength());
        count_ = 0;
        const uint32_t count = std::min(chunk, file_.recordCount() - (recno - 1));
        buffer_.resize(static_cast<size_t>(count) * file_.recordLength());
        file_.readRecords(recno, count, buffer_.data());
        first_ = recno;
        count_ = count;
    }
    return buffer_.data() + static_cast<size_t>(recno - first_) * file_.recordLength();
}

void DbfFile::unmap() {
    kes::os::unmapFile(mapped_, mappedSize_);
    mapped_ = nullptr;
    mappedSize_ = 0;
}

void DbfFile::ensureWritable() {
    if (!file_.isOpen()) fail(AE_TABLE_NOT_OPEN, "Table is not open");
    if (writable_) return;
    kes::os::File file;
    const kes::os::Status opened = kes::os::File::openReadWrite(path_, file);
    if (!opened.ok()) fail(AE_READ_ONLY, "Cannot write to table (" + opened.reason() + ")");
    // The lock moves to the handle that can write: the read-only handle lets
    // go of it first, since two opens of one file conflict even in one
    // process, and takes it back when the move fails.
    const bool wasLocked = file_.locked();
    file_.unlock();
    try {
        lockFile(file, "Cannot lock the table for writing");
    } catch (...) {
        if (wasLocked)
            file_.lock(mode_ == OpenMode::Exclusive ? kes::os::LockKind::Exclusive
                                                    : kes::os::LockKind::Shared);
        throw;
    }
    bringRecordsIntoMemory();
    file_ = std::move(file);
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
    requireRecordsHeld();
    if (recno < 1 || recno > recordCount_) fail(AE_NO_CURRENT_RECORD, "Record number out of range");
    ensureWritable();
    deletedCount_ -= deletedAmong(recno, 1);
    std::memcpy(records_.data() + static_cast<size_t>(recno - 1) * recordLength_, bytes,
                recordLength_);
    deletedCount_ += deletedAmong(recno, 1);
    headerDirty_ = true;
    markDirty(recno, recno);
}

uint32_t DbfFile::appendRecord(const char* bytes) {
    appendRecords(bytes, 1);
    return recordCount_;
}

void DbfFile::appendRecords(const char* bytes, size_t count) {
    requireRecordsHeld();
    if (count == 0) return;
    ensureWritable();
    if (static_cast<uint64_t>(recordCount_) + count > 0xFFFFFFFFull)
        fail(AE_WRITE_FAILED, "Too many records");
    const uint32_t first = recordCount_ + 1;
    records_.append(bytes, count * recordLength_);
    recordCount_ += static_cast<uint32_t>(count);
    deletedCount_ += deletedAmong(first, static_cast<uint32_t>(count));
    headerDirty_ = true;
    markDirty(first, recordCount_);
}

void DbfFile::reserveRecords(size_t count) {
    requireRecordsHeld();
    bringRecordsIntoMemory();
    records_.reserve(records_.size() + count * recordLength_);
}

char* DbfFile::appendArea(size_t maxCount) {
    requireRecordsHeld();
    ensureWritable();
    if (static_cast<uint64_t>(recordCount_) + maxCount > 0xFFFFFFFFull)
        fail(AE_WRITE_FAILED, "Too many records");
    records_.reserve(records_.size() + maxCount * recordLength_);
    return records_.data() + records_.size();
}

void DbfFile::commitAppended(size_t count, bool allLive) {
    if (count == 0) return;
    const uint32_t first = recordCount_ + 1;
    records_.resize(records_.size() + count * recordLength_);
    recordCount_ += static_cast<uint32_t>(count);
    if (!allLive) deletedCount_ += deletedAmong(first, static_cast<uint32_t>(count));
    headerDirty_ = true;
    markDirty(first, recordCount_);
}

void DbfFile::letGoOfRecords() {
    if (!file_.isOpen() || mapped_) return;
    flush();
    records_.release();
    notHeld_ = true;
}

void DbfFile::requireRecordsHeld() const {
    if (notHeld_)
        fail(AE_INVALID_VALUE,
             "The records of the table are on its file only until it is opened again");
}

void DbfFile::appendWrittenThrough(const char* bytes, size_t count) {
    if (count == 0) return;
    ensureWritable();
    if (static_cast<uint64_t>(recordCount_) + count > 0xFFFFFFFFull)
        fail(AE_WRITE_FAILED, "Too many records");
    // Records still pending go first: the records held end where these begin.
    if (dirtyFirst_ != 0) flush();
    const size_t size = count * recordLength_;
    const kes::os::Status written = file_.writeAt(
        uint64_t{headerLength_} + uint64_t{recordCount_} * recordLength_, bytes, size);
    if (!written.ok()) fail(AE_WRITE_FAILED, "Cannot write records (" + written.reason() + ")");
    notHeld_ = true;
    records_.release();
    for (size_t i = 0; i < count; ++i)
        if (bytes[i * recordLength_] == static_cast<char>(kDeletedFlag)) ++deletedCount_;
    recordCount_ += static_cast<uint32_t>(count);
    headerDirty_ = true;
}

void DbfFile::setDeleted(uint32_t recno, bool deleted) {
    requireRecordsHeld();
    if (recno < 1 || recno > recordCount_) fail(AE_NO_CURRENT_RECORD, "Record number out of range");
    ensureWritable();
    deletedCount_ -= deletedAmong(recno, 1);
    records_.data()[static_cast<size_t>(recno - 1) * recordLength_] =
        static_cast<char>(deleted ? kDeletedFlag : kLiveFlag);
    deletedCount_ += deleted ? 1 : 0;
    headerDirty_ = true;
    markDirty(recno, recno);
}

char* DbfFile::recordsForChange(uint32_t first, uint32_t last) {
    requireRecordsHeld();
    if (first < 1 || last < first || last > recordCount_)
        fail(AE_NO_CURRENT_RECORD, "Record number out of range");
    ensureWritable();
    return records_.data() + static_cast<size_t>(first - 1) * recordLength_;
}

void DbfFile::recordsChanged(uint32_t first, uint32_t last) {
    if (first < 1 || last < first || last > recordCount_)
        fail(AE_NO_CURRENT_RECORD, "Record number out of range");
    deletedCount_ = deletedAmong(1, recordCount_);
    headerDirty_ = true;
    markDirty(first, last);
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
    putLe32(h.data() + kOffRecordCount, recordCount_);
    h[kOffTableFlags] = static_cast<char>(tableFlags_);
    stampToday(h.data());
    if (const kes::os::Status written = file_.writeAt(0, h.data(), kHeaderSize); !written.ok())
        fail(AE_WRITE_FAILED, "Cannot write table header (" + written.reason() + ")");
    header_ = std::move(h);
    recordCountOnDisk_ = recordCount_;
}

void DbfFile::flush() {
    if (!file_.isOpen() || (!headerDirty_ && dirtyFirst_ == 0)) return;
    ensureWritable();
    unflushed_ = true;
    if (dirtyFirst_ != 0) {
        const size_t from = static_cast<size_t>(dirtyFirst_ - 1) * recordLength_;
        const size_t size = static_cast<size_t>(dirtyLast_ - dirtyFirst_ + 1) * recordLength_;
        const kes::os::Status written =
            file_.writeAt(uint64_t{headerLength_} + from, records_.data() + from, size);
        if (!written.ok()) fail(AE_WRITE_FAILED, "Cannot write records (" + written.reason() + ")");
    }
    // The end-of-file mark follows the last record; anything beyond is cut off.
    const uint64_t end = uint64_t{headerLength_} + uint64_t{recordCount_} * recordLength_;
    if (dirtyLast_ == recordCount_ || recordCountOnDisk_ != recordCount_) {
        char eof = static_cast<char>(kEndOfFile);
        kes::os::Status status = file_.writeAt(end, &eof, 1);
        if (status.ok()) status = file_.truncate(end + 1);
        if (!status.ok())
            fail(AE_WRITE_FAILED, "Cannot write the end of the table (" + status.reason() + ")");
    }
    writeHeader();
    dirtyFirst_ = dirtyLast_ = 0;
    headerDirty_ = false;
}

void DbfFile::flushToDisk() {
    flush();
    if (!unflushed_ || !file_.isOpen()) return;
    const kes::os::Status synced = file_.sync();
    if (!synced.ok())
        fail(AE_WRITE_FAILED, "Cannot flush the table to disk (" + synced.reason() + ")");
    unflushed_ = false;
}

void DbfFile::packReplacing() {
    if (mode_ != OpenMode::Exclusive)
        fail(AE_NOT_EXCLUSIVE, "The table must be opened exclusively to be packed");
    ensureWritable();
    pack(false);
    std::vector<char> h = header_;
    putLe32(h.data() + kOffRecordCount, recordCount_);
    h[kOffTableFlags] = static_cast<char>(tableFlags_);
    stampToday(h.data());
    const char eof = static_cast<char>(kEndOfFile);

    // What a stopped run left beside the table goes first.
    kes::os::removeStaleReplacementTemporaries(path_);
    kes::os::ReplacingWriter writer;
    kes::os::Status status = writer.open(path_);
    if (status.ok()) status = writer.write(h.data(), h.size());
    if (status.ok()) status = writer.write(records_.data(), records_.size());
    if (status.ok()) status = writer.write(&eof, 1);
    // Windows replaces no file that is still open: the handle lets go of the
    // file, and of its lock, for the rename and takes both again after it.
    file_.close();
    writable_ = false;
    if (status.ok()) status = writer.commit();
    writer.abort();
    kes::os::File file;
    const kes::os::Status reopened = kes::os::File::openReadWrite(path_, file);
    if (!reopened.ok()) {
        records_.release();
        fail(AE_WRITE_FAILED,
             "Cannot open the table again after packing it (" + reopened.reason() + ")");
    }
    lockFile(file, "The table was taken by another program while it was packed");
    file_ = std::move(file);
    writable_ = true;
    if (!status.ok()) {
        // The old table is still the file: its records as they are there.
        readAll();
        fail(AE_WRITE_FAILED, "Cannot write the packed table (" + status.reason() + ")");
    }
    header_ = std::move(h);
    recordCountOnDisk_ = recordCount_;
    dirtyFirst_ = dirtyLast_ = 0;
    headerDirty_ = false;
    unflushed_ = false;
}

void DbfFile::pack(bool writeNow) {
    requireRecordsHeld();
    ensureWritable();
    // Each run of records kept moves down in one piece.
    char* const records = records_.data();
    auto deleted = [&](uint32_t r) {
        return records[static_cast<size_t>(r) * recordLength_] == static_cast<char>(kDeletedFlag);
    };
    size_t out = 0;
    uint32_t kept = 0;
    for (uint32_t r = 0; r < recordCount_;) {
        if (deleted(r)) {
            ++r;
            continue;
        }
        const uint32_t first = r;
        while (r < recordCount_ && !deleted(r))
            ++r;
        const size_t size = static_cast<size_t>(r - first) * recordLength_;
        const size_t from = static_cast<size_t>(first) * recordLength_;
        if (out != from) std::memmove(records + out, records + from, size);
        out += size;
        kept += r - first;
    }
    records_.resize(out);
    recordCount_ = kept;
    deletedCount_ = 0;
    headerDirty_ = true;
    dirtyFirst_ = kept ? 1 : 0;
    dirtyLast_ = kept;
    recordCountOnDisk_ = 0xFFFFFFFF; // forces the end mark and truncation
    if (writeNow) flush();
}

void DbfFile::close() {
    if (!file_.isOpen()) return;
    kes::FirstError error;
    error.run([&] { flush(); });
    file_.close(); // releases the lock first
    writable_ = false;
    notHeld_ = false;
    records_.release();
    unmap();
    error.rethrow();
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
    putLe32(h + kOffRecordCount, 0);
    putLe16(h + kOffHeaderLength, static_cast<uint16_t>(headerLength));
    putLe16(h + kOffRecordLength, static_cast<uint16_t>(recordLength));
    h[kOffTableFlags] = static_cast<char>(structuralCdx ? kFlagStructuralCdx : 0);
    h[kOffLanguageDriver] = static_cast<char>(kes::languageDriverFor(codePage));
    uint32_t offset = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        char* d = h + kHeaderSize + i * kFieldDescriptorSize;
        const FieldDef& f = fields[i];
        std::memcpy(d + kOffFieldName, f.name.data(),
                    std::min<size_t>(f.name.size(), kFieldNameSize - 1));
        d[kOffFieldType] = f.type;
        putLe32(d + kOffFieldDisplacement, offset);
        d[kOffFieldLength] = static_cast<char>(f.length & 0xFF);
        d[kOffFieldDecimals] = static_cast<char>(f.decimals);
        offset += f.length;
    }
    h[headerLength - 1] = static_cast<char>(kFieldTerminator);
    file[headerLength] = static_cast<char>(kEndOfFile);

    // The new table is written whole beside the target and put in its place:
    // an old table is replaced at once, or not at all.
    const std::string target = kes::resolveForWriting(path);
    auto failed = [&](const kes::os::Status& status) {
        return EADSDatabaseError(AE_CREATE_FAILED,
                                 "Cannot create table (" + status.reason() + "): " + path);
    };
    // A table that somebody holds open is not replaced under them: their
    // changes would go to a file that no longer has a name.
    // Only a regular file is replaced: opening a pipe would wait forever,
    // and a device or a folder is no table.
    const kes::os::FileKind kind = kes::os::fileKind(target);
    if (kind != kes::os::FileKind::Missing && kind != kes::os::FileKind::Regular)
        throw EADSDatabaseError(AE_NOT_A_FILE, "Cannot create table: a folder, a pipe or a device "
                                               "has its name: " +
                                                   path);
    kes::os::File held;
    if (kes::os::File::openRead(target, held).ok() && !held.lock(kes::os::LockKind::Exclusive).ok())
        throw EADSDatabaseError(AE_LOCK_FAILED,
                                "The table is in use and cannot be created anew: " + path);
    // What a killed run left beside the table goes first.
    kes::os::removeStaleReplacementTemporaries(target);
    kes::os::ReplacingWriter writer;
    kes::os::Status status = writer.open(target);
    if (status.ok()) status = writer.write(file.data(), file.size());
    // Windows replaces no file that is still open.
    held.close();
    if (status.ok()) status = writer.commit();
    if (!status.ok()) throw failed(status);
}

} // namespace xbase
