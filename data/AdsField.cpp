#include "data/AdsTablePrivate.h"

#include "common/Text.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using xbase::FieldDef;
using xbase::RecordView;
using xbase::Value;
using xbase::ValueType;
using namespace xbase::tabledetail;

// ---------------------------------------------------------------- TField

const FieldDef& TField::def() const {
    return table_->dbf_.fields()[static_cast<size_t>(index_)];
}

std::string_view TField::raw() const {
    const FieldDef& f = def();
    const char* record = recno_ ? table_->recordAt(recno_) : table_->currentRecord();
    return std::string_view(record + f.offset, f.length);
}

char* TField::writable() {
    if (recno_) table_->fail(AE_INVALID_VALUE, "A field read at a record cannot be changed");
    return table_->editBuffer() + def().offset;
}

TField TField::At(uint32_t recno) const {
    table_->requireOpen("read a record");
    if (recno == 0 || recno > table_->dbf_.recordCount())
        table_->fail(AE_NO_CURRENT_RECORD, "Record " + std::to_string(recno) + " does not exist");
    TField field(table_, index_);
    field.recno_ = recno;
    return field;
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
    case 'Y':
        return ftFloat;
    case 'B': // a double in Visual FoxPro tables, a binary memo in dBASE ones
        return f.form == xbase::FieldForm::Double ? ftFloat : ftBlob;
    case 'I':
    case '+':
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
    switch (f.form) {
    case xbase::FieldForm::Integer:
    case xbase::FieldForm::Currency:
    case xbase::FieldForm::Double:
        return xbase::binaryNumberText(f.form, r.data(), f.decimals);
    case xbase::FieldForm::DateTime:
        return xbase::binaryDateTimeText(r.data());
    case xbase::FieldForm::NotRead:
        return std::string(); // memo contents and the like are not read
    case xbase::FieldForm::Text:
        break;
    }
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
        double v;
        return xbase::parseNumberText(r, v) ? std::string(kes::trimBlanksAndControls(r))
                                            : std::string();
    }
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
    switch (f.form) {
    case xbase::FieldForm::Text:
        return numberValue(r);
    default:
        return xbase::binaryNumber(f.form, r.data()); // 0 for datetimes and the unread
    }
}

bool TField::AsBoolean() const {
    std::string_view r = raw();
    return !r.empty() && logicalFromByte(r[0]);
}

kes::Date TField::AsDateTime() const {
    if (def().form == xbase::FieldForm::DateTime)
        return kes::Date(xbase::binaryDateTime(raw().data()).day); // its day; day zero when empty
    return dateFromRaw(raw());
}

bool TField::IsNull() const {
    switch (def().form) {
    case xbase::FieldForm::Integer:
    case xbase::FieldForm::Currency:
    case xbase::FieldForm::Double:
        return false; // every byte pattern is a number
    case xbase::FieldForm::DateTime:
        return xbase::binaryDateTime(raw().data()).empty;
    default:
        return kes::trimBlanksAndControls(raw()).empty();
    }
}

Value TField::AsValue() const {
    const FieldDef& f = def();
    std::string_view r = raw();
    switch (f.form) {
    case xbase::FieldForm::Integer:
    case xbase::FieldForm::Currency:
    case xbase::FieldForm::Double:
        return Value::numeric(xbase::binaryNumber(f.form, r.data()));
    case xbase::FieldForm::DateTime: {
        const xbase::BinaryDateTime moment = xbase::binaryDateTime(r.data());
        return Value::fromDate(moment.day, moment.empty);
    }
    case xbase::FieldForm::NotRead:
        return Value::character(std::string());
    case xbase::FieldForm::Text:
        break;
    }
    switch (f.type) {
    case 'D': {
        bool empty = false;
        kes::Date d = dateFromRaw(r, &empty);
        return Value::fromDate(d.days(), empty);
    }
    case 'L':
        return Value::boolean(AsBoolean());
    case 'N':
    case 'F':
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
        double v;
        if (!xbase::parseNumberText(text, v))
            table_->fail(AE_INVALID_VALUE,
                         "\"" + std::string(text) + "\" is not a valid number for field " + f.name);
        SetAsFloat(v);
        break;
    }
    default:
        table_->fail(AE_INVALID_VALUE, "Field " + f.name + " cannot be written as text");
    }
}

void TField::Assign(const TField& source) {
    const FieldDef& f = def();
    if (f.type != 'C' || source.def().type != 'C') {
        SetAsString(source.AsString());
        return;
    }
    // Trailing blanks need no trimming: the field is padded with blanks anyway.
    const std::string_view bytes = source.raw();
    const kes::CodePage from = source.table_->CodePage(), to = table_->CodePage();
    char* p = writable();
    const size_t n = std::min<size_t>(bytes.size(), f.length);
    if (from == to) {
        std::memmove(p, bytes.data(), n);
    } else {
        const std::array<char, 256>& translate = kes::byteTranslation(from, to);
        for (size_t i = 0; i < n; ++i)
            p[i] = translate[static_cast<unsigned char>(bytes[i])];
    }
    std::memset(p + n, ' ', f.length - n);
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
    xbase::formatNumberField(value, f.length, f.decimals, writable());
}

void TField::Clear() {
    const FieldDef& f = def();
    std::memset(writable(), ' ', f.length);
}
