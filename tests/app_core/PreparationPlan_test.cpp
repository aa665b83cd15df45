// The preparation plan: settings and choices into one value, the date rules
// and their messages, the windows' plans, and the folder checks before a
// preparation starts.
#include "app/core/Preparation.h"
#include "app/core/PreparationPlan.h"

#include "app/core/PeriodList.h"
#include "common/Clock.h"
#include "common/Paths.h"

#include "support/Files.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

kes::Date date(int y, int m, int d) {
    return *kes::Date::fromYmd(y, m, d);
}

// Today is 14 March 2007 for every test here.
class PlanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kes::Clock::instance().setSource([] {
            kes::LocalTime t;
            t.year = 2007;
            t.month = 3;
            t.day = 14;
            t.hour = 10;
            return t;
        });
        dir_ = tmp_.path();
        ini_ = (dir_ / "KesPrep.ini").string();
    }
    void TearDown() override { kes::Clock::instance().setSource(nullptr); }
    void settings(const std::string& text) { testsupport::writeFile(ini_, text); }
    std::string folder(const std::string& name) {
        fs::create_directories(dir_ / name);
        return (dir_ / name).string() + PathDelim;
    }
    static void touch(const std::string& path) { testsupport::writeFile(path, ""); }

    testsupport::TempDir tmp_{"plan"};
    fs::path dir_;
    std::string ini_;
};

const kes::Date kToday = date(2007, 3, 14);

