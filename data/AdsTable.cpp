#include "data/AdsTablePrivate.h"

#include "common/Parallel.h"
#include "common/Paths.h"
#include "common/StepTimer.h"
#include "common/Text.h"
#include "data/cdx.h"
#include "data/ntx.h"

#include <algorithm>
#include <cstring>

using xbase::FieldDef;
using xbase::RecordView;
using xbase::Value;
using xbase::ValueType;
using namespace xbase::tabledetail;

// ---------------------------------------------------------------- TAdsTable

TAdsTable::TAdsTable() = default;

TAdsTable::~TAdsTable() {
    try {
        Close();
    } catch (...) {
    }
}

void TAdsTable::fail(int code, const std::string& what) const {
    std::string where = Active() ? dbf_.path() : DataFilePath();
    throw EADSDatabaseError(code, what + ": " + where);
}

void TAdsTable::SetTableName(const std::string& name) {
    if (Active())
        throw EADSDatabaseError(AE_TABLE_IS_OPEN,
                                "Cannot perform this operation on an open dataset");
    tableName_ = name;
}

std::string TAdsTable::DataFilePath() const {
    std::string path = DatabaseName + tableName_;
    if (!kes::hasExtension(tableName_)) path += ".dbf";
    return path;
}

std::string TAdsTable::structuralIndexPath() const {
    std::string data = Active() ? dbf_.path() : DataFilePath();
    std::string dir = kes::directoryOf(data);
    return dir + kes::baseNameOf(data) + ".cdx";
}

void TAdsTable::requireOpen(const char* what) const {
    if (!Active())
        throw EADSDatabaseError(AE_TABLE_NOT_OPEN,
                                std::string("Cannot ") + what +
                                    ": the table is not open: " + DataFilePath());
}

void TAdsTable::requireRecord(const char* what) const {
    requireOpen(what);
    if (recno_ == 0)
        fail(AE_NO_CURRENT_RECORD, std::string("Cannot ") + what + ": no current record");
}

void TAdsTable::Open() {
    if (Active()) return;
    if (tableName_.empty())
        throw EADSDatabaseError(AE_FILE_NOT_FOUND, "No table name given: " + DatabaseName);
    kes::StepTimer step("open tables");
    kes::os::returnFreedMemoryPromptly();
    // The testing system's tables (the NTX kind) change under us while its
    // stations work: they are read as a checked copy, never through a view
    // that a shortening of the file would pull away.
    dbf_.open(DataFilePath(), Exclusive ? xbase::OpenMode::Exclusive : xbase::OpenMode::Shared,
              TableType == ttAdsNTX ? xbase::Reading::Snapshot : xbase::Reading::View);
    fieldObjects_.clear();
    for (size_t i = 0; i < dbf_.fields().size(); ++i)
        fieldObjects_.emplace_back(this, static_cast<int>(i));
    orders_.clear();
    active_ = nullptr;
    cdxDirty_ = false;
    filterText_.clear();
    filter_ = xbase::Expression();
    state_ = dsBrowse;
    try {
        if (TableType != ttAdsNTX) loadStructuralIndex();
    } catch (...) {
        orders_.clear();
        dbf_.close();
        state_ = dsInactive;
        throw;
    }
    First();
    notify(TableEvent::DataSetChanged);
}

