// TAdsTable: the table object every part of the program uses. It opens a DBF
// table by directory and name, moves through its records in natural or index
// order, reads and writes fields with the conversions the program relies on,
// filters with xBase expressions, creates tables and index tags, copies
// filtered contents between tables and packs. Failures are EADSDatabaseError.
#pragma once

#include "common/Date.h"
#include "data/Error.h"
#include "data/KeyEntries.h"
#include "data/Value.h"
#include "data/dbf.h"
#include "data/expr.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum TAdsTableType { ttAdsCDX = 0, ttAdsNTX = 1, ttAdsADT = 2, ttAdsDefault = 3 };
enum TAdsCharType { ANSI = 1, OEM = 2 };
enum TAdsFilterOption { IGNORE_WHEN_COUNTING = 0, RESPECT_WHEN_COUNTING = 1 };
enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey };

// Index options of AdsCreateIndex61.
inline constexpr uint32_t ADS_DEFAULT = 0;
inline constexpr uint32_t ADS_UNIQUE = 0x01;
inline constexpr uint32_t ADS_COMPOUND = 0x02;
inline constexpr uint32_t ADS_DESCENDING = 0x08;

// The kinds of field a data set reports (the subset that xBase tables produce,
// in the order text exporters expect).
enum TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint
};

struct TAdsTableOptions {
    TAdsFilterOption AdsFilterOptions = IGNORE_WHEN_COUNTING;
};

class TAdsTable;

// One field of an open table. Text crosses as UTF-8.
class TField {
  public:
    TField(TAdsTable* table, int index) : table_(table), index_(index) {}

    // The same field read in record `recno` instead of the current record,
    // without moving the cursor (for views that show many rows at once). The
    // copy only reads; it is valid until the table appends, packs or closes.
    TField At(uint32_t recno) const;

    const std::string& FieldName() const;
    char TypeLetter() const;
    TFieldType DataType() const;
    int Size() const;
    int Decimals() const;
    int DisplayWidth() const;
    int Index() const { return index_; }

    // C: trailing blanks removed. N: the number's text. D: MM/dd/yyyy, empty
    // for an empty date. L: "True" or "False".
    std::string AsString() const;
    // N: the value rounded to a whole number; blank or unreadable reads as 0.
    int64_t AsInteger() const;
    double AsFloat() const;
    // L: true for T, t, Y, y and 1.
    bool AsBoolean() const;
    // D: the date; an empty date reads as day zero (30 December 1899).
    kes::Date AsDateTime() const;
    // True for an empty date, a blank number or a blank text.
    bool IsNull() const;
    // The value as the expression engine sees it (stored bytes for C).
    xbase::Value AsValue() const;
    // The bytes stored in the record, in the table's code page, blanks kept.
    // Valid until the record changes or the cursor moves.
    std::string_view RawBytes() const { return raw(); }

    // C: cut to the field width. D, N, L: converted from text.
    void SetAsString(std::string_view text);
    // Stores what SetAsString(source.AsString()) stores; between text fields
    // the bytes move straight across (translated when the code pages differ).
    void Assign(const TField& source);
    void SetAsBoolean(bool value);
    // D: the date; day zero is stored as 18991230.
    void SetAsDateTime(kes::Date value);
    void SetAsInteger(int64_t value);
    void SetAsFloat(double value);
    void Clear();

  private:
    const xbase::FieldDef& def() const;
    std::string_view raw() const;
    char* writable();
    TAdsTable* table_;
    int index_;
    uint32_t recno_ = 0; // 0: the current record
};

// A remembered record: its record number.
struct TBookmark {
    uint32_t recno = 0;
    bool valid() const { return recno != 0; }
};

// What a bound view hears from its table.
enum class TableEvent { DataSetChanged, RecordChanged, ScrollChanged, StateChanged };

class TAdsTable {
  public:
    TAdsTable();
    ~TAdsTable();
    TAdsTable(const TAdsTable&) = delete;
    TAdsTable& operator=(const TAdsTable&) = delete;

