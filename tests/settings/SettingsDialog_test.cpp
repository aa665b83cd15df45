// The settings dialog and the Settings button of the main window, driven
// offscreen on a copy of the sample data directory with its code tables:
// the dialog's controls, the period choosers, the code grids and the
// navigator bar, and what OK and Cancel leave behind in the program, the
// settings file and the code table files.
#include "support/QtEnvironment.h"

#include "app/KesPrepu.h"
#include "app/core/IniFile.h"
#include "app/core/ProgramState.h"
#include "common/Paths.h"
#include "os/Os.h"
#include "settings/CodeGrid.h"
#include "settings/DBNavigator.h"
#include "settings/SetKesu.h"
#include "support/OtherPreparation.h"
#include "ui/FormSetup.h"
#include "ui/Modal.h"
#include "ui/RadioGroup.h"
#include "ui/VirtualListBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <functional>

namespace {

namespace fs = std::filesystem;
using testsupport::fixture;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

const char* const kCodeFiles[] = {"KESPLACE.DBF", "KESPLACE.cdx", "KESTEST.DBF", "KESTEST.cdx"};
const char* const kBackups[] = {"KESPLACx.DBF", "KESPLACx.CDX", "KESTESTx.DBF", "KESTESTx.CDX"};

// What a code table holds, row by row in code order: code, include, new code.
std::vector<std::string> codeRows(const std::string& dir, const char* name) {
    TAdsTable table;
    table.DatabaseName = dir;
    table.TableType = ttAdsCDX;
    table.SetTableName(name);
    table.Open();
    table.SetIndexName("CODE");
    std::vector<std::string> rows;
    for (table.First(); !table.Eof(); table.Next())
        rows.push_back(table.FieldByName("Code").AsString() + " " +
                       (table.FieldByName("Include").AsBoolean() ? "T" : "F") + " " +
                       table.FieldByName("NewCode").AsString());
    table.Close();
    return rows;
}

class SettingsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::clearTerminationRequest();
        program = ProgramState{};
        data.copyFolder("virn-sample");
        for (const char* file : kCodeFiles)
            data.copy(std::string("formats/cdx/") + file);
    }
    void TearDown() override {
        main.reset();
        ui::clearTerminationRequest();
    }

    // The main window on the sample data with the settings given, period
    // `row` selected (-1: none).
    void openMain(int row = 0, const std::string& more = "[ORVA Export]\nFile Format=1\n") {
        writeFile(settings.dir() + "KesPrep.ini",
                  "[Directories]\nORVA Path=" + data.dir() + "\n" + more);
        testsupport::usePrivateRuntimeDir();
        main = std::make_unique<TKesPrepMainForm>(nullptr, settings.dir());
        main->FormActivate();
        main->ListBox2->setItemIndex(row);
        main->ListBox2Click();
        ui::clearShownModals(); // the sample lacks periods 5 to 9, which the list says
    }

    // Presses Settings; `act` works in the open dialog, which then closes
    // with OK or Cancel.
    void runSettings(const std::function<void(TSetPathtoORVAForm&)>& act, bool ok) {
        bool reached = false;
        QTimer::singleShot(0, main.get(), [&] {
            auto* form = main->findChild<TSetPathtoORVAForm*>();
            if (!form) return;
            reached = true;
            act(*form);
            if (ok)
                form->btnOK->click();
            else
                form->btnCancel->click();
        });
        main->btnSettings->click();
        EXPECT_TRUE(reached) << "the dialog was not shown";
    }

    std::string setting(const char* section, const char* key) const {
        return TIniFile(SettingsFilePath(settings.dir())).ReadString(section, key, "<missing>");
    }
    bool sameAsFixture(const char* file) const {
        return readFile(data.dir() + file) == readFile(fixture(std::string("formats/cdx/") + file));
    }
    static std::vector<std::string> messages() {
        std::vector<std::string> texts;
        for (const auto& m : ui::shownModals())
            texts.push_back(m.text);
        return texts;
    }

    TempDir settings;
    TempDir data;
    // Every question is answered Yes/OK unless a test says otherwise.
    ui::ScopedModalAnswerer answers{[](const ui::ModalRequest& r) {
        return r.buttons == ui::MsgButtons::YesCancel ? ui::mrYes : ui::mrOk;
    }};
    ProgramState program; // for a dialog opened without the main window
    std::unique_ptr<TKesPrepMainForm> main;
};

