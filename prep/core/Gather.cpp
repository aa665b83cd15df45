#include "prep/core/Gather.h"

#include "common/CodePage.h"
#include "common/Parallel.h"
#include "common/Paths.h"
#include "common/StepTimer.h"
#include "common/Text.h"
#include "data/OpenTableWithRetry.h"
#include "os/Os.h"
#include "prep/core/WorkTable.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

// Number of characters of a UTF-8 text (continuation bytes do not count).
size_t characterCount(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

// `count` characters of a UTF-8 text from the zero-based character `first`.
std::string_view characters(std::string_view text, size_t first, size_t count) {
    if (text.size() == characterCount(text)) // plain ASCII, the usual case
        return first < text.size() ? text.substr(first, count) : std::string_view();
    size_t index = 0, begin = text.size(), end = text.size();
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (index == first) begin = i;
        if (index == first + count) {
            end = i;
            break;
        }
        ++index;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string_view();
}

// Runs clean-up actions one after another whatever each of them does; the
// first error among them is kept for the caller to raise once all have run.
class CleanUp {
  public:
    template <class Action> void operator()(Action&& action) {
        try {
            action();
        } catch (...) {
            if (!error_) error_ = std::current_exception();
        }
    }
    void rethrowFirst() {
        if (error_) std::rethrow_exception(error_);
    }

  private:
    std::exception_ptr error_;
};

// What a table's layout needs of one field: its name, the type letters it
// may have, and whether a table without it is damaged. A field that a table
// may lack is only checked for its type when it is there.
struct FieldNeed {
    const char* name;
    const char* types;
    bool required;
};

constexpr const char* kText = "C";
constexpr const char* kDate = "D";
constexpr const char* kLogical = "L";
constexpr const char* kNumber = "NFIBY";

// The placement, assessment and score tables: a record is nothing without
// its student, its code, its date and the two numbers its score comes from;
// the rest is copied when present.
const FieldNeed kRecordTableFields[] = {
    {"SSN", kText, true},       {"DATE", kDate, true},       {"CODE", kText, true},
    {"CORRECT", kNumber, true}, {"SCORE", kNumber, true},    {"ATTEMPT", kNumber, false},
    {"SS1", kNumber, false},    {"SS2", kNumber, false},     {"SS3", kNumber, false},
    {"SS4", kNumber, false},    {"SS5", kNumber, false},     {"SS6", kNumber, false},
    {"SS7", kNumber, false},    {"SS8", kNumber, false},     {"SS9", kNumber, false},
    {"SS10", kNumber, false},   {"GRPNUMBER", kText, false}, {"DUPLICATE", kLogical, false},
    {"RETEST", kText, false},   {"LNAME", kText, false},     {"FNAME", kText, false},
    {"MNAME", kText, false},    {"BIRTHDATE", kDate, false}, {"ID", kText, false},
    {"TESTCODE", kText, false}, {"TESTSCORE", kText, false}, {"SITECODE", kText, false},
};
const FieldNeed kStudentFields[] = {
    {"SSN", kText, true},   {"LNAME", kText, true},     {"FNAME", kText, true},
    {"MNAME", kText, true}, {"BIRTHDATE", kDate, true},
};
const FieldNeed kSiteFields[] = {{"SCHSTATION", kText, true}};
const FieldNeed kCodeTableFields[] = {
    {"CODE", kText, true}, {"INCLUDE", kLogical, true}, {"NEWCODE", kText, true}};

// Whether `name`, a field the layout does not list, reads as `missing` with
// one byte changed: a damaged name. (A name cut short is not taken for one:
// a table may well hold a field named like the start of another.)
bool damagedNameOf(const std::string& name, std::string_view missing) {
    if (name.size() != missing.size()) return false;
    int differing = 0;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != missing[i]) ++differing;
    return differing == 1;
}

