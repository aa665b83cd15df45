#include "prep/core/Gather.h"

#include "common/CodePage.h"
#include "common/Paths.h"
#include "common/StepTimes.h"
#include "common/Text.h"
#include "data/OpenTableWithRetry.h"
#include "os/Os.h"
#include "prep/core/WorkTable.h"

#include <deque>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

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
        if (!kes::fileExists(dataDir + name + ".DBF")) return true;
        open = true;
        if (!OpenTableWithRetry(table, op)) return false;
        table.SetIndexName("Code");
        include = &table.FieldByName("Include");
        newCode = &table.FieldByName("NewCode");
        return true;
    }
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

    if (dropped_) {
        kes::StepTimer step("pack");
        work_.AdsPackTable();
    }
    account_.kept = static_cast<int>(work_.File().recordCount());
    return true;
}

bool Gathering::readSiteCode() {
    source_.DatabaseName = options_.DataDir;
    source_.TableType = ttAdsNTX;
    source_.SetTableName("SetupSch");
    if (!kes::fileExists(options_.DataDir + "SetupSch.dbf")) return true;
    if (!OpenTableWithRetry(source_, op_)) return false;
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
        account.table = tableName;
        const xbase::DbfFile& file = source_.File();
        for (uint32_t recno = 1; recno <= file.recordCount(); ++recno)
            if (!file.isDeleted(recno)) ++account.read;
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
    source_.AdsOpenIndex(source_.DatabaseName + (temporary ? "SSNTEMP.NTX" : "SSN.NTX"));
    source_.SetIndexName(temporary ? "SSNTEMP" : "SSN");
    return true;
}

// The pass over the work table: student data, ID, site code, test code and
// score of every record; records the code tables exclude are deleted.
void Gathering::processRecords() {
    TAdsTable& work = work_;
    TAdsTable& students = source_;
    TField& siteCode = work.FieldByName("SITECODE");
    TField& ssn = work.FieldByName("SSN");
    TField& lastName = work.FieldByName("LNAME");
    TField& firstName = work.FieldByName("FNAME");
    TField& middleName = work.FieldByName("MNAME");
    TField& birthDate = work.FieldByName("BIRTHDATE");
    TField& id = work.FieldByName("ID");
    TField& code = work.FieldByName("CODE");
    TField& testCode = work.FieldByName("TESTCODE");
    TField& testScore = work.FieldByName("TESTSCORE");
    TField& score = work.FieldByName("SCORE");
    TField& correct = work.FieldByName("CORRECT");
    TField& studentLastName = students.FieldByName("Lname");
    TField& studentFirstName = students.FieldByName("Fname");
    TField& studentMiddleName = students.FieldByName("Mname");
    TField& studentBirthDate = students.FieldByName("Birthdate");

    // Keeps the record (its pending change is stored), or drops it when its
    // code table row excludes the code.
    // False when the record was dropped.
    auto translate = [&](CodeTable& table, const std::string& key, std::string_view newScore) {
        if (!table.table.FindKey(key)) {
            ++account_.notInCodeTable[key];
            return true;
        }
        std::string newCode = table.newCode->AsString();
        const bool included = table.include->AsBoolean();
        if (included && !kes::trimBlanksAndControls(newCode).empty()) {
            testCode.SetAsString(newCode);
            testScore.SetAsString(newScore);
            work.Post();
            return true;
        }
        ++(included ? account_.blankNewCode : account_.notIncluded)[key];
        work.Delete();
        dropped_ = true;
        return false;
    };

    // Every record's student, sought all together before the pass (the
    // records' SSNs do not change in it): the seeks overlap their waits.
    const uint32_t recordCount = work.File().recordCount();
    std::vector<uint32_t> studentOf;
    {
        std::vector<std::string_view> keys(recordCount);
        std::deque<std::string> converted; // SSNs that are not plain ASCII
        for (uint32_t r = 1; r <= recordCount; ++r) {
            const std::string_view stored = kes::trimRight(ssn.At(r).RawBytes());
            if (kes::isAscii(stored)) {
                keys[r - 1] = stored;
            } else {
                keys[r - 1] = converted.emplace_back(ssn.At(r).AsString());
            }
        }
        studentOf = students.FindKeyRecNos(keys);
    }
    auto studentAt = [&](uint32_t recno) {
        return recno >= 1 && recno <= studentOf.size() ? studentOf[recno - 1] : 0u;
    };

    work.DisableControls();
    students.DisableControls();
    try {
        work.First();
        int counter = 0;
        while (!work.Eof()) {
            students.Prefetch(TBookmark{studentAt(work.RecNo() + 8)});
            // One edit for the whole record: a record the code tables drop
            // loses its pending change and goes at the pack.
            work.Edit();
            if (options_.IncludeSiteCode) siteCode.SetAsString(siteCode_);

            const std::string studentSsn = ssn.AsString();
            const uint32_t student = studentAt(work.RecNo());
            const bool studentFound = student != 0;
            if (studentFound) {
                lastName.Assign(studentLastName.At(student));
                firstName.Assign(studentFirstName.At(student));
                middleName.Assign(studentMiddleName.At(student));
                birthDate.SetAsDateTime(studentBirthDate.At(student).AsDateTime());
            }

            id.SetAsString(SsnToId(studentSsn));

            const std::string testingCode = code.AsString();
            bool kept = true;
            if (characterCount(testingCode) == 4) {
                // A placement code: two characters of level, two of score.
                std::string_view level = characters(testingCode, 0, 2);
                std::string_view points = characters(testingCode, 2, 2);
                if (placement_.open) {
                    kept = translate(placement_, testingCode, points);
                } else {
                    testCode.SetAsString(level);
                    testScore.SetAsString(points);
                    work.Post();
                }
            } else {
                // Score codes begin with a capital S and report SCORE; the
                // others report the number correct.
                const bool scoreCode = !testingCode.empty() && testingCode[0] == 'S';
                const std::string points =
                    ZeroPad(scoreCode ? score.AsInteger() : correct.AsInteger(), 4);
                if (test_.open) {
                    kept = translate(test_, testingCode, points);
                } else {
                    testCode.SetAsString(testingCode);
                    testScore.SetAsString(points);
                    work.Post();
                }
            }

            if (kept && !studentFound) ++account_.studentNotFound;

            ++counter;
            op_.SetProgress(counter);
            work.Next();
        }
    } catch (...) {
        work.EnableControls();
        students.EnableControls();
        throw;
    }
    work.EnableControls();
    students.EnableControls();
}