void TAdsTable::loadStructuralIndex() {
    std::string path = kes::resolveCaseInsensitive(structuralIndexPath());
    if (path.empty()) return;
    const auto& fields = dbf_.fields();
    const kes::CodePage cp = dbf_.codePage();
    auto resolver = [&](const std::string& expression) {
        try {
            return xbase::Expression::compile(expression, fields, cp).type();
        } catch (const EADSDatabaseError&) {
            return ValueType::Character;
        }
    };
    auto cdx = std::make_shared<xbase::CdxReader>(path, resolver);
    const std::vector<xbase::CdxTag>& tags = cdx->tags();
    for (size_t i = 0; i < tags.size(); ++i) {
        const xbase::CdxTag& tag = tags[i];
        auto order = std::make_unique<Order>();
        order->name = tag.name;
        order->keyExpression = tag.keyExpression;
        order->forExpression = tag.forExpression;
        order->keyType = tag.keyType;
        order->keyLength = tag.entries.keyLength;
        order->unique = tag.unique;
        order->descending = tag.descending;
        order->entries.keyLength = tag.entries.keyLength;
        order->cdx = cdx;
        order->cdxTag = i;
        try {
            order->key = xbase::Expression::compile(order->keyExpression, fields, cp);
            order->keyField = order->key.singleField();
            if (!order->forExpression.empty())
                order->condition = xbase::Expression::compile(order->forExpression, fields, cp);
        } catch (const EADSDatabaseError&) {
            order->supported = false; // still walkable as stored; not maintained
        }
        order->file = path;
        orders_.push_back(std::move(order));
    }
    // A table held exclusively is the program's own, about to change: every
    // tag is read now, as it will be written back.
    if (Exclusive)
        for (auto& order : orders_)
            ensureBuilt(*order);
}

void TAdsTable::Close() {
    if (!Active()) return;
    buffer_.clear();
    state_ = dsInactive;
    kes::FirstError error;
    error.run([&] {
        if (cdxDirty_) writeStructuralIndex();
    });
    error.run([&] { dbf_.close(); });
    orders_.clear();
    passingCapacity_ = 0;
    active_ = nullptr;
    fieldObjects_.clear();
    filterText_.clear();
    filter_ = xbase::Expression();
    recno_ = 0;
    eof_ = bof_ = true;
    notify(TableEvent::DataSetChanged);
    error.rethrow();
}

const char* TAdsTable::currentRecord() const {
    if (state_ == dsEdit || state_ == dsInsert) return buffer_.data();
    if (recno_ != 0 && recno_ <= dbf_.recordCount()) {
        if (!dbf_.recordsHeld()) fail(AE_INVALID_VALUE, "The records are not held");
        return dbf_.record(recno_);
    }
    static thread_local std::string blank;
    blank.assign(dbf_.recordLength(), ' ');
    return blank.data();
}

const char* TAdsTable::recordAt(uint32_t recno) const {
    // A pending change of that record reads as it stands.
    if ((state_ == dsEdit || state_ == dsInsert) && recno == recno_) return buffer_.data();
    requireOpen("read a record");
    if (recno == 0 || recno > dbf_.recordCount())
        fail(AE_NO_CURRENT_RECORD, "Record " + std::to_string(recno) + " does not exist");
    if (!dbf_.recordsHeld()) fail(AE_INVALID_VALUE, "The records are not held");
    return dbf_.record(recno);
}

char* TAdsTable::editBuffer() {
    if (state_ != dsEdit && state_ != dsInsert)
        fail(AE_INVALID_VALUE, "The table is not in edit or insert mode");
    return buffer_.data();
}

TField& TAdsTable::Fields(int index) {
    requireOpen("read a field");
    if (index < 0 || index >= FieldCount()) fail(AE_COLUMN_NOT_FOUND, "Field number out of range");
    return fieldObjects_[static_cast<size_t>(index)];
}

TField* TAdsTable::FindField(std::string_view name) {
    if (!Active()) return nullptr;
    int i = xbase::findField(dbf_.fields(), name);
    return i < 0 ? nullptr : &fieldObjects_[static_cast<size_t>(i)];
}

TField& TAdsTable::FieldByName(std::string_view name) {
    requireOpen("read a field");
    TField* f = FindField(name);
    if (!f) fail(AE_COLUMN_NOT_FOUND, "Field '" + std::string(name) + "' not found");
    return *f;
}

void TAdsTable::Edit() {
    requireRecord("edit");
    if (state_ == dsEdit || state_ == dsInsert) return;
    buffer_.assign(dbf_.record(recno_), dbf_.recordLength());
    state_ = dsEdit;
    notify(TableEvent::StateChanged);
}

