// DBF data files: dBase III / Clipper and FoxPro / Visual FoxPro tables.
// A DbfFile holds the header, the field descriptors and the record area of one
// open table. A table held exclusively is read whole at open and kept in
// memory; any other open maps the file read-only and reads its records from
// the system's file cache as they are used, until its first change brings
// them into memory. Changes are written back in batches and always on Flush
// and Close, together with the header's record count and last-update date.
// Every length in the header is checked before it is trusted; a damaged file
// ends in EADSDatabaseError.
#pragma once

#include "common/CodePage.h"
#include "data/ByteBuffer.h"
#include "data/Error.h"
#include "data/FieldForm.h"
#include "os/Os.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xbase {

// Header offsets and magic numbers of the DBF format.
namespace dbfformat {
inline constexpr size_t kHeaderSize = 32; // fixed part of the header
inline constexpr size_t kFieldDescriptorSize = 32;
inline constexpr size_t kOffVersion = 0;
inline constexpr size_t kOffUpdateYear = 1; // year - 1900
inline constexpr size_t kOffUpdateMonth = 2;
inline constexpr size_t kOffUpdateDay = 3;
inline constexpr size_t kOffRecordCount = 4;   // uint32 LE
inline constexpr size_t kOffHeaderLength = 8;  // uint16 LE
inline constexpr size_t kOffRecordLength = 10; // uint16 LE
inline constexpr size_t kOffTableFlags = 28;   // 0x01: a structural CDX exists
inline constexpr size_t kOffLanguageDriver = 29;
// Offsets inside one field descriptor.
inline constexpr size_t kOffFieldName = 0; // up to 11 bytes, NUL-padded
inline constexpr size_t kFieldNameSize = 11;
inline constexpr size_t kOffFieldType = 11;
inline constexpr size_t kOffFieldDisplacement = 12; // uint32 LE, FoxPro: offset in the record
inline constexpr size_t kOffFieldLength = 16;
inline constexpr size_t kOffFieldDecimals = 17;
inline constexpr uint8_t kFieldTerminator = 0x0D;
inline constexpr uint8_t kEndOfFile = 0x1A;
inline constexpr uint8_t kDeletedFlag = '*';
inline constexpr uint8_t kLiveFlag = ' ';
inline constexpr uint8_t kFlagStructuralCdx = 0x01;
inline constexpr size_t kVfpBacklinkSize = 263; // Visual FoxPro: after the terminator
} // namespace dbfformat

struct FieldDef {
    std::string name;    // as stored, upper case in practice
    char type = 'C';     // C D L N F I B M T ...
    uint32_t offset = 0; // from the start of the record (byte 0 is the deletion flag)
    uint16_t length = 0;
    uint8_t decimals = 0;
    FieldForm form = FieldForm::Text; // how the bytes hold the value (fieldFormOf)
};

// A record as expressions and index keys see it: its raw bytes, byte 0 the
// deletion flag, and its one-based record number.
struct RecordView {
    const char* data = nullptr;
    uint32_t recno = 0;
    bool deleted() const { return data && data[0] == static_cast<char>(dbfformat::kDeletedFlag); }
};

// Finds a field by name without regard to case; -1 when absent.
int findField(const std::vector<FieldDef>& fields, std::string_view name);

// Parses the field-list text of table creation:
//   "CODE,     C, 4,0;INCLUDE,  L, 1,0;"
// Entries end in ";", parts are separated by ",", blanks around parts are ignored.
// Throws EADSDatabaseError (AE_BAD_FIELD_LIST) with a clear text when malformed.
std::vector<FieldDef> parseFieldList(std::string_view text);

enum class OpenMode { ReadOnly, Shared, Exclusive };

// How the records of a table not held exclusively are read.
enum class Reading {
    View,     // through a read-only view of the file, as they are used
    Snapshot, // copied whole at open, checked by a second reading
};

class DbfFile {
  public:
    DbfFile() = default;
    ~DbfFile();
    DbfFile(const DbfFile&) = delete;
    DbfFile& operator=(const DbfFile&) = delete;

