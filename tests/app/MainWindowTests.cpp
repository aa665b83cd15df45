// The main window driven offscreen: its controls as created, the start-up
// settings, the testing period list, the date controls and the settings it
// saves when it is destroyed. Settings files and data directories are built
// in temporary directories; every message box is answered by the test.
#include "tests/ui/QtTestSupport.h"

#include "app/Historyu.h"
#include "app/KesPrepu.h"
#include "app/core/IniFile.h"
#include "app/core/PeriodList.h"
#include "app/core/PreparationHistory.h"
#include "app/core/ProgramState.h"
#include "app/glrunone.h"
#include "common/Clock.h"
#include "common/Paths.h"
#include "export/ListKesu.h"
#include "os/Os.h"
#include "prep/AutoPrepu.h"
#include "ui/DateEdit.h"
#include "ui/Modal.h"
#include "ui/RadioGroup.h"
#include "ui/VirtualListBox.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <functional>
#include <optional>

namespace {

using testsupport::TempDir;
using testsupport::writeFile;

constexpr const char* kTpFields = "TPNAME,C,40,0;TPNUMBER,N,2,0;";

// Creates VIRNTP<n>/TP.DBF; with a name, one record holding it.
void makePeriod(const std::string& dataDir, int n, std::optional<std::string> name,
                const char* fields = kTpFields) {
    const std::string folder = dataDir + "VIRNTP" + std::to_string(n) + "/";
    std::filesystem::create_directories(folder);
    TAdsTable::AdsCreateTable(folder + "TP.DBF", ttAdsNTX, OEM, 0, fields);
    if (!name) return;
    TAdsTable table;
    table.DatabaseName = folder;
    table.TableType = ttAdsNTX;
    table.SetTableName("TP");
    table.Open();
    table.Append();
    table.Fields(0).SetAsString(*name);
    table.Post();
    table.Close();
}

std::string nameOf(int n) {
    return "Period name " + std::to_string(n);
}

void makePeriods(const std::string& dataDir, std::initializer_list<int> numbers) {
    for (int n : numbers)
        makePeriod(dataDir, n, nameOf(n));
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::usePrivateRuntimeDir();
        kes::Clock::instance().setSource([] { return kes::LocalTime{2004, 6, 15, 10, 0, 0, 0}; });
        ui::clearTerminationRequest();
    }
    void TearDown() override {
        form.reset();
        kes::Clock::instance().setSource({});
        ui::clearTerminationRequest();
    }

    void writeSettings(const std::string& text) { writeFile(settings.dir() + "KesPrep.ini", text); }
    void pointSettingsAtData(const std::string& more = {}) {
        writeSettings("[Directories]\nORVA Path=" + data.dir() + "\n" + more);
    }
    std::string setting(const char* section, const char* key) const {
        return TIniFile(SettingsFilePath(settings.dir())).ReadString(section, key, "<missing>");
    }

    // Creates the window as the program does and runs its activation step.
    void open() {
        form = std::make_unique<TKesPrepMainForm>(nullptr, settings.dir());
        form->FormActivate();
    }
    void closeWindow() { form.reset(); }

    std::vector<std::string> rows() const {
        std::vector<std::string> shown;
        for (int i = 0; i < form->ListBox2->count(); ++i)
            shown.push_back(form->ListBox2->itemText(i).toStdString());
        return shown;
    }
    static std::vector<std::string> messages() {
        std::vector<std::string> texts;
        for (const auto& m : ui::shownModals())
            texts.push_back(m.text);
        return texts;
    }
    bool dateControlsEnabled() const {
        return form->btnToday->isEnabled() && form->edtBegDate->isEnabled() &&
               form->edtEndDate->isEnabled() && form->lblBegDate->isEnabled() &&
               form->lblEndDate->isEnabled();
    }
    bool dateControlsDisabled() const {
        return !form->btnToday->isEnabled() && !form->edtBegDate->isEnabled() &&
               !form->edtEndDate->isEnabled() && !form->lblBegDate->isEnabled() &&
               !form->lblEndDate->isEnabled();
    }

    TempDir settings;
    TempDir data;
    ui::ScopedModalAnswerer answers{[](const ui::ModalRequest&) { return ui::mrOk; }};
    std::unique_ptr<TKesPrepMainForm> form;
};

TEST_F(MainWindowTest, ControlsAsCreated) {
    form = std::make_unique<TKesPrepMainForm>(nullptr, settings.dir());
    EXPECT_EQ(form->windowTitle(), "Prepare ORVA Upload File for Kestal");
    EXPECT_EQ(form->size(), QSize(391, 326)) << "399 x 353 with the frame";
    EXPECT_TRUE(ui::shownModals().empty());
    EXPECT_EQ(form->Program().ExeDir, settings.dir());

    struct Control {
        const char* name;
        const char* caption;
        QRect place; // empty: only the top-left corner is given
        bool enabled;
    };
    const Control controls[] = {
        {"Label4", "ORVA", QRect(13, 5, 0, 0), true},
        {"Label2", "Testing Periods:", QRect(11, 19, 0, 0), true},
        {"ListBox2", "", QRect(12, 37, 169, 147), true},
        {"btnFind", "&Find", QRect(293, 199, 77, 27), false},
        {"btnSettings", "&Settings", QRect(293, 231, 77, 27), true},
        {"CloselBtn", "&Close", QRect(293, 263, 77, 27), true},
        {"GroupBox1", "Date Selection:", QRect(193, 79, 177, 108), true},
        {"rbAllDates", "All Dates", QRect(8, 17, 73, 17), true},
        {"rbSelectedDates", "Selected Dates", QRect(8, 35, 98, 17), true},
        {"btnToday", "&Today", QRect(108, 31, 61, 22), false},
        {"lblBegDate", "&Begin Date:", QRect(9, 64, 0, 0), false},
        {"edtBegDate", "", QRect(71, 56, 100, 21), false},
        {"lblEndDate", "&End Date:", QRect(9, 82, 0, 0), false},
        {"edtEndDate", "", QRect(71, 80, 100, 21), false},
        {"rgSearch", "&Search", QRect(194, 15, 175, 58), true},
        {"ProgressBar1", "", QRect(168, 1, 211, 16), true},
        {"btnAuto", "&Auto Prepare", QRect(194, 200, 91, 27), false},
        {"btnHistory", "&History", QRect(194, 231, 91, 27), true},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.name);
        auto* widget = form->findChild<QWidget*>(c.name);
        ASSERT_NE(widget, nullptr);
        QString caption;
        if (auto* b = qobject_cast<QAbstractButton*>(widget)) caption = b->text();
        if (auto* l = qobject_cast<QLabel*>(widget)) caption = l->text();
        if (auto* g = qobject_cast<QGroupBox*>(widget)) caption = g->title();
        EXPECT_EQ(caption.toStdString(), c.caption);
        if (c.place.width() > 0) {
            EXPECT_EQ(widget->geometry(), c.place);
        } else if (!c.place.isNull()) {
            EXPECT_EQ(widget->pos(), c.place.topLeft());
        }
        EXPECT_EQ(widget->isEnabled(), c.enabled);
    }
    EXPECT_TRUE(form->btnToday->isFlat());
    EXPECT_EQ(form->lblBegDate->buddy(), form->edtBegDate);
    EXPECT_EQ(form->lblEndDate->buddy(), form->edtEndDate);
    EXPECT_TRUE(form->rbAllDates->isChecked());
    EXPECT_EQ(form->rgSearch->itemIndex(), 0);
    EXPECT_EQ(form->rgSearch->button(1)->text(), "Master");
    EXPECT_TRUE(form->edtBegDate->isEmpty());
    EXPECT_TRUE(form->edtEndDate->isEmpty());
    EXPECT_EQ(form->ListBox2->count(), 0);
    EXPECT_EQ(form->ProgressBar1->minimum(), 0);
    EXPECT_EQ(form->ProgressBar1->maximum(), 100);
    EXPECT_EQ(form->ProgressBar1->value(), 0);
    EXPECT_EQ(form->StatusBar1->height(), 17);
    EXPECT_EQ(form->StatusBar1->y() + 17, form->height());
}