// Closes everything after a completed run; a failure to close one table does
// not keep the others open.
void Gathering::finish() {
    kes::StepTimer step("close work table");
    CleanUp cleanUp;
    op_.SetHourglass(false);
    hourglass_ = false;
    cleanUp([&] {
        work_.SetIndexName("");
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

std::string DataFolderProblem(const std::string& dataDir, const std::string& periodDir) {
    // An empty "ORVA Path" normalises to the separator alone: that is no data
    // folder, and the work table must never land in the root folder.
    if (dataDir.empty() || dataDir == std::string(1, PathDelim))
        return "No data folder is set (\"Directories\" / \"ORVA Path\" is empty).";
    // A path of 255 characters without its separator was cut: what is left
    // names another folder. (Windows takes "/" for a separator too.)
    if (dataDir.back() != PathDelim && dataDir.back() != '/')
        return "The data folder path is too long (more than 254 characters): " + dataDir;
    auto isFolder = [](const std::string& path) {
        return kes::os::fileKind(path) == kes::os::FileKind::Directory;
    };
    if (!isFolder(dataDir)) return "The data folder " + dataDir + " does not exist.";
    if (!periodDir.empty() && !isFolder(dataDir + periodDir))
        return "The testing period folder " + dataDir + periodDir + " does not exist.";
    return {};
}

std::unique_ptr<PreparationLock> HoldPreparation(const std::string& dataDir,
                                                 const std::string& periodDir) {
    // Nothing is created before the folders are known to be the right ones:
    // not even the lock file.
    const std::string problem = DataFolderProblem(dataDir, periodDir);
    if (!problem.empty()) throw std::runtime_error(problem);
    return std::make_unique<PreparationLock>(dataDir);
}

GatherReport GatherRecords(const GatherOptions& options, Operator& op) {
    // No other process prepares from this folder meanwhile (EPreparationBusy).
    const auto lock = HoldPreparation(options.DataDir, options.PeriodDir);
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