    // Opens an existing table. Shared and Exclusive take the matching OS lock
    // (a conflicting lock held elsewhere fails with AE_LOCK_FAILED). The file is
    // opened read-only and reopened for writing at the first change.
    void open(const std::string& path, OpenMode mode, Reading reading = Reading::View);
    // Writes pending changes and the header, releases the lock, closes.
    void close();
    bool isOpen() const { return file_.isOpen(); }

    // Creates (or replaces) an empty table with the given fields, FoxPro style,
    // then closes it. `structuralCdx` sets the header's structural-index flag.
    static void create(const std::string& path, const std::vector<FieldDef>& fields,
                       kes::CodePage codePage, bool structuralCdx = false);

    const std::string& path() const { return path_; }
    OpenMode mode() const { return mode_; }
    const std::vector<FieldDef>& fields() const { return fields_; }
    uint32_t recordCount() const { return recordCount_; }
    // Records (a last one perhaps incomplete) that the file holds after the
    // last record its header counts, found at open. They are not read: a
    // program appending to the table may not have counted them yet, or the
    // count is damaged. The end-of-file mark does not count.
    uint32_t recordsPastEnd() const { return recordsPastEnd_; }
    // How many of the records are marked deleted.
    uint32_t deletedCount() const { return deletedCount_; }
    uint16_t recordLength() const { return recordLength_; }
    uint8_t version() const { return version_; }
    uint8_t tableFlags() const { return tableFlags_; }
    uint8_t languageDriver() const { return languageDriver_; }
    kes::CodePage codePage() const { return codePage_; }

    // One-based record numbers. The pointer stays valid until the next change
    // (on a table not changed yet) or the next append or pack.
    const char* record(uint32_t recno) const {
        return (mapped_ ? mapped_ + headerLength_ : records_.data()) +
               static_cast<size_t>(recno - 1) * recordLength_;
    }
    // True while the records are read through a view of the file.
    bool mapped() const { return mapped_ != nullptr; }
    // A hint before a reading of most records in scattered order: the view of
    // the file is mapped whole at once (nothing to do without a view).
    void prepareForScatteredReading() const {
        if (mapped_) kes::os::prepareViewForReading(mapped_, mappedSize_);
    }
    // Copies `count` records from the file, the first one `firstRecno`, into
    // `out` (count * recordLength() bytes). Only for a table not changed yet.
    void readRecords(uint32_t firstRecno, uint32_t count, char* out) const;
    RecordView view(uint32_t recno) const { return RecordView{record(recno), recno}; }
    bool isDeleted(uint32_t recno) const { return record(recno)[0] == '*'; }

    // Replaces a record's bytes (length recordLength()).
    void writeRecord(uint32_t recno, const char* bytes);
    // Appends a record and returns its number.
    uint32_t appendRecord(const char* bytes);
    // Appends many records at once (count * recordLength() bytes).
    void appendRecords(const char* bytes, size_t count);
    // Makes room for this many more records without growing again.
    void reserveRecords(size_t count);
    // Bulk appends without a copy: room for up to `maxCount` records after the
    // last one; the caller fills some of them and commits how many it filled.
    char* appendArea(size_t maxCount);
    // `allLive`: the caller knows that none of them is marked deleted.
    void commitAppended(size_t count, bool allLive = false);
    // Appends records straight to the file after the last one, without
    // keeping them: for a table written once from front to back. From the
    // first such append until the table is closed its records are not held,
    // and nothing may read or change them (record() is out of bounds). The
    // header follows at the next flush.
    void appendWrittenThrough(const char* bytes, size_t count);
    // Writes what is pending and lets go of the records held: from then on
    // until the table is closed they are read from the file only, by
    // readRecords and RecordScan (record() is out of bounds), and nothing
    // changes them. For a large table that is only read in passes once it
    // is written. Nothing to do for a table read through a view.
    void letGoOfRecords();
    // False once records went straight to the file (appendWrittenThrough)
    // or were let go of (letGoOfRecords), until the table is closed.
    bool recordsHeld() const { return !notHeld_; }
    void setDeleted(uint32_t recno, bool deleted);
    // For passes that change many records at once: the bytes of records
    // first..last in memory, deletion flags included, to be changed in place.
    // recordsChanged(first, last) must follow.
    char* recordsForChange(uint32_t first, uint32_t last);
    // Marks records first..last as changed, to be written at the next flush,
    // and counts the deleted records anew.
    void recordsChanged(uint32_t first, uint32_t last);
    // Removes deleted records for good; the caller rebuilds its indexes. The
    // records are written now, or with `writeNow` false at the next flush.
    void pack(bool writeNow = true);
    // Sets or clears the structural-CDX flag in the header.
    void setStructuralCdxFlag(bool on);