// ---------------------------------------------------------------- the dialog

TEST_F(SettingsDialogTest, ControlsAsCreated) {
    program.DataDir = data.dir();
    TSetPathtoORVAForm form(nullptr, program);
    EXPECT_EQ(form.windowTitle(), "Set Path to ORVA");
    EXPECT_EQ(form.size(), QSize(418, 322));
    EXPECT_EQ(form.OvcNotebook1->size(), QSize(418, 281));
    EXPECT_EQ(form.OvcNotebook1->currentIndex(), 0);
    const char* tabs[] = {"Path to ORVA", "Options", "Placement Codes", "&Test/Score Codes"};
    ASSERT_EQ(form.OvcNotebook1->count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(form.OvcNotebook1->tabText(i), tabs[i]);

    struct Caption {
        QAbstractButton* control;
        const char* text;
        bool checked;
    } captions[] = {
        {form.Button2, "B&rowse", false},
        {form.chkPlacement, "Placement Records", true},
        {form.chkAssessment, "Assessment Records", true},
        {form.chkScores, "Score Records", true},
        {form.chkAttempt, "Attempted", false},
        {form.chkSubscores, "Subscores", false},
        {form.chkPandA, "Purpose and Accommodation", false},
        {form.chkSiteCode, "Site Code", false},
        {form.btnPrint, "Print &File Format", false},
        {form.btnBuildP, "&Build", false},
        {form.btnBuildT, "&Build", false},
        {form.btnOK, "&OK", false},
        {form.btnCancel, "&Cancel", false},
    };
    for (const Caption& c : captions) {
        EXPECT_EQ(c.control->text(), c.text);
        EXPECT_EQ(c.control->isChecked(), c.checked) << c.text;
    }
    EXPECT_EQ(form.GroupBox1->title(), "Path to ORVA");
    EXPECT_EQ(form.Label1->text(), "&Directory:");
    EXPECT_EQ(form.Label1->buddy(), form.Edit2);
    EXPECT_EQ(form.Edit2->width(), 321);
    EXPECT_EQ(form.GroupBox2->title(), "&Record Inclusion");
    EXPECT_EQ(form.GroupBox3->title(), "&Additional Field Inclusion");
    EXPECT_EQ(form.rgFileFormat->title(), "&File Type");
    const char* layouts[] = {"Fixed Format", "Pipe Delimited", "Comma Delimited", "Tab Delimited"};
    ASSERT_EQ(form.rgFileFormat->count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(form.rgFileFormat->button(i)->text(), layouts[i]);
    EXPECT_EQ(form.rgFileFormat->itemIndex(), 0);
    EXPECT_EQ(form.ComboBox1->width(), 173);
    EXPECT_EQ(form.ComboBox2->width(), 173);
    EXPECT_TRUE(form.btnOK->isDefault());

    struct Column {
        CodeGrid* grid;
        int column;
        const char* title;
        int characters;
    } columns[] = {
        {form.wwDBGrid1, 0, "VIRN Code", 9}, {form.wwDBGrid1, 1, "Include", 5},
        {form.wwDBGrid1, 2, "New Code", 9},  {form.wwDBGrid1, 3, "Placement Message", 43},
        {form.wwDBGrid2, 0, "VIRN Code", 9}, {form.wwDBGrid2, 1, "Include", 5},
        {form.wwDBGrid2, 2, "New Code", 9},  {form.wwDBGrid2, 3, "Test/Score Name", 22},
    };
    for (const Column& c : columns) {
        EXPECT_EQ(c.grid->model()->headerData(c.column, Qt::Horizontal).toString(), c.title);
        // The width in characters, or wider by the least that shows the
        // title whole in this font.
        EXPECT_EQ(c.grid->columnWidth(c.column),
                  std::max(c.grid->widthForCharacters(c.characters),
                           ui::headerWidthFor(c.grid->horizontalHeader(), c.title)))
            << c.title;
    }

    EXPECT_FALSE(form.wwDBNavigator1->isVisibleTo(&form));
    EXPECT_EQ(form.wwDBNavigator1->size(), QSize(200, 25));
    const char* hints[] = {"Move to first record",
                           "Move backward 10 records",
                           "Move to prior record",
                           "Move to next record",
                           "Move forward 10 records",
                           "Move to last record",
                           "Select All",
                           "UnSelect"};
    for (int i = 0; i < DBNavigator::kButtonCount; ++i) {
        QToolButton* button = form.wwDBNavigator1->button(static_cast<DBNavigator::Button>(i));
        EXPECT_EQ(button->toolTip(), hints[i]);
        EXPECT_TRUE(button->autoRepeat());
        EXPECT_EQ(button->autoRepeatDelay(), 500);
        EXPECT_EQ(button->autoRepeatInterval(), 100);
    }
    EXPECT_FALSE(fs::exists(data.dir() + "KESPLACx.DBF")) << "the dialog itself copies nothing";
}

TEST_F(SettingsDialogTest, NavigatorOnlyOnTheCodePagesAndSelectAllActsOnThePageLastShown) {
    openMain(2);
    program.DataDir = data.dir();
    TSetPathtoORVAForm form(nullptr, program);
    form.show();
    const std::vector<std::string> placementBefore = codeRows(data.dir(), "KESPLACE");
    form.OvcNotebook1->setCurrentIndex(2);
    EXPECT_TRUE(form.wwDBNavigator1->isVisible());
    EXPECT_EQ(form.wwDBNavigator1->dataSource(), &form.AdsTable1);
    form.OvcNotebook1->setCurrentIndex(3);
    EXPECT_EQ(form.wwDBNavigator1->dataSource(), &form.AdsTable4);
    form.OvcNotebook1->setCurrentIndex(1);
    EXPECT_FALSE(form.wwDBNavigator1->isVisible());
    form.OvcNotebook1->setCurrentIndex(3);

    form.wwDBNavigator1->button(DBNavigator::Next)->click();
    form.wwDBNavigator1->button(DBNavigator::Next)->click();
    const uint32_t current = form.AdsTable4.RecNo();
    EXPECT_EQ(form.wwDBGrid2->currentIndex().row(), 2) << "the grid follows the bar";
    form.wwDBNavigator1->button(DBNavigator::UnSelect)->click();
    form.wwDBNavigator1->button(DBNavigator::SelectAll)->click();
    EXPECT_EQ(form.AdsTable4.RecNo(), current);
    form.DiscardAndCloseCodeTables();

    for (const std::string& row : codeRows(data.dir(), "KESTEST"))
        EXPECT_EQ(row.substr(row.find(' ') + 1, 1), "T") << row;
    EXPECT_EQ(codeRows(data.dir(), "KESPLACE"), placementBefore);
}

TEST_F(SettingsDialogTest, PeriodChoosersFollowTheMainWindowAndBuildNeedsAnEntry) {
    openMain(2); // period 3
    TSetPathtoORVAForm form(nullptr, main->Program());
    form.OvcNotebook1->setCurrentIndex(2);
    ASSERT_EQ(form.ComboBox1->count(), static_cast<int>(main->Program().PeriodNames.size()));
    EXPECT_TRUE(form.ComboBox1->currentText().startsWith("3. "))
        << form.ComboBox1->currentText().toStdString();
    EXPECT_TRUE(form.btnBuildP->isEnabled());

    form.ComboBox1->setEditText("no such period");
    EXPECT_FALSE(form.btnBuildP->isEnabled());
    form.ComboBox1->setCurrentIndex(0);
    EXPECT_TRUE(form.btnBuildP->isEnabled());

    // Every visit starts afresh from the main window's period.
    form.OvcNotebook1->setCurrentIndex(0);
    main->ListBox2->setItemIndex(-1);
    main->ListBox2Click();
    form.OvcNotebook1->setCurrentIndex(2);
    EXPECT_EQ(form.ComboBox1->currentIndex(), -1);
    EXPECT_EQ(form.ComboBox1->currentText(), "");
    EXPECT_FALSE(form.btnBuildP->isEnabled());
    form.OvcNotebook1->setCurrentIndex(3);
    EXPECT_FALSE(form.btnBuildT->isEnabled());
}

TEST_F(SettingsDialogTest, BrowseStartsInTheTypedFolderOrTheCurrentOne) {
    program.DataDir = data.dir();
    TSetPathtoORVAForm form(nullptr, program);
    struct Case {
        std::string typed;
        std::string startsIn;
        ui::ModalAnswer answer;
        std::string after;
    } cases[] = {
        {data.dir(), data.dir(), {ui::mrOk, "/chosen/folder"}, "/chosen/folder"},
        {"/no/such/folder/", fs::current_path().string(), {ui::mrCancel}, "/no/such/folder/"},
    };
    for (const Case& c : cases) {
        ui::ScopedModalAnswerer browse([&](const ui::ModalRequest&) { return c.answer; });
        form.Edit2->setText(QString::fromStdString(c.typed));
        form.Button2->click();
        ASSERT_EQ(ui::shownModals().size(), 1u);
        EXPECT_EQ(ui::shownModals()[0].kind, ui::ModalKind::Directory);
        EXPECT_EQ(fs::path(ui::shownModals()[0].text), fs::path(c.startsIn));
        EXPECT_EQ(form.Edit2->text().toStdString(), c.after);
    }
}

// ---------------------------------------------------------------- the grids

TEST_F(SettingsDialogTest, GridEditsAreWrittenWhenTheRowIsLeft) {
    program.DataDir = data.dir();
    TSetPathtoORVAForm form(nullptr, program);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.OvcNotebook1->setCurrentIndex(2);
    CodeGrid* grid = form.wwDBGrid1;
    CodeTableModel* model = grid->codeModel();
    ASSERT_EQ(model->rowCount(), 12);
    EXPECT_EQ(model->data(model->index(0, 0), Qt::DisplayRole).toString(), "EN01");
    EXPECT_FALSE(model->flags(model->index(0, 0)) & Qt::ItemIsEditable) << "the code is fixed";
    EXPECT_TRUE(model->flags(model->index(0, 2)) & Qt::ItemIsEditable);

    // One click ticks or unticks; typing replaces a cell, Tab goes on.
    grid->setFocus();
    const bool wasIncluded = model->checkedAt(1, 1);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualRect(model->index(1, 1)).center());
    EXPECT_EQ(model->checkedAt(1, 1), !wasIncluded);
    EXPECT_EQ(form.AdsTable1.State(), dsEdit) << "pending until the row is left";
    grid->setCurrentIndex(model->index(1, 2));
    QTest::keyClick(grid, 'X'); // opens the cell's editor, which takes the rest
    ASSERT_NE(QApplication::focusWidget(), grid);
    QTest::keyClicks(QApplication::focusWidget(), "101");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(grid->currentIndex().column(), 3);
    EXPECT_EQ(grid->currentIndex().row(), 1);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(form.AdsTable1.State(), dsBrowse);
    form.DiscardAndCloseCodeTables();

    const std::vector<std::string> rows = codeRows(data.dir(), "KESPLACE");
    EXPECT_EQ(rows[1], std::string("EN02 ") + (wasIncluded ? "F" : "T") + " X101");
}

TEST_F(SettingsDialogTest, NewRowsDeletionsAndLongTexts) {
    program.DataDir = data.dir();
    TSetPathtoORVAForm form(nullptr, program);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.OvcNotebook1->setCurrentIndex(2);
    CodeGrid* grid = form.wwDBGrid1;
    CodeTableModel* model = grid->codeModel();
    grid->setFocus();

    // Down on the last row starts a new row; leaving it untouched drops it.
    grid->setCurrentIndex(model->index(11, 2));
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(model->rowCount(), 13);
    EXPECT_TRUE(model->rowIsNew(12));
    form.btnOK->setFocus();
    EXPECT_EQ(model->rowCount(), 12);
    EXPECT_EQ(form.AdsTable1.RecordCount(), 12u);

    // Deleting asks first; Cancel keeps the row, OK removes it for good.
    grid->setFocus();
    grid->setCurrentIndex(model->index(0, 2));
    for (int answer : {ui::mrCancel, ui::mrYes}) {
        ui::ScopedModalAnswerer reply([answer](const ui::ModalRequest&) { return answer; });
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        ASSERT_EQ(ui::shownModals().size(), 1u);
        EXPECT_EQ(ui::shownModals()[0].type, ui::MsgType::Confirmation);
    }
    EXPECT_EQ(model->rowCount(), 11);
    EXPECT_EQ(model->data(model->index(0, 0), Qt::DisplayRole).toString(), "EN02");

    // A message too long for its column ends in an ellipsis and is the hint.
    const QModelIndex longOne = model->index(2, 3); // ES01, 110 characters
    ASSERT_EQ(model->data(model->index(2, 0), Qt::DisplayRole).toString(), "ES01");
    EXPECT_EQ(grid->hintFor(longOne), model->data(longOne, Qt::DisplayRole).toString());
    EXPECT_EQ(grid->hintFor(longOne).size(), 110);
    EXPECT_TRUE(grid->hintFor(model->index(0, 2)).isEmpty());
    EXPECT_EQ(grid->textElideMode(), Qt::ElideRight);
    form.DiscardAndCloseCodeTables();
    EXPECT_EQ(codeRows(data.dir(), "KESPLACE").size(), 11u);
}

// ---------------------------------------------------------------- invocation

TEST_F(SettingsDialogTest, OkWithoutVisitingACodePageCreatesNoTable) {
    for (const char* file : kCodeFiles)
        fs::remove(data.dir() + file);
    openMain();
    runSettings([](TSetPathtoORVAForm&) {}, true);
    for (const char* file : kCodeFiles)
        EXPECT_FALSE(fs::exists(data.dir() + file)) << file;
    EXPECT_EQ(setting("ORVA Export", "ORVA Path"), data.dir());
}

// Cancel leaves the four files as they were when the dialog opened, whatever
// was done to them in between, and no backup behind.
TEST_F(SettingsDialogTest, CancelPutsTheCodeTablesBackByteForByte) {
    struct Case {
        const char* what;
        std::function<void(TSetPathtoORVAForm&)> act;
    } cases[] = {
        {"edits, a deletion and a pending row",
         [](TSetPathtoORVAForm& form) {
             form.OvcNotebook1->setCurrentIndex(2);
             CodeTableModel* model = form.wwDBGrid1->codeModel();
             model->setData(model->index(0, 2), "ZZZZ", Qt::EditRole);
             model->moveTo(3);
             form.wwDBGrid1->deleteCurrentRow();
             form.OvcNotebook1->setCurrentIndex(3);
             form.btnNoneClick();
             model = form.wwDBGrid2->codeModel();
             model->setData(model->index(4, 2), "PEND", Qt::EditRole);
         }},
        {"rebuilds of both tables",
         [](TSetPathtoORVAForm& form) {
             form.OvcNotebook1->setCurrentIndex(2);
             form.ComboBox1->setCurrentIndex(2);
             form.btnBuildPClick();
             form.OvcNotebook1->setCurrentIndex(3);
             form.ComboBox2->setCurrentIndex(0);
             form.btnBuildTClick();
             EXPECT_EQ(form.AdsTable4.RecordCount(), 11u);
             CodeTableModel* model = form.wwDBGrid2->codeModel();
             model->setData(model->index(0, 2), "PEND", Qt::EditRole);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        openMain();
        runSettings(c.act, false);
        for (const char* file : kCodeFiles)
            EXPECT_TRUE(sameAsFixture(file)) << file;
        for (const char* copy : kBackups)
            EXPECT_FALSE(fs::exists(data.dir() + copy)) << copy;
        for (const ui::ModalRequest& shown : ui::shownModals())
            EXPECT_EQ(shown.type, ui::MsgType::Confirmation) << shown.text;
        main.reset();
    }
}

TEST_F(SettingsDialogTest, OkKeepsTheEditsAndTheBackupsAndWritesTheSettingsInOrder) {
    openMain(0, "");
    runSettings(
        [](TSetPathtoORVAForm& form) {
            form.OvcNotebook1->setCurrentIndex(2);
            CodeTableModel* model = form.wwDBGrid1->codeModel();
            model->setData(model->index(0, 2), "ZZZZ", Qt::EditRole); // pending at OK
            form.chkScores->setChecked(false);
            form.chkSiteCode->setChecked(true);
            form.rgFileFormat->button(2)->click();
        },
        true);
    EXPECT_EQ(codeRows(data.dir(), "KESPLACE")[0], "EN01 T ZZZZ");
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(readFile(data.dir() + kBackups[i]),
                  readFile(fixture(std::string("formats/cdx/") + kCodeFiles[i])))
            << kBackups[i];

    EXPECT_FALSE(main->Program().Kinds.Scores);
    EXPECT_TRUE(main->Program().Fields.SiteCode);
    EXPECT_EQ(main->Program().FileFormat, 2);
    const std::string ini = readFile(settings.dir() + "KesPrep.ini");
    size_t at = 0;
    for (const std::string& key :
         {"ORVA Path=" + data.dir(), "ORVA Path=" + data.dir(),
          std::string("Include Placement Records=1"), std::string("Include Assessment Records=1"),
          std::string("Include Score Records=0"), std::string("File Format=2"),
          std::string("Include Purpose and Accommodation=0"), std::string("Include Attempted=0"),
          std::string("Include Subscores=0"), std::string("Include Site Code=1")}) {
        const size_t found = ini.find(key, at);
        ASSERT_NE(found, std::string::npos) << key << " in\n" << ini;
        at = found + key.size();
    }
}

TEST_F(SettingsDialogTest, OkWithANewDirectoryNormalisesItAndListsItsPeriods) {
    TempDir other;
    testsupport::copyFolder(fixture("virn-sample/VIRNTP1"), other.dir() + "VIRNTP1");
    std::string upper = data.dir();
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    // Each new directory is listed anew, which in these folders tells of
    // the periods that are missing; the same text is no change.
    const std::vector<std::string> gap = {
        "Not all ORVA Testing Periods have been initialized.  Contact VIRN."};
    struct Case {
        std::string typed;
        std::string dataDir;
        size_t periods;
        std::vector<std::string> shown;
    } cases[] = {
        {other.dir().substr(0, other.dir().size() - 1), other.dir(), 1, gap},
        {upper, upper, 4, gap}, // another letter case is another text
        {data.dir(), data.dir(), 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        openMain();
        runSettings(
            [&](TSetPathtoORVAForm& form) { form.Edit2->setText(QString::fromStdString(c.typed)); },
            true);
        EXPECT_EQ(main->Program().DataDir, c.dataDir);
        EXPECT_EQ(main->Program().PeriodNames.size(), c.periods);
        EXPECT_EQ(setting("Directories", "ORVA Path"), c.dataDir);
        EXPECT_EQ(setting("ORVA Export", "ORVA Path"), c.dataDir);
        EXPECT_EQ(main->ListBox2->count(), static_cast<int>(c.periods));
        EXPECT_EQ(messages(), c.shown);
        EXPECT_EQ(main->btnFind->isEnabled(), main->ListBox2->itemIndex() >= 0);
        main.reset();
    }
    EXPECT_TRUE(fs::exists(data.dir() + "KESPLACx.DBF")) << "the backups stay where they were made";
}

TEST_F(SettingsDialogTest, TabDelimitedThenCancelHoldsForThisRunOnly) {
    openMain();
    ASSERT_EQ(main->Program().FileFormat, 1);
    runSettings(
        [this](TSetPathtoORVAForm& form) {
            form.OvcNotebook1->setCurrentIndex(1);
            form.rgFileFormat->button(3)->click();
            EXPECT_EQ(main->Program().FileFormat, 3) << "at once";
        },
        false);
    EXPECT_EQ(main->Program().FileFormat, 3);
    EXPECT_EQ(setting("ORVA Export", "File Format"), "1");
}

// A stored layout number that is none of the four shows no choice in the
// dialog. OK without a choice keeps it as it was; a layout picked replaces it.
TEST_F(SettingsDialogTest, UnknownStoredLayoutStaysUnlessOneIsPicked) {
    const struct Case {
        const char* stored;
        int picked; // -1: the operator picks none
        int expected;
    } cases[] = {{"7", -1, 7}, {"7", 0, 0}, {"-1", 3, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " picked " + std::to_string(c.picked));
        openMain(0, std::string("[ORVA Export]\nFile Format=") + c.stored + "\n");
        int shown = 0;
        runSettings(
            [&](TSetPathtoORVAForm& form) {
                shown = form.rgFileFormat->itemIndex();
                form.chkSiteCode->setChecked(true); // some other change to save
                if (c.picked >= 0) form.rgFileFormat->button(c.picked)->click();
            },
            true);
        EXPECT_EQ(shown, -1);
        EXPECT_EQ(main->Program().FileFormat, c.expected);
        EXPECT_EQ(setting("ORVA Export", "File Format"), std::to_string(c.expected));
        EXPECT_EQ(setting("ORVA Export", "Include Site Code"), "1");
        main.reset();
    }
}

TEST_F(SettingsDialogTest, AFailedSettingsWriteIsShownAndTheValuesStayForThisRun) {
    openMain();
    fs::remove(settings.dir() + "KesPrep.ini");
    fs::create_directory(settings.dir() + "KesPrep.ini"); // cannot be written as a file
    ui::clearShownModals();
    runSettings([](TSetPathtoORVAForm& form) { form.chkAttempt->setChecked(true); }, true);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "Unable to write to " + settings.dir() + "KesPrep.ini");
    EXPECT_TRUE(main->Program().Fields.Attempted);
}

// ---------------------------------------------------------------- beside a preparation

// A preparation looks codes up in the code tables throughout its gathering:
// while the dialog is open (and may rebuild a table, or be cancelled back),
// a kesprep-batch on the same folder is refused and writes nothing; once the
// dialog is closed it runs.
TEST_F(SettingsDialogTest, NoPreparationRunsWhileTheDialogIsOpen) {
    TempDir out;
    const std::string upload = out.dir() + "upload.txt";
    const std::string err = out.dir() + "err.txt";
    auto batch = [&] {
        kes::os::RunOptions options;
        options.stdoutFile = out.dir() + "out.txt";
        options.stderrFile = err;
        return kes::os::runProgram({KES_BATCH_PROGRAM, "--ini", settings.dir() + "KesPrep.ini",
                                    "--data", data.dir(), "--period", "2", "--set", "temporary",
                                    "--dates", "all", "--output", upload},
                                   options);
    };
    for (bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        openMain();
        int during = -1;
        runSettings(
            [&](TSetPathtoORVAForm& form) {
                form.OvcNotebook1->setCurrentIndex(2);
                form.ComboBox1->setCurrentIndex(1);
                form.btnBuildPClick();
                during = batch();
            },
            ok);
        EXPECT_EQ(during, 5) << readFile(err);
        EXPECT_NE(readFile(err).find("Another preparation is running on the data folder"),
                  std::string::npos)
            << readFile(err);
        EXPECT_FALSE(fs::exists(upload));
        main.reset();
    }
    EXPECT_EQ(batch(), 0) << readFile(err);
    EXPECT_TRUE(fs::exists(upload));
}

// While another process prepares from the folder the dialog still opens for
// the path and the options, but it says that the code tables cannot be
// changed and keeps their pages closed: nothing is backed up, and a Cancel
// puts nothing back.
TEST_F(SettingsDialogTest, WhileAPreparationRunsTheCodePagesStayClosed) {
    testsupport::OtherPreparation other(KES_LOCK_HOLDER, data.dir());
    ASSERT_TRUE(other.holding());
    for (bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        openMain();
        runSettings(
            [](TSetPathtoORVAForm& form) {
                EXPECT_FALSE(form.OvcNotebook1->isTabEnabled(2));
                EXPECT_FALSE(form.OvcNotebook1->isTabEnabled(3));
                EXPECT_TRUE(form.OvcNotebook1->isTabEnabled(1));
                EXPECT_FALSE(form.AdsTable1.Active());
                form.chkScores->setChecked(false);
            },
            ok);
        EXPECT_EQ(messages(), std::vector<std::string>{
                                  "The code tables cannot be changed while a preparation is "
                                  "running on the data folder " +
                                  data.dir() + ". Try again when it has finished."});
        for (const char* file : kCodeFiles)
            EXPECT_TRUE(sameAsFixture(file)) << file;
        for (const char* copy : kBackups)
            EXPECT_FALSE(fs::exists(data.dir() + copy)) << copy;
        EXPECT_EQ(setting("ORVA Export", "Include Score Records"), ok ? "0" : "<missing>");
        main.reset();
    }
}

} // namespace
