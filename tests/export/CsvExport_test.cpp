// TCSVExport on small tables made for each test: the layouts, the record limit,
// header and trailer, field lists, dBASE formats, progress updates and failures.
#include "support/Files.h"

#include "common/Date.h"
#include "export/core/wccsvexp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using testsupport::readFile;
using testsupport::TempDir;

namespace {

// Records what the component tells its progress window.
struct ProgressLog {
    int created = 0, alive = 0, shown = 0;
    int mode = -1, basis = -1;
    std::string file;
    int64_t totalRecords = -1, totalBytes = -1;
    std::vector<int64_t> updates;
};

class FakeProgress : public TExportProgress {
  public:
    explicit FakeProgress(ProgressLog& log) : log_(log) {
        ++log_.created;
        ++log_.alive;
    }
    ~FakeProgress() override { --log_.alive; }
    void Initialize(int mode, int basis, const std::string& file, int64_t records,
                    int64_t bytes) override {
        log_.mode = mode;
        log_.basis = basis;
        log_.file = file;
        log_.totalRecords = records;
        log_.totalBytes = bytes;
    }
    void Show() override { ++log_.shown; }
    void UpdateProgress(int64_t records, int64_t) override { log_.updates.push_back(records); }

  private:
    ProgressLog& log_;
};

// The component's operator: its one message and its progress window.
struct MessageLog : SilentOperator {
    std::vector<std::string> errors;
    ProgressLog* progress = nullptr;
    void ShowError(const std::string& text) override { errors.push_back(text); }
    std::unique_ptr<TExportProgress> CreateExportProgress() override {
        return std::make_unique<FakeProgress>(*progress);
    }
};

class CsvExportTest : public ::testing::Test {
  protected:
    // A table of `count` records: NAME C10, SSN C11, AMOUNT N6, BORN D, OK L.
    // Record i holds NAME "N<i>", SSN "SSN<i>", AMOUNT i, BORN 2001-01-05 (empty
    // for record 2), OK true for odd i.
    void makeTable(int count) {
        createAndOpen(table_, "T", "NAME,C,10,0;SSN,C,11,0;AMOUNT,N,6,0;BORN,D,8,0;OK,L,1,0;");
        for (int i = 1; i <= count; ++i) {
            table_.Append();
            table_.FieldByName("NAME").SetAsString("N" + std::to_string(i));
            table_.FieldByName("SSN").SetAsString("SSN" + std::to_string(i));
            table_.FieldByName("AMOUNT").SetAsInteger(i);
            if (i != 2) table_.FieldByName("BORN").SetAsDateTime(*kes::Date::fromYmd(2001, 1, 5));
            table_.FieldByName("OK").SetAsBoolean(i % 2 == 1);
            table_.Post();
        }
        exporter_.DataSet = &table_;
        exporter_.OutputFile = out();
        messages_.progress = &progress_;
        exporter_.SetOperator(&messages_);
    }
    // A new OEM table `name` in the scratch folder with `fields`, opened.
    void createAndOpen(TAdsTable& table, const std::string& name, const std::string& fields) {
        TAdsTable::AdsCreateTable(scratch_.dir() + name + ".dbf", ttAdsCDX, OEM, 0, fields);
        table.DatabaseName = scratch_.dir();
        table.SetTableName(name);
        table.TableType = ttAdsCDX;
        table.Open();
    }
    std::string out() const { return scratch_.dir() + "out.txt"; }
    std::vector<std::string> lines() const {
        std::string all = readFile(out());
        std::vector<std::string> result;
        size_t pos = 0;
        while (pos < all.size()) {
            size_t end = all.find("\r\n", pos);
            EXPECT_NE(end, std::string::npos) << "a line without CR LF";
            if (end == std::string::npos) break;
            result.push_back(all.substr(pos, end - pos));
            pos = end + 2;
        }
        return result;
    }

