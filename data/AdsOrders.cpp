// TAdsTable's index orders: built from the records and checked against them,
// the structural index written, NTX files opened and tags created, and the
// exact, prefix and batch seeks through a hash of each order's keys.
#include "data/AdsTablePrivate.h"

#include "common/Parallel.h"
#include "common/Paths.h"
#include "common/StepTimer.h"
#include "common/Text.h"
#include "data/ByteBuffer.h"
#include "data/IndexCheck.h"
#include "data/KeySorter.h"
#include "data/cdx.h"
#include "data/ntx.h"

#include <algorithm>
#include <cstring>

using xbase::FieldDef;
using xbase::RecordView;
using xbase::Value;
using xbase::ValueType;
using namespace xbase::tabledetail;

std::string TAdsTable::indexMismatch(const Order& order,
                                     xbase::RawVector<uint32_t>* entryOf) const {
    // One reading state per thread of the check.
    xbase::RecordScan scan(dbf_), secondScan(dbf_);
    xbase::IndexShape shape;
    shape.unique = order.unique;
    shape.descending = order.descending;
    shape.hasCondition = order.condition.valid();
    std::function<bool(uint32_t, const unsigned char*, int)> keyIs;
    if (order.keyField >= 0 && order.keyType == ValueType::Character) {
        // A text field is its own key, blank-padded or cut to the key length.
        const FieldDef& f = dbf_.fields()[static_cast<size_t>(order.keyField)];
        const size_t length = order.keyLength;
        const size_t take = std::min<size_t>(f.length, length);
        keyIs = [&scan, &secondScan, &f, length, take](uint32_t recno, const unsigned char* key,
                                                       int part) {
            const char* field = (part == 0 ? scan : secondScan).record(recno) + f.offset;
            if (std::memcmp(field, key, take) != 0) return false;
            for (size_t i = take; i < length; ++i)
                if (key[i] != ' ') return false;
            return true;
        };
    }
    return xbase::indexDisagreement(
        order.entries, shape, dbf_.recordCount(),
        [&](uint32_t recno) { return keyFor(order, scan.view(recno)); },
        [&](uint32_t recno) { return order.condition.test(scan.view(recno)); }, keyIs,
        dbf_.recordCount() > 50000 ? 2 : 1, entryOf);
}

void TAdsTable::ensureBuilt(Order& order) {
    if (!order.loaded() && !order.dirty) {
        try {
            order.cdx->readEntries(order.cdxTag, order.entries);
        } catch (...) {
            order.entries.clear(); // nothing half read is ever used
            throw;
        }
        order.cdx.reset(); // the file goes with the last tag read from it
        // A tag whose keys do not fit its table (the table changed while the
        // index was not written, say after a crash, or the file is damaged)
        // is rebuilt from the records rather than trusted.
        if (order.supported) {
            // The check maps every record to its entry: the positions that
            // moving to a record needs, ready at no further cost.
            xbase::RawVector<uint32_t> positions;
            if (indexMismatch(order, &positions).empty()) {
                order.positionOf = std::move(positions);
                order.positionsValid = true;
            } else {
                order.dirty = true;
                if (Exclusive) cdxDirty_ = true;
            }
        }
    }
    if (order.dirty) buildOrders({&order});
}

std::string TAdsTable::keyFor(const Order& order, const RecordView& record) const {
    if (order.keyField >= 0 && order.keyType == ValueType::Character) {
        const FieldDef& f = dbf_.fields()[static_cast<size_t>(order.keyField)];
        std::string key(record.data + f.offset, std::min<size_t>(f.length, order.keyLength));
        key.resize(order.keyLength, ' ');
        return key;
    }
    if (order.keyField >= 0 && !order.ntx) {
        // One field: read it straight from the record.
        const FieldDef& f = dbf_.fields()[static_cast<size_t>(order.keyField)];
        std::string_view raw(record.data + f.offset, f.length);
        switch (order.keyType) {
        case ValueType::Date: {
            bool empty = false;
            kes::Date d = dateFromRaw(raw, &empty);
            return xbase::cdxKey(Value::fromDate(d.days(), empty), order.keyLength);
        }
        case ValueType::Numeric:
            if (f.type == 'N' || f.type == 'F')
                return xbase::cdxKey(Value::numeric(numberValue(raw)), order.keyLength);
            break;
        case ValueType::Logical:
            return xbase::cdxKey(Value::boolean(logicalFromByte(raw[0])), order.keyLength);
        default:
            break;
        }
    }
    Value v = order.key.evaluate(record);
    return order.ntx ? xbase::ntxKey(v, order.keyLength, order.decimals)
                     : xbase::cdxKey(v, order.keyLength);
}