TEST_F(MainWindowTest, FirstRunWithoutSettingsFile) {
    open();
    const ProgramState& p = form->Program();
    EXPECT_EQ(p.DataDir, kes::defaultDataDir());
    EXPECT_EQ(messages(), std::vector<std::string>{"Path to ORVA is not set."});
    EXPECT_EQ(ui::shownModals()[0].type, ui::MsgType::Error);
    EXPECT_EQ(ui::shownModals()[0].buttons, ui::MsgButtons::Ok);
    EXPECT_TRUE(form->rbAllDates->isChecked());
    EXPECT_EQ(form->rgSearch->itemIndex(), 0);
    EXPECT_TRUE(dateControlsDisabled());
    EXPECT_TRUE(form->edtBegDate->isEmpty());
    EXPECT_TRUE(form->edtEndDate->isEmpty());
    EXPECT_EQ(form->ListBox2->count(), 0);
    EXPECT_FALSE(form->btnFind->isEnabled());
    EXPECT_FALSE(form->btnAuto->isEnabled());
    EXPECT_EQ(p.SelectedPeriodIndex, -1);
    EXPECT_TRUE(p.Kinds.Placement && p.Kinds.Assessment && p.Kinds.Scores);
    EXPECT_FALSE(p.Fields.PandA || p.Fields.Attempted || p.Fields.Subscores || p.Fields.SiteCode);
    EXPECT_EQ(p.FileFormat, 0);
    EXPECT_FALSE(ui::terminationRequested());
}

