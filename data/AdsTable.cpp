#include "data/AdsTable.h"

#include "common/Paths.h"
#include "common/Text.h"
#include "data/buffer.h"
#include "data/cdx.h"
#include "data/ntx.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

using xbase::FieldDef;
using xbase::RecordView;
using xbase::Value;
using xbase::ValueType;

struct TAdsTable::Order {
    std::string name;
    bool ntx = false;
    std::string keyExpression;
    std::string forExpression;
    xbase::Expression key;
    xbase::Expression condition;
    bool supported = true; // the key expression compiles against the table
    int keyField = -1;     // the field when the key is one field
    ValueType keyType = ValueType::Character;
    uint16_t keyLength = 0;
    uint16_t decimals = 0;
    bool unique = false;
    bool descending = false;
    xbase::KeyEntries entries;
    bool dirty = false;
    std::vector<uint32_t> positionOf; // recno -> position + 1 (0: not in the order)
    bool positionsValid = false;
    std::vector<uint64_t> prefixes; // first eight key bytes, for finds
};

namespace {

TAdsSettings& settings() {
    static TAdsSettings current;
    return current;
}

ValueType typeOfField(char t) {
    switch (t) {
    case 'D':
        return ValueType::Date;
    case 'L':
        return ValueType::Logical;
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y':
        return ValueType::Numeric;
    default:
        return ValueType::Character;
    }
}

double parseNumber(std::string_view s, bool* ok = nullptr) {
    s = kes::trimBlanksAndControls(s);
    if (s.empty()) {
        if (ok) *ok = false;
        return 0;
    }
    // Whole numbers, the common case, without the library's general parser.
    {
        size_t i = 0;
        bool negative = false;
        if (s[0] == '-' || s[0] == '+') {
            negative = s[0] == '-';
            i = 1;
        }
        if (i < s.size() && s.size() - i <= 15) {
            int64_t v = 0;
            size_t digits = 0;
            for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++digits)
                v = v * 10 + (s[i] - '0');
            if (i == s.size() && digits > 0) {
                if (ok) *ok = true;
                return static_cast<double>(negative ? -v : v);
            }
        }
    }
    char buf[64];
    size_t n = std::min(s.size(), sizeof buf - 1);
    std::memcpy(buf, s.data(), n);
    buf[n] = 0;
    char* end = nullptr;
    double v = std::strtod(buf, &end);
    bool good = end && end != buf && *end == 0 && std::isfinite(v);
    if (ok) *ok = good;
    return good ? v : 0;
}

// The number right-aligned in `width` with `decimals` decimals; asterisks when
// it does not fit, as xBase engines store an overflow.
std::string formatNumber(double value, int width, int decimals) {
    if (decimals == 0 && std::fabs(value) < 1e15) {
        std::string digits = std::to_string(std::llround(value));
        if (static_cast<int>(digits.size()) > width)
            return std::string(static_cast<size_t>(width), '*');
        return std::string(static_cast<size_t>(width) - digits.size(), ' ') + digits;
    }
    char buf[128];
    std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
    std::string s = buf;
    if (static_cast<int>(s.size()) > width) return std::string(static_cast<size_t>(width), '*');
    return s;
}

kes::Date dateFromRaw(std::string_view raw, bool* empty = nullptr) {
    auto d = kes::Date::fromYyyymmdd(raw);
    if (empty) *empty = !d.has_value();
    return d ? *d : kes::Date();
}

bool logicalFromByte(char c) {
    return c == 'T' || c == 't' || c == 'Y' || c == 'y' || c == '1';
}

// Sorts keys into index order: by key bytes (reversed when descending), equal
// keys by record number. The first sixteen key bytes are compared as two
// integers, so keys up to that length never reach memcmp.
// Keys of up to twelve bytes: the key and the record number fit two integers,
// and the sorted keys are read back from them.
void sortShortEntries(xbase::KeyEntries& e, bool descending) {
    const size_t n = e.size();
    const size_t len = e.keyLength;
    struct Item {
        uint64_t a, b; // key bytes 0-7; key bytes 8-11 and the record number
    };
    std::vector<Item> items;
    xbase::reserveLarge(items, n);
    items.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char* k = e.key(i);
        uint64_t a = 0, tail = 0;
        for (size_t b = 0; b < 8; ++b)
            a = (a << 8) | (b < len ? k[b] : 0);
        for (size_t b = 8; b < 12; ++b)
            tail = (tail << 8) | (b < len ? k[b] : 0);
        if (descending) {
            a = ~a;
            tail = ~tail & 0xFFFFFFFFu;
        }
        items[i] = Item{a, (tail << 32) | e.recnos[i]};
    }
    std::sort(items.begin(), items.end(),
              [](const Item& x, const Item& y) { return x.a != y.a ? x.a < y.a : x.b < y.b; });
    for (size_t i = 0; i < n; ++i) {
        uint64_t a = items[i].a, tail = items[i].b >> 32;
        if (descending) {
            a = ~a;
            tail = ~tail & 0xFFFFFFFFu;
        }
        unsigned char* k = e.keys.data() + i * len;
        for (size_t b = 0; b < len && b < 8; ++b)
            k[b] = static_cast<unsigned char>(a >> (56 - 8 * b));
        for (size_t b = 8; b < len; ++b)
            k[b] = static_cast<unsigned char>(tail >> (24 - 8 * (b - 8)));
        e.recnos[i] = static_cast<uint32_t>(items[i].b & 0xFFFFFFFFu);
    }
}

