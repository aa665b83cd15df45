// kesprep-mutate: the mutation campaign. It prepares the upload file of a
// clean data folder once for each set of tables, then, run after run, damages
// one file of a copy of that folder in one place (a header byte, the record
// count, a field descriptor, a value or any byte of a record, a cut, garbage
// at the end, an index pointer or byte), runs kesprep-batch on it with a time
// limit and sorts what happened:
//
//   clear failure        a non-zero exit status whose message names the
//                        damaged file, the previous upload file untouched
//   failure naming another file / failure naming no file
//                        the same, with a message that names another file of
//                        the folder, or none
//   prepared with warnings
//                        exit status 6 with a warning naming the file
//   same file            exit status 0 and the clean folder's upload file
//   explained difference exit status 0 and a file that differs only in lines
//                        of the damaged record: the damage was in a value
//                        (bytes of one field of one record, or the record
//                        marked deleted or undeleted), which no reader can
//                        tell from data, and every line that differs holds,
//                        as a whole column, a value of that record (or its
//                        start) before or after the damage (its student ID,
//                        its code, a site code), or is of a student whose
//                        line of the clean file did
//   wrong file reported as right
//                        exit status 0 with any other file, or a failure that
//                        changed the previous upload file
//   signal               kesprep-batch ended by a signal (a crash)
//   hang                 still running at the time limit; stopped
//
// It prints a report and ends with 1 when any run was a wrong file reported
// as right, a signal or a hang (2 for a bad option or a clean folder that
// does not prepare). The runs are the same for the same --seed and folder.
#include "os/Os.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Random {
    uint64_t state;
    uint64_t next() { // splitmix64
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint64_t n) { return n ? static_cast<uint32_t>(next() % n) : 0; }
};

uint32_t le(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(at + i < b.size() ? b[at + i] : 0);
    return v;
}
void putLe(std::string& b, size_t at, int bytes, uint32_t v) {
    for (int i = 0; i < bytes && at + i < b.size(); ++i, v >>= 8)
        b[at + i] = static_cast<char>(v & 0xFF);
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}
std::string trim(const std::string& s) {
    const size_t from = s.find_first_not_of(' ');
    if (from == std::string::npos) return {};
    return s.substr(from, s.find_last_not_of(' ') - from + 1);
}

std::string readAll(const std::string& path) {
    std::string bytes;
    if (!kes::os::readFile(path, bytes).ok()) return "<missing>";
    return bytes;
}
// Written in place, without a flush to the disk: the copies are scratch.
void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::cerr << "kesprep-mutate: cannot write " << path << "\n";
        std::exit(2);
    }
}

// A DBF table's field layout, as its header states it.
struct Field {
    std::string name;
    char type;
    size_t offset, width;
};
struct Layout {
    size_t headerLength = 0, recordLength = 0, count = 0;
    std::vector<Field> fields;
};
Layout layoutOf(const std::string& b) {
    Layout l;
    if (b.size() < 32) return l;
    l.count = le(b, 4, 4);
    l.headerLength = le(b, 8, 2);
    l.recordLength = le(b, 10, 2);
    size_t offset = 1;
    for (size_t at = 32; at + 32 <= b.size() && at + 32 <= l.headerLength && b[at] != 0x0D;
         at += 32) {
        Field f;
        f.name = std::string(b.c_str() + at, strnlen(b.c_str() + at, 11));
        f.type = b[at + 11];
        f.offset = offset;
        f.width = static_cast<unsigned char>(b[at + 16]);
        offset += f.width;
        l.fields.push_back(f);
    }
    return l;
}
size_t liveRecords(const Layout& l, const std::string& b) {
    if (l.recordLength == 0 || b.size() <= l.headerLength) return 0;
    return std::min(l.count, (b.size() - l.headerLength) / l.recordLength);
}

// A character a user could have typed in a field of type `type`.
char validValue(char type, Random& r) {
    switch (type) {
    case 'C':
        return static_cast<char>(0x20 + r.below(0x5F));
    case 'N':
    case 'F':
    case 'D':
        return static_cast<char>('0' + r.below(10));
    case 'L':
        return "TFYN"[r.below(4)];
    default:
        return ' ';
    }
}