    // Location; set while the table is closed.
    std::string DatabaseName;
    TAdsTableType TableType = ttAdsDefault;
    const std::string& TableName() const { return tableName_; }
    // "Cannot perform this operation on an open dataset" when open.
    void SetTableName(const std::string& name);
    bool Exclusive = false;
    // When set, every change reaches the disk before the call that makes it
    // returns: Post and Delete write the record and the header and flush the
    // table to the disk, then write the structural index when its keys
    // changed (through the replace routine, flushed too); AdsCreateIndex61
    // writes the index at once; AdsPackTable writes the packed table anew
    // through the replace routine. The table on the disk is then, at any
    // moment, the table before a change or after it; its index may be one
    // change behind, which the index check of the next open finds. For the
    // small tables an operator edits (the code tables). May be changed
    // while the table is open.
    bool WriteThrough = false;
    TAdsTableOptions AdsTableOptions;
    // The full path of the data file: DatabaseName + TableName (+ ".dbf").
    std::string DataFilePath() const;

    void Open();
    void Close();
    bool Active() const { return dbf_.isOpen(); }
    TDataSetState State() const { return state_; }

    // Navigation in the active order, honouring the filter.
    void First();
    void Last();
    void Next();
    void Prior();
    int MoveBy(int distance);
    bool Eof() const { return eof_; }
    bool Bof() const { return bof_; }
    uint32_t RecNo() const { return recno_; }
    bool IsEmpty();

    int FieldCount() const { return static_cast<int>(fieldObjects_.size()); }
    TField& Fields(int index);
    TField& FieldByName(std::string_view name);
    TField* FindField(std::string_view name);
    const std::vector<xbase::FieldDef>& FieldDefs() const { return dbf_.fields(); }
    // The current record's bytes as its fields read them (the pending change
    // while editing), deletion flag first; FieldDefs() tell where each field
    // lies. Valid until the record changes or the cursor moves.
    std::string_view RecordBytes() const {
        return std::string_view(currentRecord(), dbf_.recordLength());
    }

    void Edit();
    void Append();
    // Appends records without the edit buffer: room for up to `maxCount`
    // records after the last one, which the caller fills, every byte, before
    // CommitAppended says how many it filled. The indexes are brought up to
    // date when next used, and the cursor is on the last record appended.
    char* AppendArea(size_t maxCount);
    void CommitAppended(size_t count);
    // Appending without holding the records, for a table written once from
    // front to back: StartAppendingThrough with
    // how many records will come at most, then AppendThrough with whole
    // records, recordLength() apart, which go straight to the file. The keys
    // of the structural tags are gathered as the records pass, and the tags
    // are written at WriteIndexes or Close; each tag must have one character
    // field for its key and no condition. From then on the table is only
    // closed (its records are not held) and the cursor stays where it was.
    void StartAppendingThrough(size_t expected);
    void AppendThrough(const char* records, size_t count);
    // For a table changed whole in memory that is closed next (the work table
    // after a gathering): with `pack` the records marked deleted go (the
    // table is held exclusively); the records are written and their memory
    // let go of before the tags take theirs, which are built from the file
    // at Close. The cursor leaves the records, and nothing reads them until
    // the table is opened again.
    void WriteAndReleaseRecords(bool pack);
    void Post();
    void Cancel();
    void Delete();
    bool IsDeleted() const;
    // For a pass that changes many records of a table held exclusively: the
    // bytes of records first..last, File().recordLength() apart, each
    // beginning with its deletion flag ('*' deletes the record), to be
    // changed in place. RecordsChanged(first, last) must follow, also when the
    // pass fails half way: the records are written at the next flush and the
    // index orders rebuilt.
    char* RecordsForChange(uint32_t first, uint32_t last);
    void RecordsChanged(uint32_t first, uint32_t last);