void sortEntries(xbase::KeyEntries& e, bool descending) {
    if (e.keyLength <= 12) {
        sortShortEntries(e, descending);
        return;
    }
    const size_t n = e.size();
    const size_t len = e.keyLength;
    struct Item {
        uint64_t hi, lo;
        uint32_t recno, index;
    };
    std::vector<Item> items;
    xbase::reserveLarge(items, n);
    items.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char* k = e.key(i);
        uint64_t hi = 0, lo = 0;
        for (size_t b = 0; b < 8; ++b)
            hi = (hi << 8) | (b < len ? k[b] : 0);
        for (size_t b = 8; b < 16; ++b)
            lo = (lo << 8) | (b < len ? k[b] : 0);
        if (descending) {
            hi = ~hi;
            lo = ~lo;
        }
        items[i] = Item{hi, lo, e.recnos[i], static_cast<uint32_t>(i)};
    }
    const bool longKeys = len > 16;
    auto less = [&](const Item& a, const Item& b) {
        if (a.hi != b.hi) return a.hi < b.hi;
        if (a.lo != b.lo) return a.lo < b.lo;
        if (longKeys) {
            int c = std::memcmp(e.key(a.index) + 16, e.key(b.index) + 16, len - 16);
            if (c != 0) return descending ? c > 0 : c < 0;
        }
        return a.recno < b.recno;
    };
    std::sort(items.begin(), items.end(), less);
    xbase::KeyEntries sorted;
    sorted.keyLength = e.keyLength;
    xbase::reserveLarge(sorted.keys, e.keys.size());
    xbase::reserveLarge(sorted.recnos, n);
    sorted.keys.resize(e.keys.size());
    sorted.recnos.resize(n);
    for (size_t i = 0; i < n; ++i) {
        std::memcpy(sorted.keys.data() + i * len, e.key(items[i].index), len);
        sorted.recnos[i] = items[i].recno;
    }
    e = std::move(sorted);
}

uint64_t keyPrefix(const unsigned char* key, size_t len) {
    uint64_t p = 0;
    for (size_t b = 0; b < 8; ++b)
        p = (p << 8) | (b < len ? key[b] : 0);
    return p;
}

void dropDuplicateKeys(xbase::KeyEntries& e) {
    if (e.size() < 2) return;
    xbase::KeyEntries out;
    out.keyLength = e.keyLength;
    for (size_t i = 0; i < e.size(); ++i)
        if (i == 0 || std::memcmp(e.key(i), e.key(i - 1), e.keyLength) != 0)
            out.push(e.key(i), e.recnos[i]);
    e = std::move(out);
}

class SilentRetryPrompt : public RetryPrompt {
  public:
    void SetHourglass(bool) override {}
    bool AskRetry(const std::string&) override { return false; }
    void ShowCancelled(const std::string&) override {}
};

RetryPrompt* gDefaultPrompt = nullptr;
std::atomic<uint64_t> gOpenAttempts{0};

} // namespace

// ---------------------------------------------------------------- TField

const FieldDef& TField::def() const {
    return table_->dbf_.fields()[static_cast<size_t>(index_)];
}

std::string_view TField::raw() const {
    const FieldDef& f = def();
    return std::string_view(table_->currentRecord() + f.offset, f.length);
}

char* TField::writable() {
    return table_->editBuffer() + def().offset;
}

const std::string& TField::FieldName() const {
    return def().name;
}
char TField::TypeLetter() const {
    return def().type;
}
int TField::Size() const {
    return def().length;
}
int TField::Decimals() const {
    return def().decimals;
}

TFieldType TField::DataType() const {
    const FieldDef& f = def();
    switch (f.type) {
    case 'C':
        return ftString;
    case 'D':
        return ftDate;
    case 'L':
        return ftBoolean;
    case 'N':
        return f.decimals == 0 && f.length < 10 ? ftInteger : ftFloat;
    case 'F':
    case 'B':
    case 'Y':
        return ftFloat;
    case 'I':
        return ftInteger;
    case 'M':
        return ftMemo;
    case 'G':
        return ftBlob;
    case 'T':
        return ftDateTime;
    default:
        return ftUnknown;
    }
}

int TField::DisplayWidth() const {
    switch (def().type) {
    case 'D':
        return 10;
    case 'L':
        return 5;
    default:
        return def().length;
    }
}