namespace {

// The keys of the dates met last, by their eight raw bytes: a table's dates
// repeat (a testing period has a few hundred days), and a key found here is
// the one the record would give.
class DateKeyCache {
  public:
    // The key of `raw` when it is known, else nullptr.
    const unsigned char* find(const char* raw) {
        uint64_t r;
        std::memcpy(&r, raw, 8);
        slot_ = static_cast<size_t>((r * 0x9E3779B97F4A7C15ull) >> 56);
        return used_[slot_] && raw_[slot_] == r ? key_[slot_] : nullptr;
    }
    // Remembers the key of the raw bytes last given to find().
    void store(const char* raw, const unsigned char* key) {
        std::memcpy(&raw_[slot_], raw, 8);
        std::memcpy(key_[slot_], key, 8);
        used_[slot_] = true;
    }

  private:
    size_t slot_ = 0;
    uint64_t raw_[256] = {};
    unsigned char key_[256][8] = {};
    bool used_[256] = {};
};

} // namespace

void TAdsTable::buildOrders(const std::vector<Order*>& orders) {
    // `threads` 2: the sort may share its work with a second thread.
    auto build = [this](Order* order, int threads) {
        if (!order->supported) {
            order->dirty = false;
            return;
        }
        if (order->passingKeys) {
            // The keys were gathered as the records went through to the file.
            xbase::KeyEntries e;
            order->passingKeys->sortInto(e, order->descending, threads);
            order->passingKeys.reset();
            if (order->unique) dropDuplicateKeys(e);
            order->entries = std::move(e);
            order->cdx.reset();
            order->dirty = false;
            order->positionsValid = false;
            order->slots.clear();
            return;
        }
        const uint32_t n = dbf_.recordCount();
        const uint16_t keyLength = order->keyLength;
        xbase::KeySorter sorter(keyLength, n);
        const bool plainCharacter = order->keyField >= 0 && order->keyType == ValueType::Character;
        const FieldDef* field =
            order->keyField >= 0 ? &dbf_.fields()[static_cast<size_t>(order->keyField)] : nullptr;
        const bool plainDate = field && !order->ntx && order->keyType == ValueType::Date &&
                               field->length == 8 && keyLength == 8;
        DateKeyCache dates;
        // Records let go of are read from the file a piece at a time.
        const bool held = dbf_.recordsHeld();
        xbase::RecordScan scan(dbf_);
        for (uint32_t r = 1; r <= n; ++r) {
            RecordView view = held ? dbf_.view(r) : scan.view(r);
            if (order->condition.valid() && !order->condition.test(view)) continue;
            unsigned char* out = sorter.add(r);
            if (plainCharacter) {
                size_t take = std::min<size_t>(field->length, keyLength);
                std::memcpy(out, view.data + field->offset, take);
                std::memset(out + take, ' ', keyLength - take);
            } else if (plainDate) {
                const char* raw = view.data + field->offset;
                if (const unsigned char* known = dates.find(raw)) {
                    std::memcpy(out, known, 8);
                } else {
                    std::string key = keyFor(*order, view);
                    std::memcpy(out, key.data(), 8);
                    dates.store(raw, out);
                }
            } else {
                std::string key = keyFor(*order, view);
                std::memcpy(out, key.data(), keyLength);
            }
        }
        xbase::KeyEntries e;
        sorter.sortInto(e, order->descending, threads);
        if (order->unique) dropDuplicateKeys(e);
        order->entries = std::move(e);
        order->cdx.reset();
        order->dirty = false;
        order->positionsValid = false;
        order->slots.clear();
    };
    std::vector<Order*> todo;
    for (Order* o : orders)
        if (o) todo.push_back(o);
    if (todo.empty()) return;
    kes::StepTimer step("build tags");
    const bool large = dbf_.recordCount() > 50000;
    if (todo.size() > 1 && large) {
        // Two cores: the tags are independent, so two workers take them in
        // turn. No more than two builds hold their sort buffers at once.
        kes::runJobs(todo.size(), true, [&](size_t i) { build(todo[i], 1); });
    } else {
        // One large tag shares its sort with the second core.
        for (Order* o : todo)
            build(o, large ? 2 : 1);
    }
}

