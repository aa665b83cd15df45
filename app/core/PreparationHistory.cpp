#include "app/core/PreparationHistory.h"

#include "common/Paths.h"
#include "os/Os.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

const char* const kColumns[] = {"Started", "Ended",       "Front End", "User",    "Period",
                                "Set",     "Begin Date",  "End Date",  "Layout",  "Optional Fields",
                                "Rows",    "Upload File", "Size",      "SHA-256", "Outcome",
                                "Reason"};
constexpr size_t kColumnCount = sizeof kColumns / sizeof kColumns[0];

const char* const kFrontEnds[] = {"Find and Export", "Prepare Export File", "Timed Run",
                                  "kesprep-batch"};
const char* const kOutcomes[] = {"Prepared", "Prepared with warnings", "Not prepared"};

// One value of a line: blanks for line breaks and tabs; in double quotes,
// with its quotes doubled, when it holds a comma or a quote or begins or ends
// with a blank (which a spreadsheet would drop).
std::string csvValue(std::string_view value) {
    std::string flat(value);
    for (char& c : flat)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    const bool quote = flat.find_first_of(",\"") != std::string::npos ||
                       (!flat.empty() && (flat.front() == ' ' || flat.back() == ' '));
    if (!quote) return flat;
    std::string out = "\"";
    for (char c : flat) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + '"';
}

// The values of a line; nullopt when a quoted value is not closed.
std::optional<std::vector<std::string>> csvValues(std::string_view line) {
    std::vector<std::string> values(1);
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ',') {
            values.emplace_back();
            ++i;
        } else if (c == '"' && values.back().empty()) {
            // A quoted value runs to the quote that no second quote follows.
            ++i;
            while (true) {
                if (i >= line.size()) return std::nullopt;
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        values.back() += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                values.back() += line[i++];
            }
        } else {
            values.back() += c;
            ++i;
        }
    }
    return values;
}

std::vector<std::string> fieldsOf(const HistoryEntry& e) {
    return {e.Started, e.Ended,      e.FrontEnd, e.User,   e.Period,
            e.Set,     e.BeginDate,  e.EndDate,  e.Layout, e.OptionalFields,
            e.Rows,    e.UploadFile, e.Size,     e.Sha256, OutcomeName(e.Outcome),
            e.Reason};
}

// The whole lines of a history file's text (without their ends), the header
// and any text after the last line end left out.
std::vector<std::string_view> wholeLines(std::string_view text) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string_view::npos;
         start = end + 1, end = text.find('\n', start)) {
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line != HistoryHeaderLine()) lines.push_back(line);
    }
    return lines;
}

std::string withLineEnd(std::string line) {
    line += kLineEnd;
    return line;
}

} // namespace

const char* FrontEndName(PreparationFrontEnd frontEnd) {
    return kFrontEnds[static_cast<int>(frontEnd)];
}

const char* OutcomeName(HistoryOutcome outcome) {
    return kOutcomes[static_cast<int>(outcome)];
}