std::string TField::AsString() const {
    const FieldDef& f = def();
    std::string_view r = raw();
    switch (f.type) {
    case 'C':
        return kes::toUtf8(kes::trimRight(r), table_->CodePage());
    case 'D': {
        bool empty = false;
        kes::Date d = dateFromRaw(r, &empty);
        return empty ? std::string() : d.toShortText();
    }
    case 'L':
        return AsBoolean() ? "True" : "False";
    case 'N':
    case 'F': {
        bool ok = false;
        parseNumber(r, &ok);
        return ok ? std::string(kes::trimBlanksAndControls(r)) : std::string();
    }
    case 'M':
    case 'G':
    case 'B':
    case 'I':
    case 'T':
        return std::string();
    default:
        return kes::toUtf8(kes::trimRight(r), table_->CodePage());
    }
}

int64_t TField::AsInteger() const {
    return static_cast<int64_t>(std::llround(AsFloat()));
}

double TField::AsFloat() const {
    const FieldDef& f = def();
    std::string_view r = raw();
    if (f.type == 'I' && f.length == 4) {
        int32_t v;
        std::memcpy(&v, r.data(), 4);
        return v;
    }
    return parseNumber(r);
}

bool TField::AsBoolean() const {
    std::string_view r = raw();
    return !r.empty() && logicalFromByte(r[0]);
}

kes::Date TField::AsDateTime() const {
    return dateFromRaw(raw());
}

bool TField::IsNull() const {
    return kes::trimBlanksAndControls(raw()).empty();
}

Value TField::AsValue() const {
    const FieldDef& f = def();
    std::string_view r = raw();
    switch (typeOfField(f.type)) {
    case ValueType::Date: {
        bool empty = false;
        kes::Date d = dateFromRaw(r, &empty);
        return Value::fromDate(d.days(), empty);
    }
    case ValueType::Logical:
        return Value::boolean(AsBoolean());
    case ValueType::Numeric:
        return Value::numeric(AsFloat());
    default:
        return Value::character(std::string(r));
    }
}

void TField::SetAsString(std::string_view text) {
    const FieldDef& f = def();
    switch (f.type) {
    case 'C': {
        std::string bytes = kes::fromUtf8(text, table_->CodePage());
        char* p = writable();
        size_t n = std::min<size_t>(bytes.size(), f.length);
        std::memcpy(p, bytes.data(), n);
        std::memset(p + n, ' ', f.length - n);
        break;
    }
    case 'D': {
        if (kes::trimBlanksAndControls(text).empty()) {
            std::memset(writable(), ' ', f.length);
            break;
        }
        auto d = kes::Date::fromShortText(text);
        if (!d) d = kes::Date::fromYyyymmdd(text);
        if (!d)
            table_->fail(AE_INVALID_VALUE,
                         "\"" + std::string(text) + "\" is not a valid date for field " + f.name);
        SetAsDateTime(*d);
        break;
    }
    case 'L': {
        std::string_view t = kes::trimBlanksAndControls(text);
        SetAsBoolean(!t.empty() && (logicalFromByte(t[0])));
        break;
    }
    case 'N':
    case 'F': {
        if (kes::trimBlanksAndControls(text).empty()) {
            std::memset(writable(), ' ', f.length);
            break;
        }
        bool ok = false;
        double v = parseNumber(text, &ok);
        if (!ok)
            table_->fail(AE_INVALID_VALUE,
                         "\"" + std::string(text) + "\" is not a valid number for field " + f.name);
        SetAsFloat(v);
        break;
    }
    default:
        table_->fail(AE_INVALID_VALUE, "Field " + f.name + " cannot be written as text");
    }
}

void TField::SetAsBoolean(bool value) {
    if (def().type != 'L')
        table_->fail(AE_INVALID_VALUE, "Field " + def().name + " is not logical");
    *writable() = value ? 'T' : 'F';
}

void TField::SetAsDateTime(kes::Date value) {
    if (def().type != 'D') table_->fail(AE_INVALID_VALUE, "Field " + def().name + " is not a date");
    std::string s = value.toYyyymmdd();
    std::memcpy(writable(), s.data(), 8);
}

void TField::SetAsInteger(int64_t value) {
    SetAsFloat(static_cast<double>(value));
}

void TField::SetAsFloat(double value) {
    const FieldDef& f = def();
    if (f.type != 'N' && f.type != 'F')
        table_->fail(AE_INVALID_VALUE, "Field " + f.name + " is not numeric");
    std::string s = formatNumber(value, f.length, f.decimals);
    std::memcpy(writable(), s.data(), f.length);
}