void TAdsTable::Append() {
    requireOpen("append");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    buffer_.assign(dbf_.recordLength(), ' ');
    state_ = dsInsert;
    notify(TableEvent::StateChanged);
}

void TAdsTable::Post() {
    requireOpen("post");
    if (state_ == dsEdit) {
        const char* old = dbf_.record(recno_);
        for (auto& o : orders_) {
            if (o->dirty) {
                if (!o->ntx) cdxDirty_ = true;
                continue;
            }
            bool changed;
            if (o->keyField >= 0) {
                const FieldDef& f = dbf_.fields()[static_cast<size_t>(o->keyField)];
                changed = std::memcmp(old + f.offset, buffer_.data() + f.offset, f.length) != 0;
            } else {
                changed = !o->supported ||
                          keyFor(*o, RecordView{old, recno_}) !=
                              keyFor(*o, RecordView{buffer_.data(), recno_}) ||
                          o->condition.valid();
            }
            if (changed) {
                o->dirty = true;
                o->positionsValid = false;
                if (!o->ntx) cdxDirty_ = true;
            }
        }
        dbf_.writeRecord(recno_, buffer_.data());
        state_ = dsBrowse;
        buffer_.clear();
        if (WriteThrough) SaveToDisk();
        notify(TableEvent::RecordChanged);
    } else if (state_ == dsInsert) {
        uint32_t recno = dbf_.appendRecord(buffer_.data());
        state_ = dsBrowse;
        buffer_.clear();
        markOrdersDirty();
        recno_ = recno;
        eof_ = bof_ = false;
        if (!active_) position_ = recno - 1;
        if (WriteThrough) SaveToDisk();
        notify(TableEvent::DataSetChanged);
    }
}

void TAdsTable::SaveToDisk() {
    requireOpen("write the table");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    // The records first: the index is rebuilt from them when it is behind,
    // never the other way round.
    dbf_.flushToDisk();
    if (cdxDirty_) writeStructuralIndex();
}

char* TAdsTable::AppendArea(size_t maxCount) {
    requireOpen("append");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    return dbf_.appendArea(maxCount);
}

void TAdsTable::CommitAppended(size_t count) {
    if (count == 0) return;
    dbf_.commitAppended(count);
    markOrdersDirty();
    recno_ = dbf_.recordCount();
    eof_ = bof_ = false;
    if (!active_) position_ = recno_ - 1;
    notify(TableEvent::DataSetChanged);
}

void TAdsTable::StartAppendingThrough(size_t expected) {
    requireOpen("append");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    for (auto& o : orders_) {
        if (o->ntx || o->keyField < 0 || o->keyType != ValueType::Character || o->condition.valid())
            fail(AE_INVALID_VALUE,
                 "The order " + o->name + " cannot gather its keys from records passing through");
        o->passingKeys = std::make_unique<xbase::KeySorter>(
            o->keyLength, static_cast<size_t>(dbf_.recordCount()) + expected);
        // The records the table holds already come first.
        const xbase::FieldDef& field = dbf_.fields()[static_cast<size_t>(o->keyField)];
        for (uint32_t r = 1; r <= dbf_.recordCount(); ++r)
            putPassingKey(*o, field, dbf_.record(r), r);
    }
    passingCapacity_ = static_cast<size_t>(dbf_.recordCount()) + expected;
}

void TAdsTable::putPassingKey(Order& order, const xbase::FieldDef& field, const char* record,
                              uint32_t recno) {
    unsigned char* out = order.passingKeys->add(recno);
    const size_t take = std::min<size_t>(field.length, order.keyLength);
    std::memcpy(out, record + field.offset, take);
    std::memset(out + take, ' ', order.keyLength - take);
}

