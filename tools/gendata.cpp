// kesprep-gendata: writes a testing-system data directory for demonstrations
// and benchmarks: SETUPSCH, and per testing period the period table, the
// placement levels and tests, the placement, assessment and score tables of
// the temporary and master sets, and the student tables with their SSN
// indexes. Optionally the code tables KESPLACE and KESTEST.
//
// The content depends only on the seed and the sizes; every file header
// carries the same last-update date, so two runs give identical files.

#include "common/Clock.h"
#include "common/Date.h"
#include "common/Paths.h"
#include "data/AdsTable.h"
#include "data/ntx.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

namespace {

// A small, portable generator (splitmix64): the same numbers on every platform.
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. bound-1
    uint32_t below(uint32_t bound) { return static_cast<uint32_t>(next() % bound); }
    // true with the given chance in per mille
    bool perMille(uint32_t chance) { return below(1000) < chance; }
    template <class T> const T& pick(const std::vector<T>& items) {
        return items[below(static_cast<uint32_t>(items.size()))];
    }

  private:
    uint64_t state_;
};

struct Options {
    std::string out;
    int periods = 1;
    long records = 1000;
    long temporaryRecords = -1; // -1: as many as the master set
    long students = 200;
    uint64_t seed = 1;
    bool codeTables = false;
};

void usage(FILE* to) {
    std::fputs("Usage: kesprep-gendata --out DIR [options]\n"
               "Writes a testing-system data directory (DBF tables with NTX indexes).\n"
               "\n"
               "  --out DIR               the data directory to write (created when missing)\n"
               "  --periods N             testing periods VIRNTP1..VIRNTPn (default 1)\n"
               "  --records N             records per period in the master set, split over\n"
               "                          placement, assessment and score records (default 1000)\n"
               "  --temporary-records N   records per period in the temporary set\n"
               "                          (default: as many as --records)\n"
               "  --students N            students per period (default 200)\n"
               "  --seed N                seed of the content (default 1)\n"
               "  --with-code-tables      also write KESPLACE and KESTEST, filled from\n"
               "                          period 1's LEVELS and TEST\n"
               "  --help                  this text\n",
               to);
}

bool parseNumber(const char* text, long& value) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!end || *end != 0 || v < 0) return false;
    value = v;
    return true;
}

// ------------------------------------------------------------------ records

// Builds records of one table as raw bytes, field by field.
class RecordWriter {
  public:
    explicit RecordWriter(TAdsTable& table) : table_(table), fields_(table.FieldDefs()) {
        length_ = table.File().recordLength();
    }
    void begin() {
        size_t at = batch_.size();
        batch_.resize(at + length_, ' ');
        record_ = at;
    }
    void deleted() { batch_[record_] = '*'; }
    void text(int field, std::string_view value) {
        const auto& f = fields_[static_cast<size_t>(field)];
        char* p = batch_.data() + record_ + f.offset;
        size_t n = std::min<size_t>(value.size(), f.length);
        std::memcpy(p, value.data(), n);
        std::memset(p + n, ' ', f.length - n);
    }
    void number(int field, long value) {
        const auto& f = fields_[static_cast<size_t>(field)];
        char buf[32];
        int n = std::snprintf(buf, sizeof buf, "%*ld", static_cast<int>(f.length), value);
        if (n != f.length) std::memset(buf, '*', f.length); // too wide, as xBase stores it
        std::memcpy(batch_.data() + record_ + f.offset, buf, f.length);
    }
    void date(int field, kes::Date value, bool empty = false) {
        if (empty) return; // blanks
        std::string text = value.toYyyymmdd();
        std::memcpy(batch_.data() + record_ + fields_[static_cast<size_t>(field)].offset,
                    text.data(), 8);
    }
    void logical(int field, bool value) {
        batch_[record_ + fields_[static_cast<size_t>(field)].offset] = value ? 'T' : 'F';
    }
    // Writes the records built so far when the batch is large, or always.
    void flush(bool always = false) {
        if (batch_.empty() || (!always && batch_.size() < (8u << 20))) return;
        table_.File().appendRecords(batch_.data(), batch_.size() / length_);
        batch_.clear();
    }
    int field(const char* name) const {
        int i = xbase::findField(fields_, name);
        if (i < 0) throw std::runtime_error(std::string("no field ") + name);
        return i;
    }

  private:
    TAdsTable& table_;
    const std::vector<xbase::FieldDef>& fields_;
    size_t length_ = 0;
    std::string batch_;
    size_t record_ = 0;
};

