#include "export/core/wccsvexp.h"

#include "common/Paths.h"
#include "common/Text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <random>

namespace {

constexpr size_t kFlushThreshold = 1 << 20; // write the buffer out once it holds 1 MB

bool isTextType(TFieldType t) {
    return t == ftString || t == ftMemo || t == ftFmtMemo;
}

bool isBinaryType(TFieldType t) {
    switch (t) {
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
        return true;
    default:
        return false;
    }
}

bool isNumericType(TFieldType t) {
    switch (t) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftAutoInc:
        return true;
    default:
        return false;
    }
}

// The first UTF-8 character of a text ("" for an empty text).
std::string firstCharacter(std::string_view s) {
    if (s.empty()) return {};
    unsigned char c = static_cast<unsigned char>(s[0]);
    size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
    return std::string(s.substr(0, std::min(len, s.size())));
}

void padRight(std::string& s, int width) {
    if (static_cast<int>(s.size()) < width) s.append(static_cast<size_t>(width) - s.size(), ' ');
}

void padLeft(std::string& s, int width) {
    if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
}

} // namespace

struct TCSVExport::Column {
    int index = 0;
    TField* field = nullptr;
    TFieldType type = ftUnknown;
    int width = 0;
    bool enclose = false; // gets DelimiterText around its value
    // Text fields: each stored byte as the output code page has it.
    const std::array<char, 256>* translate = nullptr;
    // The same with the bytes that would break the line (CR, LF and, in
    // delimited lines, a one-character separator) as blanks: [0] for fixed
    // lines, [1] for delimited ones.
    std::array<std::array<char, 256>, 2> lineSafe{};
    // Text fields: where the stored bytes lie in the record.
    size_t offset = 0, length = 0;
};

TCSVExport::TCSVExport() = default;

TCSVExport::~TCSVExport() {
    CloseOutput(false);
}

void TCSVExport::SetCustomSeparator(const std::string& value) {
    customSeparator_ = firstCharacter(kes::trimBlanksAndControls(value));
}

bool TCSVExport::FieldIncluded(const std::string& fieldName) const {
    if (FieldListAction == flaNone) return true;
    bool listed = false;
    for (const std::string& name : fieldList_)
        if (kes::equalsIgnoreCase(name, fieldName)) {
            listed = true;
            break;
        }
    return FieldListAction == flaInclude ? listed : !listed;
}

void TCSVExport::prepareColumns() {
    switch (FieldDelimiter) {
    case fdlSingle:
        delimiterText_ = "'";
        break;
    case fdlDouble:
        delimiterText_ = "\"";
        break;
    default:
        delimiterText_.clear();
        break;
    }
    switch (FieldSeparator) {
    case fspPipe:
        separatorText_ = "|";
        break;
    case fspTab:
        separatorText_ = "\t";
        break;
    case fspComma:
        separatorText_ = ",";
        break;
    default:
        separatorText_ = kes::fromUtf8(customSeparator_, OutputCodePage);
        break;
    }
    columns_.clear();
    if (DataSet) {
        for (int i = 0; i < DataSet->FieldCount(); ++i) {
            TField& f = DataSet->Fields(i);
            if (!FieldIncluded(f.FieldName())) continue;
            Column c;
            c.index = i;
            c.field = &f;
            c.type = f.DataType();
            if (c.type == ftString) {
                c.offset = DataSet->FieldDefs()[static_cast<size_t>(i)].offset;
                c.length = DataSet->FieldDefs()[static_cast<size_t>(i)].length;
                c.translate = &kes::byteTranslation(DataSet->CodePage(), OutputCodePage);
                for (int fixed = 0; fixed < 2; ++fixed) {
                    const bool blankSeparator = !fixed && separatorText_.size() == 1;
                    std::array<char, 256>& safe = c.lineSafe[fixed ? 0 : 1];
                    for (size_t b = 0; b < 256; ++b) {
                        const char ch = (*c.translate)[b];
                        const bool breaks =
                            ch == '\r' || ch == '\n' || (blankSeparator && ch == separatorText_[0]);
                        safe[b] = breaks ? ' ' : ch;
                    }
                }
            }
            c.width = f.DisplayWidth();
            c.enclose = !delimiterText_.empty() && (DelimitedFields == dfAll || isTextType(c.type));
            columns_.push_back(c);
        }
    }
    prepareFixedRuns();
    columnsReady_ = true;
}