// One damage: what was done, and for a value damage the record before and
// after it (for the explanation of a differing file).
struct Damage {
    std::string kind;
    std::string detail;
    bool value = false;
    std::vector<std::string> recordValues; // trimmed field texts, before and after
};

// The trimmed texts of a record's fields.
void collectValues(const Layout& l, const std::string& b, size_t record,
                   std::vector<std::string>& into) {
    const size_t at = l.headerLength + record * l.recordLength;
    for (const Field& f : l.fields)
        if (at + f.offset + f.width <= b.size()) {
            const std::string text = trim(b.substr(at + f.offset, f.width));
            if (text.size() >= 2) into.push_back(text);
        }
}

// A truncation, or garbage at the end: the damages of any file's length.
void damageLength(Damage& d, std::string& b, Random& r) {
    if (d.kind == "truncation") {
        const size_t to = r.below(b.size());
        d.detail = std::to_string(b.size()) + " to " + std::to_string(to) + " bytes";
        b.resize(to);
    } else {
        const size_t n = 1 + r.below(r.below(2) ? 16 : 4096);
        for (size_t i = 0; i < n; ++i)
            b.push_back(static_cast<char>(r.below(256)));
        d.detail = std::to_string(n) + " bytes";
    }
}

Damage damageTable(std::string& b, Random& r) {
    Damage d;
    const Layout l = layoutOf(b);
    const size_t records = liveRecords(l, b);
    static const char* const kinds[] = {"header byte", "record count", "field descriptor",  "value",
                                        "record byte", "truncation",   "garbage at the end"};
    d.kind = kinds[r.below(7)];
    if ((d.kind == "value" || d.kind == "record byte") && (records == 0 || l.fields.empty()))
        d.kind = "truncation";
    if (d.kind == "field descriptor" && l.fields.empty()) d.kind = "header byte";
    if (d.kind == "header byte") {
        const size_t at = r.below(32);
        b[at] = static_cast<char>(b[at] ^ (1 + r.below(255)));
        d.detail = "byte " + std::to_string(at);
    } else if (d.kind == "record count") {
        const uint32_t count = le(b, 4, 4);
        const int64_t changes[] = {-1, -2, -10, 1, 2, 10, -static_cast<int64_t>(count), 1000000};
        const int64_t to = std::max<int64_t>(0, count + changes[r.below(8)]);
        putLe(b, 4, 4, static_cast<uint32_t>(to));
        d.detail = std::to_string(count) + " to " + std::to_string(to);
    } else if (d.kind == "field descriptor") {
        const size_t field = r.below(l.fields.size());
        // Name, type, width, decimals, or any byte of the descriptor.
        const size_t offsets[] = {r.below(11), 11, 16, 17, r.below(32)};
        const size_t at = 32 + 32 * field + offsets[r.below(5)];
        b[at] = static_cast<char>(b[at] ^ (1 + r.below(255)));
        d.detail = l.fields[field].name + " byte " + std::to_string(at - 32 - 32 * field);
    } else if (d.kind == "value" || d.kind == "record byte") {
        const size_t record = r.below(records);
        const size_t start = l.headerLength + record * l.recordLength;
        collectValues(l, b, record, d.recordValues);
        size_t at;
        char to;
        if (d.kind == "value") {
            const Field& f = l.fields[r.below(l.fields.size())];
            at = start + f.offset + r.below(std::max<size_t>(f.width, 1));
            do
                to = validValue(f.type, r);
            while (to == b[at] && f.type != 'L');
            if (to == b[at]) to = b[at] == 'T' ? 'F' : 'T';
            d.detail = f.name;
        } else {
            at = start + r.below(l.recordLength);
            to = static_cast<char>(b[at] ^ (1 + r.below(255)));
            d.detail = "offset " + std::to_string(at - start);
        }
        if (at >= b.size()) at = b.size() - 1;
        b[at] = to;
        // A record marked deleted or undeleted, or a field's character
        // that stays valid for its type, is a table as a user could have
        // made it.
        const size_t inRecord = at - start;
        if (inRecord == 0) {
            d.value = to == ' ' || to == '*';
        } else {
            for (const Field& f : l.fields)
                if (inRecord >= f.offset && inRecord < f.offset + f.width) d.value = true;
        }
        collectValues(l, b, record, d.recordValues);
        d.detail += " of record " + std::to_string(record + 1);
    } else {
        damageLength(d, b, r);
    }
    return d;
}