TEST_F(MainWindowTest, StoredDateRange) {
    struct Case {
        const char* name;
        const char* keys;
        const char* begin; // shown in the pickers; "" for empty
        const char* end;
        bool enabled;
    };
    const Case cases[] = {
        {"valid dates", "Selected Dates=1\nBegin Date=03/05/2004\nEnd Date=04/01/2004\n",
         "03/05/2004", "04/01/2004", true},
        {"bad begin date", "Selected Dates=1\nBegin Date=02/30/2004\nEnd Date=04/01/2004\n",
         "06/15/2004", "06/15/2004", true},
        {"bad end date", "Selected Dates=1\nBegin Date=03/05/2004\nEnd Date=soon\n", "06/15/2004",
         "06/15/2004", true},
        {"dates missing", "Selected Dates=1\n", "06/15/2004", "06/15/2004", true},
        {"all dates", "Selected Dates=0\nBegin Date=03/05/2004\nEnd Date=04/01/2004\n", "", "",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pointSettingsAtData(std::string("[ORVA Export]\n") + c.keys);
        makePeriods(data.dir(), {1});
        open();
        EXPECT_EQ(form->rbSelectedDates->isChecked(), c.enabled);
        EXPECT_EQ(c.enabled ? dateControlsEnabled() : dateControlsDisabled(), true);
        EXPECT_EQ(form->edtBegDate->text().toStdString(), c.begin);
        EXPECT_EQ(form->edtEndDate->text().toStdString(), c.end);
        closeWindow();
    }
}

TEST_F(MainWindowTest, StoredChoicesAndDataDirectory) {
    struct Case {
        const char* name;
        std::string text;
        int search;
        std::string dataDir;
    };
    const Case cases[] = {
        {"search above 1", "[ORVA Export]\nSearch=5\n", 1, kes::defaultDataDir()},
        {"search below 0", "[ORVA Export]\nSearch=-1\n", -1, kes::defaultDataDir()},
        {"search not a number", "[ORVA Export]\nSearch=Master\n", 0, kes::defaultDataDir()},
        {"empty path", "[Directories]\nORVA Path=\n", 0, std::string(1, PathDelim)},
        {"path without separator", "[Directories]\nORVA Path=/srv/virn\n", 0,
         std::string("/srv/virn") + PathDelim},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeSettings(c.text);
        open();
        EXPECT_EQ(form->rgSearch->itemIndex(), c.search);
        EXPECT_EQ(form->Program().DataDir, c.dataDir);
        closeWindow();
        // The closing save writes the Search choice back as chosen; the
        // path stays as the operator wrote it.
        EXPECT_EQ(setting("ORVA Export", "Search"), std::to_string(c.search));
        if (c.text.find("ORVA Path") != std::string::npos) {
            EXPECT_EQ(setting("Directories", "ORVA Path") + "\n",
                      c.text.substr(c.text.find('=') + 1));
        }
    }
}

TEST_F(MainWindowTest, InclusionSwitchesAndFileFormatAreTakenOver) {
    writeSettings("[ORVA Export]\nInclude Score Records=0\nInclude Site Code=2\n"
                  "Include Attempted=yes\nFile Format=7\n");
    open();
    const ProgramState& p = form->Program();
    EXPECT_TRUE(p.Kinds.Placement);
    EXPECT_TRUE(p.Kinds.Assessment);
    EXPECT_FALSE(p.Kinds.Scores);
    EXPECT_TRUE(p.Fields.SiteCode);
    EXPECT_FALSE(p.Fields.Attempted) << "a word reads as the default";
    EXPECT_EQ(p.FileFormat, 7);
}

TEST_F(MainWindowTest, ClosingWithoutASelectedPeriodKeepsTheSavedOne) {
    writeSettings("[Directories]\nORVA Path=" + data.dir() +
                  "\n[Testing Periods]\nORVA From=7\n[ORVA Export]\nSearch=1\n"
                  "Selected Dates=0\nBegin Date=01/02/2003\nEnd Date=01/03/2003\n");
    open(); // no periods in the data directory
    EXPECT_EQ(messages(), std::vector<std::string>{"Path to ORVA is not set."});
    form->rgSearch->setItemIndex(0);
    closeWindow();
    EXPECT_EQ(setting("Testing Periods", "ORVA From"), "7");
    EXPECT_EQ(setting("ORVA Export", "Search"), "0");
    EXPECT_EQ(setting("ORVA Export", "Selected Dates"), "0");
    EXPECT_EQ(setting("ORVA Export", "Begin Date"), "12/30/1899");
    EXPECT_EQ(setting("ORVA Export", "End Date"), "12/30/1899");
}

TEST_F(MainWindowTest, ClosingSavesTheSelectedPeriodAndTheDates) {
    makePeriods(data.dir(), {1, 2, 3});
    pointSettingsAtData("[Testing Periods]\nORVA From=1\n");
    open();
    form->ListBox2->setItemIndex(1);
    form->rbSelectedDates->click();
    form->edtBegDate->setDate(*kes::Date::fromYmd(2004, 3, 5));
    closeWindow();
    EXPECT_EQ(setting("Testing Periods", "ORVA From"), "2");
    EXPECT_EQ(setting("ORVA Export", "Selected Dates"), "1");
    EXPECT_EQ(setting("ORVA Export", "Begin Date"), "03/05/2004");
    EXPECT_EQ(setting("ORVA Export", "End Date"), "12/30/1899");
}

TEST_F(MainWindowTest, AWindowThatNeverGotItsSettingsDoesNotOverwriteThem) {
    writeSettings("[ORVA Export]\nSearch=1\nSelected Dates=1\nBegin Date=01/02/2003\n");
    form = std::make_unique<TKesPrepMainForm>(nullptr, settings.dir());
    closeWindow();
    EXPECT_EQ(setting("ORVA Export", "Search"), "1");
    EXPECT_EQ(setting("ORVA Export", "Selected Dates"), "1");
    EXPECT_EQ(setting("ORVA Export", "Begin Date"), "01/02/2003");
}

TEST_F(MainWindowTest, DateChoiceAndToday) {
    open();
    form->rbSelectedDates->click();
    EXPECT_TRUE(dateControlsEnabled());
    EXPECT_TRUE(form->edtBegDate->isEmpty()) << "switching leaves the pickers as they were";
    QTest::mouseClick(form->btnToday, Qt::LeftButton);
    EXPECT_EQ(form->edtBegDate->text(), "06/15/2004");
    EXPECT_EQ(form->edtEndDate->text(), "06/15/2004");
    form->rbAllDates->click();
    EXPECT_TRUE(dateControlsDisabled());
    EXPECT_EQ(form->edtBegDate->text(), "06/15/2004");
}

// Tab reaches every control in reading order, each option of the two
// choices in its place whether chosen or not, and comes back round.
TEST_F(MainWindowTest, TabOrder) {
    makePeriods(data.dir(), {1, 2, 3});
    pointSettingsAtData("[Testing Periods]\nORVA From=2\n[ORVA Export]\nSelected Dates=1\n");
    open();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    ASSERT_TRUE(form->btnFind->isEnabled());
    auto name = [](QWidget* w) -> std::string {
        if (!w) return "(none)";
        for (QWidget* p = w; p; p = p->parentWidget())
            if (auto* group = qobject_cast<ui::RadioGroup*>(p); group && p != w)
                return group->objectName().toStdString() + "/" +
                       qobject_cast<QAbstractButton*>(w)->text().toStdString();
        if (qobject_cast<ui::DateEdit*>(w->parentWidget()))
            return w->parentWidget()->objectName().toStdString();
        return w->objectName().toStdString();
    };
    form->ListBox2->setFocus();
    std::vector<std::string> order{name(QApplication::focusWidget())};
    for (int i = 0; i < 13; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(name(QApplication::focusWidget()));
    }
    EXPECT_EQ(order, (std::vector<std::string>{
                         "ListBox2", "rgSearch/Temporary", "rgSearch/Master", "rbAllDates",
                         "rbSelectedDates", "btnToday", "edtBegDate", "edtEndDate", "btnAuto",
                         "btnFind", "btnHistory", "btnSettings", "CloselBtn", "ListBox2"}));

    // The options are chosen from the keyboard as well.
    form->rgSearch->button(1)->setFocus();
    QTest::keyClick(form->rgSearch->button(1), Qt::Key_Space);
    EXPECT_EQ(form->rgSearch->itemIndex(), 1);
    form->rbAllDates->setFocus();
    QTest::keyClick(form->rbAllDates, Qt::Key_Space);
    EXPECT_TRUE(form->rbAllDates->isChecked());
    EXPECT_FALSE(form->rbSelectedDates->isChecked());
    EXPECT_TRUE(dateControlsDisabled());
}

struct PeriodCase {
    const char* name;
    std::vector<int> periods; // folders with a period table
    std::string saved;        // "Testing Periods"/"ORVA From"; nullptr-like "" is empty
    std::vector<std::string> rows;
    std::vector<std::string> numbers;
    std::vector<std::string> messages;
    int selected;
};

void PrintTo(const PeriodCase& c, std::ostream* os) {
    *os << c.name;
}

std::string row(int n) {
    return std::to_string(n) + ".  \t" + nameOf(n);
}
std::string placeholder(int n) {
    return std::to_string(n) + ".  Testing Period " + std::to_string(n);
}
std::vector<std::string> rowsUpTo(int last) {
    std::vector<std::string> r;
    for (int n = 1; n <= last; ++n)
        r.push_back(row(n));
    return r;
}
std::vector<std::string> numbersUpTo(int last) {
    std::vector<std::string> r;
    for (int n = 1; n <= last; ++n)
        r.push_back(std::to_string(n));
    return r;
}
std::vector<std::string> plus(std::vector<std::string> a, std::vector<std::string> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const char* const kNotAll = "Not all ORVA Testing Periods have been initialized.  Contact VIRN.";

class PeriodListTest : public MainWindowTest, public ::testing::WithParamInterface<PeriodCase> {};

TEST_P(PeriodListTest, ListsRestoresAndEnables) {
    const PeriodCase& c = GetParam();
    for (int n : c.periods)
        makePeriod(data.dir(), n, nameOf(n));
    pointSettingsAtData(c.saved.empty() ? "" : "[Testing Periods]\nORVA From=" + c.saved + "\n");
    open();
    const ProgramState& p = form->Program();
    EXPECT_EQ(rows(), c.rows);
    EXPECT_EQ(p.PeriodRows, c.rows);
    EXPECT_EQ(p.PeriodNumbers, c.numbers);
    ASSERT_EQ(p.PeriodNames.size(), c.numbers.size());
    for (size_t i = 0; i < c.numbers.size(); ++i)
        EXPECT_EQ(p.PeriodNames[i], c.numbers[i] + ". " + nameOf(std::stoi(c.numbers[i])));
    EXPECT_EQ(messages(), c.messages);
    EXPECT_EQ(form->ListBox2->itemIndex(), c.selected);
    EXPECT_EQ(p.SelectedPeriodIndex, c.selected);
    EXPECT_EQ(form->btnFind->isEnabled(), c.selected >= 0);
    EXPECT_EQ(form->btnAuto->isEnabled(), c.selected >= 0);
    if (c.selected >= 0) {
        const auto choices = form->PrepareSearch();
        ASSERT_TRUE(choices);
        EXPECT_EQ(choices->Period, std::to_string(c.selected + 1));
    }
    EXPECT_EQ(form->ListBox2->tabStopDialogUnits(), 30);
    EXPECT_FALSE(form->AdsTable2.Active());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PeriodListTest,
    ::testing::Values(
        PeriodCase{"all11",
                   {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
                   "",
                   rowsUpTo(11),
                   numbersUpTo(11),
                   {},
                   -1},
        PeriodCase{"upTo9",
                   {1, 2, 3, 4, 5, 6, 7, 8, 9},
                   "",
                   plus(rowsUpTo(9), {placeholder(10), placeholder(11)}),
                   numbersUpTo(9),
                   {},
                   -1},
        PeriodCase{"upTo3", {1, 2, 3}, "", rowsUpTo(3), numbersUpTo(3), {kNotAll}, -1},
        PeriodCase{"gapAt5", {1, 2, 3, 4, 6, 7}, "6", rowsUpTo(4), numbersUpTo(4), {kNotAll}, -1},
        PeriodCase{"none", {}, "1", {}, {}, {"Path to ORVA is not set."}, -1},
        PeriodCase{"saved4",
                   {1, 2, 3, 4, 5, 6, 7, 8, 9},
                   "4",
                   plus(rowsUpTo(9), {placeholder(10), placeholder(11)}),
                   numbersUpTo(9),
                   {},
                   3},
        PeriodCase{"savedUnknown", {1, 2, 3}, "12", rowsUpTo(3), numbersUpTo(3), {kNotAll}, -1},
        PeriodCase{"savedNotExact", {1, 2, 3}, "02", rowsUpTo(3), numbersUpTo(3), {kNotAll}, -1},
        PeriodCase{"savedPlaceholder",
                   {1, 2, 3, 4, 5, 6, 7, 8, 9},
                   "10",
                   plus(rowsUpTo(9), {placeholder(10), placeholder(11)}),
                   numbersUpTo(9),
                   {},
                   -1},
        // Period 10 missing, 11 found: saved "11" selects the row of period
        // 11, not row 9 (the placeholder sharing its list position).
        PeriodCase{"tenMissingElevenSaved",
                   {1, 2, 3, 4, 5, 6, 7, 8, 9, 11},
                   "11",
                   plus(rowsUpTo(9), {placeholder(10), row(11)}),
                   plus(numbersUpTo(9), {"11"}),
                   {},
                   10}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(MainWindowTest, PeriodTableWithoutRecordsShowsAnEmptyName) {
    makePeriods(data.dir(), {1});
    makePeriod(data.dir(), 2, std::nullopt);
    pointSettingsAtData();
    open();
    EXPECT_EQ(rows(), (std::vector<std::string>{row(1), "2.  \t"}));
    EXPECT_EQ(form->Program().PeriodNames, (std::vector<std::string>{"1. " + nameOf(1), "2. "}));
}

TEST_F(MainWindowTest, PlaceholderAndTenMissingRowsSaveOnlyFoundPeriods) {
    makePeriods(data.dir(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 11});
    struct Case {
        int row;
        const char* saved;
        int listPosition;
    };
    const Case cases[] = {{9, "3", -1}, {10, "11", 9}, {8, "9", 8}, {-1, "3", -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        pointSettingsAtData("[Testing Periods]\nORVA From=3\n");
        open();
        form->ListBox2->setItemIndex(c.row);
        EXPECT_EQ(form->Program().SelectedPeriodIndex, c.row);
        EXPECT_EQ(form->btnFind->isEnabled(), c.row >= 0) << "a placeholder counts as a row";
        EXPECT_EQ(PeriodListPosition(form->Program(), c.row), c.listPosition);
        closeWindow();
        EXPECT_EQ(setting("Testing Periods", "ORVA From"), c.saved);
    }
}

TEST_F(MainWindowTest, OperatorClickSelectsAPeriod) {
    makePeriods(data.dir(), {1, 2, 3});
    pointSettingsAtData();
    open();
    form->show();
    ASSERT_FALSE(form->btnFind->isEnabled());
    const QRect third = form->ListBox2->visualRect(form->ListBox2->model()->index(2, 0));
    QTest::mouseClick(form->ListBox2->viewport(), Qt::LeftButton, {}, third.center());
    EXPECT_EQ(form->ListBox2->itemIndex(), 2);
    EXPECT_EQ(form->Program().SelectedPeriodIndex, 2);
    EXPECT_TRUE(form->btnFind->isEnabled());
    EXPECT_TRUE(form->btnAuto->isEnabled());
}

TEST_F(MainWindowTest, RebuildNeverLetsTheListAskForAMissingRow) {
    makePeriods(data.dir(), {1, 2, 3, 4, 5, 6, 7, 8, 9});
    pointSettingsAtData();
    open();
    form->show();
    form->ListBox2->setItemIndex(6);

    // Same data: the selected row stays.
    form->BuildPeriodList();
    EXPECT_EQ(form->ListBox2->itemIndex(), 6);
    EXPECT_EQ(form->Program().SelectedPeriodIndex, 6);

    // Fewer periods, with a message box open half-way through the scan.
    TempDir fewer;
    makePeriods(fewer.dir(), {1, 2, 3});
    form->Program().DataDir = fewer.dir();
    int boxes = 0;
    ui::ScopedModalAnswerer check([&](const ui::ModalRequest&) {
        ++boxes;
        EXPECT_LE(form->ListBox2->count(), static_cast<int>(form->Program().PeriodRows.size()));
        form->ListBox2->grab(); // the list repaints while the box is open
        return ui::mrOk;
    });
    form->BuildPeriodList();
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(rows(), rowsUpTo(3));
    EXPECT_EQ(form->ListBox2->itemIndex(), -1) << "row 6 is gone";
    EXPECT_EQ(form->Program().SelectedPeriodIndex, -1);
    EXPECT_FALSE(form->btnFind->isEnabled());
}

TEST_F(MainWindowTest, GivingUpOnAPeriodTableEndsTheProgram) {
    makePeriods(data.dir(), {1, 2, 3});
    // Another program holds period 2's table.
    kes::os::File holder;
    ASSERT_TRUE(kes::os::File::openRead(data.dir() + "VIRNTP2/TP.DBF", holder).ok());
    ASSERT_TRUE(holder.lock(kes::os::LockKind::Exclusive).ok());
    pointSettingsAtData();
    ui::ScopedModalAnswerer giveUp([](const ui::ModalRequest& r) {
        return r.buttons == ui::MsgButtons::OkCancel ? ui::mrCancel : ui::mrOk;
    });
    open();
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"Unable to open Table: " + data.dir() + "VIRNTP2" +
                                            PathDelim + "TP.CDX.\r\nOK to retry?",
                                        "Cancelled.  The program will be terminated."}));
    EXPECT_TRUE(ui::terminationRequested());
    EXPECT_EQ(form->Program().PeriodRows, std::vector<std::string>{row(1)});
    EXPECT_LE(form->ListBox2->count(), 1);
    EXPECT_FALSE(ui::hourglassShown());
    EXPECT_FALSE(form->AdsTable2.Active());
}

TEST_F(MainWindowTest, TableErrorWhileListingIsReportedByTheActivation) {
    makePeriods(data.dir(), {1});
    makePeriod(data.dir(), 2, std::nullopt, "NAME,C,10,0;");
    pointSettingsAtData();
    form = std::make_unique<TKesPrepMainForm>(nullptr, settings.dir());
    form->show();
    // The real activation, from the event loop.
    QTRY_VERIFY_WITH_TIMEOUT(form->Activated() && !ui::shownModals().empty(), 5000);
    ASSERT_EQ(ui::shownModals().size(), 1u);
    EXPECT_EQ(ui::shownModals()[0].type, ui::MsgType::Error);
    EXPECT_NE(ui::shownModals()[0].text.find("TPName"), std::string::npos)
        << ui::shownModals()[0].text;
    EXPECT_FALSE(form->AdsTable2.Active());
    EXPECT_EQ(rows(), std::vector<std::string>{row(1)});
    EXPECT_FALSE(ui::hourglassShown());
}

// A damaged period table is no table another program holds: its own error
// names it and what is wrong, and no one is asked to try again.
TEST_F(MainWindowTest, DamagedPeriodTableIsReportedNotRetried) {
    makePeriods(data.dir(), {1});
    makePeriod(data.dir(), 2, std::nullopt, "TPNAME,C,40,0;");
    writeFile(data.dir() + "VIRNTP2/TP.DBF", "this is no table");
    pointSettingsAtData();
    form = std::make_unique<TKesPrepMainForm>(nullptr, settings.dir());
    form->show();
    QTRY_VERIFY_WITH_TIMEOUT(form->Activated() && !ui::shownModals().empty(), 5000);
    ASSERT_EQ(ui::shownModals().size(), 1u);
    EXPECT_EQ(ui::shownModals()[0].buttons, ui::MsgButtons::Ok);
    EXPECT_NE(ui::shownModals()[0].text.find("VIRNTP2"), std::string::npos)
        << ui::shownModals()[0].text;
    EXPECT_NE(ui::shownModals()[0].text.find("truncated"), std::string::npos)
        << ui::shownModals()[0].text;
    EXPECT_FALSE(ui::terminationRequested());
}

TEST_F(MainWindowTest, SecondWindowHandsOverOnActivation) {
    makePeriods(data.dir(), {1});
    pointSettingsAtData("[Testing Periods]\nORVA From=1\n");
    open();
    ASSERT_FALSE(form->GLRunOnce1->AlreadyRunning());
    ui::clearShownModals();
    auto second = std::make_unique<TKesPrepMainForm>(nullptr, settings.dir());
    EXPECT_TRUE(second->GLRunOnce1->AlreadyRunning());
    EXPECT_EQ(messages(), std::vector<std::string>{"KesPrep is already running!"});
    EXPECT_FALSE(ui::terminationRequested()) << "nothing more until the activation";
    second->FormActivate();
    EXPECT_TRUE(ui::terminationRequested());
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(second->frameGeometry().topLeft(), QPoint(screen.width() + 1, screen.height() + 1));
    EXPECT_EQ(second->size(), QSize(0, 0));
    EXPECT_EQ(second->ListBox2->itemIndex(), 0) << "the rest of the activation still runs";
}

// The shared first part of Find and Auto Prepare: the period folder, the date
// messages (equal dates accepted) and the filter, and the Search choice. After
// a message the filter and the Search choice keep their previous values.
TEST_F(MainWindowTest, SharedPreparationChecksTheDates) {
    struct Case {
        const char* name;
        bool selectedDates;
        const char* begin; // typed into the picker; "" leaves it empty
        const char* end;
        const char* message; // "" for none
        const char* filter;  // after an accepted preparation
    };
    const Case cases[] = {
        {"all dates", false, "03/31/2004", "03/01/2004", "", ""},
        {"both empty", true, "", "", "The selected dates must be entered.", nullptr},
        {"begin empty", true, "", "03/01/2004", "The selected dates must be entered.", nullptr},
        {"end empty", true, "03/01/2004", "", "The selected dates must be entered.", nullptr},
        {"not a date", true, "02/30/2004", "03/01/2004", "The selected dates must be entered.",
         nullptr},
        {"begin after end", true, "03/31/2004", "03/01/2004",
         "The Begin Date cannot be later than the End Date.", nullptr},
        {"equal dates", true, "03/15/2004", "03/15/2004", "",
         "(DTOS(Date) >= \"20040315\") .and. (DTOS(Date) <= \"20040315\")"},
        {"first quarter", true, "01/01/2004", "03/31/2004", "",
         "(DTOS(Date) >= \"20040101\") .and. (DTOS(Date) <= \"20040331\")"},
    };
    makePeriods(data.dir(), {1, 2, 3});
    pointSettingsAtData("[Testing Periods]\nORVA From=3\n");
    open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui::clearShownModals();
        (c.selectedDates ? form->rbSelectedDates : form->rbAllDates)->click();
        for (auto [picker, text] :
             {std::pair{form->edtBegDate, c.begin}, {form->edtEndDate, c.end}}) {
            picker->lineEdit()->setText(text);
            emit picker->lineEdit()->editingFinished();
        }
        const auto choices = form->PrepareSearch();
        if (*c.message) {
            EXPECT_FALSE(choices);
            EXPECT_EQ(messages(), std::vector<std::string>{c.message});
            EXPECT_EQ(ui::shownModals().front().type, ui::MsgType::Error);
        } else {
            ASSERT_TRUE(choices);
            EXPECT_TRUE(messages().empty());
            EXPECT_EQ(choices->Period, "3");
            ASSERT_TRUE(choices->Dates);
            EXPECT_EQ(DateFilterOf(*choices->Dates), c.filter);
            EXPECT_EQ(choices->SearchTemporary, true) << "Temporary is chosen";
        }
    }
    form->rgSearch->setItemIndex(1);
    form->rbAllDates->click();
    const auto master = form->PrepareSearch();
    ASSERT_TRUE(master);
    EXPECT_EQ(master->SearchTemporary, false) << "Master";
    // With the choices the window holds for the whole run.
    EXPECT_EQ(master->DataDir, form->Program().DataDir);
    EXPECT_EQ(master->Kinds, form->Program().Kinds);
    EXPECT_EQ(master->Fields, form->Program().Fields);
}

// Waits in the event loop for the modal window of type W that a handler
// opens, hands it to `inspect` and closes it. False when none opened.
template <class W> class ModalWatcher {
  public:
    explicit ModalWatcher(std::function<void(W&)> inspect) : inspect_(std::move(inspect)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* window = qobject_cast<W*>(QApplication::activeModalWidget())) {
                seen_ = true;
                inspect_(*window);
                window->reject();
            }
        });
        timer_.start();
    }
    bool seen() const { return seen_; }

  private:
    std::function<void(W&)> inspect_;
    QTimer timer_;
    bool seen_ = false;
};