void TCSVExport::prepareFixedRuns() {
    fixedRuns_.clear();
    if (!separatorText_.empty() || columns_.empty()) return;
    const std::vector<xbase::FieldDef>& defs = DataSet->FieldDefs();
    for (const Column& c : columns_) {
        const xbase::FieldDef& def = defs[static_cast<size_t>(c.index)];
        // Trimming and padding give back the stored bytes only when a blank
        // stays a blank; a delimiter around the value has no place in a run.
        if (!c.translate || c.enclose || static_cast<size_t>(c.width) != def.length ||
            c.lineSafe[0][static_cast<unsigned char>(' ')] != ' ') {
            fixedRuns_.clear();
            return;
        }
        if (!fixedRuns_.empty() &&
            fixedRuns_.back().offset + fixedRuns_.back().length == def.offset &&
            *fixedRuns_.back().table == c.lineSafe[0]) {
            fixedRuns_.back().length += def.length;
        } else {
            fixedRuns_.push_back(FixedRun{def.offset, def.length, &c.lineSafe[0]});
        }
    }
}

std::string TCSVExport::valueText(const Column& column, bool fixed) {
    TField& f = DataSet->Fields(column.index);
    const TFieldType t = column.type;
    std::string v;
    if (isBinaryType(t)) return v; // no value, no filling
    // A delimited Time value is the time text as it stands; in fixed columns a
    // Time field is rendered like a date (its date text, also without dBASE).
    if (t == ftTime && !fixed) return f.AsString();
    if (t == ftDate || t == ftDateTime || t == ftTime) {
        kes::Date d = f.AsDateTime();
        if (d.days() <= 0) {
            if (fixed) v.assign(static_cast<size_t>(column.width), ' ');
        } else if (DBaseFormat) {
            v = d.toYyyymmdd();
        } else {
            v = d.toShortText();
        }
        return v;
    }
    if (t == ftBoolean) {
        v = f.AsString();
        if (DBaseFormat) return firstCharacter(v);
        if (fixed) padRight(v, column.width);
        return v;
    }
    v = kes::fromUtf8(f.AsString(), OutputCodePage);
    if (!fixed) return v;
    if (isNumericType(t) && NumericAlign == naRight)
        padLeft(v, column.width);
    else
        padRight(v, column.width);
    return v;
}

// Keeps a value inside its place in the line: line breaks would split the
// record, a separator would add a field, a lone quote would end the value early.
void TCSVExport::containValue(std::string& v, bool fixed, bool enclosed) const {
    std::string out;
    out.reserve(v.size());
    for (char ch : v) {
        if (ch == '\r' || ch == '\n') {
            out += ' ';
        } else if (!fixed && !separatorText_.empty() && ch == separatorText_[0] &&
                   separatorText_.size() == 1) {
            out += ' ';
        } else {
            out += ch;
            if (!fixed && enclosed && delimiterText_.size() == 1 && ch == delimiterText_[0])
                out += ch;
        }
    }
    v = std::move(out);
}

// A text value straight from the stored bytes: what valueText and
// containValue make of it, without the detour through UTF-8.
void TCSVExport::appendText(const Column& column, std::string_view stored, bool fixed,
                            std::string& line) const {
    if (fixed && static_cast<size_t>(column.width) == stored.size() &&
        column.lineSafe[0][static_cast<unsigned char>(' ')] == ' ') {
        // A fixed column as wide as the field: the blanks that trimming
        // would take off come back as padding, so every byte goes across.
        const size_t at = line.size();
        line.resize(at + stored.size());
        char* out = line.data() + at;
        for (size_t i = 0; i < stored.size(); ++i)
            out[i] = column.lineSafe[0][static_cast<unsigned char>(stored[i])];
        return;
    }
    const std::string_view bytes = kes::trimRight(stored);
    const std::array<char, 256>& safe = column.lineSafe[fixed ? 0 : 1];
    const size_t at = line.size();
    if (!fixed && column.enclose && delimiterText_.size() == 1) {
        // A delimiter inside the value is doubled. The delimiter is a quote,
        // never a blank or a line break, so a byte that the table made a
        // blank is never taken for one.
        const char delimiter = delimiterText_[0];
        line.resize(at + 2 * bytes.size());
        char* const begin = line.data() + at;
        char* out = begin;
        for (const char byte : bytes) {
            const char ch = safe[static_cast<unsigned char>(byte)];
            *out++ = ch;
            if (ch == delimiter) *out++ = ch;
        }
        line.resize(at + static_cast<size_t>(out - begin));
        return;
    }
    // One byte out for every byte in: the line grows once.
    const size_t width = static_cast<size_t>(std::max(column.width, 0));
    const size_t pad = fixed && bytes.size() < width ? width - bytes.size() : 0;
    line.resize(at + bytes.size() + pad, ' ');
    char* out = line.data() + at;
    for (size_t i = 0; i < bytes.size(); ++i)
        out[i] = safe[static_cast<unsigned char>(bytes[i])];
}

bool TCSVExport::renderLine(bool fixed, std::string& line) {
    if (!columnsReady_) prepareColumns();
    if (fixed && !fixedRuns_.empty()) return renderLine(fixed, DataSet->RecordBytes(), line);
    std::string_view record;
    try {
        record = DataSet->RecordBytes();
    } catch (...) {
        return false; // a record that cannot be read is skipped, as one that cannot be rendered
    }
    return renderLine(fixed, record, line);
}