void TField::Clear() {
    const FieldDef& f = def();
    std::memset(writable(), ' ', f.length);
}

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
    ++gOpenAttempts;
    if (tableName_.empty())
        throw EADSDatabaseError(AE_FILE_NOT_FOUND, "No table name given: " + DatabaseName);
    dbf_.open(DataFilePath(), Exclusive ? xbase::OpenMode::Exclusive : xbase::OpenMode::Shared);
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
    std::vector<xbase::CdxTag> tags = xbase::readCdx(path, resolver);
    for (auto& tag : tags) {
        auto order = std::make_unique<Order>();
        order->name = tag.name;
        order->keyExpression = tag.keyExpression;
        order->forExpression = tag.forExpression;
        order->keyType = tag.keyType;
        order->keyLength = tag.entries.keyLength;
        order->unique = tag.unique;
        order->descending = tag.descending;
        order->entries = std::move(tag.entries);
        try {
            order->key = xbase::Expression::compile(order->keyExpression, fields, cp);
            order->keyField = order->key.singleField();
            if (!order->forExpression.empty())
                order->condition = xbase::Expression::compile(order->forExpression, fields, cp);
        } catch (const EADSDatabaseError&) {
            order->supported = false; // still walkable as stored; not maintained
        }
        // A tag without a condition lists every record once. One that does not
        // (the table changed while its index was not written, say after a
        // crash) is rebuilt from the records rather than trusted.
        if (order->supported && !order->condition.valid()) {
            bool stale = order->entries.size() != dbf_.recordCount();
            for (uint32_t r : order->entries.recnos)
                if (r == 0 || r > dbf_.recordCount()) stale = true;
            if (stale) {
                order->dirty = true;
                if (Exclusive) cdxDirty_ = true;
            }
        }
        orders_.push_back(std::move(order));
    }
}

void TAdsTable::Close() {
    if (!Active()) return;
    buffer_.clear();
    state_ = dsInactive;
    std::exception_ptr error;
    try {
        if (cdxDirty_) writeStructuralIndex();
    } catch (...) {
        error = std::current_exception();
    }
    try {
        dbf_.close();
    } catch (...) {
        if (!error) error = std::current_exception();
    }
    orders_.clear();
    active_ = nullptr;
    fieldObjects_.clear();
    filterText_.clear();
    filter_ = xbase::Expression();
    recno_ = 0;
    eof_ = bof_ = true;
    notify(TableEvent::DataSetChanged);
    if (error) std::rethrow_exception(error);
}

const char* TAdsTable::currentRecord() const {
    if (state_ == dsEdit || state_ == dsInsert) return buffer_.data();
    if (recno_ != 0 && recno_ <= dbf_.recordCount()) return dbf_.record(recno_);
    static thread_local std::string blank;
    blank.assign(dbf_.recordLength(), ' ');
    return blank.data();
}

char* TAdsTable::editBuffer() {
    if (state_ != dsEdit && state_ != dsInsert)
        fail(AE_INVALID_VALUE, "The table is not in edit or insert mode");
    return buffer_.data();
}

bool TAdsTable::visible(uint32_t recno) const {
    if (!settings().ShowDeleted && dbf_.isDeleted(recno)) return false;
    if (filter_.valid() && !filter_.test(dbf_.view(recno))) return false;
    return true;
}

size_t TAdsTable::orderSize() const {
    return active_ ? active_->entries.size() : dbf_.recordCount();
}

uint32_t TAdsTable::recnoAt(size_t position) const {
    return active_ ? active_->entries.recnos[position] : static_cast<uint32_t>(position + 1);
}