// A table whose fields are not of the kinds its layout needs is damaged: a
// last name read from a logical field would be "False" on every line. So is
// one that lacks a field of its layout and has a field of no layout's name
// that is that field's name damaged (its values would read empty).
template <size_t N> void requireLayout(TAdsTable& table, const FieldNeed (&needs)[N]) {
    const std::vector<xbase::FieldDef>& fields = table.FieldDefs();
    for (const FieldNeed& need : needs) {
        const int at = xbase::findField(fields, need.name);
        if (at < 0) {
            if (!need.required) {
                // A field the table may lack, there under a damaged name.
                for (const xbase::FieldDef& field : fields) {
                    bool listed = false;
                    for (const FieldNeed& other : needs)
                        listed = listed || kes::equalsIgnoreCase(field.name, other.name);
                    if (!listed && damagedNameOf(field.name, need.name))
                        throw EADSDatabaseError(AE_CORRUPT_TABLE,
                                                "The table is damaged: its field " + field.name +
                                                    " is " + need.name +
                                                    " with a damaged name: " + table.File().path());
                }
                continue;
            }
            throw EADSDatabaseError(AE_CORRUPT_TABLE,
                                    "The table is damaged: it has no field " +
                                        std::string(need.name) +
                                        ", which every record needs: " + table.File().path());
        }
        const char type = fields[static_cast<size_t>(at)].type;
        if (std::strchr(need.types, type) == nullptr ||
            fields[static_cast<size_t>(at)].form == xbase::FieldForm::NotRead)
            throw EADSDatabaseError(AE_CORRUPT_TABLE, "The table is damaged: its field " +
                                                          std::string(need.name) + " is of type " +
                                                          std::string(1, type) + " where type " +
                                                          std::string(1, need.types[0]) +
                                                          " belongs: " + table.File().path());
    }
}

// The ten subscore fields come together: a table that has some of them lost
// the others' names to damage (their subscores would read as zero).
void requireWholeSubscores(TAdsTable& table) {
    const std::vector<xbase::FieldDef>& fields = table.FieldDefs();
    std::string missing;
    int present = 0;
    for (int i = 1; i <= 10; ++i) {
        const std::string name = "SS" + std::to_string(i);
        if (xbase::findField(fields, name) >= 0)
            ++present;
        else
            missing += (missing.empty() ? "" : ", ") + name;
    }
    if (present > 0 && present < 10)
        throw EADSDatabaseError(AE_CORRUPT_TABLE,
                                "The table is damaged: it has subscore fields but not " + missing +
                                    ": " + table.File().path());
}

// Records past the end the header states: in the testing system's tables a
// warning (its station may be adding records this moment); in our own code
// tables, which nobody appends to while we read, damage.
std::string pastEndText(const TAdsTable& table) {
    const uint32_t past = table.File().recordsPastEnd();
    return kes::fileNameOf(table.File().path()) + " holds " + std::to_string(past) +
           (past == 1 ? " record" : " records") +
           " past the end its header states, which were not read";
}

// Closes a table of the run: pending change dropped, filter cleared, natural
// order, closed.
void closeTable(TAdsTable& table) {
    if (!table.Active()) return;
    table.Cancel();
    table.AdsClearFilter();
    table.SetIndexName("");
    table.Close();
}

// One code table: KESPLACE or KESTEST with its fields and the tag "Code".
struct CodeTable {
    TAdsTable table;
    bool open = false;
    TField* include = nullptr;
    TField* newCode = nullptr;

    // False when the operator gave up on the open.
    bool openIfPresent(const std::string& dataDir, const char* name, Operator& op) {
        table.DatabaseName = dataDir;
        table.TableType = ttAdsCDX;
        table.SetTableName(name);
        // Anything under the name is opened: a pipe or a device there is no
        // missing table, and must not pass for one.
        if (kes::resolveCaseInsensitive(dataDir + name + ".DBF").empty()) return true;
        open = true;
        if (!OpenTableWithRetry(table, op)) return false;
        requireLayout(table, kCodeTableFields);
        if (table.File().recordsPastEnd() > 0)
            throw EADSDatabaseError(AE_CORRUPT_TABLE,
                                    "The table is damaged: " + pastEndText(table) + ": " +
                                        table.File().path());
        table.SetIndexName("Code");
        include = &table.FieldByName("Include");
        newCode = &table.FieldByName("NewCode");
        return true;
    }
};