    // Writes the pending changes and the header now.
    void flush();
    // Writes them and flushes the file to the disk: when it returns, the
    // changes are on the disk (as far as the system can tell).
    void flushToDisk();
    // Removes deleted records for good, as pack() does, by writing the table
    // anew beside itself and renaming it into place (the replace routine):
    // the file on the disk is the old table or the packed one, never a mix,
    // wherever the program stops. Only for a table held exclusively, which
    // stays open (and locked) on the new file; when the new file cannot be
    // put in place, the table reads the old one again and the error says why.
    void packReplacing();

    // A blank record: live flag, blanks everywhere.
    std::string blankRecord() const { return std::string(recordLength_, ' '); }

  private:
    void readAll();
    void requireRecordsHeld() const;
    void readHeader(uint64_t fileSize);
    void readSnapshot();
    bool snapshotStillHolds(uint64_t& fileSize) const;
    void countRecordsPastEnd(uint64_t fileSize);
    void checkDeletionFlags(const char* records, uint32_t firstRecno, uint32_t count);
    uint32_t deletedAmong(uint32_t firstRecno, uint32_t count) const;
    void bringRecordsIntoMemory();
    void unmap();
    bool headerEndsAtTerminator(size_t terminatorPos) const;
    void ensureWritable();
    void markDirty(uint32_t firstRecno, uint32_t lastRecno);
    void writeHeader();
    [[noreturn]] void fail(int code, const std::string& what) const;
    void lockFile(kes::os::File& file, const char* conflictText);

    std::string path_;
    kes::os::File file_;
    bool writable_ = false;
    OpenMode mode_ = OpenMode::ReadOnly;
    uint8_t version_ = 0x03;
    uint8_t tableFlags_ = 0;
    uint8_t languageDriver_ = 0;
    kes::CodePage codePage_ = kes::CodePage::Oem437;
    uint16_t headerLength_ = 0;
    uint16_t recordLength_ = 0;
    uint32_t recordCount_ = 0;
    uint32_t deletedCount_ = 0;
    uint32_t recordsPastEnd_ = 0;
    Reading reading_ = Reading::View;
    std::vector<char> header_; // the header bytes as read (kept for rewrite)
    std::vector<FieldDef> fields_;
    ByteBuffer records_;
    const char* mapped_ = nullptr; // the file from byte 0, while the records are read through it
    size_t mappedSize_ = 0;
    uint32_t dirtyFirst_ = 0, dirtyLast_ = 0; // 1-based, 0 = nothing pending
    bool headerDirty_ = false;
    bool notHeld_ =
        false; // the records are on the file only (appendWrittenThrough, letGoOfRecords)
    bool unflushed_ = false; // written since the last flush to the disk
    uint32_t recordCountOnDisk_ = 0;
};

// Reads the records of a pass over the whole table, mostly front to back. A
// table read through a view of its file is read through a small buffer of
// neighbouring records: a pass through the view would bring the whole file
// into the process's memory. So is a table whose records are not held. Any
// other table is read in place.
class RecordScan {
  public:
    explicit RecordScan(const DbfFile& file) : file_(file) {}
    // Valid until the next call.
    const char* record(uint32_t recno);
    RecordView view(uint32_t recno) { return RecordView{record(recno), recno}; }

  private:
    const DbfFile& file_;
    std::vector<char> buffer_;
    uint32_t first_ = 0, count_ = 0;
};

} // namespace xbase