    TempDir scratch_;
    TAdsTable table_;
    TCSVExport exporter_;
    ProgressLog progress_;
    MessageLog messages_;
};

TEST_F(CsvExportTest, DefaultsAndVersion) {
    TCSVExport e;
    EXPECT_STREQ(TCSVExport::Version(), "1.2");
    EXPECT_EQ(e.ExportType, expDelimited);
    EXPECT_EQ(e.FieldSeparator, fspPipe);
    EXPECT_EQ(e.FieldDelimiter, fdlNone);
    EXPECT_EQ(e.DelimitedFields, dfAll);
    EXPECT_EQ(e.FieldListAction, flaNone);
    EXPECT_EQ(e.NumericAlign, naLeft);
    EXPECT_EQ(e.MaxRecords(), 0);
    EXPECT_FALSE(e.ShowProgress || e.HeaderRecord || e.TrailerRecord || e.DBaseFormat);
    EXPECT_EQ(e.CustomSeparator(), "");
}

TEST_F(CsvExportTest, LinesOfEachLayout) {
    makeTable(1);
    struct Case {
        const char* name;
        TExportType type;
        TFieldSeparator separator;
        const char* custom;
        TFieldDelimiter delimiter;
        TDelimitedFields which;
        TNumericAlign align;
        const char* expected;
    } cases[] = {
        {"pipe", expDelimited, fspPipe, "", fdlNone, dfAll, naLeft, "N1|SSN1|1|01/05/2001|True"},
        {"tab", expDelimited, fspTab, "", fdlNone, dfAll, naLeft, "N1\tSSN1\t1\t01/05/2001\tTrue"},
        {"comma, double quotes", expDelimited, fspComma, "", fdlDouble, dfAll, naLeft,
         "\"N1\",\"SSN1\",\"1\",\"01/05/2001\",\"True\""},
        {"single quotes on text only", expDelimited, fspComma, "", fdlSingle, dfTextOnly, naLeft,
         "'N1','SSN1',1,01/05/2001,True"},
        {"custom separator trimmed to its first character", expDelimited, fspCustom, " ;x", fdlNone,
         dfAll, naLeft, "N1;SSN1;1;01/05/2001;True"},
        {"fspNone with a custom separator uses it", expDelimited, fspNone, "#", fdlNone, dfAll,
         naLeft, "N1#SSN1#1#01/05/2001#True"},
        {"fspNone without one joins the values", expDelimited, fspNone, "", fdlNone, dfAll, naLeft,
         "N1SSN11"
         "01/05/2001True"},
        {"fixed, numbers left", expFixed, fspNone, "", fdlNone, dfAll, naLeft,
         "N1        SSN1       1     01/05/2001True "},
        {"fixed, numbers right", expFixed, fspNone, "", fdlNone, dfAll, naRight,
         "N1        SSN1            101/05/2001True "},
        {"fixed with separator and quotes", expFixed, fspPipe, "", fdlDouble, dfTextOnly, naLeft,
         "\"N1        \"|\"SSN1       \"|1     |01/05/2001|True "},
    };
    for (const Case& c : cases) {
        exporter_.ExportType = c.type;
        exporter_.FieldSeparator = c.separator;
        exporter_.SetCustomSeparator(c.custom);
        exporter_.FieldDelimiter = c.delimiter;
        exporter_.DelimitedFields = c.which;
        exporter_.NumericAlign = c.align;
        ASSERT_EQ(exporter_.Execute(), 1) << c.name;
        EXPECT_EQ(readFile(out()), std::string(c.expected) + "\r\n") << c.name;
    }
    exporter_.SetCustomSeparator(" ;x");
    EXPECT_EQ(exporter_.CustomSeparator(), ";");
    exporter_.SetCustomSeparator("\t ");
    EXPECT_EQ(exporter_.CustomSeparator(), "");
}

TEST_F(CsvExportTest, ExampleOfTwoCharacterFields) {
    TAdsTable ab;
    createAndOpen(ab, "AB", "A,C,3,0;B,C,2,0;");
    ab.Append();
    ab.FieldByName("A").SetAsString("X");
    ab.FieldByName("B").SetAsString("YZ");
    ab.Post();
    TCSVExport e;
    e.DataSet = &ab;
    e.OutputFile = out();
    e.ExportType = expFixed;
    e.FieldSeparator = fspNone;
    ASSERT_EQ(e.Execute(), 1);
    EXPECT_EQ(readFile(out()), "X  YZ\r\n");
    e.ExportType = expDelimited;
    e.FieldSeparator = fspComma;
    e.FieldDelimiter = fdlDouble;
    ASSERT_EQ(e.Execute(), 1);
    EXPECT_EQ(readFile(out()), "\"X\",\"YZ\"\r\n");
}

// Fixed lines of text fields go across byte for byte; a field left out of
// the line leaves no trace of its bytes, wherever it stands.
TEST_F(CsvExportTest, FixedTextColumnsKeepTheirPlacesAroundFieldsLeftOut) {
    TAdsTable f;
    createAndOpen(f, "F", "A,C,3,0;B,C,2,0;C,C,4,0;D,N,3,0;");
    f.Append();
    f.FieldByName("A").SetAsString("X\r");
    f.FieldByName("B").SetAsString("YY");
    f.FieldByName("C").SetAsString("M\xC3\x9C\n");
    f.FieldByName("D").SetAsInteger(7);
    f.Post();
    struct Case {
        const char* name;
        TFieldListAction action;
        std::vector<std::string> list;
        const char* expected;
    } cases[] = {
        {"all text", flaExclude, {"D"}, "X  YYM\xDC  "},
        {"middle left out", flaExclude, {"B", "D"}, "X  M\xDC  "},
        {"first left out", flaExclude, {"A", "D"}, "YYM\xDC  "},
        {"with a number", flaExclude, {"B"}, "X  M\xDC  7  "},
        {"one field", flaInclude, {"C"}, "M\xDC  "},
    };
    TCSVExport e;
    e.DataSet = &f;
    e.OutputFile = out();
    e.ExportType = expFixed;
    e.FieldSeparator = fspNone;
    for (const Case& c : cases) {
        e.FieldListAction = c.action;
        e.SetFieldList(c.list);
        ASSERT_EQ(e.Execute(), 1) << c.name;
        EXPECT_EQ(readFile(out()), std::string(c.expected) + "\r\n") << c.name;
    }
}

// A value can hold the layout's own characters (a name typed with a line break,
// a "|" or a quote); it must stay one value on one line.
TEST_F(CsvExportTest, ValuesCannotBreakTheLayout) {
    TAdsTable v;
    createAndOpen(v, "V", "A,C,10,0;B,C,1,0;");
    v.Append();
    v.FieldByName("A").SetAsString("O\"N|,\tA\r\nB");
    v.FieldByName("B").SetAsString("Z");
    v.Post();
    struct Case {
        const char* name;
        TExportType type;
        TFieldSeparator separator;
        TFieldDelimiter delimiter;
        const char* expected;
    } cases[] = {
        {"pipe", expDelimited, fspPipe, fdlNone, "O\"N ,\tA  B|Z"},
        {"tab", expDelimited, fspTab, fdlNone, "O\"N|, A  B\tZ"},
        {"comma in double quotes", expDelimited, fspComma, fdlDouble, "\"O\"\"N| \tA  B\",\"Z\""},
        {"fixed", expFixed, fspNone, fdlNone, "O\"N|,\tA  BZ"},
    };
    TCSVExport e;
    e.DataSet = &v;
    e.OutputFile = out();
    for (const Case& c : cases) {
        e.ExportType = c.type;
        e.FieldSeparator = c.separator;
        e.FieldDelimiter = c.delimiter;
        ASSERT_EQ(e.Execute(), 1) << c.name;
        EXPECT_EQ(readFile(out()), std::string(c.expected) + "\r\n") << c.name;
    }
}

TEST_F(CsvExportTest, DBaseFormatDatesAndBooleans) {
    makeTable(2);
    exporter_.DBaseFormat = true;
    exporter_.FieldSeparator = fspPipe;
    ASSERT_EQ(exporter_.Execute(), 2);
    EXPECT_EQ(lines(), (std::vector<std::string>{"N1|SSN1|1|20010105|T", "N2|SSN2|2||F"}));
    exporter_.ExportType = expFixed;
    exporter_.FieldSeparator = fspNone;
    ASSERT_EQ(exporter_.Execute(), 2);
    EXPECT_EQ(lines(), (std::vector<std::string>{"N1        SSN1       1     20010105T",
                                                 "N2        SSN2       2               F"}));
    // Without the dBASE format an empty date is empty too, and blanks in fixed columns.
    exporter_.DBaseFormat = false;
    ASSERT_EQ(exporter_.Execute(), 2);
    EXPECT_EQ(lines()[1], "N2        SSN2       2               False");
}

TEST_F(CsvExportTest, FieldListIncludesOrExcludesWithoutRegardToCase) {
    makeTable(1);
    exporter_.SetFieldList({"ssn", "Ok"});
    exporter_.FieldListAction = flaExclude;
    ASSERT_EQ(exporter_.Execute(), 1);
    EXPECT_EQ(lines()[0], "N1|1|01/05/2001");
    exporter_.FieldListAction = flaInclude;
    ASSERT_EQ(exporter_.Execute(), 1);
    EXPECT_EQ(lines()[0], "SSN1|True");
    EXPECT_FALSE(exporter_.FieldIncluded("NAME"));
    EXPECT_TRUE(exporter_.FieldIncluded("SSN"));
    // A name is compared as it stands in the list: " SSN" is not SSN.
    exporter_.SetFieldList({" SSN", "OK "});
    EXPECT_FALSE(exporter_.FieldIncluded("SSN"));
    EXPECT_FALSE(exporter_.FieldIncluded("OK"));
}

TEST_F(CsvExportTest, MaxRecordsHeaderTrailerAndByteCount) {
    makeTable(12);
    struct Case {
        int maxRecords;
        int expected;
    } cases[] = {{5, 5}, {-3, 12}, {0, 12}, {20, 12}};
    for (const Case& c : cases) {
        exporter_.SetMaxRecords(c.maxRecords);
        EXPECT_EQ(exporter_.Execute(), c.expected) << c.maxRecords;
        EXPECT_EQ(lines().size(), static_cast<size_t>(c.expected)) << c.maxRecords;
    }
    exporter_.SetMaxRecords(-3);
    EXPECT_EQ(exporter_.MaxRecords(), 0);

    exporter_.SetMaxRecords(0);
    exporter_.HeaderRecord = exporter_.TrailerRecord = true;
    exporter_.Header = "H";
    exporter_.Trailer = "T";
    int64_t lastRecords = 0, lastBytes = 0;
    exporter_.OnExportRecord = [&](TCSVExport&, int64_t records, int64_t bytes) {
        lastRecords = records;
        lastBytes = bytes;
    };
    ASSERT_EQ(exporter_.Execute(), 12);
    std::string file = readFile(out());
    EXPECT_EQ(file.substr(0, 3), "H\r\n");
    EXPECT_EQ(file.substr(file.size() - 3), "T\r\n");
    EXPECT_EQ(lines().size(), 14u);
    EXPECT_EQ(lastRecords, 12);
    EXPECT_EQ(lastBytes, static_cast<int64_t>(file.size()) - 6); // without H and T lines
}

TEST_F(CsvExportTest, ProgressIsUpdatedEveryHundredthOfTheRecords) {
    struct Case {
        int records;
        size_t updates;
        int64_t first, last;
    } cases[] = {{250, 125, 2, 250}, {50, 50, 1, 50}};
    for (const Case& c : cases) {
        makeTable(c.records);
        progress_ = ProgressLog{};
        exporter_.ShowProgress = true;
        ASSERT_EQ(exporter_.Execute(), c.records);
        EXPECT_EQ(progress_.created, 1);
        EXPECT_EQ(progress_.alive, 0) << "the window is released at the end";
        EXPECT_EQ(progress_.shown, 1);
        EXPECT_EQ(progress_.mode, pmExport);
        EXPECT_EQ(progress_.basis, pbRecords);
        EXPECT_EQ(progress_.file, out());
        EXPECT_EQ(progress_.totalRecords, c.records);
        EXPECT_EQ(progress_.totalBytes, 0);
        ASSERT_EQ(progress_.updates.size(), c.updates) << c.records;
        EXPECT_EQ(progress_.updates.front(), c.first);
        EXPECT_EQ(progress_.updates.back(), c.last);
        table_.Close();
    }
    // ShowProgress off: no window at all.
    makeTable(3);
    progress_ = ProgressLog{};
    exporter_.ShowProgress = false;
    ASSERT_EQ(exporter_.Execute(), 3);
    EXPECT_EQ(progress_.created, 0);
}

TEST_F(CsvExportTest, BeginExportIsRaisedBeforeTheOutputIsOpened) {
    makeTable(3);
    exporter_.ShowProgress = true;
    bool fileExisted = true;
    int windowsAtBegin = -1;
    exporter_.OnBeginExport = [&](TCSVExport&) {
        fileExisted = std::filesystem::exists(out());
        windowsAtBegin = progress_.created;
    };
    int finished = 0;
    int64_t recordsAtFinish = -1;
    exporter_.OnFinishExport = [&](TCSVExport&) {
        ++finished;
        recordsAtFinish = static_cast<int64_t>(lines().size()); // the file is closed by now
    };
    ASSERT_EQ(exporter_.Execute(), 3);
    EXPECT_FALSE(fileExisted);
    EXPECT_EQ(windowsAtBegin, 0);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(recordsAtFinish, 3);
}

TEST_F(CsvExportTest, DataSetThatCannotBeOpenedGivesMinusOne) {
    makeTable(3);
    TAdsTable missing;
    missing.DatabaseName = scratch_.dir();
    missing.SetTableName("NOSUCHTABLE");
    missing.TableType = ttAdsCDX;
    exporter_.DataSet = &missing;
    exporter_.ShowProgress = true;
    EXPECT_EQ(exporter_.Execute(), -1);
    EXPECT_EQ(progress_.created, 0);
    EXPECT_TRUE(messages_.errors.empty());
    // Nothing is left open: the next export runs normally.
    exporter_.DataSet = &table_;
    EXPECT_EQ(exporter_.Execute(), 3);
    EXPECT_EQ(progress_.alive, 0);
}

TEST_F(CsvExportTest, OutputThatCannotBeCreatedGivesMinusOne) {
    makeTable(3);
    exporter_.ShowProgress = true;
    int begun = 0, finished = 0;
    exporter_.OnBeginExport = [&](TCSVExport&) { ++begun; };
    exporter_.OnFinishExport = [&](TCSVExport&) { ++finished; };
    exporter_.OutputFile = scratch_.dir() + "no such folder/out.txt";
    EXPECT_EQ(exporter_.Execute(), -1);
    EXPECT_EQ(begun, 1);
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(progress_.alive, 0);
    EXPECT_TRUE(messages_.errors.empty());
}

TEST_F(CsvExportTest, WriteErrorReachesTheCaller) {
    makeTable(3);
    exporter_.ShowProgress = true;
    exporter_.OutputFile = "/dev/full";
    EXPECT_THROW(exporter_.Execute(), std::runtime_error);
    EXPECT_EQ(progress_.alive, 0);
}

// The temporary file beside the target is this run's own: what a killed run
// left there is removed, and a symbolic link planted under such a name is
// removed, never written through.
TEST_F(CsvExportTest, ReplaceWhenCompleteUsesAFreshTemporaryFile) {
    namespace fs = std::filesystem;
    makeTable(3);
    exporter_.OutputFile = scratch_.dir() + "up.txt";
    exporter_.ReplaceWhenComplete = true;
    testsupport::writeFile(exporter_.OutputFile, "old contents\r\n");
    testsupport::writeFile(scratch_.dir() + "up.txt.~42.tmp", "half of a killed run");
    testsupport::writeFile(scratch_.dir() + "victim.txt", "not to be touched");
    std::error_code noLinks; // Windows without the right to make links: no planted link
    fs::create_symlink(scratch_.dir() + "victim.txt", scratch_.dir() + "up.txt.~43.tmp", noLinks);
    testsupport::writeFile(scratch_.dir() + "up.txt.~notours.tmp", "kept");
    EXPECT_EQ(exporter_.Execute(), 3);
    EXPECT_EQ(readFile(exporter_.OutputFile).substr(0, 3), "N1|");
    EXPECT_EQ(readFile(scratch_.dir() + "victim.txt"), "not to be touched");
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(scratch_.dir()))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{"T.dbf", "up.txt", "up.txt.~notours.tmp", "victim.txt"}));
}