// Creates a table in `dir` and opens it exclusively for filling.
void createTable(TAdsTable& table, const std::string& dir, const std::string& name,
                 const std::string& fieldList, TAdsTableType type = ttAdsNTX) {
    TAdsTable::AdsCreateTable(dir + name + ".DBF", type, OEM, 0, fieldList);
    table.DatabaseName = dir;
    table.TableType = type;
    table.SetTableName(name + ".DBF");
    table.Exclusive = true;
    table.Open();
}

// ------------------------------------------------------------------ content

struct Level {
    const char* code;
    const char* placement;
    const char* comment;
};

const std::vector<Level> kLevels = {
    {"EN01", "English 090 - Basic Writing Development", "Developmental writing"},
    {"EN02", "English 101 - Composition I", ""},
    {"EN03", "English 102 - Composition II Honors section", "Instructor permission"},
    {"MA01", "Math 050 - Arithmetic Developmental", ""},
    {"MA02", "Math 095 - Elementary Algebra", ""},
    {"MA03", "Math 105 - Intermediate Algebra", ""},
    {"MA04", "Math 120 - College Algebra Calculator allowed", "Graphing calculator"},
    {"RD01", "Reading 080 Developmental", ""},
    {"RD02", "Reading 090", ""},
    {"RD03", "No reading course required", ""},
    {"ES01", "English for Speakers of Other Languages", "Refer to the ESL office"},
};

struct Test {
    const char* code;
    const char* test;
    const char* form;
};

const std::vector<Test> kTests = {
    {"RD", "Reading Comprehension", "A"},
    {"WR", "Sentence Skills", "B"},
    {"MA", "Arithmetic", "A"},
    {"AL", "Elementary Algebra", "A"},
    {"sp", "Speech Sample Oral", "1"},
    {"SRD", "Reading Scaled Score", ""},
    {"SWR", "Writing Scaled Score", ""},
    {"SMA", "Math Scaled Score", ""},
    {"SR1", "Reading Score 1", ""},
    {"S1", "Composite Score", ""},
    {"ESL", "Test of English as a Second Language", "C"},
};

const std::vector<std::string> kLastNames = {"SMITH",
                                             "JOHNSON",
                                             "WILLIAMS",
                                             "BROWN",
                                             "JONES",
                                             "GARCIA",
                                             "MILLER",
                                             "DAVIS",
                                             "RODRIGUEZ",
                                             "MARTINEZ",
                                             "HERNANDEZ",
                                             "LOPEZ",
                                             "GONZALEZ",
                                             "WILSON",
                                             "ANDERSON",
                                             "THOMAS",
                                             "TAYLOR",
                                             "MOORE",
                                             "JACKSON",
                                             "MARTIN",
                                             "LEE",
                                             "PEREZ",
                                             "THOMPSON",
                                             "WHITE",
                                             "HARRIS",
                                             "SANCHEZ",
                                             "CLARK",
                                             "RAMIREZ",
                                             "LEWIS",
                                             "ROBINSON",
                                             "WALKER",
                                             "YOUNG",
                                             "ALLEN",
                                             "KING",
                                             "WRIGHT",
                                             "SCOTT",
                                             "NGUYEN",
                                             "HILL",
                                             "FLORES",
                                             "GREEN",
                                             "DE LA CRUZ",
                                             "O'BRIEN",
                                             "VAN DER BERG",
                                             "MONTGOMERY-SMITH",
                                             "FAKEFAMILYNAMESON",
                                             "M\x9ALLER",
                                             "PE\xA4"
                                             "A"};

const std::vector<std::string> kFirstNames = {
    "JAMES",     "MARY",        "JOHN",  "PATRICIA", "ROBERT", "JENNIFER", "MICHAEL",
    "LINDA",     "DAVID",       "SUSAN", "MARIA",    "JOSE",   "KIM",      "DANA",
    "ALEX",      "SAM",         "CHRIS", "CASEY",    "JAMIE",  "REN\x82",  "MAXIMILIANUS",
    "ELIZABETH", "CHRISTOPHER", "ANH",   "WEI",      "FATIMA"};

const std::vector<std::string> kGroups = {"GRP0101", "GRP0202", "PA0003", "12", "A1B2C3D", ""};

// The testing period n: alternately a fall and a spring semester.
struct Period {
    int number;
    std::string name;
    kes::Date first, last;
};