class FindTest : public MainWindowTest {
  protected:
    // The sample data directory as the data folder, period `period` chosen.
    void openOnSample(const std::string& period) {
        std::filesystem::copy(std::string(KES_TEST_DATA) + "/virn-sample", data.path(),
                              std::filesystem::copy_options::recursive);
        for (auto& entry : std::filesystem::recursive_directory_iterator(data.path()))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add);
        pointSettingsAtData("[Testing Periods]\nORVA From=" + period + "\n");
        open();
        form->show();
        ASSERT_TRUE(form->btnFind->isEnabled());
        ui::clearShownModals(); // the sample has four periods: the gap message
    }
};

// Find gathers the chosen period and opens the selection window on it.
TEST_F(FindTest, OpensTheSelectionWindowOnTheGatheredRows) {
    openOnSample("1");
    int total = -1;
    {
        ModalWatcher<TListKestalScoresForm> watcher(
            [&](TListKestalScoresForm& selection) { total = selection.TotalCount; });
        form->btnFind->click();
        ASSERT_TRUE(watcher.seen());
    }
    EXPECT_EQ(total, 62) << "19 + 19 + 24 live temporary records of VIRNTP1";
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(form->StatusBar1->currentMessage(), "") << "the gathering clears its text";
    EXPECT_FALSE(ui::hourglassShown());

    // Again with a range of one day: rows 7 of the three tables lie on it.
    form->rbSelectedDates->click();
    form->edtBegDate->setDate(*kes::Date::fromYmd(2005, 9, 1));
    form->edtEndDate->setDate(*kes::Date::fromYmd(2005, 9, 1));
    ModalWatcher<TListKestalScoresForm> again(
        [&](TListKestalScoresForm& selection) { total = selection.TotalCount; });
    form->btnFind->click();
    ASSERT_TRUE(again.seen()) << testing::PrintToString(messages());
    EXPECT_GE(total, 3);
    EXPECT_LT(total, 62);
}