// Where a field lies in the records of its table.
struct FieldSpan {
    size_t offset = 0;
    size_t length = 0;
    char type = 'C';
};

FieldSpan spanOf(TAdsTable& table, const char* name) {
    const xbase::FieldDef& f =
        table.FieldDefs()[static_cast<size_t>(table.FieldByName(name).Index())];
    return FieldSpan{f.offset, f.length, f.type};
}

// Writes UTF-8 text into a text field: in the table's code page, cut to the
// field's width and padded with blanks.
void putText(char* record, const FieldSpan& field, std::string_view text, kes::CodePage cp) {
    std::string converted;
    if (!kes::isAscii(text)) text = converted = kes::fromUtf8(text, cp);
    const size_t n = std::min(text.size(), field.length);
    std::memcpy(record + field.offset, text.data(), n);
    std::memset(record + field.offset + n, ' ', field.length - n);
}

// The bytes a text field holds after putText.
std::string textBytes(const FieldSpan& field, std::string_view text, kes::CodePage cp) {
    std::string bytes(field.length + 1, ' ');
    putText(bytes.data(), FieldSpan{1, field.length, field.type}, text, cp);
    return bytes.substr(1);
}

// SsnToId of a plain ASCII SSN straight into the ID field: its characters
// 1-3, 5-6 and 8-11, cut to the field and padded with blanks.
void putAsciiId(char* field, size_t length, std::string_view ssn) {
    size_t n = 0;
    for (const auto& [from, count] : {std::pair<size_t, size_t>{0, 3}, {4, 2}, {7, 4}})
        for (size_t i = from; i < from + count && i < ssn.size() && n < length; ++i)
            field[n++] = ssn[i];
    std::memset(field + n, ' ', length - n);
}

// What a testing code does to the records that carry it. The code tables do
// not change during a gathering, so each code is looked up once.
struct CodeRule {
    enum class Action {
        SetCodes,   // TESTCODE and TESTSCORE are written
        LeaveCodes, // a code missing from its code table: both stay blank
        Drop,       // the code table excludes the code
    };
    std::string code;       // the testing code as text
    bool placement = false; // two characters of level, two of score
    bool scoreCode = false; // reports SCORE; other test codes report CORRECT
    Action action = Action::SetCodes;
    std::string testCode;                          // TESTCODE's bytes (SetCodes)
    std::string testScore;                         // TESTSCORE's bytes of a placement code
    std::map<std::string, int>* account = nullptr; // where its records are counted
};

class Gathering {
  public:
    Gathering(const GatherOptions& options, Operator& op) : options_(options), op_(op) {}

    GatherResult run();
    const GatherAccount& account() const { return account_; }

  private:
    bool gather();
    bool readSiteCode();
    bool copyRecords(const std::string& tableName, const std::string& filter,
                     RecordTableAccount& account);
    bool openStudents();
    void processRecords();
    CodeRule ruleFor(std::string_view storedCode);
    void notePastEnd(const TAdsTable& table) {
        if (table.File().recordsPastEnd() > 0) account_.warnings.push_back(pastEndText(table));
    }
    void finish();
    void abandon();

    const GatherOptions& options_;
    Operator& op_;

    TAdsTable work_;   // the work table KESTABLE
    TAdsTable source_; // the testing system's tables, one after another
    CodeTable placement_;
    CodeTable test_;
    std::string siteCode_ = "  ";
    bool dropped_ = false;
    bool hourglass_ = false;
    GatherAccount account_;
};

GatherResult Gathering::run() {
    bool completed = false;
    try {
        completed = gather();
    } catch (...) {
        abandon();
        throw;
    }
    if (!completed) {
        abandon();
        return GatherResult::Cancelled;
    }
    finish();
    return GatherResult::Done;
}

