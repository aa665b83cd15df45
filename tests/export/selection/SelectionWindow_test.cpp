// The record selection window offscreen, over a small work table whose four
// orders all differ: its look, the ordered selection and the file it writes,
// Order By, the keyboard, the Export rule, the incremental search, the
// navigator, the save dialog and the file name kept in the settings file.
#include "app/core/IniFile.h"
#include "app/core/Preparation.h"
#include "export/ListKesu.h"
#include "export/ScoresGrid.h"
#include "os/Os.h"
#include "prep/core/WorkTable.h"
#include "support/QtEnvironment.h"
#include "ui/Modal.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <memory>
#include <optional>

using namespace testsupport;

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

// The system's words for a file that cannot be made in a folder that does
// not exist, as the writer reports them after its own.
std::string cannotCreateReason(const std::string& path) {
    kes::os::File file;
    return kes::os::File::createExclusive(path, file).reason();
}

// Row i (1 to 20) of the work table. The SSN order is the record order; the
// last names, dates and codes each give another order.
const char* const kLastNames[] = {"WALKER", "ADAMS", "MILLER", "BROWN", "YOUNG",  "CLARK", "SMITH",
                                  "HALL",   "ALLEN", "KING",   "SMALL", "DAVIS",  "EVANS", "GREEN",
                                  "HILL",   "JONES", "LEE",    "MOORE", "NELSON", "SCOTT"};
const char* const kCodes[] = {"RD", "MA", "EN", "WR"};

std::string idOf(int i) {
    return "1000000" + std::string(i < 10 ? "0" : "") + std::to_string(i);
}
std::string ssnOf(int i) {
    return "123-45-" + std::string(i < 10 ? "000" : "00") + std::to_string(i);
}
// March 21 - i, 2024: the date order runs backwards through the records.
std::string dateOf(int i) {
    const int day = 21 - i;
    return "202403" + std::string(day < 10 ? "0" : "") + std::to_string(day);
}

void makeWorkTable(const std::string& dir, int rows) {
    TAdsTable t;
    SilentOperator quiet;
    ASSERT_TRUE(CreateWorkTable(t, dir, quiet));
    for (int i = 1; i <= rows; ++i) {
        t.Append();
        t.FieldByName("ID").SetAsString(idOf(i));
        t.FieldByName("SSN").SetAsString(ssnOf(i));
        t.FieldByName("LNAME").SetAsString(kLastNames[i - 1]);
        t.FieldByName("FNAME").SetAsString("PAT");
        t.FieldByName("TESTCODE").SetAsString(kCodes[i % 4]);
        t.FieldByName("TESTSCORE").SetAsString(std::to_string(40 + i));
        t.FieldByName("DATE").SetAsDateTime(*kes::Date::fromYyyymmdd(dateOf(i)));
        t.Post();
    }
    t.Close();
    t.Exclusive = false;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
        start = end + 1;
    }
    return out;
}

class SelectionWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::clearTerminationRequest();
        prepareIn(dir_.dir());
    }
    void TearDown() override { ui::clearTerminationRequest(); }

    // The preparation the window exports through, on the data folder `dataDir`.
    void prepareIn(const std::string& dataDir) {
        preparation_.reset();
        std::filesystem::create_directories(dataDir + "VIRNTP1");
        PreparationPlan plan;
        plan.DataDir = dataDir;
        plan.Period = "1";
        plan.Layout = UploadLayout::Pipe; // the ID is the first field of a line
        plan.SettingsFile = SettingsFilePath(dir_.dir());
        preparation_.emplace(plan, PreparationFrontEnd::FindAndExport);
    }

    // Opens the window over a work table of `rows` records; it is shown so
    // that the grid has its rows laid out.
    std::unique_ptr<TListKestalScoresForm> open(int rows = 20) {
        if (rows >= 0) makeWorkTable(preparation_->Plan().DataDir, rows);
        auto form = std::make_unique<TListKestalScoresForm>(nullptr, *preparation_);
        form->show();
        return form;
    }

    static QPoint centreOf(TListKestalScoresForm& f, int row) {
        return f.wwDBGrid1->visualRect(f.wwDBGrid1->model()->index(row, 1)).center();
    }
    static void click(TListKestalScoresForm& f, int row, Qt::KeyboardModifiers modifiers = {}) {
        f.wwDBGrid1->scrollTo(f.wwDBGrid1->model()->index(row, 0));
        QTest::mouseClick(f.wwDBGrid1->viewport(), Qt::LeftButton, modifiers, centreOf(f, row));
    }
    static QString cell(TListKestalScoresForm& f, int row, int column) {
        return f.wwDBGrid1->model()->index(row, column).data().toString();
    }

    // Presses Export and returns the IDs of the file's lines.
    std::vector<std::string> exportIds(TListKestalScoresForm& f) {
        const std::string out = dir_.dir() + "upload.asc";
        std::remove(out.c_str());
        f.Edit1->setText(QString::fromStdString(out));
        EXPECT_TRUE(f.btnExport->isEnabled());
        QTest::mouseClick(f.btnExport, Qt::LeftButton);
        std::vector<std::string> ids;
        for (const std::string& line : lines(readFile(out)))
            ids.push_back(line.substr(0, line.find('|')));
        return ids;
    }

    std::string settingsFileName() {
        return TIniFile(SettingsFilePath(dir_.dir())).ReadString("ORVA Export", "Filename", "?");
    }

    TempDir dir_;
    std::optional<Preparation> preparation_;
    std::string saveAnswer_;
    ui::ScopedModalAnswerer answers_{[this](const ui::ModalRequest& request) {
        if (request.kind == ui::ModalKind::SaveFile) return ui::ModalAnswer(ui::mrOk, saveAnswer_);
        return ui::ModalAnswer(ui::mrOk);
    }};
};