// A page pointer: another page, no page, past the end, or off a page's start.
uint32_t damagedPointer(uint32_t old, size_t fileSize, size_t page, Random& r) {
    const uint32_t pages = static_cast<uint32_t>(fileSize / page) + 1;
    uint32_t to;
    do {
        switch (r.below(5)) {
        case 0:
            to = r.below(pages) * static_cast<uint32_t>(page);
            break;
        case 1:
            to = 0;
            break;
        case 2:
            to = static_cast<uint32_t>(fileSize + page * (1 + r.below(1000)));
            break;
        case 3:
            to = old + 1 + r.below(page - 1);
            break;
        default:
            to = static_cast<uint32_t>(r.next());
            break;
        }
    } while (to == old);
    return to;
}

Damage damageIndex(std::string& b, bool cdx, Random& r) {
    Damage d;
    static const char* const kinds[] = {"index pointer", "index pointer", "index byte",
                                        "truncation", "garbage at the end"};
    d.kind = kinds[r.below(5)];
    const size_t page = cdx ? 512 : 1024;
    if (d.kind == "index pointer" && b.size() < 2 * page) d.kind = "index byte";
    if (d.kind == "index pointer") {
        size_t at;
        if (cdx) {
            // A header's root (bytes 0-3) or a node's left and right
            // neighbours (bytes 4-11); interior nodes' child pointers too.
            const size_t node = r.below(b.size() / page) * page;
            const size_t offsets[] = {0, 4, 8};
            at = node + offsets[r.below(3)];
            const uint16_t attributes = static_cast<uint16_t>(le(b, node, 2));
            const uint16_t keys = static_cast<uint16_t>(le(b, node + 2, 2));
            if (node >= 1024 && (attributes & 2) == 0 && keys > 0 && r.below(2)) {
                // An interior node's entries hold record numbers and child
                // pointers among the keys: any word of them.
                at = node + 12 + 4 * r.below((page - 12) / 4);
            }
            const uint32_t old = le(b, at, 4);
            putLe(b, at, 4, damagedPointer(old, b.size(), page, r));
            d.detail = "node at " + std::to_string(node) + ", byte " + std::to_string(at - node);
        } else {
            const size_t choice = r.below(4);
            if (choice == 0) {
                at = 4; // the root page
            } else {
                const size_t p = (1 + r.below(b.size() / page - 1)) * page;
                const uint16_t count = static_cast<uint16_t>(le(b, p, 2));
                const size_t item = r.below(count + 1u);
                const size_t itemOffset = le(b, p + 2 + 2 * item, 2);
                if (choice == 1 || itemOffset + 8 > page) {
                    // The offset of an item in its page.
                    at = p + 2 + 2 * item;
                    const uint32_t old = le(b, at, 2);
                    uint32_t to;
                    do
                        to = r.below(r.below(2) ? page : 65536);
                    while (to == old);
                    putLe(b, at, 2, to);
                    d.detail = "item offset " + std::to_string(item) + " of page " +
                               std::to_string(p / page);
                    return d;
                }
                // The item's child page (choice 2) or record number (3).
                at = p + itemOffset + (choice == 2 ? 0 : 4);
            }
            const uint32_t old = le(b, at, 4);
            putLe(b, at, 4, damagedPointer(old, b.size(), page, r));
            d.detail = "byte " + std::to_string(at);
        }
    } else if (d.kind == "index byte") {
        const size_t at = r.below(b.size());
        b[at] = static_cast<char>(b[at] ^ (1 + r.below(255)));
        d.detail = "byte " + std::to_string(at);
    } else {
        damageLength(d, b, r);
    }
    return d;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// A value as a line and a record may both spell it: letters and digits
// only ("972-40-8490" in a table is 972408490 in the upload file).
std::string comparable(const std::string& text) {
    std::string out;
    for (char c : text)
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))
            out += c;
        else if (c >= 'a' && c <= 'z')
            out += static_cast<char>(c - 'a' + 'A');
    return out;
}

std::vector<std::string> columnsOf(const std::string& line) {
    std::vector<std::string> columns;
    size_t from = 0;
    for (size_t bar; (bar = line.find('|', from)) != std::string::npos; from = bar + 1)
        columns.push_back(line.substr(from, bar - from));
    columns.push_back(line.substr(from));
    return columns;
}