void TAdsTable::writeStructuralIndex() {
    // Tags not read yet are written back as the file holds them; one that
    // cannot be read is built anew from the records.
    for (auto& o : orders_)
        if (!o->ntx && !o->loaded() && !o->dirty) {
            try {
                ensureBuilt(*o);
            } catch (const EADSDatabaseError&) {
                if (!o->supported) throw; // nothing to build it from
                o->dirty = true;
                o->cdx.reset(); // the old file is let go before it is replaced
            }
        }
    std::vector<Order*> dirty;
    for (auto& o : orders_)
        if (!o->ntx && o->dirty) dirty.push_back(o.get());
    buildOrders(dirty);
    // The entries move into the tags for the write and back after it, so
    // that the orders stay usable without a copy of every key.
    std::vector<xbase::CdxTag> tags;
    std::vector<Order*> written;
    for (auto& o : orders_) {
        if (o->ntx) continue;
        xbase::CdxTag tag;
        tag.name = o->name;
        tag.keyExpression = o->keyExpression;
        tag.forExpression = o->forExpression;
        tag.keyType = o->keyType;
        tag.unique = o->unique;
        tag.descending = o->descending;
        tag.entries = std::move(o->entries);
        tags.push_back(std::move(tag));
        written.push_back(o.get());
    }
    auto giveBack = [&] {
        for (size_t i = 0; i < written.size(); ++i)
            written[i]->entries = std::move(tags[i].entries);
    };
    try {
        std::string path = kes::resolveForWriting(structuralIndexPath());
        kes::StepTimer step("write tags");
        if (tags.empty()) {
            kes::deleteFile(path);
        } else {
            xbase::writeCdx(path, tags);
        }
    } catch (...) {
        giveBack();
        throw;
    }
    giveBack();
    cdxDirty_ = false;
}

void TAdsTable::WriteIndexes() {
    requireOpen("write the indexes");
    if (cdxDirty_) writeStructuralIndex();
}

void TAdsTable::markOrdersDirty() {
    for (auto& o : orders_) {
        o->dirty = true;
        o->positionsValid = false;
        if (!o->ntx) cdxDirty_ = true;
    }
}

std::string TAdsTable::IndexName() const {
    return active_ ? active_->name : std::string();
}

std::vector<std::string> TAdsTable::IndexNames() const {
    std::vector<std::string> names;
    for (auto& o : orders_)
        names.push_back(o->name);
    return names;
}

void TAdsTable::SetIndexName(const std::string& name) {
    if (!Active()) {
        if (!name.empty())
            throw EADSDatabaseError(AE_TABLE_NOT_OPEN,
                                    "Cannot select the order " + name +
                                        ": the table is not open: " + DataFilePath());
        return;
    }
    if (state_ == dsEdit || state_ == dsInsert) Post();
    Order* found = nullptr;
    if (!name.empty()) {
        for (auto& o : orders_)
            if (kes::equalsIgnoreCase(o->name, name)) {
                found = o.get();
                break;
            }
        if (!found) fail(AE_TAG_NOT_FOUND, "Index order '" + name + "' not found");
        ensureBuilt(*found); // a tag that cannot be read never becomes the order
    }
    active_ = found;
    if (recno_ != 0)
        positionOn(recno_);
    else
        First();
    notify(TableEvent::DataSetChanged);
}