bool TCSVExport::renderLine(bool fixed, std::string_view recordBytes, std::string& line) {
    if (!columnsReady_) prepareColumns();
    const size_t start = line.size();
    if (fixed && !fixedRuns_.empty()) {
        const char* record = recordBytes.data();
        size_t width = 0;
        for (const FixedRun& run : fixedRuns_)
            width += run.length;
        line.resize(start + width);
        char* out = line.data() + start;
        for (const FixedRun& run : fixedRuns_) {
            const std::array<char, 256>& table = *run.table;
            const char* in = record + run.offset;
            for (size_t i = 0; i < run.length; ++i)
                out[i] = table[static_cast<unsigned char>(in[i])];
            out += run.length;
        }
        return true;
    }
    try {
        const std::string_view record = recordBytes;
        bool first = true;
        for (const Column& c : columns_) {
            if (!first) line += separatorText_;
            first = false;
            if (c.enclose) line += delimiterText_;
            if (c.translate) {
                appendText(c, record.substr(c.offset, c.length), fixed, line);
            } else {
                std::string v = valueText(c, fixed);
                containValue(v, fixed, c.enclose);
                line += v;
            }
            if (c.enclose) line += delimiterText_;
        }
    } catch (...) {
        // A record that cannot be rendered is skipped (and counted as such).
        line.resize(start);
        return false;
    }
    return true;
}

std::string TCSVExport::DelimitedLine() {
    std::string line;
    renderLine(false, line);
    return line;
}

std::string TCSVExport::FixedLine() {
    std::string line;
    renderLine(true, line);
    return line;
}

void TCSVExport::failWrite(const kes::os::Status& status) {
    CloseOutput(false);
    throw std::runtime_error("Unable to write to " + OutputFile + ": " + status.reason());
}

kes::os::Status TCSVExport::writeOut(const std::string& bytes) {
    if (ReplaceWhenComplete) return replacement_.write(bytes);
    kes::os::Status status = direct_.writeAt(directWritten_, bytes.data(), bytes.size());
    if (status.ok()) directWritten_ += bytes.size();
    return status;
}

void TCSVExport::flushBuffer() {
    if (buffer_.empty() || !outputOpen_) return;
    const kes::os::Status status = writeOut(buffer_);
    if (!status.ok()) failWrite(status);
    buffer_.clear();
}

void TCSVExport::writeLine(const std::string& bytes) {
    buffer_ += bytes;
    buffer_ += "\r\n";
    if (buffer_.size() >= kFlushThreshold) flushBuffer();
}

bool TCSVExport::OpenOutput() {
    return openOutput(-1);
}

// `total` below 0: all of DataSet's records, read through its cursor.
bool TCSVExport::openOutput(int64_t total) {
    try {
        // Leftovers of a killed run go first.
        if (ReplaceWhenComplete) kes::removeStaleNumberedAndReplacementTemporaries(OutputFile);
        directWritten_ = 0;
        const kes::os::Status opened = ReplaceWhenComplete
                                           ? replacement_.open(OutputFile)
                                           : kes::os::File::createOrTruncate(OutputFile, direct_);
        if (!opened.ok()) {
            openFailure_ = "Unable to create " + OutputFile + ": " + opened.reason();
            return false;
        }
        outputOpen_ = true;
        buffer_.clear();
        buffer_.reserve(kFlushThreshold + 4096);
        if (!DataSet) return false;
        if (!DataSet->Active()) DataSet->Open();
        exportTotal_ = total < 0 ? DataSet->RecordCount() : total;
        if (ShowProgress) {
            if (!progress_ && operator_) progress_ = operator_->CreateExportProgress();
            if (progress_) {
                progress_->Initialize(pmExport, pbRecords, OutputFile, exportTotal_, 0);
                progress_->Show();
            }
        }
        if (total < 0) DataSet->First();
        exportedCount_ = 0;
        prepareColumns();
        return true;
    } catch (...) {
        return false;
    }
}

void TCSVExport::CloseOutput(bool complete) {
    if (outputOpen_) {
        outputOpen_ = false;
        kes::os::Status status;
        if (complete && !buffer_.empty()) status = writeOut(buffer_);
        buffer_.clear();
        buffer_.shrink_to_fit();
        if (ReplaceWhenComplete) {
            // An incomplete file never replaces the previous one.
            if (complete && status.ok() && BeforeReplace) {
                try {
                    BeforeReplace();
                } catch (...) {
                    replacement_.abort();
                    progress_.reset();
                    columnsReady_ = false;
                    throw;
                }
            }
            if (complete && status.ok())
                status = replacement_.commit();
            else
                replacement_.abort();
        } else {
            const kes::os::Status closed = direct_.close();
            if (status.ok()) status = closed;
        }
        if (complete && !status.ok()) {
            progress_.reset();
            columnsReady_ = false;
            throw std::runtime_error("Unable to write to " + OutputFile + ": " + status.reason());
        }
    }
    progress_.reset();
    columnsReady_ = false;
}