TEST_F(SelectionWindowTest, OpensOnTheWorkTableInSsnOrderWithNothingSelected) {
    auto f = open();
    EXPECT_EQ(f->windowTitle(), "Select Records");
    EXPECT_EQ(f->TotalCount, 20);
    EXPECT_EQ(f->SelectedCount, 0);
    EXPECT_EQ(f->StatusText(), "Records Selected: 0 out of 20");
    EXPECT_FALSE(f->btnExport->isEnabled());
    EXPECT_TRUE(f->btnExport->isDefault());
    EXPECT_TRUE(f->RadioButton1->isChecked());
    EXPECT_EQ(f->AdsTable1.IndexName(), "SSN");
    EXPECT_EQ(f->focusWidget(), f->wwIncrementalSearch1);

    const QStringList titles = {"ID",         "Last Name", "First Name", "Middel Initial",
                                "Birth Date", "Code",      "Score",      "Date"};
    QAbstractItemModel* model = f->wwDBGrid1->model();
    ASSERT_EQ(model->columnCount(), titles.size());
    for (int c = 0; c < titles.size(); ++c)
        EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString(), titles[c]);
    // Widths in characters: ID 10, Last Name 14, Code 7.
    const int id = f->wwDBGrid1->columnWidth(0);
    EXPECT_GT(f->wwDBGrid1->columnWidth(1), id);
    EXPECT_LT(f->wwDBGrid1->columnWidth(5), id);
    EXPECT_EQ(f->wwDBGrid1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    ASSERT_EQ(model->rowCount(), 20);
    EXPECT_EQ(cell(*f, 0, 0).toStdString(), idOf(1));
    EXPECT_EQ(cell(*f, 19, 1), "SCOTT");
    EXPECT_EQ(cell(*f, 0, 7), "03/20/2024");
    EXPECT_EQ(cell(*f, 0, 4), ""); // no birth date
    // The row indicator marks the current row, the first.
    EXPECT_EQ(f->CurrentRow(), 0);
    EXPECT_FALSE(model->headerData(0, Qt::Vertical).toString().isEmpty());
    EXPECT_TRUE(model->headerData(1, Qt::Vertical).toString().isEmpty());
    // Read-only.
    EXPECT_FALSE(model->flags(model->index(0, 0)) & Qt::ItemIsEditable);
}