void TAdsTable::AdsOpenIndex(const std::string& ntxPath) {
    requireOpen("open an index");
    std::string path = kes::resolveCaseInsensitive(ntxPath);
    if (path.empty())
        throw EADSDatabaseError(AE_FILE_NOT_FOUND, "Index file not found: " + ntxPath);
    auto order = std::make_unique<Order>();
    xbase::NtxInfo info = xbase::readNtx(path, order->entries);
    order->name = kes::toUpperAscii(kes::baseNameOf(ntxPath));
    order->ntx = true;
    order->keyExpression = info.keyExpression;
    order->forExpression = info.forExpression;
    order->keyLength = info.keyLength;
    order->decimals = info.keyDecimals;
    order->unique = info.unique;
    order->descending = info.descending;
    try {
        order->key = xbase::Expression::compile(info.keyExpression, dbf_.fields(), dbf_.codePage());
        order->keyType = order->key.type();
        order->keyField = order->key.singleField();
        if (!info.forExpression.empty())
            order->condition =
                xbase::Expression::compile(info.forExpression, dbf_.fields(), dbf_.codePage());
    } catch (const EADSDatabaseError& e) {
        throw EADSDatabaseError(AE_CORRUPT_INDEX,
                                std::string("The index key does not fit the table (") + e.what() +
                                    "): " + path);
    }
    order->file = path;
    // The testing system's index files are only read: one that does not fit
    // its table would find the wrong records, so it is refused by name.
    if (order->keyType == ValueType::Character) {
        const size_t width =
            order->key.evaluate(RecordView{dbf_.blankRecord().c_str(), 1}).str.size();
        if (width != order->keyLength)
            throw EADSDatabaseError(AE_CORRUPT_INDEX,
                                    "The index file " + path + " is damaged: its key length " +
                                        std::to_string(order->keyLength) +
                                        " does not fit the key " + order->keyExpression + " of " +
                                        std::to_string(width) + " characters.");
    }
    const std::string mismatch = indexMismatch(*order);
    if (!mismatch.empty())
        throw EADSDatabaseError(AE_CORRUPT_INDEX, "The index file " + path +
                                                      " does not fit its table " + dbf_.path() +
                                                      ": " + mismatch + ".");
    for (auto it = orders_.begin(); it != orders_.end(); ++it)
        if (kes::equalsIgnoreCase((*it)->name, order->name)) {
            if (active_ == it->get()) active_ = nullptr;
            orders_.erase(it);
            break;
        }
    orders_.push_back(std::move(order));
}

void TAdsTable::AdsCreateIndex61(const std::string& indexFile, const std::string& tag,
                                 const std::string& expression, const std::string& condition,
                                 const std::string& whileCondition, uint32_t options) {
    requireOpen("create an index");
    if (!indexFile.empty() &&
        !kes::equalsIgnoreCase(kes::baseNameOf(indexFile), kes::baseNameOf(dbf_.path())))
        fail(AE_CREATE_FAILED,
             "Only the structural index file can hold new tags (" + indexFile + ")");
    if (!whileCondition.empty()) fail(AE_CREATE_FAILED, "A while condition is not supported");
    std::string name = kes::toUpperAscii(kes::trimBlanksAndControls(tag));
    if (name.empty() || name.size() > 10) fail(AE_CREATE_FAILED, "Invalid tag name '" + tag + "'");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    auto order = std::make_unique<Order>();
    order->name = name;
    order->keyExpression = expression;
    order->forExpression = condition;
    try {
        order->key = xbase::Expression::compile(expression, dbf_.fields(), dbf_.codePage());
        if (!condition.empty())
            order->condition =
                xbase::Expression::compile(condition, dbf_.fields(), dbf_.codePage());
    } catch (const EADSDatabaseError& e) {
        throw EADSDatabaseError(e.Number(), std::string(e.what()) + ": " + dbf_.path());
    }
    order->keyType = order->key.type();
    order->keyField = order->key.singleField();
    uint16_t width = 0;
    if (order->keyType == ValueType::Character) {
        Value sample = order->key.evaluate(RecordView{currentRecord(), recno_ ? recno_ : 1});
        width = static_cast<uint16_t>(sample.str.size());
        if (width == 0 || width > 240)
            fail(AE_CREATE_FAILED, "Invalid key length for " + expression);
    }
    order->keyLength = xbase::cdxKeyLength(order->keyType, width);
    order->unique = (options & ADS_UNIQUE) != 0;
    order->descending = (options & ADS_DESCENDING) != 0;
    order->dirty = true;
    Order* created = order.get();
    for (auto it = orders_.begin(); it != orders_.end(); ++it)
        if (!(*it)->ntx && kes::equalsIgnoreCase((*it)->name, name)) {
            if (active_ == it->get()) active_ = nullptr;
            orders_.erase(it);
            break;
        }
    orders_.push_back(std::move(order));
    buildOrders({created});
    cdxDirty_ = true;
    // The file exists from the first tag on; later tags reach it at the next
    // flush or close, together with every other change of the orders.
    if (WriteThrough || kes::resolveCaseInsensitive(structuralIndexPath()).empty())
        writeStructuralIndex();
    dbf_.setStructuralCdxFlag(true);
    if (WriteThrough) dbf_.flushToDisk();
}