void TAdsTable::ensureBuilt(Order& order) {
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
                return xbase::cdxKey(Value::numeric(parseNumber(raw)), order.keyLength);
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

void TAdsTable::buildOrders(const std::vector<Order*>& orders) {
    auto build = [this](Order* order) {
        if (!order->supported) {
            order->dirty = false;
            return;
        }
        xbase::KeyEntries e;
        e.keyLength = order->keyLength;
        const uint32_t n = dbf_.recordCount();
        xbase::reserveLarge(e.keys, static_cast<size_t>(n) * e.keyLength);
        xbase::reserveLarge(e.recnos, n);
        e.keys.resize(static_cast<size_t>(n) * e.keyLength);
        e.recnos.resize(n);
        size_t count = 0;
        const bool plainCharacter = order->keyField >= 0 && order->keyType == ValueType::Character;
        const FieldDef* field =
            order->keyField >= 0 ? &dbf_.fields()[static_cast<size_t>(order->keyField)] : nullptr;
        for (uint32_t r = 1; r <= n; ++r) {
            RecordView view = dbf_.view(r);
            if (order->condition.valid() && !order->condition.test(view)) continue;
            unsigned char* out = e.keys.data() + count * e.keyLength;
            if (plainCharacter) {
                size_t take = std::min<size_t>(field->length, e.keyLength);
                std::memcpy(out, view.data + field->offset, take);
                std::memset(out + take, ' ', e.keyLength - take);
            } else {
                std::string key = keyFor(*order, view);
                std::memcpy(out, key.data(), e.keyLength);
            }
            e.recnos[count++] = r;
        }
        e.keys.resize(count * e.keyLength);
        e.recnos.resize(count);
        sortEntries(e, order->descending);
        if (order->unique) dropDuplicateKeys(e);
        order->entries = std::move(e);
        order->dirty = false;
        order->positionsValid = false;
        order->prefixes.clear();
    };
    std::vector<Order*> todo;
    for (Order* o : orders)
        if (o) todo.push_back(o);
    if (todo.size() > 1 && dbf_.recordCount() > 50000) {
        // Two cores: the tags are independent, so build them side by side.
        std::vector<std::thread> threads;
        std::vector<std::exception_ptr> errors(todo.size());
        for (size_t i = 0; i < todo.size(); ++i)
            threads.emplace_back([&, i] {
                try {
                    build(todo[i]);
                } catch (...) {
                    errors[i] = std::current_exception();
                }
            });
        for (auto& t : threads)
            t.join();
        for (auto& e : errors)
            if (e) std::rethrow_exception(e);
    } else {
        for (Order* o : todo)
            build(o);
    }
}

void TAdsTable::writeStructuralIndex() {
    std::vector<Order*> dirty;
    for (auto& o : orders_)
        if (!o->ntx && o->dirty) dirty.push_back(o.get());
    buildOrders(dirty);
    std::vector<xbase::CdxTag> tags;
    for (auto& o : orders_) {
        if (o->ntx) continue;
        xbase::CdxTag tag;
        tag.name = o->name;
        tag.keyExpression = o->keyExpression;
        tag.forExpression = o->forExpression;
        tag.keyType = o->keyType;
        tag.unique = o->unique;
        tag.descending = o->descending;
        tag.entries = o->entries; // copy: the orders stay usable
        tags.push_back(std::move(tag));
    }
    std::string path = kes::resolveForWriting(structuralIndexPath());
    if (tags.empty()) {
        kes::deleteFile(path);
    } else {
        xbase::writeCdx(path, tags);
    }
    cdxDirty_ = false;
}

void TAdsTable::markOrdersDirty() {
    for (auto& o : orders_) {
        o->dirty = true;
        o->positionsValid = false;
        if (!o->ntx) cdxDirty_ = true;
    }
}

void TAdsTable::positionOn(uint32_t recno) {
    recno_ = recno;
    eof_ = bof_ = false;
    if (!active_) {
        position_ = recno - 1;
        return;
    }
    ensureBuilt(*active_);
    Order& o = *active_;
    if (!o.positionsValid) {
        o.positionOf.assign(dbf_.recordCount() + 1, 0);
        for (size_t i = 0; i < o.entries.size(); ++i)
            if (o.entries.recnos[i] < o.positionOf.size())
                o.positionOf[o.entries.recnos[i]] = static_cast<uint32_t>(i + 1);
        o.positionsValid = true;
    }
    uint32_t p = recno < o.positionOf.size() ? o.positionOf[recno] : 0;
    if (p == 0) {
        // The record is not in this order (a condition leaves it out).
        position_ = 0;
        settle(true);
        return;
    }
    position_ = p - 1;
}

// Moves from position_ to the nearest visible record in the given direction.
void TAdsTable::settle(bool forward) {
    const size_t n = orderSize();
    if (forward) {
        while (position_ < n && !visible(recnoAt(position_)))
            ++position_;
        if (position_ >= n) {
            eof_ = true;
            return;
        }
    } else {
        while (position_ != static_cast<size_t>(-1) && position_ < n &&
               !visible(recnoAt(position_)))
            --position_;
        if (position_ == static_cast<size_t>(-1) || position_ >= n) {
            bof_ = true;
            return;
        }
    }
    recno_ = recnoAt(position_);
}

void TAdsTable::First() {
    requireOpen("move to the first record");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (active_) ensureBuilt(*active_);
    position_ = 0;
    recno_ = 0;
    eof_ = bof_ = false;
    settle(true);
    if (eof_) {
        bof_ = true;
        recno_ = 0;
    }
    bof_ = true;
    notify(TableEvent::ScrollChanged);
}

void TAdsTable::Last() {
    requireOpen("move to the last record");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (active_) ensureBuilt(*active_);
    recno_ = 0;
    eof_ = bof_ = false;
    const size_t n = orderSize();
    position_ = n == 0 ? static_cast<size_t>(-1) : n - 1;
    settle(false);
    if (bof_) {
        eof_ = true;
        recno_ = 0;
    }
    eof_ = true;
    notify(TableEvent::ScrollChanged);
}

void TAdsTable::Next() {
    requireOpen("move to the next record");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (recno_ == 0) {
        eof_ = true;
        return;
    }
    if (active_ && active_->dirty) positionOn(recno_);
    const uint32_t here = recno_;
    const size_t herePosition = position_;
    bof_ = false;
    ++position_;
    settle(true);
    if (eof_) {
        recno_ = here;
        position_ = herePosition;
    }
    notify(TableEvent::ScrollChanged);
}

void TAdsTable::Prior() {
    requireOpen("move to the prior record");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (recno_ == 0) {
        bof_ = true;
        return;
    }
    if (active_ && active_->dirty) positionOn(recno_);
    const uint32_t here = recno_;
    const size_t herePosition = position_;
    eof_ = false;
    --position_;
    settle(false);
    if (bof_) {
        recno_ = here;
        position_ = herePosition;
    }
    notify(TableEvent::ScrollChanged);
}

int TAdsTable::MoveBy(int distance) {
    int moved = 0;
    DisableControls();
    try {
        while (distance > 0 && !eof_) {
            Next();
            if (!eof_) ++moved;
            --distance;
        }
        while (distance < 0 && !bof_) {
            Prior();
            if (!bof_) --moved;
            ++distance;
        }
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
    return moved;
}

bool TAdsTable::IsEmpty() {
    requireOpen("read the table");
    return recno_ == 0;
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
        notify(TableEvent::RecordChanged);
    } else if (state_ == dsInsert) {
        uint32_t recno = dbf_.appendRecord(buffer_.data());
        state_ = dsBrowse;
        buffer_.clear();
        markOrdersDirty();
        recno_ = recno;
        eof_ = bof_ = false;
        if (!active_) position_ = recno - 1;
        notify(TableEvent::DataSetChanged);
    }
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
    notify(TableEvent::RecordChanged);
}

bool TAdsTable::IsDeleted() const {
    return Active() && recno_ != 0 && dbf_.isDeleted(recno_);
}

void TAdsTable::GotoBookmark(const TBookmark& bookmark) {
    requireOpen("go to a bookmark");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    if (!BookmarkValid(bookmark)) fail(AE_NO_CURRENT_RECORD, "Invalid bookmark");
    positionOn(bookmark.recno);
    notify(TableEvent::ScrollChanged);
}

bool TAdsTable::BookmarkValid(const TBookmark& bookmark) const {
    return Active() && bookmark.recno >= 1 && bookmark.recno <= dbf_.recordCount();
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

uint32_t TAdsTable::RecordCount() {
    requireOpen("count records");
    const uint32_t n = dbf_.recordCount();
    bool useFilter = filter_.valid() && AdsTableOptions.AdsFilterOptions == RESPECT_WHEN_COUNTING;
    if (!useFilter && settings().ShowDeleted) return n;
    uint32_t count = 0;
    for (uint32_t r = 1; r <= n; ++r) {
        if (!settings().ShowDeleted && dbf_.isDeleted(r)) continue;
        if (useFilter && !filter_.test(dbf_.view(r))) continue;
        ++count;
    }
    return count;
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
    if (kes::resolveCaseInsensitive(structuralIndexPath()).empty()) writeStructuralIndex();
    dbf_.setStructuralCdxFlag(true);
}

bool TAdsTable::seekKey(const std::string& key) {
    Order& o = *active_;
    const auto& e = o.entries;
    const size_t len = o.keyLength;
    size_t lo = 0, hi = e.size();
    if (!o.descending) {
        // The first eight key bytes as integers narrow the search without
        // touching the keys themselves.
        if (o.prefixes.size() != e.size()) {
            o.prefixes.resize(e.size());
            for (size_t i = 0; i < e.size(); ++i)
                o.prefixes[i] = keyPrefix(e.key(i), len);
        }
        const uint64_t p = keyPrefix(reinterpret_cast<const unsigned char*>(key.data()), len);
        lo = static_cast<size_t>(std::lower_bound(o.prefixes.begin(), o.prefixes.end(), p) -
                                 o.prefixes.begin());
        // Keys of up to eight bytes are decided by the prefix alone; longer
        // ones step over the few entries that share it.
        hi = lo;
        while (len > 8 && hi < e.size() && o.prefixes[hi] == p &&
               std::memcmp(e.key(hi), key.data(), len) < 0)
            ++hi;
        lo = hi;
    }
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        int c = std::memcmp(e.key(mid), key.data(), len);
        bool before = o.descending ? c > 0 : c < 0;
        if (before)
            lo = mid + 1;
        else
            hi = mid;
    }
    for (size_t i = lo; i < e.size() && std::memcmp(e.key(i), key.data(), len) == 0; ++i) {
        if (!visible(e.recnos[i])) continue;
        position_ = i;
        recno_ = e.recnos[i];
        eof_ = bof_ = false;
        notify(TableEvent::ScrollChanged);
        return true;
    }
    return false;
}

bool TAdsTable::FindKey(std::string_view value) {
    requireOpen("find a key");
    if (!active_) fail(AE_NO_INDEX, "No index order is active for a find");
    if (state_ == dsEdit || state_ == dsInsert) Post();
    ensureBuilt(*active_);
    Order& o = *active_;
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
        v = Value::numeric(parseNumber(value));
        break;
    case ValueType::Logical:
        v = Value::boolean(
            !value.empty() &&
            logicalFromByte(kes::trimLeft(value).empty() ? ' ' : kes::trimLeft(value)[0]));
        break;
    }
    std::string key =
        o.ntx ? xbase::ntxKey(v, o.keyLength, o.decimals) : xbase::cdxKey(v, o.keyLength);
    return seekKey(key);
}