TEST_F(PlanTest, SettingsBecomeThePlan) {
    const DateSelection today = DateSelection::Between(kToday, kToday);
    const std::string range = "Selected Dates=1\r\nBegin Date=09/01/2005\r\n";
    struct Case {
        const char* name;
        std::string exportKeys, autoKeys; // of "ORVA Export" and "ORVA Auto Export"
        bool temporary;
        DateSelection dates;
        int layout;
    } cases[] = {
        {"defaults: temporary, today, fixed", "", "", true, today, 0},
        {"master", "Search=1\r\n", "", false, today, 0},
        {"no Search item reads master", "Search=-1\r\n", "", false, today, 0},
        {"Search above 1 reads master", "Search=4\r\n", "", false, today, 0},
        {"current date whatever the main window chose", range + "End Date=09/30/2005\r\n",
         "Date=0\r\n", true, today, 0},
        {"date selection, all dates", "Selected Dates=0\r\nBegin Date=09/01/2005\r\n", "Date=1\r\n",
         true, DateSelection::All(), 0},
        {"date selection, a range", range + "End Date=09/30/2005\r\n", "Date=1\r\n", true,
         DateSelection::Between(date(2005, 9, 1), date(2005, 9, 30)), 0},
        {"equal dates are accepted", range + "End Date=09/01/2005\r\n", "Date=1\r\n", true,
         DateSelection::Between(date(2005, 9, 1), date(2005, 9, 1)), 0},
        {"a date that does not convert makes both today",
         "Selected Dates=1\r\nBegin Date=02/30/2004\r\nEnd Date=09/30/2005\r\n", "Date=1\r\n", true,
         today, 0},
        {"missing dates are today", "Selected Dates=1\r\n", "Date=1\r\n", true, today, 0},
        {"comma layout", "File Format=2\r\n", "", true, today, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings("[Testing Periods]\r\nORVA From=3\r\n[ORVA Export]\r\n" + c.exportKeys +
                 "[ORVA Auto Export]\r\nFilename=up.asc\r\n" + c.autoKeys);
        const PreparationPlan plan = MakePreparationPlan(ini_, {});
        EXPECT_EQ(plan.Period, "3");
        EXPECT_EQ(plan.PeriodDir(), std::string("VIRNTP3") + PathDelim);
        EXPECT_EQ(plan.SearchTemporary, c.temporary);
        EXPECT_EQ(plan.Dates.AllDates, c.dates.AllDates);
        EXPECT_EQ(plan.Dates.Begin, c.dates.Begin);
        EXPECT_EQ(plan.Dates.End, c.dates.End);
        EXPECT_EQ(static_cast<int>(plan.Layout), c.layout);
        EXPECT_EQ(plan.Exporting().FileFormat, c.layout);
        EXPECT_EQ(plan.Gathering().SearchTemporary, c.temporary);
        EXPECT_EQ(plan.Gathering().DateFilter, DateFilterOf(c.dates));
    }
}

TEST_F(PlanTest, EverythingElseFromTheSettingsOrTheChoices) {
    settings("[Directories]\r\nORVA Path=/srv/virn\r\n"
             "[Testing Periods]\r\nORVA From=2\r\n"
             "[ORVA Export]\r\nInclude Placement Records=0\r\nInclude Score "
             "Records=0\r\n"
             "Include Purpose and Accommodation=1\r\nInclude Site Code=1\r\n"
             "[ORVA Auto Export]\r\nFilename=/out/auto.asc\r\n");
    PreparationPlan plan = MakePreparationPlan(ini_, {});
    GatherOptions g = plan.Gathering();
    EXPECT_EQ(g.DataDir, std::string("/srv/virn") + PathDelim);
    EXPECT_EQ(g.PeriodDir, std::string("VIRNTP2") + PathDelim);
    EXPECT_FALSE(g.IncludePlacement);
    EXPECT_TRUE(g.IncludeAssessment);
    EXPECT_FALSE(g.IncludeScores);
    EXPECT_TRUE(g.IncludeSiteCode);
    ExportOptions e = plan.Exporting();
    EXPECT_EQ(e.DataDir, g.DataDir);
    EXPECT_FALSE(e.IncludeAttempted);
    EXPECT_FALSE(e.IncludeSubscores);
    EXPECT_TRUE(e.IncludePandA);
    EXPECT_TRUE(e.IncludeSiteCode);
    EXPECT_EQ(e.UploadFile, "/out/auto.asc");
    EXPECT_EQ(e.SettingsFile, ini_);
    EXPECT_EQ(plan.Exporting(std::string("/out/other.asc")).UploadFile, "/out/other.asc");

    PlanChoices choices;
    choices.DataDir = "/data";
    choices.Period = "011";
    choices.SearchTemporary = false;
    choices.Dates = DateSelection::All();
    choices.Kinds = RecordKinds{true, false, false};
    choices.Fields = OptionalFields{true, true, false, false};
    choices.Layout = UploadLayout::Tab;
    choices.OutputFile = "/out/chosen.asc";
    plan = MakePreparationPlan(ini_, choices);
    g = plan.Gathering();
    e = plan.Exporting();
    EXPECT_EQ(g.DataDir, std::string("/data") + PathDelim);
    EXPECT_EQ(g.PeriodDir, std::string("VIRNTP11") + PathDelim);
    EXPECT_FALSE(g.SearchTemporary);
    EXPECT_EQ(g.DateFilter, "");
    EXPECT_TRUE(g.IncludePlacement);
    EXPECT_FALSE(g.IncludeAssessment);
    EXPECT_FALSE(g.IncludeSiteCode);
    EXPECT_TRUE(e.IncludeAttempted);
    EXPECT_TRUE(e.IncludeSubscores);
    EXPECT_FALSE(e.IncludePandA);
    EXPECT_EQ(e.FileFormat, 3);
    EXPECT_EQ(e.UploadFile, "/out/chosen.asc");
}

TEST_F(PlanTest, RefusedPlansSayWhatAndWhere) {
    const std::string range = "[ORVA Auto Export]\r\nFilename=up.asc\r\nDate=1\r\n"
                              "[Testing Periods]\r\nORVA From=1\r\n"
                              "[ORVA Export]\r\nSelected Dates=1\r\n";
    PlanChoices explicitDates;
    explicitDates.Dates = DateSelection::Between(date(2005, 9, 30), date(2005, 9, 1));
    PlanChoices badPeriod;
    badPeriod.Period = "x1";
    PlanChoices zeroPeriod;
    zeroPeriod.Period = "0";
    struct Case {
        const char* name;
        std::string settings;
        PlanChoices choices;
        PlanItem item;
        std::string message;
        bool fromSettings;
    } cases[] = {
        {"empty begin date",
         range + "Begin Date=12/30/1899\r\nEnd Date=09/30/2005\r\n",
         {},
         PlanItem::Dates,
         kDatesNotEnteredText,
         true},
        {"empty end date",
         range + "Begin Date=09/01/2005\r\nEnd Date=12/30/1899\r\n",
         {},
         PlanItem::Dates,
         kDatesNotEnteredText,
         true},
        {"begin after end",
         range + "Begin Date=09/30/2005\r\nEnd Date=09/01/2005\r\n",
         {},
         PlanItem::Dates,
         kBeginAfterEndText,
         true},
        {"chosen dates the wrong way round", range, explicitDates, PlanItem::Dates,
         kBeginAfterEndText, false},
        {"no period",
         "[ORVA Auto Export]\r\nFilename=up.asc\r\n",
         {},
         PlanItem::Period,
         "no testing period chosen",
         true},
        {"period not a number", range, badPeriod, PlanItem::Period,
         "\"x1\" is not a testing period number", false},
        {"period zero", range, zeroPeriod, PlanItem::Period, "\"0\" is not a testing period number",
         false},
        {"no upload file",
         "[Testing Periods]\r\nORVA From=1\r\n",
         {},
         PlanItem::OutputFile,
         "no upload file named",
         true},
        {"a layout out of range would run the values together",
         "[Testing Periods]\r\nORVA From=1\r\n[ORVA Export]\r\nFile Format=7\r\n"
         "[ORVA Auto Export]\r\nFilename=up.asc\r\n",
         {},
         PlanItem::Layout,
         "the layout 7 is not 0 (Fixed Format), 1 (Pipe Delimited), 2 (Comma Delimited) or 3 "
         "(Tab Delimited)",
         true},
        {"a layout that is no number is no layout either",
         "[Testing Periods]\r\nORVA From=1\r\n[ORVA Export]\r\nFile Format=Fixed\r\n"
         "[ORVA Auto Export]\r\nFilename=up.asc\r\n",
         {},
         PlanItem::Layout,
         "the layout \"Fixed\" is not 0 (Fixed Format), 1 (Pipe Delimited), 2 (Comma Delimited) "
         "or 3 (Tab Delimited)",
         true},
        {"a layout too long for a number",
         "[Testing Periods]\r\nORVA From=1\r\n[ORVA Export]\r\nFile Format=" +
             std::string(5000, '1') + "\r\n[ORVA Auto Export]\r\nFilename=up.asc\r\n",
         {},
         PlanItem::Layout,
         "the layout \"11111111111111111111...\" is not 0 (Fixed Format), 1 (Pipe Delimited), 2 "
         "(Comma Delimited) or 3 (Tab Delimited)",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings(c.settings);
        try {
            MakePreparationPlan(ini_, c.choices);
            ADD_FAILURE() << "the plan was not refused";
        } catch (const PlanError& e) {
            EXPECT_EQ(e.Item, c.item);
            EXPECT_EQ(e.what(), c.message);
            EXPECT_EQ(!e.Settings.empty(), c.fromSettings) << e.Settings;
        }
    }
}

// The windows make their plans from what the main window holds and the
// controls; the layout and the upload file are the writer's to refuse, so
// that the export says "not prepared" and why.
TEST_F(PlanTest, TheWindowsPlansComeFromTheirChoices) {
    settings("[Directories]\r\nORVA Path=/elsewhere\r\n[Testing Periods]\r\nORVA From=7\r\n"
             "[ORVA Export]\r\nFile Format=2\r\nInclude Score Records=1\r\n");
    ProgramState state;
    state.DataDir = std::string("/d") + PathDelim;
    state.Kinds = RecordKinds{false, true, false};
    state.Fields = OptionalFields{false, true, false, true};
    state.FileFormat = 9; // kept as stored: the writer refuses it
    PlanChoices choices = ChoicesOf(state);
    choices.Period = "4";
    choices.SearchTemporary = false;
    choices.Dates = DateSelection::Between(date(2004, 1, 1), date(2004, 3, 31));

    const PreparationPlan plan = MakePreparationPlan(ini_, choices, PlanUse::Windows);
    const GatherOptions g = plan.Gathering();
    EXPECT_EQ(g.DataDir, state.DataDir);
    EXPECT_EQ(g.PeriodDir, std::string("VIRNTP4") + PathDelim);
    EXPECT_FALSE(g.SearchTemporary);
    EXPECT_FALSE(g.IncludePlacement);
    EXPECT_TRUE(g.IncludeAssessment);
    EXPECT_FALSE(g.IncludeScores);
    EXPECT_TRUE(g.IncludeSiteCode);
    EXPECT_EQ(g.DateFilter, "(DTOS(Date) >= \"20040101\") .and. (DTOS(Date) <= \"20040331\")");
    const ExportOptions e = plan.Exporting(std::string("chosen.asc"));
    EXPECT_EQ(e.FileFormat, 9);
    EXPECT_TRUE(e.IncludeSubscores);
    EXPECT_TRUE(e.IncludeSiteCode);
    EXPECT_FALSE(e.IncludeAttempted);
    EXPECT_EQ(e.UploadFile, "chosen.asc");
    EXPECT_EQ(e.SettingsFile, ini_);
    // Unattended, the same choices are refused before anything is gathered.
    EXPECT_THROW(MakePreparationPlan(ini_, choices, PlanUse::Unattended), PlanError);

    // The date rules hold for the windows too.
    choices.Dates = DateSelection::Between(date(2004, 3, 31), date(2004, 3, 1));
    try {
        MakePreparationPlan(ini_, choices, PlanUse::Windows);
        ADD_FAILURE() << "the plan was not refused";
    } catch (const PlanError& refused) {
        EXPECT_EQ(refused.Item, PlanItem::Dates);
        EXPECT_STREQ(refused.what(), kBeginAfterEndText);
    }
}

// A preparation checks its folders before it creates anything, the lock file
// included: an earlier run's work table is not replaced by an empty one. It
// finds the folders in any letter case.
TEST_F(PlanTest, APreparationStartsOnlyOnFoldersThatExist) {
    const std::string data = folder("data");
    touch(data + "KESTABLE.dbf");
    PreparationPlan plan;
    plan.DataDir = data;
    plan.Period = "1";
    try {
        Preparation refused(plan, PreparationFrontEnd::Batch);
        ADD_FAILURE() << "the preparation started";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "testing period 1: the folder " + data + "VIRNTP1" +
                                             PathDelim + " does not exist");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "data"), fs::directory_iterator()), 1)
        << "nothing is created";

    fs::create_directories(dir_ / "data" / "virntp1");
    Preparation started(plan, PreparationFrontEnd::Batch);
    EXPECT_EQ(started.Plan().Period, "1");
    EXPECT_TRUE(fs::exists(dir_ / "data" / PreparationLock::kFileName));
}