namespace {

// Whether `length` bytes are the same in both places: keys are short, and
// compared a word at a time without a call.
bool sameBytes(const void* a, const void* b, size_t length) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (; length >= 8; x += 8, y += 8, length -= 8) {
        uint64_t u, v;
        std::memcpy(&u, x, 8);
        std::memcpy(&v, y, 8);
        if (u != v) return false;
    }
    for (; length > 0; --length)
        if (*x++ != *y++) return false;
    return true;
}

// Eight bytes at a time, each mixed in with a multiply, the last few byte by
// byte; the high bits are folded into the low ones that pick the slot.
uint64_t hashKey(const unsigned char* key, size_t length) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    uint64_t h = length * kMultiplier;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, key + i, 8);
        h = (h ^ word) * kMultiplier;
        h ^= h >> 32;
    }
    uint64_t tail = 0;
    for (unsigned shift = 0; i < length; ++i, shift += 8)
        tail |= uint64_t{key[i]} << shift;
    h = (h ^ tail) * kMultiplier;
    h ^= h >> 32;
    h *= kMultiplier;
    return h ^ (h >> 29);
}

} // namespace

// Exact finds go through a hash of the distinct keys, each naming the first
// entry that carries it: a seek then touches two places in memory where a
// binary search over a large order waits for twenty.
size_t TAdsTable::Order::hashOf(const unsigned char* bytes) const {
    return static_cast<size_t>(hashKey(bytes, keyLength));
}

size_t TAdsTable::Order::firstEntryWithKey(const unsigned char* sought) {
    const size_t n = entries.size();
    const size_t len = keyLength;
    if (slots.empty() && n > 0) {
        size_t capacity = 16;
        while (capacity < 2 * n)
            capacity *= 2;
        slots.assign(capacity, 0);
        for (size_t i = 0; i < n; ++i) {
            if (i > 0 && sameBytes(entries.key(i), entries.key(i - 1), len)) continue;
            size_t slot = hashKey(entries.key(i), len) & (capacity - 1);
            while (slots[slot] != 0)
                slot = (slot + 1) & (capacity - 1);
            slots[slot] = static_cast<uint32_t>(i + 1);
        }
    }
    if (slots.empty() || !sought) return n;
    return firstEntryFromSlot(hashKey(sought, len) & (slots.size() - 1), sought);
}

size_t TAdsTable::Order::firstEntryFromSlot(size_t slot, const unsigned char* sought) const {
    if (slots.empty()) return entries.size();
    const size_t mask = slots.size() - 1;
    for (; slots[slot] != 0; slot = (slot + 1) & mask) {
        const size_t i = slots[slot] - 1;
        if (sameBytes(entries.key(i), sought, keyLength)) return i;
    }
    return entries.size();
}

uint32_t TAdsTable::firstVisibleWithKey(const std::string& key, size_t* position) const {
    return firstVisibleFrom(
        active_->firstEntryWithKey(reinterpret_cast<const unsigned char*>(key.data())), key,
        position);
}

uint32_t TAdsTable::firstVisibleFrom(size_t lo, const std::string& key, size_t* position) const {
    const Order& o = *active_;
    const auto& e = o.entries;
    const size_t len = o.keyLength;
    // The record found must carry the key sought: an entry pointing at
    // another record would hand the caller somebody else's data.
    const FieldDef* textField = o.keyField >= 0 && o.keyType == ValueType::Character
                                    ? &dbf_.fields()[static_cast<size_t>(o.keyField)]
                                    : nullptr;
    auto carriesKey = [&](uint32_t recno) {
        if (!textField) return keyFor(o, dbf_.view(recno)).compare(0, len, key, 0, len) == 0;
        // A text field is its own key, blank-padded or cut to the key length.
        const size_t take = std::min<size_t>(textField->length, len);
        if (!sameBytes(dbf_.record(recno) + textField->offset, key.data(), take)) return false;
        return key.find_first_not_of(' ', take) == std::string::npos;
    };
    // The first entry carries the key already.
    for (size_t i = lo; i < e.size() && (i == lo || sameBytes(e.key(i), key.data(), len)); ++i) {
        if (e.recnos[i] == 0 || e.recnos[i] > dbf_.recordCount() || !carriesKey(e.recnos[i]))
            throw EADSDatabaseError(AE_CORRUPT_INDEX,
                                    "The index " + (o.file.empty() ? o.name : o.file) +
                                        " does not fit its table " + dbf_.path() + ": record " +
                                        std::to_string(e.recnos[i]) +
                                        " does not carry the key its entry holds.");
        if (!visible(e.recnos[i])) continue;
        if (position) *position = i;
        return e.recnos[i];
    }
    return 0;
}