TEST_F(CsvExportTest, DataConversionErrorIsShownAndEndsTheExport) {
    makeTable(5);
    exporter_.ShowProgress = true;
    exporter_.OnExportRecord = [](TCSVExport&, int64_t records, int64_t) {
        if (records == 3) throw EConvertError("bad value");
    };
    EXPECT_EQ(exporter_.Execute(), 0);
    EXPECT_EQ(messages_.errors, std::vector<std::string>{"Data conversion error!"});
    EXPECT_EQ(progress_.alive, 0);

    // Before the output is opened the result is still -1.
    messages_.errors.clear();
    exporter_.OnExportRecord = nullptr;
    exporter_.OnBeginExport = [](TCSVExport&) { throw EConvertError("bad value"); };
    EXPECT_EQ(exporter_.Execute(), -1);
    EXPECT_EQ(messages_.errors.size(), 1u);
}

TEST_F(CsvExportTest, TextIsWrittenInTheOutputCodePage) {
    makeTable(1);
    table_.First();
    table_.Edit();
    table_.FieldByName("NAME").SetAsString("MÜLLER");
    table_.Post();
    exporter_.SetFieldList({"NAME"});
    exporter_.FieldListAction = flaInclude;
    exporter_.ExportType = expFixed;
    ASSERT_EQ(exporter_.Execute(), 1);
    // One byte per character: Ü is 0xDC in Windows-1252, and the column stays 10 wide.
    EXPECT_EQ(readFile(out()), "M\xDCLLER    \r\n");
}