// Find holds the data folder from its gathering until the selection window
// closes, since every export from the window must be of the rows gathered
// here: a kesprep-batch on the same folder meanwhile (another process) is
// refused without touching anything, and goes ahead once the window is closed.
TEST_F(FindTest, TheDataFolderIsHeldUntilTheSelectionWindowCloses) {
    openOnSample("1");
    const std::string upload = settings.dir() + "batch.asc";
    const std::string err = settings.dir() + "batch-err.txt";
    auto batch = [&] {
        kes::os::RunOptions o;
        o.stdoutFile = settings.dir() + "batch-out.txt";
        o.stderrFile = err;
        return kes::os::runProgram({KES_BATCH_PROGRAM, "--ini", settings.dir() + "KesPrep.ini",
                                    "--data", data.dir(), "--period", "2", "--set", "temporary",
                                    "--dates", "all", "--output", upload},
                                   o);
    };
    int whileOpen = -1;
    std::string refusal;
    int rowsAfter = -1;
    {
        ModalWatcher<TListKestalScoresForm> watcher([&](TListKestalScoresForm& selection) {
            whileOpen = batch();
            refusal = testsupport::readFile(err);
            selection.btnAllClick();
            rowsAfter = selection.SelectedCount;
        });
        form->btnFind->click();
        ASSERT_TRUE(watcher.seen());
    }
    EXPECT_EQ(whileOpen, 5) << refusal;
    EXPECT_NE(refusal.find("Another preparation is running on the data folder"), std::string::npos)
        << refusal;
    EXPECT_FALSE(std::filesystem::exists(upload));
    EXPECT_EQ(rowsAfter, 62) << "the window still holds period 1's rows";

    EXPECT_EQ(batch(), 0) << testsupport::readFile(err);
    EXPECT_TRUE(std::filesystem::exists(upload));
}