Period periodNumber(int n) {
    const int year = 2005 + n / 2;
    const bool fall = n % 2 == 1;
    Period p;
    p.number = n;
    p.name = std::string(fall ? "Fall " : "Spring ") + std::to_string(year) + " Placement Testing";
    p.first = *kes::Date::fromYmd(year, fall ? 8 : 1, fall ? 15 : 9);
    p.last = kes::Date(p.first.days() + 119);
    return p;
}

struct Student {
    std::string ssn;
    std::string lastName, firstName, middleName;
    kes::Date birth;
    bool noBirth = false;
};

// The students of a period, and SSNs that the record tables use for people
// missing from the student tables.
struct People {
    std::vector<Student> students;
    std::vector<std::string> absentSsns;
};

// SSNs in the 900-xx-xxxx range, all different; one in a thousand without
// hyphens. The absent SSNs come from the same walk, so they are spread among
// the students' and never sort before the first of them: an upload file in
// SSN order starts with a student.
People makeStudents(long count, Random& random) {
    People people;
    std::vector<Student>& students = people.students;
    students.resize(static_cast<size_t>(count));
    const uint64_t stride = 7919 * 7907; // prime to 10^8: a walk through all numbers
    const uint64_t start = random.next() % 100000000ull;
    auto walk = [&](long i) -> uint64_t {
        return (start + static_cast<uint64_t>(i) * stride) % 100000000ull;
    };
    uint64_t lowest = 100000000ull;
    for (long i = 0; i < count; ++i)
        lowest = std::min(lowest, walk(i));
    const long absent = std::max(1L, count / 20);
    for (long i = count; i < count + absent && count > 0; ++i) {
        const uint64_t n = walk(i);
        if (n < lowest) continue;
        char buf[16];
        std::snprintf(buf, sizeof buf, "9%02llu-%02llu-%04llu",
                      static_cast<unsigned long long>(n / 1000000),
                      static_cast<unsigned long long>(n / 10000 % 100),
                      static_cast<unsigned long long>(n % 10000));
        people.absentSsns.push_back(buf);
    }
    for (long i = 0; i < count; ++i) {
        Student& s = students[static_cast<size_t>(i)];
        uint64_t n = walk(i);
        char buf[16];
        if (random.perMille(1))
            std::snprintf(buf, sizeof buf, "9%08llu", static_cast<unsigned long long>(n));
        else
            std::snprintf(buf, sizeof buf, "9%02llu-%02llu-%04llu",
                          static_cast<unsigned long long>(n / 1000000),
                          static_cast<unsigned long long>(n / 10000 % 100),
                          static_cast<unsigned long long>(n % 10000));
        s.ssn = buf;
        s.lastName = random.pick(kLastNames);
        s.firstName = random.pick(kFirstNames);
        if (!random.perMille(150))
            s.middleName = std::string(1, static_cast<char>('A' + random.below(26)));
        s.noBirth = random.perMille(5);
        s.birth = kes::Date(static_cast<int32_t>(18264 + random.below(20000))); // 1950 .. 2004
    }
    return people;
}

constexpr const char* kStudentFields =
    "SSN,C,11,0;LNAME,C,20,0;FNAME,C,15,0;MNAME,C,10,0;BIRTHDATE,D,8,0;PHONE,C,12,0;";

// A student table in shuffled order, with its SSN index.
void writeStudents(const std::string& dir, const std::string& table, const std::string& index,
                   const std::vector<Student>& students, Random& random) {
    std::vector<uint32_t> order(students.size());
    std::iota(order.begin(), order.end(), 0u);
    for (size_t i = order.size(); i > 1; --i)
        std::swap(order[i - 1], order[random.below(static_cast<uint32_t>(i))]);

    TAdsTable t;
    createTable(t, dir, table, kStudentFields);
    RecordWriter w(t);
    const int ssn = w.field("SSN"), last = w.field("LNAME"), first = w.field("FNAME"),
              middle = w.field("MNAME"), birth = w.field("BIRTHDATE"), phone = w.field("PHONE");
    xbase::KeyEntries keys;
    keys.keyLength = 11;
    std::vector<std::pair<std::string, uint32_t>> sorted;
    sorted.reserve(students.size());
    uint32_t recno = 0;
    for (uint32_t i : order) {
        const Student& s = students[i];
        w.begin();
        w.text(ssn, s.ssn);
        w.text(last, s.lastName);
        w.text(first, s.firstName);
        w.text(middle, s.middleName);
        w.date(birth, s.birth, s.noBirth);
        char buf[16];
        std::snprintf(buf, sizeof buf, "555-%04u", random.below(10000));
        w.text(phone, buf);
        sorted.emplace_back(xbase::ntxKey(xbase::Value::character(s.ssn), 11, 0), ++recno);
        w.flush();
    }
    w.flush(true);
    t.Close();
    std::sort(sorted.begin(), sorted.end());
    for (const auto& [key, r] : sorted)
        keys.push(reinterpret_cast<const unsigned char*>(key.data()), r);
    xbase::NtxInfo info;
    info.keyExpression = "SSN";
    info.keyLength = 11;
    xbase::writeNtx(dir + index, info, keys);
}