// The run up to the pack. False as soon as the operator gives up on an open.
bool Gathering::gather() {
    if (!placement_.openIfPresent(options_.DataDir, "KESPLACE", op_)) return false;
    if (!test_.openIfPresent(options_.DataDir, "KESTEST", op_)) return false;

    if (!OpenNewWorkTable(work_, options_.DataDir, op_)) return false;
    op_.SetHourglass(true);
    hourglass_ = true;
    CreateWorkTableTags(work_);

    if (options_.IncludeSiteCode && !readSiteCode()) return false;

    source_.DatabaseName = options_.DataDir + options_.PeriodDir;
    source_.TableType = ttAdsNTX;

    const std::string& dates = options_.DateFilter;
    const std::string retest = "(retest <> \"N\")";
    const std::string retestFilter = dates.empty() ? retest : dates + " .and. " + retest;
    if (options_.IncludePlacement) {
        op_.ShowStatus("Adding Placement Records");
        kes::StepTimer step("copy placement");
        bool copied =
            options_.SearchTemporary
                ? copyRecords("PlacTemp", dates, account_.placement)
                : copyRecords("Place", dates.empty() ? "duplicate" : dates + ".and. duplicate",
                              account_.placement);
        if (!copied) return false;
    }
    if (options_.IncludeAssessment) {
        op_.ShowStatus("Adding Assessment Records");
        kes::StepTimer step("copy assessment");
        if (!copyRecords(options_.SearchTemporary ? "Assetemp" : "Assess",
                         options_.SearchTemporary ? dates : retestFilter, account_.assessment))
            return false;
    }
    if (options_.IncludeScores) {
        op_.ShowStatus("Adding Score Records");
        kes::StepTimer step("copy scores");
        if (!copyRecords(options_.SearchTemporary ? "Scortemp" : "Scores",
                         options_.SearchTemporary ? dates : retestFilter, account_.scores))
            return false;
    }

    op_.ShowStatus("Processing...");
    op_.SetProgressRange(0, static_cast<int>(work_.RecordCount()));
    op_.SetProgress(0);

    {
        kes::StepTimer step("lookups");
        if (!openStudents()) return false;
        processRecords();
        closeTable(source_);
    }

    {
        // The records the code tables drop go, the rest are written, and the
        // memory of the records is free before the tags are built from the
        // file at the close.
        kes::StepTimer step(dropped_ ? "pack" : "write work table");
        work_.WriteAndReleaseRecords(dropped_);
    }
    account_.kept = static_cast<int>(work_.File().recordCount());
    return true;
}

bool Gathering::readSiteCode() {
    source_.DatabaseName = options_.DataDir;
    source_.TableType = ttAdsNTX;
    source_.SetTableName("SetupSch");
    if (kes::resolveCaseInsensitive(options_.DataDir + "SetupSch.dbf").empty()) return true;
    if (!OpenTableWithRetry(source_, op_)) return false;
    requireLayout(source_, kSiteFields);
    notePastEnd(source_);
    siteCode_ = source_.FieldByName("SCHSTATION").AsString();
    source_.Close();
    return true;
}

// Appends the records of one record table that pass `filter` to the work
// table and counts them into `account`. False when the operator gave up on
// the open.
bool Gathering::copyRecords(const std::string& tableName, const std::string& filter,
                            RecordTableAccount& account) {
    source_.SetTableName(tableName);
    if (!OpenTableWithRetry(source_, op_)) return false;
    source_.AdsTableOptions.AdsFilterOptions = RESPECT_WHEN_COUNTING;
    try {
        requireLayout(source_, kRecordTableFields);
        requireWholeSubscores(source_);
        notePastEnd(source_);
        account.table = tableName;
        const xbase::DbfFile& file = source_.File();
        account.read = static_cast<int>(file.recordCount() - file.deletedCount());
        int inDates = account.read;
        if (!options_.DateFilter.empty()) {
            source_.AdsSetFilter("(" + options_.DateFilter + ") .and. .not. DELETED()");
            inDates = static_cast<int>(source_.RecordCount());
            source_.AdsClearFilter();
        }
        const uint32_t before = work_.File().recordCount();
        if (!filter.empty()) source_.AdsSetFilter(filter);
        source_.AdsCopyTableContents(work_);
        account.copied = static_cast<int>(work_.File().recordCount() - before);
        account.outsideDates = account.read - inDates;
        account.setAside = inDates - account.copied;
    } catch (...) {
        CleanUp quietly;
        quietly([&] { source_.AdsClearFilter(); });
        quietly([&] { source_.Close(); });
        throw;
    }
    source_.AdsClearFilter();
    source_.Close();
    return true;
}