bool TAdsTable::FindKey(kes::Date value) {
    requireOpen("find a key");
    if (!active_) fail(AE_NO_INDEX, "No index order is active for a find");
    ensureBuilt(*active_);
    Value v = Value::fromDate(value.days());
    Order& o = *active_;
    return seekKey(o.ntx ? xbase::ntxKey(v, o.keyLength, o.decimals)
                         : xbase::cdxKey(v, o.keyLength));
}

bool TAdsTable::FindKey(double value) {
    requireOpen("find a key");
    if (!active_) fail(AE_NO_INDEX, "No index order is active for a find");
    ensureBuilt(*active_);
    Value v = Value::numeric(value);
    Order& o = *active_;
    return seekKey(o.ntx ? xbase::ntxKey(v, o.keyLength, o.decimals)
                         : xbase::cdxKey(v, o.keyLength));
}

bool TAdsTable::FindKeyBool(bool value) {
    requireOpen("find a key");
    if (!active_) fail(AE_NO_INDEX, "No index order is active for a find");
    ensureBuilt(*active_);
    Value v = Value::boolean(value);
    Order& o = *active_;
    return seekKey(o.ntx ? xbase::ntxKey(v, o.keyLength, o.decimals)
                         : xbase::cdxKey(v, o.keyLength));
}