// A gathering error is shown by the general error report; no window opens.
TEST_F(FindTest, AGatheringErrorOpensNoWindow) {
    openOnSample("4"); // the temporary student index of VIRNTP4 is missing
    ModalWatcher<QDialog> watcher([](QDialog&) {});
    form->btnFind->click();
    EXPECT_FALSE(watcher.seen());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].find("SSNTEMP"), std::string::npos) << messages()[0];
    EXPECT_EQ(ui::shownModals()[0].type, ui::MsgType::Error);
    EXPECT_FALSE(ui::hourglassShown());
    EXPECT_TRUE(form->btnFind->isEnabled());
}

// Find and its exports go into the history as "Find and Export": each Export
// an entry of its own, a gathering that failed one.
TEST_F(FindTest, FindAndItsExportsAreInTheHistory) {
    openOnSample("1");
    const std::string upload = settings.dir() + "upload.asc";
    {
        ModalWatcher<TListKestalScoresForm> watcher([&](TListKestalScoresForm& selection) {
            selection.btnAllClick();
            selection.Edit1->setText(QString::fromStdString(upload));
            selection.btnExport->click();
            selection.btnExport->click();
        });
        form->btnFind->click();
        ASSERT_TRUE(watcher.seen());
    }
    form->ListBox2->setItemIndex(3); // period 4: its temporary student index is missing
    form->btnFind->click();

    const std::vector<HistoryEntry> entries = ReadHistory(data.dir());
    ASSERT_EQ(entries.size(), 3u);
    for (const HistoryEntry& e : entries)
        EXPECT_EQ(e.FrontEnd, "Find and Export");
    EXPECT_EQ(entries[0].Rows, "62");
    EXPECT_EQ(entries[1].UploadFile, upload);
    EXPECT_EQ(entries[1].Outcome, HistoryOutcome::Prepared);
    EXPECT_EQ(entries[2].Period, "4");
    EXPECT_EQ(entries[2].Outcome, HistoryOutcome::NotPrepared);
    EXPECT_NE(entries[2].Reason.find("SSNTEMP"), std::string::npos) << entries[2].Reason;
}