bool Gathering::openStudents() {
    const bool temporary = options_.SearchTemporary;
    source_.SetTableName(temporary ? "StudTemp" : "Student");
    if (!OpenTableWithRetry(source_, op_)) return false;
    requireLayout(source_, kStudentFields);
    notePastEnd(source_);
    source_.AdsOpenIndex(source_.DatabaseName + (temporary ? "SSNTEMP.NTX" : "SSN.NTX"));
    source_.SetIndexName(temporary ? "SSNTEMP" : "SSN");
    return true;
}

CodeRule Gathering::ruleFor(std::string_view storedCode) {
    const kes::CodePage cp = work_.CodePage();
    const FieldSpan testCode = spanOf(work_, "TESTCODE");
    const FieldSpan testScore = spanOf(work_, "TESTSCORE");
    CodeRule rule;
    rule.code = kes::toUtf8(kes::trimRight(storedCode), cp);
    CodeTable* table = nullptr;
    if (characterCount(rule.code) == 4) {
        // A placement code: two characters of level, two of score.
        rule.placement = true;
        rule.testScore = textBytes(testScore, characters(rule.code, 2, 2), cp);
        if (placement_.open)
            table = &placement_;
        else
            rule.testCode = textBytes(testCode, characters(rule.code, 0, 2), cp);
    } else {
        // Score codes begin with a capital S and report SCORE; the others
        // report the number correct.
        rule.scoreCode = !rule.code.empty() && rule.code[0] == 'S';
        if (test_.open)
            table = &test_;
        else
            rule.testCode = textBytes(testCode, rule.code, cp);
    }
    if (!table) return rule;
    if (!table->table.FindKey(rule.code)) {
        rule.action = CodeRule::Action::LeaveCodes;
        rule.account = &account_.notInCodeTable;
        return rule;
    }
    const std::string newCode = table->newCode->AsString();
    const bool included = table->include->AsBoolean();
    if (included && !kes::trimBlanksAndControls(newCode).empty()) {
        rule.testCode = textBytes(testCode, newCode, cp);
    } else {
        rule.action = CodeRule::Action::Drop;
        rule.account = included ? &account_.blankNewCode : &account_.notIncluded;
    }
    return rule;
}

