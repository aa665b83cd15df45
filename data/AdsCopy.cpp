#include "data/AdsTablePrivate.h"

#include "common/CodePage.h"
#include "common/Parallel.h"
#include "common/StepTimer.h"
#include "common/Text.h"

#include <algorithm>
#include <cstring>

using xbase::FieldDef;
using xbase::RecordView;
using xbase::Value;
using xbase::ValueType;
using namespace xbase::tabledetail;

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
            text.assign(1, logicalFromByte(raw[0]) ? 'T' : 'F');
            break;
        default:
            switch (s.form) {
            case xbase::FieldForm::Text:
                text = std::string(kes::trimBlanksAndControls(raw));
                break;
            case xbase::FieldForm::DateTime:
                text = xbase::binaryDateTimeText(raw.data());
                break;
            default: // binary numbers as their text; nothing of what is not read
                text = xbase::binaryNumberText(s.form, raw.data(), s.decimals);
                break;
            }
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
        double v;
        const bool binaryNumber = s.form == xbase::FieldForm::Integer ||
                                  s.form == xbase::FieldForm::Currency ||
                                  s.form == xbase::FieldForm::Double;
        if (binaryNumber)
            xbase::formatNumberField(xbase::binaryNumber(s.form, raw.data()), t.length, t.decimals,
                                     out);
        else if (s.form == xbase::FieldForm::Text && xbase::parseNumberText(raw, v))
            xbase::formatNumberField(v, t.length, t.decimals, out);
        else
            std::memset(out, ' ', t.length);
        break;
    }
    case 'D': {
        bool empty = false;
        kes::Date d = dateFromRaw(raw, &empty);
        if (s.form == xbase::FieldForm::DateTime) {
            const xbase::BinaryDateTime moment = xbase::binaryDateTime(raw.data());
            d = kes::Date(moment.day);
            empty = moment.empty;
        }
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

    // Fields copied byte for byte that follow each other in both records
    // move as one piece.
    struct Piece {
        uint32_t from, to, length;
    };
    std::vector<Piece> pieces;
    std::vector<FieldCopy> conversions;
    for (const FieldCopy& c : copies) {
        if (c.kind != Conversion::CopyBytes) {
            conversions.push_back(c);
            continue;
        }
        const uint32_t length = std::min(c.source->length, c.target->length);
        if (!pieces.empty() && pieces.back().from + pieces.back().length == c.source->offset &&
            pieces.back().to + pieces.back().length == c.target->offset)
            pieces.back().length += length;
        else
            pieces.push_back(Piece{c.source->offset, c.target->offset, length});
    }

    const bool useFilter =
        filter_.valid() && AdsTableOptions.AdsFilterOptions == RESPECT_WHEN_COUNTING;
    const uint32_t n = dbf_.recordCount();
    const size_t targetLength = destination.dbf_.recordLength();
    const std::string blank = destination.dbf_.blankRecord();
    // Fills `out` with the records first..last that are copied; how many.
    auto fill = [&](uint32_t first, uint32_t last, char* out) {
        size_t filled = 0;
        for (uint32_t r = first; r <= last; ++r) {
            const char* src = dbf_.record(r);
            if (src[0] == static_cast<char>(xbase::dbfformat::kDeletedFlag)) continue;
            if (useFilter && !filter_.test(RecordView{src, r})) continue;
            char* dst = out + filled * targetLength;
            std::memcpy(dst, blank.data(), targetLength);
            for (const Piece& p : pieces)
                std::memcpy(dst + p.to, src + p.from, p.length);
            for (const FieldCopy& c : conversions)
                convertInto(c, src, sourceCp, dst, targetCp);
            ++filled;
        }
        return filled;
    };
    // Records are built in place after the destination's last record, in
    // slices, so that copying a table into itself stays safe. A large slice
    // is shared out over two threads, the second filling the room of its
    // half; its records then close up behind the first half's.
    constexpr uint32_t kSlice = 1u << 20;
    constexpr uint32_t kShared = 1u << 16;
    uint32_t copied = 0;
    for (uint32_t from = 1; from <= n; from += kSlice) {
        const uint32_t to = std::min<uint64_t>(static_cast<uint64_t>(from) + kSlice - 1, n);
        char* area = destination.dbf_.appendArea(to - from + 1);
        size_t filled = 0;
        if (to - from + 1 < 2 * kShared) {
            filled = fill(from, to, area);
        } else {
            const uint32_t middle = from + (to - from + 1) / 2;
            char* secondArea = area + static_cast<size_t>(middle - from) * targetLength;
            size_t secondFilled = 0;
            kes::runBoth([&] { filled = fill(from, middle - 1, area); },
                         [&] { secondFilled = fill(middle, to, secondArea); });
            if (filled < middle - from)
                std::memmove(area + filled * targetLength, secondArea, secondFilled * targetLength);
            filled += secondFilled;
        }
        // A copied record starts as a blank record: none is marked deleted.
        destination.dbf_.commitAppended(filled, true);
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
    if (WriteThrough) {
        // The packed table replaces the old one whole, then the index follows.
        dbf_.packReplacing();
        markOrdersDirty();
        if (cdxDirty_) writeStructuralIndex();
        for (auto& o : orders_)
            if (o->ntx) buildOrders({o.get()});
        First();
        notify(TableEvent::DataSetChanged);
        return;
    }
    // A large table's records are written while its tags are built and
    // written, which only read them.
    const bool writeAside =
        static_cast<uint64_t>(dbf_.recordCount()) * dbf_.recordLength() >= (8u << 20);
    {
        kes::StepTimer step("pack records");
        dbf_.pack(!writeAside);
    }
    markOrdersDirty();
    if (writeAside) {
        // When both fail, the records' error is the one reported.
        kes::runBoth(
            [&] {
                if (cdxDirty_) writeStructuralIndex();
            },
            [&] { dbf_.flush(); }, kes::WhenBothFail::OtherThreadWins);
    } else if (cdxDirty_) {
        writeStructuralIndex();
    }
    for (auto& o : orders_)
        if (o->ntx) buildOrders({o.get()});
    First();
    notify(TableEvent::DataSetChanged);
}