// The history of a data folder, and the main window over it.
class HistoryTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        makePeriods(data.dir(), {1});
        pointSettingsAtData("[Testing Periods]\nORVA From=1\n");
    }
    static HistoryEntry entry(const std::string& started, PreparationFrontEnd frontEnd,
                              HistoryOutcome outcome, const std::string& reason = {}) {
        HistoryEntry e;
        e.Started = started;
        e.Ended = started.substr(0, 17) + "59";
        e.FrontEnd = FrontEndName(frontEnd);
        e.User = "jdoe";
        e.Period = "1";
        e.Set = "Temporary";
        e.Layout = "Fixed Format";
        e.Rows = outcome == HistoryOutcome::NotPrepared ? "0" : "62";
        e.UploadFile = "/data/upload.asc";
        e.Outcome = outcome;
        e.Reason = reason;
        return e;
    }
    void add(const HistoryEntry& e) { ASSERT_EQ(AppendHistoryEntry(data.dir(), e), ""); }
    // Opens the history by `press` and hands the window to `inspect`.
    bool openHistory(const std::function<void()>& press,
                     const std::function<void(THistoryForm&)>& inspect = {}) {
        ModalWatcher<THistoryForm> watcher([&](THistoryForm& history) {
            if (inspect) inspect(history);
        });
        press();
        return watcher.seen();
    }
};

// A timed run that failed after the history was last seen is told on the
// status panel, with its time and reason, each time the window opens, until
// the history is opened; then it is seen and stays quiet, until the next one.
TEST_F(HistoryTest, AMissedFailureIsToldUntilTheHistoryIsOpened) {
    const std::string reason = "Unable to create /data/upload.asc";
    add(entry("2004-06-14 10:00:00", PreparationFrontEnd::Batch, HistoryOutcome::Prepared));
    add(entry("2004-06-15 02:00:05", PreparationFrontEnd::TimedRun, HistoryOutcome::NotPrepared,
              reason));
    add(entry("2004-06-15 08:30:00", PreparationFrontEnd::FindAndExport, HistoryOutcome::Prepared));
    for (int opening = 0; opening < 2; ++opening) {
        open();
        form->show();
        EXPECT_EQ(form->HistoryNoticeText().toStdString(),
                  "Timed Run 06/15/2004 02:00:05 not prepared: " + reason);
        EXPECT_TRUE(form->lblHistoryNotice->isVisible());
        EXPECT_FALSE(form->ProgressBar1->isVisible()) << "the panel is the notice's";
        EXPECT_EQ(form->lblHistoryNotice->geometry().right(), form->StatusBar1->width() - 3);
        EXPECT_TRUE(form->lblHistoryNotice->toolTip().contains(form->HistoryNoticeText()));
        closeWindow();
    }
    EXPECT_EQ(setting("History", "Last Seen"), "<missing>");

    open();
    form->show();
    ASSERT_TRUE(openHistory([&] { form->btnHistory->click(); }));
    EXPECT_EQ(form->HistoryNoticeText(), "");
    EXPECT_FALSE(form->lblHistoryNotice->isVisible());
    EXPECT_TRUE(form->ProgressBar1->isVisible());
    EXPECT_EQ(setting("History", "Last Seen"), "2004-06-15 08:30:59") << "the newest entry shown";
    closeWindow();
    open();
    EXPECT_EQ(form->HistoryNoticeText(), "") << "seen";
    closeWindow();

    // The next night's kesprep-batch fails: told again.
    add(entry("2004-06-16 02:00:00", PreparationFrontEnd::Batch, HistoryOutcome::NotPrepared,
              "Another preparation is running"));
    open();
    EXPECT_EQ(form->HistoryNoticeText(),
              "kesprep-batch 06/16/2004 02:00:00 not prepared: Another preparation is running");
}

// A reason longer than the panel: the run and its time stay whole, and so do
// the reason's beginning and its end, where the file's name stands.
TEST_F(HistoryTest, ALongReasonKeepsTheRunItsTimeAndTheFileName) {
    const std::string file = "/srv/offices/placement/" + std::string(60, 'x') + "/kestal.asc";
    add(entry("2004-06-15 02:00:05", PreparationFrontEnd::TimedRun, HistoryOutcome::NotPrepared,
              "Unable to create " + file));
    open();
    form->show();
    const QString shown = form->lblHistoryNotice->text();
    EXPECT_TRUE(shown.startsWith("Timed Run 06/15/2004 02:00:05 not prepared: Unable to"))
        << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("/kestal.asc")) << shown.toStdString();
    EXPECT_LE(form->lblHistoryNotice->fontMetrics().horizontalAdvance(shown),
              form->lblHistoryNotice->contentsRect().width());
    EXPECT_TRUE(form->lblHistoryNotice->toolTip().contains(QString::fromStdString(file)));
}

// The history opens from the button (Alt+H) and from the status panel's
// notice, and the operator has then seen it.
TEST_F(HistoryTest, TheHistoryOpensFromItsButtonAndTheNotice) {
    add(entry("2004-06-15 02:00:05", PreparationFrontEnd::TimedRun, HistoryOutcome::NotPrepared,
              "Unable to create /data/upload.asc"));
    const struct Case {
        const char* what;
        std::function<void(TKesPrepMainForm&)> press;
    } cases[] = {
        {"the button", [](TKesPrepMainForm& f) { f.btnHistory->click(); }},
        {"the notice",
         [](TKesPrepMainForm& f) { QTest::mouseClick(f.lblHistoryNotice, Qt::LeftButton); }},
    };
    open();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Never seen: the notice is back.
        writeSettings("[Directories]\nORVA Path=" + data.dir() + "\n");
        form->ShowMissedFailure();
        ASSERT_TRUE(form->lblHistoryNotice->isVisible());
        EXPECT_TRUE(openHistory([&] { c.press(*form); }));
        EXPECT_FALSE(form->lblHistoryNotice->isVisible());
        EXPECT_EQ(setting("History", "Last Seen"), "2004-06-15 02:00:59");
    }

    // Alt+H is the button's access key, as a screen reader announces it, and
    // no other control of the window has it. (Qt's test keys do not reach the
    // access keys; under a real display Alt+H opens the window.)
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(form->btnHistory);
    ASSERT_TRUE(button && button->actionInterface());
    EXPECT_EQ(
        button->actionInterface()->keyBindingsForAction(QAccessibleActionInterface::pressAction()),
        QStringList{"Alt+H"});
    for (QAbstractButton* other : form->findChildren<QAbstractButton*>()) {
        if (other == form->btnHistory) continue;
        EXPECT_NE(QKeySequence::mnemonic(other->text()), QKeySequence("Alt+H"))
            << other->objectName().toStdString();
    }
}