TEST_F(PlanTest, MissingFoldersAndTablesAreNamed) {
    const std::string data = folder("data");
    const std::string period = folder("data") + "VIRNTP1" + PathDelim;
    fs::create_directories(period);
    for (const char* table : {"PlacTemp.DBF", "assetemp.dbf", "Scortemp.dbf"})
        touch(period + table);
    PreparationPlan plan;
    plan.DataDir = data;
    plan.Period = "1";

    EXPECT_EQ(MissingFolderMessage(plan),
              "testing period 1: the folder " + period + " has no table StudTemp.dbf");
    touch(period + "STUDTEMP.DBF");
    EXPECT_EQ(MissingFolderMessage(plan), "");
    // Only the kinds gathered are needed.
    plan.SearchTemporary = false;
    plan.Kinds = RecordKinds{false, false, true};
    EXPECT_EQ(MissingFolderMessage(plan),
              "testing period 1: the folder " + period + " has no table Scores.dbf");

    plan.Period = "99";
    EXPECT_EQ(MissingFolderMessage(plan),
              "testing period 99: the folder " + data + "VIRNTP99" + PathDelim + " does not exist");
    plan.DataDir = data + "gone" + PathDelim;
    EXPECT_EQ(MissingFolderMessage(plan), "the data directory " + plan.DataDir + " does not exist");
}

} // namespace