enum class Kind { Placement, Assessment, Score };

constexpr const char* kRecordFieldsStart =
    "SSN,C,11,0;DATE,D,8,0;CODE,C,4,0;CORRECT,N,3,0;SCORE,N,4,0;ATTEMPT,N,3,0;"
    "SS1,N,2,0;SS2,N,2,0;SS3,N,2,0;SS4,N,2,0;SS5,N,2,0;SS6,N,2,0;SS7,N,2,0;SS8,N,2,0;"
    "SS9,N,2,0;SS10,N,2,0;GRPNUMBER,C,7,0;TESTTIME,C,8,0;";

void writeRecords(const std::string& dir, const std::string& table, Kind kind, long count,
                  const People& people, const Period& period, Random& random) {
    const std::vector<Student>& students = people.students;
    TAdsTable t;
    createTable(t, dir, table,
                std::string(kRecordFieldsStart) +
                    (kind == Kind::Placement ? "DUPLICATE,L,1,0;" : "RETEST,C,1,0;"));
    RecordWriter w(t);
    const int ssn = w.field("SSN"), date = w.field("DATE"), code = w.field("CODE"),
              correct = w.field("CORRECT"), score = w.field("SCORE"), attempt = w.field("ATTEMPT"),
              group = w.field("GRPNUMBER"), time = w.field("TESTTIME"),
              flag = w.field(kind == Kind::Placement ? "DUPLICATE" : "RETEST");
    int subscores[10];
    for (int i = 0; i < 10; ++i)
        subscores[i] = w.field(("SS" + std::to_string(i + 1)).c_str());

    static const std::vector<std::string> placementCodes = {
        "EN01", "EN02", "EN02", "EN03", "MA01", "MA02", "MA02", "MA03",
        "MA03", "MA04", "RD01", "RD02", "RD02", "RD03", "RD03", "ES01"};
    static const std::vector<std::string> assessmentCodes = {"RD", "RD", "WR", "WR",
                                                             "MA", "MA", "AL", "sp"};
    static const std::vector<std::string> scoreCodes = {"SRD", "SWR", "SMA", "SR1", "S1"};
    const uint32_t days = static_cast<uint32_t>(period.last.days() - period.first.days() + 1);

    for (long i = 0; i < count; ++i) {
        w.begin();
        if (random.perMille(10)) w.deleted();
        // Three records in a thousand belong to nobody in the student table.
        const auto& absent = people.absentSsns;
        if (students.empty() || (random.perMille(3) && !absent.empty())) {
            w.text(ssn, absent.empty()
                            ? std::string("800-00-0000")
                            : absent[random.below(static_cast<uint32_t>(absent.size()))]);
        } else {
            w.text(ssn, students[random.below(static_cast<uint32_t>(students.size()))].ssn);
        }
        w.date(date, kes::Date(period.first.days() + static_cast<int32_t>(random.below(days))),
               random.perMille(2));
        std::string c;
        switch (kind) {
        case Kind::Placement:
            c = random.perMille(3) ? "XX99" : random.pick(placementCodes);
            break;
        case Kind::Assessment:
            c = random.perMille(3) ? "ZZ" : random.pick(assessmentCodes);
            break;
        case Kind::Score:
            c = random.pick(scoreCodes);
            break;
        }
        w.text(code, c);
        w.number(correct, random.below(61));
        w.number(score, c[0] == 'S' ? 150 + random.below(451) : 0);
        w.number(attempt, 1 + random.below(random.perMille(20) ? 12 : 3));
        for (int s : subscores)
            w.number(s, random.below(100));
        w.text(group, random.pick(kGroups));
        char clock[16];
        std::snprintf(clock, sizeof clock, "%02u:%02u:00", 8 + random.below(10), random.below(60));
        w.text(time, clock);
        if (kind == Kind::Placement) {
            w.logical(flag, !random.perMille(50));
        } else {
            uint32_t r = random.below(100);
            w.text(flag, r < 70 ? " " : r < 90 ? "Y" : r < 98 ? "N" : "n");
        }
        w.flush();
    }
    w.flush(true);
    t.Close();
}