TEST_F(SelectionWindowTest, RowsAreWrittenInTheOrderTheyWerePicked) {
    auto f = open();
    click(*f, 4);
    click(*f, 1, Qt::ControlModifier);
    click(*f, 8, Qt::ControlModifier);
    EXPECT_EQ(f->StatusText(), "Records Selected: 3 out of 20");
    EXPECT_EQ(exportIds(*f), (std::vector<std::string>{idOf(5), idOf(2), idOf(9)}));
    EXPECT_EQ(ui::shownModals().back().text, "Export File has been successfully prepared.");

    // Ctrl+click unpicks a row, which leaves the list; picked again it goes
    // to the end. The selection survived the first run.
    click(*f, 1, Qt::ControlModifier);
    EXPECT_EQ(f->SelectedCount, 2);
    click(*f, 1, Qt::ControlModifier);
    EXPECT_EQ(exportIds(*f), (std::vector<std::string>{idOf(5), idOf(9), idOf(2)}));

    // A plain click drops the others; Shift+click adds the range up to it.
    click(*f, 10);
    EXPECT_EQ(f->SelectedCount, 1);
    click(*f, 12, Qt::ShiftModifier);
    EXPECT_EQ(exportIds(*f), (std::vector<std::string>{idOf(11), idOf(12), idOf(13)}));
}

// An export that writes no file says so and why, in the one message box.
TEST_F(SelectionWindowTest, AnExportThatWritesNoFileNamesTheReason) {
    auto f = open();
    f->btnAll->click();
    const std::string missing = dir_.dir() + "missing/upload.asc";
    f->Edit1->setText(QString::fromStdString(missing));
    ui::clearShownModals();
    QTest::mouseClick(f->btnExport, Qt::LeftButton);
    ASSERT_EQ(ui::shownModals().size(), 1u);
    EXPECT_EQ(ui::shownModals()[0].type, ui::MsgType::Error);
    EXPECT_EQ(ui::shownModals()[0].text, "Export File has been not prepared.\r\nUnable to create " +
                                             missing + ": " + cannotCreateReason(missing));
}

TEST_F(SelectionWindowTest, SelectAllFollowsTheChosenOrder) {
    auto f = open();
    QTest::mouseClick(f->RadioButton2, Qt::LeftButton); // "&Last Name"
    EXPECT_EQ(f->AdsTable1.IndexName(), "LNAME");
    QTest::mouseClick(f->btnAll, Qt::LeftButton);
    EXPECT_EQ(f->StatusText(), "Records Selected: 20 out of 20");

    std::vector<std::pair<std::string, std::string>> byName;
    for (int i = 1; i <= 20; ++i)
        byName.emplace_back(kLastNames[i - 1], idOf(i));
    std::sort(byName.begin(), byName.end());
    std::vector<std::string> expected;
    for (const auto& [name, id] : byName)
        expected.push_back(id);
    EXPECT_EQ(exportIds(*f), expected);
    EXPECT_EQ(cell(*f, 0, 1), "ADAMS");
}