int TCSVExport::Execute() {
    int result = -1;
    skippedCount_ = 0;
    openFailure_.clear();
    try {
        if (OnBeginExport) OnBeginExport(*this);
        if (!OpenOutput()) {
            CloseOutput(false);
            return -1;
        }
        result = 0;
        const int64_t step = std::max<int64_t>(1, exportTotal_ / 100);
        int64_t bytes = 0;
        if (HeaderRecord) writeLine(kes::fromUtf8(Header, OutputCodePage));
        const bool fixed = ExportType == expFixed;
        while (!DataSet->Eof()) {
            // The line goes straight into the output buffer.
            const size_t start = buffer_.size();
            if (!renderLine(fixed, buffer_)) ++skippedCount_;
            if (buffer_.size() > start) {
                buffer_ += "\r\n";
                bytes += static_cast<int64_t>(buffer_.size() - start);
                if (buffer_.size() >= kFlushThreshold) flushBuffer();
            }
            DataSet->Next();
            ++exportedCount_;
            if (OnExportRecord) OnExportRecord(*this, exportedCount_, bytes);
            if (ShowProgress && progress_ && exportedCount_ % step == 0)
                progress_->UpdateProgress(exportedCount_, bytes);
            if (maxRecords_ > 0 && exportedCount_ >= maxRecords_) break;
        }
        if (TrailerRecord) writeLine(kes::fromUtf8(Trailer, OutputCodePage));
        CloseOutput(true);
        result = static_cast<int>(exportedCount_);
        if (OnFinishExport) OnFinishExport(*this);
        return result;
    } catch (const EConvertError&) {
        // The file of an interrupted export is not complete: it is released,
        // and with ReplaceWhenComplete the previous file stays.
        CloseOutput(false);
        if (operator_) operator_->ShowError("Data conversion error!");
        return result;
    } catch (...) {
        CloseOutput(false);
        throw;
    }
}

bool TCSVExport::Begin(int64_t total) {
    skippedCount_ = 0;
    streamedBytes_ = 0;
    try {
        if (OnBeginExport) OnBeginExport(*this);
        if (!openOutput(total)) {
            CloseOutput(false);
            return false;
        }
        // Other fields are read through DataSet's cursor, which the records
        // passing by never reach.
        for (const Column& c : columns_)
            if (!c.translate)
                throw std::logic_error("The field " + c.field->FieldName() +
                                       " is no text field: it cannot be written from records "
                                       "passing by");
        if (HeaderRecord) writeLine(kes::fromUtf8(Header, OutputCodePage));
        return true;
    } catch (...) {
        CloseOutput(false);
        throw;
    }
}

void TCSVExport::exportLine(bool fixed, std::string_view record, int64_t& bytes) {
    // The line goes straight into the output buffer.
    const size_t start = buffer_.size();
    if (!renderLine(fixed, record, buffer_)) ++skippedCount_;
    if (buffer_.size() > start) {
        buffer_ += "\r\n";
        bytes += static_cast<int64_t>(buffer_.size() - start);
        if (buffer_.size() >= kFlushThreshold) flushBuffer();
    }
}

void TCSVExport::ExportRecords(const char* records, size_t count) {
    if (!outputOpen_ || count == 0) return;
    try {
        const bool fixed = ExportType == expFixed;
        const size_t length = DataSet->File().recordLength();
        const int64_t step = std::max<int64_t>(1, exportTotal_ / 100);
        for (size_t i = 0; i < count; ++i) {
            if (maxRecords_ > 0 && exportedCount_ >= maxRecords_) return;
            exportLine(fixed, std::string_view(records + i * length, length), streamedBytes_);
            ++exportedCount_;
            if (OnExportRecord) OnExportRecord(*this, exportedCount_, streamedBytes_);
            if (ShowProgress && progress_ && exportedCount_ % step == 0)
                progress_->UpdateProgress(exportedCount_, streamedBytes_);
        }
    } catch (...) {
        CloseOutput(false);
        throw;
    }
}

int TCSVExport::Finish() {
    if (!outputOpen_) return -1;
    try {
        if (TrailerRecord) writeLine(kes::fromUtf8(Trailer, OutputCodePage));
        CloseOutput(true);
        const int result = static_cast<int>(exportedCount_);
        if (OnFinishExport) OnFinishExport(*this);
        return result;
    } catch (...) {
        CloseOutput(false);
        throw;
    }
}

void TCSVExport::Abandon() {
    CloseOutput(false);
}