void TAdsTable::AppendThrough(const char* records, size_t count) {
    requireOpen("append");
    if (count == 0) return;
    if (dbf_.recordCount() + count > passingCapacity_)
        fail(AE_INVALID_VALUE, "More records appended through than were announced");
    const uint32_t first = dbf_.recordCount() + 1;
    const size_t length = dbf_.recordLength();
    for (auto& o : orders_) {
        if (!o->passingKeys)
            fail(AE_INVALID_VALUE, "Appending through was not started on this table");
        const xbase::FieldDef& field = dbf_.fields()[static_cast<size_t>(o->keyField)];
        for (size_t i = 0; i < count; ++i)
            putPassingKey(*o, field, records + i * length, first + static_cast<uint32_t>(i));
    }
    dbf_.appendWrittenThrough(records, count);
    markOrdersDirty();
}

void TAdsTable::WriteAndReleaseRecords(bool pack) {
    requireOpen("write the records");
    if (pack && dbf_.mode() != xbase::OpenMode::Exclusive)
        fail(AE_NOT_EXCLUSIVE, "The table must be opened exclusively to be packed");
    Cancel();
    if (pack) {
        kes::StepTimer step("pack records");
        dbf_.pack(false);
    }
    {
        kes::StepTimer step("write records");
        dbf_.letGoOfRecords();
    }
    markOrdersDirty();
    recno_ = 0;
    position_ = 0;
    eof_ = bof_ = true;
}

void TAdsTable::Cancel() {
    if (state_ == dsEdit || state_ == dsInsert) {
        state_ = Active() ? dsBrowse : dsInactive;
        buffer_.clear();
        notify(TableEvent::StateChanged);
    }
}

void TAdsTable::Delete() {
    requireOpen("delete");
    if (state_ == dsInsert) {
        Cancel();
        return;
    }
    // A pending change of the record is discarded, not stored.
    Cancel();
    requireRecord("delete");
    dbf_.setDeleted(recno_, true);
    if (WriteThrough) SaveToDisk();
    notify(TableEvent::RecordChanged);
}

char* TAdsTable::RecordsForChange(uint32_t first, uint32_t last) {
    requireOpen("change records");
    if (dbf_.mode() != xbase::OpenMode::Exclusive)
        fail(AE_NOT_EXCLUSIVE, "The table must be opened exclusively to change records in place");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    return dbf_.recordsForChange(first, last);
}

void TAdsTable::RecordsChanged(uint32_t first, uint32_t last) {
    requireOpen("change records");
    dbf_.recordsChanged(first, last);
    markOrdersDirty();
    notify(TableEvent::DataSetChanged);
}

bool TAdsTable::IsDeleted() const {
    return Active() && recno_ != 0 && dbf_.isDeleted(recno_);
}

void TAdsTable::DisableControls() {
    ++disableCount_;
}

void TAdsTable::EnableControls() {
    if (disableCount_ > 0 && --disableCount_ == 0) notify(TableEvent::DataSetChanged);
}

int TAdsTable::AddListener(std::function<void(TableEvent)> listener) {
    listeners_.emplace_back(nextListenerId_, std::move(listener));
    return nextListenerId_++;
}

void TAdsTable::RemoveListener(int id) {
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                    [id](const auto& l) { return l.first == id; }),
                     listeners_.end());
}

void TAdsTable::notify(TableEvent event) {
    if (disableCount_ > 0) return;
    for (auto& l : listeners_)
        l.second(event);
}

void TAdsTable::FlushRecord() {
    requireOpen("write the table");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (cdxDirty_) writeStructuralIndex();
    dbf_.flush();
}

void TAdsTable::AdsCreateTable(const std::string& path, TAdsTableType type, TAdsCharType charSet,
                               int /*memoBlockSize*/, const std::string& fieldList) {
    std::vector<FieldDef> fields = xbase::parseFieldList(fieldList);
    const kes::CodePage cp = charSet == ANSI ? kes::CodePage::Windows1252 : kes::CodePage::Oem437;
    xbase::DbfFile::create(path, fields, cp, false);
    if (type != ttAdsNTX) {
        // A structural index left from an earlier table of this name never fits the new one.
        std::string dir = kes::directoryOf(path);
        kes::deleteFile(dir + kes::baseNameOf(path) + ".cdx");
    }
}