void writeSmallTables(const std::string& dir, const Period& period) {
    {
        TAdsTable t;
        createTable(t, dir, "TP", "TPNAME,C,40,0;TPNUMBER,N,2,0;");
        RecordWriter w(t);
        w.begin();
        w.text(w.field("TPNAME"), period.name);
        w.number(w.field("TPNUMBER"), period.number);
        w.flush(true);
        t.Close();
    }
    {
        TAdsTable t;
        createTable(t, dir, "LEVELS", "CODE,C,4,0;PLACEMENT,C,70,0;COMMENT,C,60,0;");
        RecordWriter w(t);
        for (const Level& l : kLevels) {
            w.begin();
            w.text(w.field("CODE"), l.code);
            w.text(w.field("PLACEMENT"), l.placement);
            w.text(w.field("COMMENT"), l.comment);
        }
        w.flush(true);
        t.Close();
    }
    {
        TAdsTable t;
        createTable(t, dir, "TEST", "CODE,C,4,0;TEST,C,40,0;FORM,C,10,0;");
        RecordWriter w(t);
        for (const Test& x : kTests) {
            w.begin();
            w.text(w.field("CODE"), x.code);
            w.text(w.field("TEST"), x.test);
            w.text(w.field("FORM"), x.form);
        }
        w.flush(true);
        t.Close();
    }
}

// The placement and test codes sent to the student-records system.
std::string placementNewCode(const std::string& code) {
    static const std::vector<std::pair<std::string, std::string>> names = {
        {"EN01", "E090"}, {"EN02", "E101"}, {"EN03", "E102"}, {"MA01", "MA01"}, {"MA02", "M095"},
        {"MA03", "M105"}, {"MA04", "M120"}, {"RD01", "R080"}, {"RD02", "R090"}, {"RD03", "R000"}};
    for (const auto& [from, to] : names)
        if (from == code) return to;
    return ""; // ES01: not sent
}

std::string testNewCode(const std::string& code) {
    static const std::vector<std::pair<std::string, std::string>> names = {
        {"RD", "READ"},  {"WR", "WRIT"},  {"MA", "ARIT"},  {"AL", "ALGE"}, {"sp", "SPCH"},
        {"SRD", "SREA"}, {"SWR", "SWRI"}, {"SMA", "SMAT"}, {"SR1", "SR1"}, {"S1", "S1"}};
    for (const auto& [from, to] : names)
        if (from == code) return to;
    return ""; // ESL: not sent
}