// Whether the lines in which `got` and `expected` differ (as multisets) are
// the damaged record's: each line only the clean file has holds, as a whole
// column, a value of that record before or after the damage; each line only
// the damaged folder's file has holds one too, or is of a student (its first
// column) one of those lines was of. A column holds a value when it is the
// value or its start, in letters and digits, of two characters or more.
// Lines kept with a blank code count too, as many as the run's account says
// it kept for a code that is one of the record's values, and lines the clean
// run's account says it dropped for such a code.
bool explainedBy(const std::string& got, const std::string& expected, const Damage& d,
                 const std::string& account, const std::string& cleanAccount) {
    std::set<std::string> values;
    for (const std::string& v : d.recordValues)
        if (comparable(v).size() >= 2) values.insert(comparable(v));
    // A column holds a value, or its start (a site code is the start of
    // the station's code).
    auto held = [&](const std::string& line) {
        for (const std::string& column : columnsOf(line)) {
            const std::string c = comparable(column);
            if (c.size() < 2) continue;
            const auto at = values.lower_bound(c);
            if (at != values.end() && at->compare(0, c.size(), c) == 0) return true;
        }
        return false;
    };
    std::multiset<std::string> a, b;
    for (const std::string& line : linesOf(got))
        a.insert(line);
    for (const std::string& line : linesOf(expected))
        b.insert(line);
    std::vector<std::string> onlyGot, onlyExpected;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(onlyGot));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(onlyExpected));
    std::set<std::string> students;
    for (const std::string& line : onlyExpected) {
        if (!held(line)) return false;
        students.insert(columnsOf(line).front());
    }
    // Lines the damaged run's account says it kept for a code the code table
    // lacks ("Kept, code not in the code table (test code blank): 28 (S1
    // 28)"), or the clean run's account says it dropped for a code ("Dropped,
    // blank new code: 4 (ES01 4)"), are the record's when the code is one
    // of its values.
    size_t keptForTheRecord = 0;
    auto count = [&](const std::string& text, const char* kind) {
        for (const std::string& line : linesOf(text)) {
            if (line.find(kind) == std::string::npos) continue;
            const size_t open = line.rfind('(');
            std::istringstream list(line.substr(open + 1));
            for (std::string code, n; list >> code >> n;)
                if (values.count(comparable(code)))
                    keptForTheRecord += std::strtoul(n.c_str(), nullptr, 10);
        }
    };
    count(account, "Kept, code not in the code table");
    count(cleanAccount, "Dropped, ");
    size_t unexplained = 0;
    for (const std::string& line : onlyGot)
        if (!held(line) && !students.count(columnsOf(line).front())) ++unexplained;
    return unexplained <= keptForTheRecord;
}

enum class Outcome {
    ClearFailure,
    FailureNamingAnotherFile,
    FailureNamingNoFile,
    PreparedWithWarnings,
    SameFile,
    ExplainedDifference,
    WrongFile,
    Signal,
    Hang,
};
constexpr int kOutcomes = 9;
const char* const kOutcomeNames[kOutcomes] = {
    "clear failure (names the damaged file)",
    "failure naming another file",
    "failure naming no file",
    "prepared with warnings (names the file)",
    "same file",
    "file differing only where the damaged value explains it",
    "wrong file reported as right",
    "signal",
    "hang",
};
bool fatal(Outcome o) {
    return o == Outcome::WrongFile || o == Outcome::Signal || o == Outcome::Hang;
}

struct Options {
    std::string batch = KES_BATCH_PROGRAM;
    std::string data;
    std::string work;
    std::string period = "1";
    uint64_t runs = 1000;
    double seconds = 0;
    double timeout = 30;
    uint64_t seed = 1;
    bool verbose = false;
};