// The pass over the work table: student data, ID, site code, test code and
// score of every record; records the code tables exclude are deleted. It
// changes the records' bytes in place, a large table in two halves at once.
void Gathering::processRecords() {
    TAdsTable& work = work_;
    TAdsTable& students = source_;
    const kes::CodePage cp = work.CodePage();
    const kes::CodePage studentCp = students.CodePage();
    const FieldSpan siteCode = spanOf(work, "SITECODE");
    const FieldSpan ssn = spanOf(work, "SSN");
    const FieldSpan birthDate = spanOf(work, "BIRTHDATE");
    const FieldSpan id = spanOf(work, "ID");
    const FieldSpan code = spanOf(work, "CODE");
    const FieldSpan testCode = spanOf(work, "TESTCODE");
    const FieldSpan testScore = spanOf(work, "TESTSCORE");
    const FieldSpan score = spanOf(work, "SCORE");
    const FieldSpan correct = spanOf(work, "CORRECT");
    const TField& scoreField = work.FieldByName("SCORE");
    const TField& correctField = work.FieldByName("CORRECT");
    const FieldSpan studentBirthDate = spanOf(students, "Birthdate");
    // The names move across byte for byte between text fields.
    struct Name {
        FieldSpan to, from;
        const TField* source;
    };
    const Name names[] = {
        {spanOf(work, "LNAME"), spanOf(students, "Lname"), &students.FieldByName("Lname")},
        {spanOf(work, "FNAME"), spanOf(students, "Fname"), &students.FieldByName("Fname")},
        {spanOf(work, "MNAME"), spanOf(students, "Mname"), &students.FieldByName("Mname")},
    };
    if (code.length > 8 || birthDate.length != 8)
        throw std::logic_error("The work table's fields are not as created");
    const std::array<char, 256>* translate =
        studentCp == cp ? nullptr : &kes::byteTranslation(studentCp, cp);
    const std::string site = textBytes(siteCode, siteCode_, cp);
    const std::string dayZero = kes::Date().toYyyymmdd();

    const uint32_t recordCount = work.File().recordCount();
    const size_t recordLength = work.File().recordLength();
    char* records = recordCount ? work.RecordsForChange(1, recordCount) : nullptr;
    auto recordOf = [&](uint32_t recno) {
        return records + static_cast<size_t>(recno - 1) * recordLength;
    };
    xbase::RawVector<uint32_t> studentOf;

    // The rules of the codes met so far. The code tables are read by one
    // thread at a time; each half keeps the rules it met, and its counts.
    std::deque<CodeRule> rules;
    std::unordered_map<uint64_t, const CodeRule*> ruleOfCode;
    std::mutex rulesLock;
    struct Half {
        struct Seen {
            const CodeRule* rule;
            int records;
        };
        std::unordered_map<uint64_t, Seen> codes;
        // The entries met last, by a hash of the code: most records find
        // their code here.
        std::array<std::pair<uint64_t, Seen*>, 64> recent{};
        int studentNotFound = 0;
        bool dropped = false;
        std::atomic<uint32_t> done{0};
    };
    auto ruleOf = [&](Half& half, const char* stored) -> Half::Seen& {
        uint64_t key = 0;
        std::memcpy(&key, stored, code.length);
        auto& recent = half.recent[(key * 0x9E3779B97F4A7C15ull) >> 58];
        if (recent.second && recent.first == key) return *recent.second;
        auto [at, added] = half.codes.try_emplace(key, Half::Seen{nullptr, 0});
        if (added) {
            std::lock_guard<std::mutex> hold(rulesLock);
            const CodeRule*& rule = ruleOfCode[key];
            if (!rule) rule = &rules.emplace_back(ruleFor(std::string_view(stored, code.length)));
            at->second.rule = rule;
        }
        recent = {key, &at->second};
        return at->second;
    };

    // The student's names and birth date go into the record as soon as the
    // student is found, while the student's record is at hand (a record the
    // code tables drop goes at the pack whatever it holds).
    auto takeStudent = [&](uint32_t r, uint32_t student) {
        char* record = recordOf(r);
        const char* from = students.File().record(student);
        for (const Name& name : names) {
            if (name.from.type != 'C') {
                putText(record, name.to, name.source->At(student).AsString(), cp);
                continue;
            }
            char* to = record + name.to.offset;
            const char* bytes = from + name.from.offset;
            const size_t n = std::min(name.from.length, name.to.length);
            if (translate) {
                for (size_t i = 0; i < n; ++i)
                    to[i] = (*translate)[static_cast<unsigned char>(bytes[i])];
            } else {
                std::memcpy(to, bytes, n);
            }
            std::memset(to + n, ' ', name.to.length - n);
        }
        // An empty or unreadable date is stored as day zero.
        const std::string_view date(from + studentBirthDate.offset, studentBirthDate.length);
        std::memcpy(record + birthDate.offset,
                    kes::Date::fromYyyymmdd(date) ? date.data() : dayZero.data(), 8);
    };

    // Records first..last; the first half tells the operator how far both are.
    auto pass = [&](uint32_t first, uint32_t last, Half& half, const Half* other) {
        for (uint32_t r = first; r <= last; ++r) {
            char* record = recordOf(r);
            Half::Seen& seen = ruleOf(half, record + code.offset);
            const CodeRule& rule = *seen.rule;
            ++seen.records;
            if (rule.action == CodeRule::Action::Drop) {
                record[0] = '*';
                half.dropped = true;
            } else {
                if (options_.IncludeSiteCode)
                    std::memcpy(record + siteCode.offset, site.data(), siteCode.length);
                if (studentOf[r - 1] == 0) ++half.studentNotFound;

                const std::string_view stored =
                    kes::trimRight(std::string_view(record + ssn.offset, ssn.length));
                if (kes::isAscii(stored))
                    putAsciiId(record + id.offset, id.length, stored);
                else
                    putText(record, id, SsnToId(kes::toUtf8(stored, cp)), cp);

                if (rule.action == CodeRule::Action::SetCodes) {
                    std::memcpy(record + testCode.offset, rule.testCode.data(), testCode.length);
                    if (rule.placement) {
                        std::memcpy(record + testScore.offset, rule.testScore.data(),
                                    testScore.length);
                    } else {
                        // The points straight from the field's digits, the
                        // usual case; through the field when it holds more.
                        const FieldSpan& points = rule.scoreCode ? score : correct;
                        int64_t value;
                        if (!kes::parseDigits(kes::trimLeft(std::string_view(record + points.offset,
                                                                             points.length)),
                                              value))
                            value = (rule.scoreCode ? scoreField : correctField).At(r).AsInteger();
                        char text[kes::kLongestWholeNumber];
                        const size_t n =
                            std::min(kes::zeroPadInto(text, value, 4), testScore.length);
                        std::memcpy(record + testScore.offset, text, n);
                        std::memset(record + testScore.offset + n, ' ', testScore.length - n);
                    }
                }
            }
            const uint32_t done = r - first + 1;
            if (other) {
                op_.SetProgress(
                    static_cast<int>(done + other->done.load(std::memory_order_relaxed)));
            } else if (done % 1024 == 0 || r == last) {
                half.done.store(done, std::memory_order_relaxed);
            }
        }
    };

    try {
        // Every record's student, sought all together before the pass so that
        // the seeks overlap their waits; its names and birth date are taken
        // as it is found.
        studentOf = students.FindKeyRecNos(
            recordCount,
            [&](size_t i, std::string& text) {
                const std::string_view stored = kes::trimRight(std::string_view(
                    recordOf(static_cast<uint32_t>(i + 1)) + ssn.offset, ssn.length));
                if (kes::isAscii(stored))
                    text.assign(stored);
                else
                    text = kes::toUtf8(stored, cp);
            },
            [&](size_t i, uint32_t student) {
                takeStudent(static_cast<uint32_t>(i + 1), student);
            });

        Half halves[2];
        constexpr uint32_t kShared = 1u << 16;
        if (recordCount < 2 * kShared) {
            pass(1, recordCount, halves[0], &halves[1]);
        } else {
            const uint32_t middle = recordCount / 2;
            kes::runBoth([&] { pass(1, middle, halves[0], &halves[1]); },
                         [&] { pass(middle + 1, recordCount, halves[1], nullptr); });
            op_.SetProgress(static_cast<int>(recordCount));
        }
        for (const Half& half : halves) {
            for (const auto& entry : half.codes) {
                const CodeRule& rule = *entry.second.rule;
                if (rule.account) (*rule.account)[rule.code] += entry.second.records;
            }
            account_.studentNotFound += half.studentNotFound;
            dropped_ = dropped_ || half.dropped;
        }
    } catch (...) {
        if (records) work.RecordsChanged(1, recordCount);
        throw;
    }
    if (records) work.RecordsChanged(1, recordCount);
}