// KESPLACE and KESTEST from period 1's LEVELS and TEST, most codes included.
void writeCodeTables(const std::string& dataDir) {
    struct CodeTable {
        const char* name;
        const char* fieldList;
        const char* source;
        const char* excluded;
    };
    const CodeTable tables[] = {
        {"KESPLACE", "CODE,     C, 4,0;INCLUDE,  L, 1,0;NEWCODE,  C, 4,0;MESSAGE,  C, 110,0;",
         "LEVELS", "RD03"},
        {"KESTEST", "CODE,     C, 4,0;INCLUDE,  L, 1,0;NEWCODE,  C, 4,0;TEST,     C, 22,0;", "TEST",
         "S1"},
    };
    for (const CodeTable& table : tables) {
        TAdsTable codes;
        TAdsTable::AdsCreateTable(dataDir + table.name + ".dbf", ttAdsCDX, OEM, 0, table.fieldList);
        codes.DatabaseName = dataDir;
        codes.TableType = ttAdsCDX;
        codes.SetTableName(table.name);
        codes.Exclusive = true;
        codes.Open();
        codes.AdsCreateIndex61("", "CODE", "CODE", "", "", ADS_COMPOUND);

        TAdsTable source;
        source.DatabaseName = dataDir + "VIRNTP1" + PathDelim;
        source.TableType = ttAdsNTX;
        source.SetTableName(table.source);
        source.Open();
        const bool placement = std::string(table.name) == "KESPLACE";
        for (source.First(); !source.Eof(); source.Next()) {
            const std::string code = source.FieldByName("Code").AsString();
            std::string description;
            if (placement)
                description = source.FieldByName("Placement").AsString() + " " +
                              source.FieldByName("Comment").AsString();
            else
                description =
                    source.FieldByName("Test").AsString() +
                    (code.rfind('S', 0) == 0 ? "" : " " + source.FieldByName("Form").AsString());
            codes.Append();
            codes.FieldByName("CODE").SetAsString(code);
            codes.FieldByName("INCLUDE").SetAsBoolean(code != table.excluded);
            codes.FieldByName("NEWCODE").SetAsString(placement ? placementNewCode(code)
                                                               : testNewCode(code));
            codes.FieldByName(placement ? "MESSAGE" : "TEST").SetAsString(description);
            codes.Post();
        }
        source.Close();
        codes.Close();
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](long& out) {
            if (i + 1 >= argc || !parseNumber(argv[i + 1], out)) {
                std::fprintf(stderr, "kesprep-gendata: %s needs a whole number\n", arg.c_str());
                std::exit(2);
            }
            ++i;
        };
        long n = 0;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--out" && i + 1 < argc) {
            options.out = argv[++i];
        } else if (arg == "--periods") {
            value(n);
            options.periods = static_cast<int>(n);
        } else if (arg == "--records") {
            value(options.records);
        } else if (arg == "--temporary-records") {
            value(options.temporaryRecords);
        } else if (arg == "--students") {
            value(options.students);
        } else if (arg == "--seed") {
            value(n);
            options.seed = static_cast<uint64_t>(n);
        } else if (arg == "--with-code-tables") {
            options.codeTables = true;
        } else {
            std::fprintf(stderr, "kesprep-gendata: unknown option %s\n\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (options.out.empty()) {
        std::fputs("kesprep-gendata: --out DIR is required\n\n", stderr);
        usage(stderr);
        return 2;
    }
    if (options.periods < 1 || options.periods > 11) {
        std::fputs("kesprep-gendata: --periods must be 1 to 11\n", stderr);
        return 2;
    }
    if (options.temporaryRecords < 0) options.temporaryRecords = options.records;

    // Every header gets the same last-update date.
    kes::Clock::instance().setSource([] {
        kes::LocalTime t;
        t.year = 2011;
        t.month = 6;
        t.day = 30;
        return t;
    });

    const auto started = std::chrono::steady_clock::now();
    try {
        const std::string dataDir = NormalizePath(options.out);
        std::filesystem::create_directories(dataDir);
        {
            TAdsTable t;
            createTable(t, dataDir, "SETUPSCH", "SCHSTATION,C,5,0;SCHNAME,C,40,0;");
            RecordWriter w(t);
            w.begin();
            w.text(w.field("SCHSTATION"), "KCC01");
            w.text(w.field("SCHNAME"), "KESTAL COMMUNITY COLLEGE (DEMO DATA)");
            w.flush(true);
            t.Close();
        }
        for (int n = 1; n <= options.periods; ++n) {
            const Period period = periodNumber(n);
            const std::string dir = dataDir + "VIRNTP" + std::to_string(n) + PathDelim;
            std::filesystem::create_directories(dir);
            Random random(options.seed * 1000003ull + static_cast<uint64_t>(n));
            writeSmallTables(dir, period);

            const People people = makeStudents(options.students, random);
            writeStudents(dir, "Student", "SSN.NTX", people.students, random);
            writeStudents(dir, "StudTemp", "SSNTEMP.NTX", people.students, random);

            // Split: 30% placement, 30% assessment, the rest scores.
            auto split = [](long total) {
                long placement = total * 3 / 10, assessment = total * 3 / 10;
                return std::array<long, 3>{placement, assessment, total - placement - assessment};
            };
            const auto master = split(options.records);
            const auto temporary = split(options.temporaryRecords);
            writeRecords(dir, "Place", Kind::Placement, master[0], people, period, random);
            writeRecords(dir, "Assess", Kind::Assessment, master[1], people, period, random);
            writeRecords(dir, "Scores", Kind::Score, master[2], people, period, random);
            writeRecords(dir, "PlacTemp", Kind::Placement, temporary[0], people, period, random);
            writeRecords(dir, "Assetemp", Kind::Assessment, temporary[1], people, period, random);
            writeRecords(dir, "Scortemp", Kind::Score, temporary[2], people, period, random);
        }
        if (options.codeTables) writeCodeTables(dataDir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kesprep-gendata: %s\n", e.what());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("Wrote %d period(s) of %ld master and %ld temporary records over %ld students "
                "to %s in %.2f s\n",
                options.periods, options.records, options.temporaryRecords, options.students,
                options.out.c_str(), seconds);
    return 0;
}