    TBookmark GetBookmark() const { return TBookmark{recno_}; }
    void GotoBookmark(const TBookmark& bookmark);
    // A hint that the record is read soon: its bytes are fetched meanwhile.
    void Prefetch(const TBookmark& bookmark) const;
    void FreeBookmark(TBookmark& bookmark) { bookmark.recno = 0; }
    bool BookmarkValid(const TBookmark& bookmark) const;

    // The records First and Next would visit, in that order, without moving
    // the cursor (a pending change is stored first).
    std::vector<TBookmark> VisibleBookmarks();

    // Random access to the active order, for views that show only the rows on
    // screen: the number of positions, the record at a position (0 to
    // PositionCount() - 1) and the position of the current record (npos when
    // there is none). The filter is not applied here.
    size_t PositionCount();
    uint32_t RecNoAtPosition(size_t position);
    size_t CurrentPosition();
    static constexpr size_t npos = static_cast<size_t>(-1);
    // Moves to the first record in the active order whose key begins with
    // `prefix` (a character order; the text compared as given, not padded).
    // False, and the cursor stays, when no key begins with it.
    bool FindPrefix(std::string_view prefix);

    // Bound views are not told of moves and changes while disabled; the last
    // EnableControls tells them once that everything may have changed.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return disableCount_ > 0; }
    int AddListener(std::function<void(TableEvent)> listener);
    void RemoveListener(int id);

    // All records, deleted ones included; with a filter and RESPECT_WHEN_COUNTING
    // only the records that pass it.
    uint32_t RecordCount();

    // Orders: a CDX tag name, an NTX base name, or "" for natural order.
    std::string IndexName() const;
    void SetIndexName(const std::string& name);
    std::vector<std::string> IndexNames() const;
    void AdsOpenIndex(const std::string& ntxPath);
    void AdsCreateIndex61(const std::string& indexFile, const std::string& tag,
                          const std::string& expression, const std::string& condition,
                          const std::string& whileCondition, uint32_t options);
    // Exact seek in the active order: the first record whose key equals the
    // value. When nothing is found the cursor stays where it was.
    bool FindKey(std::string_view value);
    // The records FindKey would land on for many texts at once, 0 for a text
    // it finds nothing for; the cursor stays. The seeks overlap their waits
    // for memory, and many of them are shared out over two threads.
    xbase::RawVector<uint32_t> FindKeyRecNos(const std::vector<std::string_view>& values);
    // The same for `count` texts, the i-th written into `text` by
    // textAt(i, text) as its seek begins. onFound(i, recno), when given, is
    // told of each record found as soon as it is, while its bytes are at
    // hand. Both are called from either thread.
    xbase::RawVector<uint32_t>
    FindKeyRecNos(size_t count, const std::function<void(size_t, std::string&)>& textAt,
                  const std::function<void(size_t, uint32_t)>& onFound = {});
    bool FindKey(kes::Date value);
    bool FindKey(double value);
    bool FindKeyBool(bool value);

    void AdsSetFilter(const std::string& expression);
    void AdsClearFilter();
    const std::string& Filter() const { return filterText_; }

    // Appends every record of this table that passes its filter (when the
    // filter option says so) to `destination`, fields matched by name and
    // converted to the destination's types and widths. Records marked deleted
    // are not copied.
    void AdsCopyTableContents(TAdsTable& destination);
    // Removes deleted records for good; needs an exclusive open.
    void AdsPackTable();

    // Writes pending changes of the table and its indexes to disk.
    void FlushRecord();
    // Writes the pending changes of the records and the header and flushes
    // them to the disk, then writes the structural index when it changed:
    // what WriteThrough does after each change (a pending edit is posted
    // first).
    void SaveToDisk();
    // Builds the changed tags of the structural index and writes the file
    // now, as Close would. It reads only the records and the orders: another
    // thread may walk the table in natural order meanwhile, as long as
    // nothing changes the table or its active order.
    void WriteIndexes();