// Closes everything after a completed run; a failure to close one table does
// not keep the others open.
void Gathering::finish() {
    kes::StepTimer step("close work table");
    CleanUp cleanUp;
    op_.SetHourglass(false);
    hourglass_ = false;
    cleanUp([&] {
        // No order was chosen; the cursor stays off the records, which the
        // table no longer holds.
        if (!work_.IndexName().empty()) work_.SetIndexName("");
        work_.Close();
    });
    work_.Exclusive = false;
    cleanUp([&] { closeTable(placement_.table); });
    cleanUp([&] { closeTable(test_.table); });
    op_.ShowStatus("");
    op_.SetProgress(0);
    cleanUp.rethrowFirst();
}

// Closes everything after a failed or cancelled run. Errors on the way are
// dropped: the error that ended the run is the one to report.
void Gathering::abandon() {
    CleanUp quietly;
    quietly([&] { closeTable(source_); });
    if (hourglass_) {
        quietly([&] { op_.SetHourglass(false); });
        hourglass_ = false;
    }
    quietly([&] { closeTable(work_); });
    work_.Exclusive = false;
    quietly([&] { closeTable(placement_.table); });
    quietly([&] { closeTable(test_.table); });
    quietly([&] { op_.ShowStatus(""); });
    quietly([&] { op_.SetProgress(0); });
}

} // namespace