void TAdsTable::AdsSetFilter(const std::string& expression) {
    requireOpen("set a filter");
    xbase::Expression compiled;
    try {
        compiled = xbase::Expression::compile(expression, dbf_.fields(), dbf_.codePage());
    } catch (const EADSDatabaseError& e) {
        throw EADSDatabaseError(e.Number(), std::string(e.what()) + ": " + dbf_.path());
    }
    if (compiled.type() != ValueType::Logical)
        throw EADSDatabaseError(AE_EXPRESSION_ERROR,
                                "The filter \"" + expression +
                                    "\" is not a logical expression: " + dbf_.path());
    filter_ = std::move(compiled);
    filterText_ = expression;
    First();
}

void TAdsTable::AdsClearFilter() {
    if (!Active()) return;
    filter_ = xbase::Expression();
    filterText_.clear();
    notify(TableEvent::DataSetChanged);
}

namespace {

enum class Conversion { Skip, CopyBytes, Character, Numeric, Date, Logical };

struct FieldCopy {
    Conversion kind = Conversion::Skip;
    const FieldDef* source = nullptr;
    const FieldDef* target = nullptr;
};

// Writes `value` into a destination field of another type or width.
void convertInto(const FieldCopy& c, const char* sourceRecord, kes::CodePage sourceCp,
                 char* targetRecord, kes::CodePage targetCp) {
    const FieldDef& s = *c.source;
    const FieldDef& t = *c.target;
    std::string_view raw(sourceRecord + s.offset, s.length);
    char* out = targetRecord + t.offset;
    switch (t.type) {
    case 'C': {
        std::string text;
        switch (s.type) {
        case 'C':
            text = std::string(raw);
            break;
        case 'D': {
            bool empty = false;
            kes::Date d = dateFromRaw(raw, &empty);
            text = empty ? std::string() : d.toYyyymmdd();
            break;
        }
        case 'L':
            text = logicalFromByte(raw[0]) ? "T" : "F";
            break;
        default:
            text = std::string(kes::trimBlanksAndControls(raw));
            break;
        }
        if (s.type == 'C' && sourceCp != targetCp)
            text = kes::fromUtf8(kes::toUtf8(text, sourceCp), targetCp);
        size_t n = std::min<size_t>(text.size(), t.length);
        std::memcpy(out, text.data(), n);
        std::memset(out + n, ' ', t.length - n);
        break;
    }
    case 'N':
    case 'F': {
        bool ok = false;
        double v = parseNumber(raw, &ok);
        if (!ok) {
            std::memset(out, ' ', t.length);
            break;
        }
        std::string s2 = formatNumber(v, t.length, t.decimals);
        std::memcpy(out, s2.data(), t.length);
        break;
    }
    case 'D': {
        bool empty = false;
        kes::Date d = dateFromRaw(raw, &empty);
        if (s.type == 'C' && empty) {
            auto parsed = kes::Date::fromShortText(kes::trimRight(raw));
            if (parsed) {
                d = *parsed;
                empty = false;
            }
        }
        if (empty) {
            std::memset(out, ' ', 8);
        } else {
            std::string text = d.toYyyymmdd();
            std::memcpy(out, text.data(), 8);
        }
        break;
    }
    case 'L':
        *out = logicalFromByte(raw[0]) ? 'T' : 'F';
        break;
    default:
        break;
    }
}

} // namespace