    // Creates an empty table from a field list, replacing any file of that name.
    static void AdsCreateTable(const std::string& path, TAdsTableType type, TAdsCharType charSet,
                               int memoBlockSize, const std::string& fieldList);

    kes::CodePage CodePage() const { return dbf_.codePage(); }
    xbase::DbfFile& File() { return dbf_; }
    const xbase::DbfFile& File() const { return dbf_; }

  private:
    friend class TField;
    struct Order;
    // Throws, naming the index file, when `order`'s key expression did not
    // compile: its entries cannot be confirmed against their records.
    void requireSearchable(const Order& order) const;

    const char* currentRecord() const;
    const char* recordAt(uint32_t recno) const;
    char* editBuffer();
    void requireOpen(const char* what) const;
    void requireRecord(const char* what) const;
    bool visible(uint32_t recno) const;
    uint32_t recnoAt(size_t position) const;
    size_t orderSize() const;
    void settle(bool forward);
    void positionOn(uint32_t recno);
    void loadStructuralIndex();
    void ensureBuilt(Order& order);
    void buildOrders(const std::vector<Order*>& orders);
    void writeStructuralIndex();
    void markOrdersDirty();
    static void putPassingKey(Order& order, const xbase::FieldDef& field, const char* record,
                              uint32_t recno);
    std::string keyFor(const Order& order, const xbase::RecordView& record) const;
    // Empty when the order's entries fit the table, else what does not fit.
    // `entryOf`, when given and the entries fit, receives each record's
    // position in the order plus one (0: not in it).
    std::string indexMismatch(const Order& order,
                              xbase::RawVector<uint32_t>* entryOf = nullptr) const;
    bool seekKey(const std::string& key);
    // FindKey for a date, number or logical value.
    bool findValue(const xbase::Value& v);
    // The key bytes FindKey seeks for a text in the active order.
    std::string findKeyFor(std::string_view value) const;
    // The first visible record whose entry carries `key`, 0 when none; the
    // position of its entry in `position`.
    uint32_t firstVisibleWithKey(const std::string& key, size_t* position) const;
    // The same from `first`, the first entry of the active order with the key
    // (its size when none).
    uint32_t firstVisibleFrom(size_t first, const std::string& key, size_t* position) const;
    void notify(TableEvent event);
    std::string structuralIndexPath() const;
    [[noreturn]] void fail(int code, const std::string& what) const;

    std::string tableName_;
    xbase::DbfFile dbf_;
    std::vector<TField> fieldObjects_;
    TDataSetState state_ = dsInactive;
    std::string buffer_;  // the record being edited or inserted
    uint32_t recno_ = 0;  // current record (0: none)
    size_t position_ = 0; // position in the active order
    bool eof_ = true, bof_ = true;
    std::vector<std::unique_ptr<Order>> orders_;
    Order* active_ = nullptr;
    bool cdxDirty_ = false;      // the structural CDX must be rewritten
    size_t passingCapacity_ = 0; // records that appending through was started for
    std::string filterText_;
    xbase::Expression filter_;
    int disableCount_ = 0;
    std::vector<std::pair<int, std::function<void(TableEvent)>>> listeners_;
    int nextListenerId_ = 1;
};

// The engine's process-wide settings, applied once at start-up.
enum TAdsServerType { stADS_LOCAL = 1, stADS_REMOTE = 2, stADS_AIS = 4 };

class TAdsSettings {
  public:
    std::string DateFormat = "MM/dd/ccyy";
    bool SetDelphiDate = true; // the program's short date format follows the engine's
    int NumDecimals = 2;
    bool ShowDeleted = true;
    int AdsServerTypes = stADS_LOCAL;
    int NumCachedTables = 0;
    int NumCachedCursors = 25;

    // Makes the values current for the whole process.
    void Apply() const;

    // The values in force.
    static const TAdsSettings& Current();
    // The program's short date format: the engine format with each "c" read as "y".
    static std::string ShortDateFormat();
};