// A found entry is confirmed against its record's key, which a tag whose
// expression does not compile cannot give.
void TAdsTable::requireSearchable(const Order& order) const {
    if (!order.supported)
        throw EADSDatabaseError(AE_EXPRESSION_ERROR, "The index tag " + order.name +
                                                         " cannot be searched: its key "
                                                         "expression \"" +
                                                         order.keyExpression +
                                                         "\" cannot be read: " + order.file);
}

bool TAdsTable::seekKey(const std::string& key) {
    requireSearchable(*active_);
    size_t position = 0;
    const uint32_t recno = firstVisibleWithKey(key, &position);
    if (recno == 0) return false;
    position_ = position;
    recno_ = recno;
    eof_ = bof_ = false;
    notify(TableEvent::ScrollChanged);
    return true;
}

std::string TAdsTable::findKeyFor(std::string_view value) const {
    const Order& o = *active_;
    if (o.keyType == ValueType::Character && kes::isAscii(value)) {
        // Plain ASCII reads the same in every code page: the key is the text
        // itself, blank-padded or cut to the key length.
        std::string key(value.substr(0, o.keyLength));
        key.resize(o.keyLength, ' ');
        return key;
    }
    Value v;
    switch (o.keyType) {
    case ValueType::Character:
        v = Value::character(kes::fromUtf8(value, dbf_.codePage()));
        break;
    case ValueType::Date: {
        auto d = kes::Date::fromShortText(value);
        if (!d) d = kes::Date::fromYyyymmdd(value);
        v = d ? Value::fromDate(d->days()) : Value::fromDate(0, true);
        break;
    }
    case ValueType::Numeric:
        v = Value::numeric(numberValue(value));
        break;
    case ValueType::Logical:
        v = Value::boolean(
            !value.empty() &&
            logicalFromByte(kes::trimLeft(value).empty() ? ' ' : kes::trimLeft(value)[0]));
        break;
    }
    return o.ntx ? xbase::ntxKey(v, o.keyLength, o.decimals) : xbase::cdxKey(v, o.keyLength);
}

bool TAdsTable::FindKey(std::string_view value) {
    requireOpen("find a key");
    if (!active_) fail(AE_NO_INDEX, "No index order is active for a find");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    ensureBuilt(*active_);
    return seekKey(findKeyFor(value));
}

xbase::RawVector<uint32_t> TAdsTable::FindKeyRecNos(const std::vector<std::string_view>& values) {
    return FindKeyRecNos(values.size(),
                         [&values](size_t i, std::string& text) { text.assign(values[i]); });
}