void TAdsTable::AdsCopyTableContents(TAdsTable& destination) {
    requireOpen("copy the table");
    destination.requireOpen("copy into the table");
    if (destination.state_ == dsEdit || destination.state_ == dsInsert) destination.Post();

    const auto& sourceFields = dbf_.fields();
    const auto& targetFields = destination.dbf_.fields();
    const kes::CodePage sourceCp = dbf_.codePage();
    const kes::CodePage targetCp = destination.dbf_.codePage();
    std::vector<FieldCopy> copies;
    for (const FieldDef& t : targetFields) {
        int i = xbase::findField(sourceFields, t.name);
        if (i < 0) continue;
        FieldCopy c;
        c.source = &sourceFields[static_cast<size_t>(i)];
        c.target = &t;
        const FieldDef& s = *c.source;
        bool sameShape = s.type == t.type && s.length == t.length && s.decimals == t.decimals;
        if (sameShape && (s.type == 'D' || s.type == 'L' || s.type == 'N' ||
                          (s.type == 'C' && sourceCp == targetCp)))
            c.kind = Conversion::CopyBytes;
        else if (s.type == 'C' && t.type == 'C' && sourceCp == targetCp && s.length > t.length)
            c.kind = Conversion::CopyBytes; // cut to the destination width
        else
            c.kind = Conversion::Character; // general conversion
        copies.push_back(c);
    }

    const bool useFilter =
        filter_.valid() && AdsTableOptions.AdsFilterOptions == RESPECT_WHEN_COUNTING;
    const uint32_t n = dbf_.recordCount();
    const size_t targetLength = destination.dbf_.recordLength();
    const std::string blank = destination.dbf_.blankRecord();
    // Records are built in place after the destination's last record, in
    // slices, so that copying a table into itself stays safe.
    constexpr uint32_t kSlice = 1u << 20;
    uint32_t copied = 0;
    for (uint32_t from = 1; from <= n; from += kSlice) {
        const uint32_t to = std::min<uint64_t>(static_cast<uint64_t>(from) + kSlice - 1, n);
        char* area = destination.dbf_.appendArea(to - from + 1);
        size_t filled = 0;
        for (uint32_t r = from; r <= to; ++r) {
            const char* src = dbf_.record(r);
            if (src[0] == static_cast<char>(xbase::dbfformat::kDeletedFlag)) continue;
            if (useFilter && !filter_.test(RecordView{src, r})) continue;
            char* dst = area + filled * targetLength;
            std::memcpy(dst, blank.data(), targetLength);
            for (const FieldCopy& c : copies) {
                if (c.kind == Conversion::CopyBytes) {
                    size_t len = std::min<size_t>(c.source->length, c.target->length);
                    std::memcpy(dst + c.target->offset, src + c.source->offset, len);
                } else {
                    convertInto(c, src, sourceCp, dst, targetCp);
                }
            }
            ++filled;
        }
        destination.dbf_.commitAppended(filled);
        copied += static_cast<uint32_t>(filled);
    }
    if (copied) {
        destination.markOrdersDirty();
        if (destination.recno_ == 0) destination.First();
        destination.notify(TableEvent::DataSetChanged);
    }
}

void TAdsTable::AdsPackTable() {
    requireOpen("pack");
    if (dbf_.mode() != xbase::OpenMode::Exclusive)
        fail(AE_NOT_EXCLUSIVE, "The table must be opened exclusively to be packed");
    Cancel();
    dbf_.pack();
    markOrdersDirty();
    if (cdxDirty_) writeStructuralIndex();
    for (auto& o : orders_)
        if (o->ntx) buildOrders({o.get()});
    First();
    notify(TableEvent::DataSetChanged);
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

// ---------------------------------------------------------------- settings

void TAdsSettings::Apply() const {
    settings() = *this;
}

const TAdsSettings& TAdsSettings::Current() {
    return settings();
}

std::string TAdsSettings::ShortDateFormat() {
    std::string f = settings().DateFormat;
    for (char& c : f)
        if (c == 'c' || c == 'C') c = 'y';
    return f;
}

// ---------------------------------------------------------------- open with retry

void SetDefaultRetryPrompt(RetryPrompt* prompt) {
    gDefaultPrompt = prompt;
}

RetryPrompt& DefaultRetryPrompt() {
    static SilentRetryPrompt silent;
    return gDefaultPrompt ? *gDefaultPrompt : silent;
}

bool OpenTableWithRetry(TAdsTable& table, RetryPrompt& prompt) {
    int failures = 0;
    bool hourglass = false;
    while (true) {
        try {
            table.Close();
            table.Open();
            if (hourglass) prompt.SetHourglass(false);
            return true;
        } catch (const EADSDatabaseError&) {
            // retried below
        } catch (...) {
            // any other error goes to the caller, with the cursor as it was
            if (hourglass) prompt.SetHourglass(false);
            throw;
        }
        if (!hourglass) {
            prompt.SetHourglass(true);
            hourglass = true;
        }
        const char* suffix = table.TableType == ttAdsADT ? ".ADT." : ".CDX.";
        if (failures <= 10) {
            ++failures;
            continue;
        }
        failures = 0;
        prompt.SetHourglass(false);
        hourglass = false;
        if (prompt.AskRetry("Unable to open Table: " + table.DatabaseName + table.TableName() +
                            suffix + "\r\nOK to retry?"))
            continue;
        prompt.ShowCancelled("Cancelled.  The program will be terminated.");
        return false;
    }
}

bool OpenTableWithRetry(TAdsTable& table) {
    return OpenTableWithRetry(table, DefaultRetryPrompt());
}

uint64_t TableOpenAttempts() {
    return gOpenAttempts.load();
}