std::string HistoryTime(const kes::LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

std::string HistoryHeaderLine() {
    std::string line;
    for (const char* column : kColumns)
        line += (line.empty() ? "" : ",") + std::string(column);
    return line;
}

std::string HistoryLine(const HistoryEntry& entry) {
    HistoryEntry bounded = entry;
    if (bounded.Reason.size() > kHistoryReasonLimit) {
        bounded.Reason.resize(kHistoryReasonLimit);
        // Not in the middle of a UTF-8 character.
        while (!bounded.Reason.empty() && (bounded.Reason.back() & 0xC0) == 0x80)
            bounded.Reason.pop_back();
        if (!bounded.Reason.empty() && (bounded.Reason.back() & 0x80)) bounded.Reason.pop_back();
    }
    std::string line;
    for (const std::string& value : fieldsOf(bounded))
        line += (line.empty() ? "" : ",") + csvValue(value);
    return line;
}

std::optional<HistoryEntry> ParseHistoryLine(std::string_view line) {
    const auto values = csvValues(line);
    if (!values || values->size() != kColumnCount) return std::nullopt;
    const std::vector<std::string>& v = *values;
    HistoryEntry e;
    const auto outcome = std::find(std::begin(kOutcomes), std::end(kOutcomes), v[14]);
    if (outcome == std::end(kOutcomes)) return std::nullopt;
    e.Outcome = static_cast<HistoryOutcome>(outcome - std::begin(kOutcomes));
    e.Started = v[0];
    e.Ended = v[1];
    e.FrontEnd = v[2];
    e.User = v[3];
    e.Period = v[4];
    e.Set = v[5];
    e.BeginDate = v[6];
    e.EndDate = v[7];
    e.Layout = v[8];
    e.OptionalFields = v[9];
    e.Rows = v[10];
    e.UploadFile = v[11];
    e.Size = v[12];
    e.Sha256 = v[13];
    e.Reason = v[15];
    return e;
}

std::string HistoryFilePath(const std::string& dataDir) {
    return kes::resolveForWriting(dataDir + kHistoryFileName);
}

std::string AppendHistoryEntry(const std::string& dataDir, const HistoryEntry& entry) {
    namespace os = kes::os;
    const std::string path = HistoryFilePath(dataDir);
    const std::string line = withLineEnd(HistoryLine(entry));

    os::File file;
    os::Status status = os::File::openOrCreate(path, file);
    uint64_t size = 0;
    if (status.ok()) status = file.size(size);
    std::string text(static_cast<size_t>(size), '\0');
    if (status.ok() && size > 0) status = file.readAt(0, text.data(), text.size());
    if (!status.ok()) return status.message();

    // A line that a killed append left without its end goes; so does a file
    // that holds nothing whole, which then starts again with its header.
    const size_t lastEnd = text.rfind('\n');
    const uint64_t whole = lastEnd == std::string::npos ? 0 : lastEnd + 1;
    const std::vector<std::string_view> entries =
        wholeLines(std::string_view(text).substr(0, whole));

    if (entries.size() + 1 > kHistoryTrimAt) {
        // The newest entries alone, in a file written anew and renamed over
        // the old one.
        std::string trimmed = std::string(kByteOrderMark) + withLineEnd(HistoryHeaderLine());
        for (size_t i = entries.size() + 1 - kHistoryKeep; i < entries.size(); ++i)
            trimmed += withLineEnd(std::string(entries[i]));
        trimmed += line;
        file.close();
        const os::Status replaced = os::writeFileReplacing(path, trimmed);
        return replaced.ok() ? std::string() : replaced.message();
    }

    std::string append = line;
    if (whole == 0) append = std::string(kByteOrderMark) + withLineEnd(HistoryHeaderLine()) + line;
    if (whole < size) status = file.truncate(whole);
    if (status.ok()) status = file.writeAt(whole, append.data(), append.size());
    if (status.ok()) status = file.sync();
    if (status.ok()) status = file.close();
    return status.ok() ? std::string() : status.message();
}

std::vector<HistoryEntry> ReadHistory(const std::string& dataDir, std::string* error) {
    std::vector<HistoryEntry> entries;
    const std::string path = kes::resolveCaseInsensitive(dataDir + kHistoryFileName);
    if (path.empty()) return entries;
    std::string text;
    const kes::os::Status status = kes::os::readFile(path, text);
    if (!status.ok()) {
        if (error) *error = status.message();
        return entries;
    }
    for (std::string_view line : wholeLines(text))
        if (auto entry = ParseHistoryLine(line)) entries.push_back(std::move(*entry));
    return entries;
}

std::optional<HistoryEntry> MissedFailure(const std::vector<HistoryEntry>& history,
                                          const std::string& lastSeen) {
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        if (it->FrontEnd != FrontEndName(PreparationFrontEnd::TimedRun) &&
            it->FrontEnd != FrontEndName(PreparationFrontEnd::Batch))
            continue;
        if (it->Ended <= lastSeen || !it->Failed()) return std::nullopt;
        return *it;
    }
    return std::nullopt;
}