xbase::RawVector<uint32_t>
TAdsTable::FindKeyRecNos(size_t count, const std::function<void(size_t, std::string&)>& textAt,
                         const std::function<void(size_t, uint32_t)>& onFound) {
    requireOpen("find a key");
    if (!active_) fail(AE_NO_INDEX, "No index order is active for a find");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    requireSearchable(*active_);
    ensureBuilt(*active_);
    Order& o = *active_;
    o.firstEntryWithKey(nullptr); // the hash is built before any thread reads it
    xbase::RawVector<uint32_t> found(count, 0);
    // Each seek runs in steps a few seeks apart, each step fetching what the
    // next one reads: the slot of the hash, the entry, the record. Only the
    // last step decides, exactly as FindKey does.
    auto seekRange = [&](size_t from, size_t to) {
        constexpr size_t kAhead = 8, kRing = 32;
        struct Pending {
            std::string key;
            size_t slot = 0;
            size_t entry = 0;
        };
        std::vector<Pending> ring(kRing);
        std::string text;
        const size_t mask = o.slots.size() - 1;
        for (size_t j = from; j < to + 3 * kAhead; ++j) {
            if (j < to) {
                Pending& p = ring[j % kRing];
                textAt(j, text);
                p.key = findKeyFor(text);
                p.slot =
                    o.slots.empty()
                        ? 0
                        : o.hashOf(reinterpret_cast<const unsigned char*>(p.key.data())) & mask;
                if (!o.slots.empty()) prefetch(&o.slots[p.slot]);
            }
            if (j >= from + kAhead && j - kAhead < to && !o.slots.empty()) {
                Pending& p = ring[(j - kAhead) % kRing];
                p.entry = o.slots[p.slot];
                if (p.entry != 0) {
                    prefetch(o.entries.key(p.entry - 1));
                    prefetch(&o.entries.recnos[p.entry - 1]);
                }
            }
            if (j >= from + 2 * kAhead && j - 2 * kAhead < to) {
                const Pending& p = ring[(j - 2 * kAhead) % kRing];
                if (p.entry != 0) {
                    const uint32_t recno = o.entries.recnos[p.entry - 1];
                    if (recno >= 1 && recno <= dbf_.recordCount()) prefetch(dbf_.record(recno));
                }
            }
            if (j >= from + 3 * kAhead) {
                const size_t k = j - 3 * kAhead;
                const Pending& p = ring[k % kRing];
                const size_t first = o.firstEntryFromSlot(
                    p.slot, reinterpret_cast<const unsigned char*>(p.key.data()));
                found[k] = firstVisibleFrom(first, p.key, nullptr);
                if (found[k] != 0 && onFound) onFound(k, found[k]);
            }
        }
    };
    // Two threads only where every step reads and nothing evaluates an
    // expression: a text key of one field and no filter.
    const bool plain = o.keyField >= 0 && o.keyType == ValueType::Character && !filter_.valid();
    if (plain && count >= 100000) {
        const size_t half = count / 2;
        kes::runBoth([&] { seekRange(0, half); }, [&] { seekRange(half, count); });
    } else {
        seekRange(0, count);
    }
    return found;
}

// A date, number or logical key: its bytes in the active order's form.
bool TAdsTable::findValue(const Value& v) {
    requireOpen("find a key");
    if (!active_) fail(AE_NO_INDEX, "No index order is active for a find");
    ensureBuilt(*active_);
    const Order& o = *active_;
    return seekKey(o.ntx ? xbase::ntxKey(v, o.keyLength, o.decimals)
                         : xbase::cdxKey(v, o.keyLength));
}

bool TAdsTable::FindKey(kes::Date value) {
    return findValue(Value::fromDate(value.days()));
}

bool TAdsTable::FindKey(double value) {
    return findValue(Value::numeric(value));
}

bool TAdsTable::FindKeyBool(bool value) {
    return findValue(Value::boolean(value));
}

bool TAdsTable::FindPrefix(std::string_view prefix) {
    requireOpen("find a key");
    if (!active_) fail(AE_NO_INDEX, "No index order is active for a find");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    ensureBuilt(*active_);
    Order& o = *active_;
    if (o.keyType != ValueType::Character)
        fail(AE_INVALID_VALUE, "The order " + o.name + " has no text keys to search");
    const std::string text = kes::fromUtf8(prefix, dbf_.codePage());
    // A key is blank-padded to its length: no key begins with a longer text
    // unless the rest is blanks.
    if (text.find_first_not_of(' ', o.keyLength) != std::string::npos) return false;
    const size_t n = std::min<size_t>(text.size(), o.keyLength);
    const auto& e = o.entries;
    // Keys that begin alike lie together in either direction of the order.
    auto before = [&](size_t i) {
        int c = std::memcmp(e.key(i), text.data(), n);
        return o.descending ? c > 0 : c < 0;
    };
    size_t lo = 0, hi = e.size();
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (before(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    for (size_t i = lo; i < e.size() && std::memcmp(e.key(i), text.data(), n) == 0; ++i) {
        if (!visible(e.recnos[i])) continue;
        position_ = i;
        recno_ = e.recnos[i];
        eof_ = bof_ = false;
        notify(TableEvent::ScrollChanged);
        return true;
    }
    return false;
}