// Newest first, every value in its column, the failures and warnings marked,
// the chosen entry whole below the list.
TEST_F(HistoryTest, TheWindowListsTheEntriesNewestFirst) {
    HistoryEntry done =
        entry("2004-06-14 10:00:00", PreparationFrontEnd::Batch, HistoryOutcome::Prepared);
    done.BeginDate = "2005-09-01";
    done.EndDate = "2005-09-30";
    done.OptionalFields = "Attempted; Site Code";
    done.Size = "5518";
    done.Sha256 = std::string(64, 'c');
    add(done);
    add(entry("2004-06-15 02:00:05", PreparationFrontEnd::TimedRun, HistoryOutcome::NotPrepared,
              "Unable to create /data/upload.asc"));
    add(entry("2004-06-15 09:00:00", PreparationFrontEnd::PrepareExportFile,
              HistoryOutcome::PreparedWithWarnings, "3 records lie past the table's end"));
    THistoryForm history(nullptr, data.dir());
    EXPECT_EQ(history.windowTitle(), "History");
    QTableWidget& grid = *history.grdHistory;
    ASSERT_EQ(grid.rowCount(), 3);
    ASSERT_EQ(grid.columnCount(), 15);
    auto cell = [&](int row, const char* title) {
        for (int c = 0; c < grid.columnCount(); ++c)
            if (grid.horizontalHeaderItem(c)->text() == title)
                return grid.item(row, c)->text().toStdString();
        ADD_FAILURE() << "no column " << title;
        return std::string();
    };
    EXPECT_EQ(cell(0, "Started"), "06/15/2004 09:00:00");
    EXPECT_EQ(cell(0, "Outcome"), "Prepared with warnings");
    EXPECT_EQ(cell(1, "Outcome"), "Not prepared");
    EXPECT_EQ(cell(1, "Reason"), "Unable to create /data/upload.asc");
    EXPECT_EQ(cell(1, "Front End"), "Timed Run");
    EXPECT_EQ(cell(2, "Dates"), "09/01/2005 - 09/30/2005");
    EXPECT_EQ(cell(1, "Dates"), "All Dates");
    EXPECT_EQ(cell(2, "Optional Fields"), "Attempted; Site Code");
    EXPECT_EQ(cell(2, "SHA-256"), std::string(64, 'c'));
    EXPECT_EQ(cell(2, "Ended"), "06/14/2004 10:00:59");
    const int outcome = 1;
    EXPECT_FALSE(grid.item(1, outcome)->icon().isNull()) << "a failure is marked";
    EXPECT_FALSE(grid.item(0, outcome)->icon().isNull()) << "warnings are marked";
    EXPECT_TRUE(grid.item(2, outcome)->icon().isNull());
    EXPECT_NE(grid.item(1, outcome)->foreground(), grid.item(2, outcome)->foreground());

    EXPECT_TRUE(history.memDetails->toPlainText().startsWith(
        "Outcome: Prepared with warnings\nReason: 3 records lie past the table's end\n"));
    grid.setCurrentCell(1, 0);
    EXPECT_TRUE(
        history.memDetails->toPlainText().contains("Reason: Unable to create /data/upload.asc"));
    EXPECT_EQ(history.lblSummary->text().toStdString(),
              "3 preparations in " + HistoryFilePath(data.dir()));

    THistoryForm empty(nullptr, settings.dir());
    EXPECT_EQ(empty.grdHistory->rowCount(), 0);
    EXPECT_TRUE(empty.lblSummary->text().startsWith("No preparation yet in "));
}

// A timed run that fails while the automatic window stands open is told on
// the status panel once the window is closed.
TEST_F(FindTest, ATimedRunThatFailedIsToldWhenTheAutomaticWindowCloses) {
    openOnSample("1");
    form->Program().FileFormat = 7; // a layout the writer refuses
    ModalWatcher<TAutoPrepForm> watcher([&](TAutoPrepForm& automatic) {
        automatic.rgdate->setItemIndex(1);        // all dates, as the main window has them
        automatic.ComboBox1->setCurrentIndex(10); // the clock says 10:00
        automatic.Edit2->setText(QString::fromStdString(settings.dir() + "upload.asc"));
        automatic.btnActivate->click();
        automatic.Timer1Timer();
    });
    EXPECT_EQ(form->HistoryNoticeText().toStdString(), "");
    form->btnAuto->click();
    ASSERT_TRUE(watcher.seen());
    EXPECT_EQ(form->HistoryNoticeText().toStdString(),
              "Timed Run 06/15/2004 10:00:00 not prepared: Unknown file layout 7 (File Format is "
              "0 to 3)");
}

// Auto Prepare opens the automatic window with the filter in force when it
// was pressed; a date message opens nothing.
TEST_F(FindTest, AutoPrepareOpensTheAutomaticWindow) {
    openOnSample("1");
    form->rbSelectedDates->click();
    form->edtBegDate->setDate(*kes::Date::fromYmd(2005, 9, 1));
    form->edtEndDate->setDate(*kes::Date::fromYmd(2005, 9, 30));
    std::string filter;
    ModalWatcher<TAutoPrepForm> watcher([&](TAutoPrepForm& automatic) {
        automatic.rgdate->setItemIndex(1); // "Date Selection": the main window's dates
        filter = DateFilterOf(automatic.PlanOfRun().Dates);
    });
    form->btnAuto->click();
    ASSERT_TRUE(watcher.seen());
    EXPECT_EQ(filter, "(DTOS(Date) >= \"20050901\") .and. (DTOS(Date) <= \"20050930\")");

    form->edtBegDate->setDate(kes::Date());
    ModalWatcher<QDialog> none([](QDialog&) {});
    form->btnAuto->click();
    EXPECT_FALSE(none.seen());
    EXPECT_EQ(messages().back(), "The selected dates must be entered.");
}

} // namespace