TEST_F(CsvExportTest, EmptyTableWritesAnEmptyFile) {
    makeTable(0);
    EXPECT_EQ(exporter_.Execute(), 0);
    EXPECT_EQ(readFile(out()), "");
}

} // namespace

// Records handed over in slices as they pass by make the file that Execute
// makes of the same records through the table, in every layout.
TEST_F(CsvExportTest, RecordsPassingByMakeTheFileExecuteMakes) {
    createAndOpen(table_, "P", "NAME,C,10,0;SSN,C,11,0;CODE,C,4,0;");
    const char* const names[] = {"Ann", "O\"Hara", "a,b|c", "two\r\nlines", "", "tab\there"};
    for (int i = 0; i < 40; ++i) {
        table_.Append();
        table_.FieldByName("NAME").SetAsString(names[i % 6]);
        table_.FieldByName("SSN").SetAsString(std::to_string(100000 + i * 37));
        table_.FieldByName("CODE").SetAsString(i % 4 ? "EN01" : "");
        table_.Post();
    }
    exporter_.DataSet = &table_;
    exporter_.OutputFile = out();
    exporter_.ReplaceWhenComplete = true;
    const size_t length = table_.File().recordLength();
    const std::string records(table_.File().record(1), 40 * length);
    struct Case {
        const char* name;
        TExportType type;
        TFieldSeparator separator;
        TFieldDelimiter delimiter;
        int maxRecords;
        bool headerAndTrailer;
    } cases[] = {
        {"fixed", expFixed, fspNone, fdlNone, 0, false},
        {"pipe", expDelimited, fspPipe, fdlNone, 0, false},
        {"comma, double quotes", expDelimited, fspComma, fdlDouble, 0, true},
        {"tab, at most 25", expDelimited, fspTab, fdlNone, 25, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        exporter_.ExportType = c.type;
        exporter_.FieldSeparator = c.separator;
        exporter_.FieldDelimiter = c.delimiter;
        exporter_.SetMaxRecords(c.maxRecords);
        exporter_.HeaderRecord = exporter_.TrailerRecord = c.headerAndTrailer;
        exporter_.Header = "H";
        exporter_.Trailer = "T";
        const int whole = exporter_.Execute();
        const std::string expected = readFile(out());
        std::filesystem::remove(out());
        ASSERT_TRUE(exporter_.Begin(40));
        for (size_t first = 0; first < 40; first += 16)
            exporter_.ExportRecords(records.data() + first * length,
                                    std::min<size_t>(16, 40 - first));
        EXPECT_EQ(exporter_.Finish(), whole);
        EXPECT_EQ(readFile(out()), expected);
    }

    // A field that is not text is read through the cursor, which records
    // passing by never reach: refused, and the previous file stays.
    TAdsTable numbers;
    createAndOpen(numbers, "N", "NAME,C,10,0;AMOUNT,N,6,0;");
    exporter_.DataSet = &numbers;
    const std::string before = readFile(out());
    EXPECT_THROW(exporter_.Begin(1), std::logic_error);
    EXPECT_EQ(readFile(out()), before);
    EXPECT_EQ(exporter_.Finish(), -1);
}