GatherReport GatherRecords(const GatherOptions& options, Operator& op) {
    Gathering gathering(options, op);
    GatherReport report;
    report.result = gathering.run();
    if (report.result == GatherResult::Done) report.account = gathering.account();
    return report;
}

namespace {

std::string plural(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// "EN01 2, RD03 1"
std::string codeList(const std::map<std::string, int>& codes) {
    std::string text;
    for (const auto& [code, count] : codes) {
        if (!text.empty()) text += ", ";
        text += (code.empty() ? std::string("(blank)") : code) + " " + std::to_string(count);
    }
    return text;
}

int total(const std::map<std::string, int>& codes) {
    int sum = 0;
    for (const auto& entry : codes)
        sum += entry.second;
    return sum;
}

} // namespace

std::vector<std::string> GatherAccountLines(const GatherAccount& account) {
    std::vector<std::string> lines;
    using Words = const char* const[2];
    auto table = [&](const char* kind, const RecordTableAccount& t, Words& setAside) {
        if (t.table.empty()) {
            lines.push_back(std::string(kind) + ": not included");
            return;
        }
        std::string line = std::string(kind) + " (" + t.table +
                           "): " + plural(t.read, "record read", "records read");
        if (t.outsideDates > 0)
            line += ", " + std::to_string(t.outsideDates) + " outside the dates";
        if (t.setAside > 0) line += ", " + plural(t.setAside, setAside[0], setAside[1]);
        line += ", " + std::to_string(t.copied) + " copied";
        lines.push_back(line);
    };
    static Words duplicates = {"duplicate left out", "duplicates left out"};
    static Words retests = {"retest left out", "retests left out"};
    table("Placement", account.placement, duplicates);
    table("Assessment", account.assessment, retests);
    table("Scores", account.scores, retests);
    auto codes = [&](const char* what, const std::map<std::string, int>& counts) {
        if (counts.empty()) return;
        lines.push_back(std::string(what) + ": " + std::to_string(total(counts)) + " (" +
                        codeList(counts) + ")");
    };
    codes("Dropped, code not included", account.notIncluded);
    codes("Dropped, blank new code", account.blankNewCode);
    codes("Kept, code not in the code table (test code blank)", account.notInCodeTable);
    if (account.studentNotFound > 0)
        lines.push_back("Kept, student not found (names blank): " +
                        std::to_string(account.studentNotFound));
    lines.push_back("Rows kept: " + std::to_string(account.kept));
    for (const std::string& warning : account.warnings)
        lines.push_back("Warning: " + warning);
    return lines;
}

std::string GatherAccountText(const GatherAccount& account) {
    std::string text;
    for (const std::string& line : GatherAccountLines(account)) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    return text;
}
