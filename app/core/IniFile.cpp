// The settings file, read and written value by value.
//
// Reading rules (those of the Windows profile functions for strings; integers
// are read the way the program has always read them, as whole decimal texts):
// - The first section whose name matches (without regard to case) is used, and
//   in it the first key that matches. Section names and keys are compared after
//   blanks around them are removed.
// - A value loses the blanks around it, and one pair of matching quotes (" or ')
//   enclosing it whole, as GetPrivateProfileString does.
// - Strings come back through a 2048-byte buffer: at most 2047 bytes, cut back to
//   the start of a character when the cut would split one.
// - Integers: the whole value must be an optional sign followed by decimal
//   digits, within the int range. Anything else ("", "abc", "True", "12abc",
//   "0x1F", "- 1", "99999999999") gives the default, as a missing key does.
//
// Writing rules:
// - An existing key keeps its line position and its spelling; only the value is
//   replaced. A new key goes after the last non-blank line of its section, a new
//   section at the end of the file (after a blank line). Every other line,
//   comments included, is written back byte for byte, with its line ending.
// - A UTF-8 byte-order mark at the start is kept; lines end as they did (CR LF,
//   LF or a lone CR), new lines as the file's first line does.
// - Line breaks inside a value would corrupt the file; they are written as blanks.
// - The whole file is written to a temporary file beside it, flushed to disk and
//   renamed over the old one, so the old file stays whole when anything fails.
#include "app/core/IniFile.h"
#include "app/core/SettingsLocation.h"

#include "common/Paths.h"
#include "common/Text.h"
#include "os/Os.h"

#include <climits>
#include <stdexcept>
#include <vector>

namespace {

constexpr size_t kValueBufferSize = 2048;

struct Line {
    std::string text;   // without its line ending
    std::string ending; // "\r\n", "\n" or "" (last line without one)
};

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Lines end in CR LF, LF or a lone CR (files saved by old Mac editors). A UTF-8
// byte-order mark before the first line is not part of it; `bom` receives it
// so that a rewrite keeps it.
std::vector<Line> splitLines(std::string_view content, std::string* bom = nullptr) {
    if (content.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
        content.remove_prefix(kUtf8ByteOrderMark.size());
        if (bom) *bom = kUtf8ByteOrderMark;
    }
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.push_back({std::string(content.substr(pos)), ""});
            break;
        }
        size_t next = end + 1;
        if (content[end] == '\r' && next < content.size() && content[next] == '\n') ++next;
        lines.push_back({std::string(content.substr(pos, end - pos)),
                         std::string(content.substr(end, next - end))});
        pos = next;
    }
    return lines;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> sectionName(std::string_view line) {
    std::string_view t = trimBlanks(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trimBlanks(t.substr(1, close - 1));
}

bool isComment(std::string_view line) {
    std::string_view t = trimBlanks(line);
    return !t.empty() && t.front() == ';';
}

// Key and raw value of a "key=value" line.
bool splitKeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
    if (isComment(line)) return false;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    key = trimBlanks(line.substr(0, eq));
    value = line.substr(eq + 1);
    return true;
}

std::string readWholeFile(const std::string& path, bool& exists) {
    std::string content;
    exists = kes::os::readFile(path, content).ok();
    return content;
}

struct Located {
    int sectionLine = -1; // index of the section's header line
    int keyLine = -1;     // index of the key's line
    int lastContent = -1; // last non-blank line of the section (the header at least)
};

Located locate(const std::vector<Line>& lines, const std::string& section, const std::string& key) {
    Located where;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& text = lines[i].text;
        if (auto name = sectionName(text)) {
            if (inSection) break; // the first matching section is the one that counts
            if (kes::equalsIgnoreCase(*name, trimBlanks(section))) {
                inSection = true;
                where.sectionLine = where.lastContent = static_cast<int>(i);
            }
            continue;
        }
        if (!inSection) continue;
        if (!trimBlanks(text).empty()) where.lastContent = static_cast<int>(i);
        std::string_view k, v;
        if (where.keyLine < 0 && splitKeyValue(text, k, v) &&
            kes::equalsIgnoreCase(k, trimBlanks(key)))
            where.keyLine = static_cast<int>(i);
    }
    return where;
}

std::string cutToBuffer(std::string value) {
    if (value.size() < kValueBufferSize) return value;
    size_t n = kValueBufferSize - 1;
    // Do not leave half of a UTF-8 sequence at the end.
    while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80)
        --n;
    value.resize(n);
    return value;
}

std::optional<int> parseDecimalInteger(std::string_view text) {
    text = trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
    }
    if (negative) v = -v;
    if (v < INT_MIN || v > INT_MAX) return std::nullopt;
    return static_cast<int>(v);
}

} // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    bool exists = false;
    std::vector<Line> lines = splitLines(readWholeFile(path_, exists));
    Located where = locate(lines, section, key);
    if (where.keyLine < 0) return cutToBuffer(defaultValue);
    std::string_view k, v;
    splitKeyValue(lines[static_cast<size_t>(where.keyLine)].text, k, v);
    v = trimBlanks(v);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return cutToBuffer(std::string(v));
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key,
                          int defaultValue) const {
    // A sentinel that no file can hold tells a missing key from a present one.
    static const std::string kMissing(1, '\0');
    std::string text = ReadString(section, key, kMissing);
    if (text == kMissing) return defaultValue;
    return parseDecimalInteger(text).value_or(defaultValue);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key,
                        bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    std::string clean = value;
    for (char& c : clean)
        if (c == '\r' || c == '\n') c = ' ';

    bool exists = false;
    std::string content = readWholeFile(path_, exists);
    std::string bom;
    std::vector<Line> lines = splitLines(content, &bom);
    // New lines follow the file's own line ending; a new file gets CR LF.
    std::string eol = "\r\n";
    if (!lines.empty() && !lines.front().ending.empty()) eol = lines.front().ending;

    Located where = locate(lines, section, key);
    if (where.keyLine >= 0) {
        Line& line = lines[static_cast<size_t>(where.keyLine)];
        std::string_view k, v;
        splitKeyValue(line.text, k, v);
        line.text = std::string(k) + "=" + clean;
    } else if (where.sectionLine >= 0) {
        size_t at = static_cast<size_t>(where.lastContent);
        if (lines[at].ending.empty()) lines[at].ending = eol;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                     Line{key + "=" + clean, eol});
    } else {
        if (!lines.empty()) {
            if (lines.back().ending.empty()) lines.back().ending = eol;
            if (!trimBlanks(lines.back().text).empty()) lines.push_back({"", eol});
        }
        lines.push_back({"[" + section + "]", eol});
        lines.push_back({key + "=" + clean, eol});
    }

    std::string out = bom;
    out.reserve(content.size() + key.size() + clean.size() + section.size() + 8);
    for (const Line& l : lines)
        out += l.text + l.ending;
    // The whole file is replaced at once: the old one stays whole when anything
    // fails. What a killed run left beside it goes first.
    kes::os::removeStaleReplacementTemporaries(path_);
    if (!kes::os::writeFileReplacing(path_, out).ok())
        throw std::runtime_error("Unable to write to " + path_);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

std::string SettingsFilePath(const std::string& exeDir) {
    return kes::resolveForWriting(SettingsDirectory(exeDir) + "KesPrep.ini");
}