TEST_F(SelectionWindowTest, OrderByDropsTheSelectionAndEmptiesTheSearch) {
    auto f = open();
    f->Edit1->setText("out.asc");
    f->btnAllClick();
    QTest::keyClicks(f->wwIncrementalSearch1, "123");
    f->wwDBGrid1->setFocus();
    ASSERT_TRUE(f->btnExport->isEnabled());

    struct Case {
        QRadioButton* button;
        const char* tag;
        int firstRecord; // shown in the first row
    };
    const Case cases[] = {{f->RadioButton3, "DATE", 20},
                          {f->RadioButton4, "TESTCODE", 2}, // "EN" first: records 2, 6, ...
                          {f->RadioButton1, "SSN", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        f->btnAllClick();
        QTest::mouseClick(c.button, Qt::LeftButton);
        EXPECT_TRUE(c.button->isChecked());
        EXPECT_EQ(f->AdsTable1.IndexName(), c.tag);
        EXPECT_EQ(f->SelectedCount, 0);
        EXPECT_TRUE(f->SelectedRowsList().empty());
        EXPECT_TRUE(f->wwDBGrid1->selectionModel()->selectedRows().isEmpty());
        EXPECT_EQ(f->StatusText(), "Records Selected: 0 out of 20");
        EXPECT_FALSE(f->btnExport->isEnabled());
        EXPECT_TRUE(f->wwIncrementalSearch1->text().isEmpty());
        EXPECT_EQ(f->focusWidget(), f->wwIncrementalSearch1);
        EXPECT_EQ(static_cast<TKestalScoresModel*>(f->wwDBGrid1->model())->RecNoAt(0),
                  static_cast<uint32_t>(c.firstRecord));
    }
}

TEST_F(SelectionWindowTest, CtrlAAndCtrlNInTheGrid) {
    auto f = open();
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int count;
    };
    const Case cases[] = {
        {Qt::Key_A, Qt::ControlModifier, 20},
        {Qt::Key_N, Qt::ControlModifier, 0},
        {Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier, 20}, // other modifiers do not matter
        {Qt::Key_A, Qt::NoModifier, 20},                          // a plain A changes nothing
        {Qt::Key_Down, Qt::NoModifier, 20}, // moving the current row keeps the selection
        {Qt::Key_N, Qt::ControlModifier | Qt::AltModifier, 0},
        {Qt::Key_Delete, Qt::NoModifier, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        QTest::keyClick(f->wwDBGrid1, c.key, c.modifiers);
        EXPECT_EQ(f->SelectedCount, c.count);
        EXPECT_EQ(f->StatusText(), QString("Records Selected: %1 out of 20").arg(c.count));
        EXPECT_EQ(f->wwDBGrid1->selectionModel()->selectedRows().size(), c.count);
    }
    EXPECT_EQ(f->wwDBGrid1->model()->rowCount(), 20); // nothing deleted
}

TEST_F(SelectionWindowTest, ExportIsEnabledOnlyWithRowsAndAFileName) {
    {
        prepareIn(dir_.dir() + "empty/");
        makeWorkTable(dir_.dir() + "empty/", 0);
        auto empty = open(-1);
        EXPECT_EQ(empty->StatusText(), "Records Selected: 0 out of 0");
        empty->Edit1->setText("out.asc");
        empty->btnAllClick();
        EXPECT_EQ(empty->SelectedCount, 0);
        EXPECT_FALSE(empty->btnExport->isEnabled());
    }
    prepareIn(dir_.dir());
    auto f = open();
    // A name without a selection; then one row.
    QTest::keyClicks(f->Edit1, "out.asc");
    EXPECT_FALSE(f->btnExport->isEnabled());
    click(*f, 3);
    EXPECT_TRUE(f->btnExport->isEnabled());
    // Select All with an empty name; one character; deleted again.
    f->Edit1->clear();
    f->btnAllClick();
    EXPECT_FALSE(f->btnExport->isEnabled());
    QTest::keyClick(f->Edit1, Qt::Key_X);
    EXPECT_TRUE(f->btnExport->isEnabled());
    QTest::keyClick(f->Edit1, Qt::Key_Backspace);
    EXPECT_FALSE(f->btnExport->isEnabled());
    // 20 selected, one unpicked.
    EXPECT_EQ(f->StatusText(), "Records Selected: 20 out of 20");
    click(*f, 7, Qt::ControlModifier);
    EXPECT_EQ(f->StatusText(), "Records Selected: 19 out of 20");
    EXPECT_EQ(f->SelectedRowsList().size(), 19u);
}

TEST_F(SelectionWindowTest, IncrementalSearchGoesToTheFirstKeyThatBeginsWithTheText) {
    auto f = open();
    QTest::mouseClick(f->RadioButton2, Qt::LeftButton); // last names
    auto* model = static_cast<TKestalScoresModel*>(f->wwDBGrid1->model());
    auto currentName = [&] { return cell(*f, f->CurrentRow(), 1); };
    struct Case {
        const char* typed;  // added to what the box holds
        const char* shown;  // the box afterwards
        const char* landed; // the current row's last name
    };
    const Case cases[] = {
        {"s", "S", "SCOTT"},
        {"m", "SM", "SMALL"},
        {"i", "SMI", "SMITH"},
        {"x", "SMIX", "SMITH"}, // nothing begins with it: the row stays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        QTest::keyClicks(f->wwIncrementalSearch1, c.typed);
        EXPECT_EQ(f->wwIncrementalSearch1->text(), c.shown);
        EXPECT_EQ(currentName(), c.landed);
        // The table's cursor is on the row the grid shows.
        EXPECT_EQ(f->AdsTable1.RecNo(), model->RecNoAt(f->CurrentRow()));
    }
    EXPECT_EQ(f->SelectedCount, 0); // searching selects nothing

    QTest::mouseClick(f->RadioButton1, Qt::LeftButton); // ID: the SSN field
    QTest::keyClicks(f->wwIncrementalSearch1, "123-45-001");
    EXPECT_EQ(cell(*f, f->CurrentRow(), 0).toStdString(), idOf(10));
    QTest::mouseClick(f->RadioButton3, Qt::LeftButton); // dates: a whole date
    QTest::keyClicks(f->wwIncrementalSearch1, "03/15/2024");
    EXPECT_EQ(cell(*f, f->CurrentRow(), 0).toStdString(), idOf(6));
}

TEST_F(SelectionWindowTest, NavigatorMovesTheCurrentRowAndKeepsTheSelection) {
    auto f = open();
    click(*f, 2);
    const char* hints[] = {"Move to first record",    "Move backward 10 records",
                           "Move to prior record",    "Move to next record",
                           "Move forward 10 records", "Move to last record"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(f->NavigatorButtons[i]->toolTip(), hints[i]);
        EXPECT_TRUE(f->NavigatorButtons[i]->autoRepeat());
        EXPECT_EQ(f->NavigatorButtons[i]->autoRepeatDelay(), 500);
        EXPECT_EQ(f->NavigatorButtons[i]->autoRepeatInterval(), 100);
    }
    EXPECT_EQ(f->btnAll->toolTip(), "Select All");
    EXPECT_EQ(f->btnNone->toolTip(), "UnSelect");

    using F = TListKestalScoresForm;
    const std::pair<F::NavigateButton, int> moves[] = {
        {F::nbNextPage, 12}, {F::nbNextPage, 19}, {F::nbPrior, 18}, {F::nbPriorPage, 8},
        {F::nbPriorPage, 0}, {F::nbPrior, 0},     {F::nbLast, 19},  {F::nbNext, 19},
        {F::nbFirst, 0},     {F::nbNext, 1}};
    for (const auto& [button, row] : moves) {
        QTest::mouseClick(f->NavigatorButtons[button], Qt::LeftButton);
        EXPECT_EQ(f->CurrentRow(), row);
        EXPECT_EQ(f->AdsTable1.RecNo(), static_cast<uint32_t>(row + 1));
    }
    EXPECT_EQ(f->SelectedRowsList().size(), 1u);
    EXPECT_EQ(f->SelectedRowsList()[0].recno, 3u);
}

TEST_F(SelectionWindowTest, SaveDialogAddsAscAndTheNameIsKeptBetweenWindows) {
    TIniFile(SettingsFilePath(dir_.dir())).WriteString("ORVA Export", "Filename", "first.asc");
    auto f = open();
    EXPECT_EQ(f->Edit1->text(), "first.asc");
    saveAnswer_ = dir_.dir() + "kestal";
    QTest::mouseClick(f->SpeedButton1, Qt::LeftButton);
    ASSERT_FALSE(ui::shownModals().empty());
    const ui::ModalRequest& asked = ui::shownModals().back();
    EXPECT_EQ(asked.title, "Save Kestal Export File");
    EXPECT_EQ(asked.text, "first.asc");
    EXPECT_EQ(asked.filter, "Text files (*.txt)|*.txt|All files (*.*)|*.*");
    EXPECT_EQ(asked.defaultExtension, "asc");
    EXPECT_EQ(f->Edit1->text().toStdString(), dir_.dir() + "kestal.asc");
    // A name with an extension stays as chosen; the dialog then starts with it.
    saveAnswer_ = dir_.dir() + "upload.txt";
    QTest::mouseClick(f->SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(ui::shownModals().back().text, dir_.dir() + "kestal.asc");
    EXPECT_EQ(f->Edit1->text().toStdString(), dir_.dir() + "upload.txt");
    EXPECT_EQ(settingsFileName(), "first.asc"); // written only at close

    QTest::mouseClick(f->btnCancel, Qt::LeftButton);
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(settingsFileName(), dir_.dir() + "upload.txt");
    f.reset();
    EXPECT_FALSE(TAdsTable().Active());
    auto again = open(-1);
    EXPECT_EQ(again->Edit1->text().toStdString(), dir_.dir() + "upload.txt");
}

TEST_F(SelectionWindowTest, GivingUpOnTheWorkTableEndsTheProgram) {
    // No work table: every open fails; the operator cancels the question.
    ui::ScopedModalAnswerer cancel(
        [](const ui::ModalRequest&) { return ui::ModalAnswer(ui::mrCancel); });
    auto f = open(-1);
    EXPECT_TRUE(ui::terminationRequested());
    EXPECT_FALSE(f->TableOpen());
    ASSERT_EQ(ui::shownModals().size(), 2u);
    EXPECT_EQ(ui::shownModals()[1].text, "Cancelled.  The program will be terminated.");
    f->close(); // nothing was read, so nothing is written back
    EXPECT_EQ(settingsFileName(), "?");
}

} // namespace