void usage() {
    std::cout << "Usage: kesprep-mutate --data DIR [options]\n\n"
                 "Damages one file of a copy of the data folder DIR in one place, run after run,\n"
                 "prepares the upload file of it with kesprep-batch and sorts the outcome.\n\n"
                 "  --data DIR       the clean data folder (with VIRNTPn and, when it has them,\n"
                 "                   the code tables and SETUPSCH)\n"
                 "  --period N       the testing period to prepare (default 1)\n"
                 "  --runs N         how many damaged runs (default 1000)\n"
                 "  --seconds S      stop after S seconds even if runs are left\n"
                 "  --seed N         the damage's seed (default 1): the same runs each time\n"
                 "  --timeout S      a run still going after S seconds is a hang (default 30)\n"
                 "  --work DIR       where the copies go (default: a folder in the system's\n"
                 "                   temporary folder, removed at the end)\n"
                 "  --batch PATH     the kesprep-batch to run (default: the one built with it)\n"
                 "  --verbose        print every run, not only the ones that are not expected\n\n"
                 "Exit status: 0 no wrong file reported as right, no signal and no hang;\n"
                 "1 some; 2 a bad option or a clean folder that does not prepare.\n";
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    const std::vector<std::string> args = kes::os::commandLineArguments(argc, argv);
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                std::cerr << "kesprep-mutate: " << a << " needs a value\n";
                std::exit(2);
            }
            return args[++i];
        };
        if (a == "--data")
            o.data = value();
        else if (a == "--period")
            o.period = value();
        else if (a == "--runs")
            o.runs = std::strtoull(value().c_str(), nullptr, 10);
        else if (a == "--seconds")
            o.seconds = std::atof(value().c_str());
        else if (a == "--seed")
            o.seed = std::strtoull(value().c_str(), nullptr, 10);
        else if (a == "--timeout")
            o.timeout = std::atof(value().c_str());
        else if (a == "--work")
            o.work = value();
        else if (a == "--batch")
            o.batch = value();
        else if (a == "--verbose")
            o.verbose = true;
        else if (a == "--help") {
            usage();
            return 0;
        } else {
            std::cerr << "kesprep-mutate: unknown option " << a << "\n";
            return 2;
        }
    }
    if (o.data.empty() || !fs::is_directory(o.data)) {
        std::cerr << "kesprep-mutate: --data must name a data folder\n";
        return 2;
    }
    const bool ownWork = o.work.empty();
    if (ownWork)
        o.work = (fs::path(kes::os::temporaryDirectory()) /
                  ("kesprep-mutate-" + std::to_string(o.seed) + "-" +
                   std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
                     .string();
    const fs::path work(o.work);
    const fs::path folder = work / "data";
    fs::remove_all(folder);
    fs::create_directories(work);
    fs::copy(o.data, folder, fs::copy_options::recursive);
    const std::string dataArg = (folder / "").string();
    const std::string ini = (work / "KesPrep.ini").string();
    const std::string output = (work / "upload.txt").string();
    const std::string said = (work / "said.txt").string();
    const std::string previous = "the previous upload file\n";

    // The files a preparation of the period reads: the period's tables and
    // indexes, the code tables and SETUPSCH.
    struct Target {
        fs::path path;
        std::string name; // as it is spelt
        int set;          // 0 temporary, 1 master, -1 either
    };
    std::vector<Target> targets;
    auto addFrom = [&](const fs::path& dir, bool period) {
        if (!fs::is_directory(dir)) return;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            const std::string name = entry.path().filename().string();
            const std::string l = lower(name);
            const std::string ext = l.size() > 4 ? l.substr(l.size() - 4) : "";
            if (ext != ".dbf" && ext != ".ntx" && ext != ".cdx") continue;
            if (!period && l.rfind("kes", 0) == 0 && l.find("kesplace") == std::string::npos &&
                l.find("kestest.") == std::string::npos)
                continue; // the work tables the runs themselves write
            int set = -1;
            if (period && l != "tp.dbf" && l != "levels.dbf" && l != "test.dbf")
                set = l.find("temp") != std::string::npos ? 0 : 1;
            targets.push_back({entry.path(), name, set});
        }
    };
    addFrom(folder, false);
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_directory() && lower(entry.path().filename().string()) == "virntp" + o.period)
            addFrom(entry.path(), true);
    std::sort(targets.begin(), targets.end(),
              [](const Target& a, const Target& b) { return a.path < b.path; });
    if (targets.empty()) {
        std::cerr << "kesprep-mutate: no table of period " << o.period << " in " << o.data << "\n";
        return 2;
    }

    const char* const sets[2] = {"temporary", "master"};
    auto prepare = [&](int set) {
        writeAll(ini, "");
        writeAll(output, previous);
        kes::os::RunOptions run;
        run.stdoutFile = said;
        run.stderrFile = said + ".err";
        run.timeoutSeconds = o.timeout;
        return kes::os::runProgramToItsEnd(
            {o.batch, "--ini", ini, "--data", dataArg, "--period", o.period, "--set", sets[set],
             "--dates", "all", "--layout", "pipe", "--fields", "attempted,subscores,panda,sitecode",
             "--records", "placement,assessment,scores", "--output", output},
            run);
    };
    std::string expected[2], cleanAccount[2];
    for (int set = 0; set < 2; ++set) {
        const kes::os::ProgramEnding end = prepare(set);
        if (end.how != kes::os::ProgramEnding::How::Exited || end.exitCode != 0) {
            std::cerr << "kesprep-mutate: the clean folder does not prepare (" << sets[set]
                      << " tables): " << readAll(said) << readAll(said + ".err")
                      << end.status.message() << "\n";
            return 2;
        }
        expected[set] = readAll(output);
        cleanAccount[set] = readAll(said);
    }
    // What the clean runs left in the folder stays; anything a damaged run
    // adds goes after it.
    std::set<fs::path> cleanFiles;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        cleanFiles.insert(entry.path());
    std::map<fs::path, std::string> cleanBytes;
    for (const fs::path& p : cleanFiles)
        if (fs::is_regular_file(p)) cleanBytes[p] = readAll(p.string());

    Random random{o.seed};
    uint64_t counts[kOutcomes] = {};
    std::map<std::string, std::map<int, uint64_t>> byKind;
    const auto started = std::chrono::steady_clock::now();
    uint64_t done = 0;
    for (; done < o.runs; ++done) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (o.seconds > 0 && elapsed >= o.seconds) break;
        const Target& t = targets[random.below(targets.size())];
        const int set = t.set >= 0 ? t.set : static_cast<int>(random.below(2));
        const std::string original = cleanBytes[t.path];
        std::string bytes = original;
        const std::string ext = lower(t.path.extension().string());
        Damage damage =
            ext == ".dbf" ? damageTable(bytes, random) : damageIndex(bytes, ext == ".cdx", random);
        if (bytes == original) { // nothing changed (a cut at the full size)
            --done;
            continue;
        }
        writeAll(t.path.string(), bytes);
        const kes::os::ProgramEnding end = prepare(set);
        const std::string text = readAll(said) + readAll(said + ".err");
        const std::string got = readAll(output);
        const std::string l = lower(text);
        const std::string stem = lower(t.path.stem().string());
        const bool namesDamaged = l.find(stem + ".") != std::string::npos ||
                                  l.find(stem + " ") != std::string::npos ||
                                  l.find(stem + ")") != std::string::npos;
        bool namesOther = false;
        for (const auto& [p, b] : cleanBytes)
            if (l.find(lower(p.stem().string()) + ".") != std::string::npos) namesOther = true;
        Outcome outcome;
        using How = kes::os::ProgramEnding::How;
        if (end.how == How::NotStarted) {
            std::cerr << "kesprep-mutate: kesprep-batch did not start: " << end.status.message()
                      << "\n";
            return 2;
        } else if (end.how == How::TimedOut) {
            outcome = Outcome::Hang;
        } else if (end.how == How::Crashed) {
            outcome = Outcome::Signal;
        } else if (end.exitCode == 0) {
            outcome =
                got == expected[set] ? Outcome::SameFile
                : damage.value && explainedBy(got, expected[set], damage, text, cleanAccount[set])
                    ? Outcome::ExplainedDifference
                    : Outcome::WrongFile;
        } else if (end.exitCode == 6) {
            outcome = got == expected[set] || namesDamaged ? Outcome::PreparedWithWarnings
                                                           : Outcome::WrongFile;
        } else if (got != previous) {
            outcome = Outcome::WrongFile; // a failure that replaced the upload file
        } else {
            outcome = namesDamaged ? Outcome::ClearFailure
                      : namesOther ? Outcome::FailureNamingAnotherFile
                                   : Outcome::FailureNamingNoFile;
        }
        ++counts[static_cast<int>(outcome)];
        ++byKind[damage.kind][static_cast<int>(outcome)];
        const bool notable = fatal(outcome) || outcome == Outcome::FailureNamingNoFile ||
                             outcome == Outcome::FailureNamingAnotherFile;
        if (o.verbose || notable) {
            std::cout << "run " << done + 1 << ": " << t.path.parent_path().filename().string()
                      << "/" << t.name << ", " << damage.kind << " (" << damage.detail << "), "
                      << sets[set] << " tables: " << kOutcomeNames[static_cast<int>(outcome)];
            if (end.how == How::Exited) std::cout << ", exit status " << end.exitCode;
            if (end.how != How::Exited) std::cout << ", " << end.status.message();
            std::string firstLine = text.substr(0, text.find('\n'));
            const size_t error = l.find("error");
            if (error != std::string::npos)
                firstLine = text.substr(error, text.find('\n', error) - error);
            if (notable) std::cout << "\n    it said: " << firstLine.substr(0, 300);
            if (outcome == Outcome::WrongFile) {
                const std::vector<std::string> want = linesOf(expected[set]), have = linesOf(got);
                std::cout << "\n    " << have.size() << " lines instead of " << want.size();
                for (size_t i = 0, shown = 0; i < std::max(want.size(), have.size()) && shown < 2;
                     ++i) {
                    const std::string w = i < want.size() ? want[i] : "<none>";
                    const std::string h = i < have.size() ? have[i] : "<none>";
                    if (w == h) continue;
                    std::cout << "\n    line " << i + 1 << " expected " << w << "\n    got "
                              << std::string(std::to_string(i + 1).size() + 11, ' ') << h;
                    ++shown;
                }
            }
            std::cout << "\n";
            if (fatal(outcome)) {
                // The damaged file is kept for a look.
                const fs::path keep = work / ("run" + std::to_string(done + 1) + "-" + t.name);
                writeAll(keep.string(), bytes);
                std::cout << "    the damaged file is kept as " << keep.string() << "\n";
            }
        }
        // The folder as it was.
        writeAll(t.path.string(), original);
        std::vector<fs::path> added;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (!cleanFiles.count(entry.path())) added.push_back(entry.path());
        for (const fs::path& p : added)
            fs::remove_all(p);
        for (const auto& [p, b] : cleanBytes)
            if (lower(p.filename().string()).rfind("kes", 0) == 0 && p.parent_path() == folder &&
                readAll(p.string()) != b)
                writeAll(p.string(), b); // code tables and work tables
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    uint64_t bad = 0;
    std::cout << "\nkesprep-mutate: " << done << " runs on " << o.data << " (period " << o.period
              << ", seed " << o.seed << ") in " << static_cast<long>(elapsed) << " s\n";
    for (int i = 0; i < kOutcomes; ++i) {
        std::printf("  %-58s %8llu\n", kOutcomeNames[i],
                    static_cast<unsigned long long>(counts[i]));
        if (fatal(static_cast<Outcome>(i))) bad += counts[i];
    }
    std::cout << "by damage kind (clear failure / other failure / warnings / same / explained / "
                 "wrong / signal / hang):\n";
    for (const auto& [kind, c] : byKind) {
        auto n = [&](std::initializer_list<Outcome> os) {
            uint64_t sum = 0;
            for (Outcome x : os) {
                const auto it = c.find(static_cast<int>(x));
                if (it != c.end()) sum += it->second;
            }
            return sum;
        };
        std::printf("  %-20s %6llu %6llu %6llu %6llu %6llu %6llu %6llu %6llu\n", kind.c_str(),
                    static_cast<unsigned long long>(n({Outcome::ClearFailure})),
                    static_cast<unsigned long long>(
                        n({Outcome::FailureNamingAnotherFile, Outcome::FailureNamingNoFile})),
                    static_cast<unsigned long long>(n({Outcome::PreparedWithWarnings})),
                    static_cast<unsigned long long>(n({Outcome::SameFile})),
                    static_cast<unsigned long long>(n({Outcome::ExplainedDifference})),
                    static_cast<unsigned long long>(n({Outcome::WrongFile})),
                    static_cast<unsigned long long>(n({Outcome::Signal})),
                    static_cast<unsigned long long>(n({Outcome::Hang})));
    }
    std::cout.flush();
    if (ownWork && bad == 0) fs::remove_all(work);
    return bad ? 1 : 0;
}
