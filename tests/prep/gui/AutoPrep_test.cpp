// The automatic preparation window driven offscreen with a fake clock: its
// controls as designed, the three settings it keeps, arming and disarming,
// the timed run at the chosen hour, "Prepare Export File" at once, and what
// a failed run leaves behind. Message boxes and the save dialog are answered
// by the tests; the sample data lie in a copy per test.
#include "support/QtEnvironment.h"

#include "app/core/IniFile.h"
#include "app/core/PreparationHistory.h"
#include "common/Clock.h"
#include "common/PreparationLock.h"
#include "os/Os.h"
#include "prep/AutoPrepu.h"
#include "support/OtherPreparation.h"
#include "ui/Modal.h"
#include "ui/RadioGroup.h"

#include <QChildEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <thread>

namespace {

// The system's words for a file that cannot be made in a folder that does
// not exist, as the writer reports them after its own.
std::string cannotCreateReason(const std::string& path) {
    kes::os::File file;
    return kes::os::File::createExclusive(path, file).reason();
}

using testsupport::TempDir;

// Sets the program's "now"; the tests move it between steps.
void setNow(int year, int month, int day, int hour, int minute, int second = 0) {
    kes::Clock::instance().setSource(
        [=] { return kes::LocalTime{year, month, day, hour, minute, second, 0}; });
}

size_t lineCount(const std::string& path) {
    const std::string text = testsupport::readFile(path);
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

class AutoPrepTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::clearTerminationRequest();
        setNow(2004, 6, 15, 10, 30);
        data.copyFolder("virn-sample");
        // The main window's choices: period 1, temporary tables, all dates.
        choices = PlanChoices{};
        choices.DataDir = data.dir();
        choices.Period = "1";
        choices.SearchTemporary = true;
        choices.Dates = DateSelection::All();
        choices.Kinds = RecordKinds{};
        choices.Fields = OptionalFields{};
        choices.Layout = UploadLayout::Fixed;
    }
    void TearDown() override {
        form.reset();
        kes::Clock::instance().setSource({});
        ui::clearTerminationRequest();
    }

    std::string setting(const char* key) const {
        return TIniFile(SettingsFilePath(settings.dir()))
            .ReadString("ORVA Auto Export", key, "<missing>");
    }
    void writeSettings(const std::string& text) {
        testsupport::writeFile(settings.dir() + "KesPrep.ini", text);
    }

    void open() {
        form = std::make_unique<TAutoPrepForm>(nullptr, choices, SettingsFilePath(settings.dir()));
        form->FormActivate();
    }
    // An armed window for the hour at `hourPosition`, writing every row of
    // the period to `upload`, with the main window's range (all dates).
    void arm(int hourPosition) {
        open();
        form->rgdate->setItemIndex(1);
        form->ComboBox1->setCurrentIndex(hourPosition);
        form->Edit2->setText(QString::fromStdString(upload()));
        ASSERT_TRUE(form->btnActivate->isEnabled());
        form->btnActivate->click();
        ASSERT_TRUE(form->AutoActive);
    }
    std::string upload() const { return output.dir() + "upload.asc"; }

    bool armedLook() const {
        return form->btnActivate->text() == "&Deactivate Automatic Export" &&
               form->StatusText() == "Automatic Export Active" && !form->btnClose->isEnabled() &&
               !form->ComboBox1->isEnabled() && !form->GroupBox1->isEnabled() &&
               !form->rgdate->isEnabled() && !form->Edit2->isEnabled() &&
               !form->btnExport->isEnabled() && !form->SpeedButton1->isEnabled() &&
               form->btnActivate->isEnabled() && form->Timer1->isActive();
    }
    bool inactiveLook() const {
        return form->btnActivate->text() == "&Activate Automatic Export" &&
               form->btnClose->isEnabled() && form->ComboBox1->isEnabled() &&
               form->GroupBox1->isEnabled() && form->rgdate->isEnabled() &&
               form->Edit2->isEnabled() && form->SpeedButton1->isEnabled() &&
               !form->Timer1->isActive() && !form->AutoActive;
    }

    static std::vector<std::string> messages() {
        std::vector<std::string> texts;
        for (const auto& m : ui::shownModals())
            texts.push_back(m.text);
        return texts;
    }

    TempDir settings;
    TempDir output;
    TempDir data; // a copy of the sample data directory
    PlanChoices choices;
    std::unique_ptr<TAutoPrepForm> form;
};

TEST_F(AutoPrepTest, ControlsAsDesigned) {
    ui::ScopedModalAnswerer answers([](const ui::ModalRequest&) { return ui::mrOk; });
    open();
    EXPECT_EQ(form->windowTitle(), "Automatic File Preparation");
    EXPECT_EQ(form->lblDate->text(), "Currenrt Date:");
    EXPECT_EQ(form->lblTime->text(), "Currenrt Time:");
    EXPECT_EQ(form->rgdate->title(), "Set Date:");
    EXPECT_EQ(form->rgdate->button(0)->text(), "Current Date");
    EXPECT_EQ(form->rgdate->button(1)->text(), "Date Selection");
    EXPECT_EQ(form->rgdate->button(0)->y(), form->rgdate->button(1)->y()) << "two columns";
    EXPECT_EQ(form->rgdate->itemIndex(), 0);
    EXPECT_EQ(form->GroupBox1->title(), "Set Time:");
    EXPECT_TRUE(form->ComboBox1->isEditable());
    EXPECT_EQ(form->ComboBox1->maxVisibleItems(), 13);
    const char* hours[] = {
        "12:00 Midnight", "  1:00 AM  ", "  2:00 AM", "  3:00 AM", "  4:00 AM", "  5:00 AM",
        "  6:00 AM",      "  7:00 AM",   "  8:00 AM", "  9:00 AM", "10:00 AM",  "11:00 AM",
        "12:00 Noon",     "  1:00 PM  ", "  2:00 PM", "  3:00 PM", "  4:00 PM", "  5:00 PM",
        "  6:00 PM",      "  7:00 PM",   "  8:00 PM", "  9:00 PM", "10:00 PM",  "11:00 PM"};
    ASSERT_EQ(form->ComboBox1->count(), 24);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(form->ComboBox1->itemText(i).toStdString(), hours[i]) << i;
    EXPECT_EQ(form->HourPosition(), -1);
    EXPECT_EQ(form->btnActivate->text(), "&Activate Automatic Export");
    EXPECT_FALSE(form->btnActivate->isEnabled());
    EXPECT_FALSE(form->btnExport->isEnabled());
    EXPECT_EQ(form->Label1->text(), "File Name:");
    EXPECT_EQ(form->btnExport->text(), "&Prepare Export File");
    EXPECT_EQ(form->StatusText(), "Automatic Export Inactive");
    EXPECT_EQ(form->ProgressBar1->parentWidget(), form->StatusBar1);
    EXPECT_EQ(form->ProgressBar1->maximum(), 100);
    EXPECT_EQ(form->Timer1->interval(), 1000);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer2->interval(), 1000);
    EXPECT_TRUE(form->Timer2->isActive());
    // The date choice is as wide as designed, or as much wider as its
    // captions need in this font.
    EXPECT_EQ(form->rgdate->pos(), QPoint(176, 14));
    EXPECT_EQ(form->rgdate->height(), 41);
    EXPECT_GE(form->rgdate->width(), 195);
    EXPECT_LE(form->rgdate->geometry().right(), form->width() - 4);
    const std::pair<QWidget*, QRect> places[] = {
        {form->GroupBox1, QRect(176, 62, 137, 49)},  {form->btnActivate, QRect(116, 129, 185, 25)},
        {form->Edit2, QRect(60, 176, 298, 21)},      {form->SpeedButton1, QRect(357, 175, 23, 22)},
        {form->btnExport, QRect(141, 219, 135, 25)}, {form->btnClose, QRect(303, 219, 77, 27)}};
    for (const auto& [control, place] : places)
        EXPECT_EQ(control->geometry(), place) << control->objectName().toStdString();
    EXPECT_EQ(form->lblDate->pos(), QPoint(4, 30));
    EXPECT_EQ(form->lblTime->pos(), QPoint(4, 84));
    EXPECT_EQ(form->ComboBox1->pos(), QPoint(19, 18));
    EXPECT_EQ(form->ComboBox1->width(), 105);
}

TEST_F(AutoPrepTest, ClockLabelsFromTheFirstTick) {
    open();
    setNow(2004, 6, 15, 14, 5, 9);
    form->Timer2Timer();
    EXPECT_EQ(form->lblDate->text(), "Current Date: 06/15/2004");
    EXPECT_TRUE(form->lblTime->text().startsWith("Current Time: "))
        << form->lblTime->text().toStdString();
    EXPECT_TRUE(form->lblTime->text().contains(":05:09")) << form->lblTime->text().toStdString();
}

TEST_F(AutoPrepTest, SettingsWrittenOnDeactivationAndReadOnActivation) {
    // Without the section: no name, no hour, "Current Date", both buttons off.
    open();
    EXPECT_EQ(form->Edit2->text(), "");
    EXPECT_EQ(form->HourPosition(), -1);
    EXPECT_EQ(form->rgdate->itemIndex(), 0);
    EXPECT_FALSE(form->btnActivate->isEnabled());
    EXPECT_FALSE(form->btnExport->isEnabled());

    form->Edit2->setText("/data/upload.asc");
    form->ComboBox1->setCurrentIndex(13);
    form->rgdate->setItemIndex(1);
    form->FormDeactivate();
    EXPECT_EQ(setting("Filename"), "/data/upload.asc");
    EXPECT_EQ(setting("Time"), "13");
    EXPECT_EQ(setting("Date"), "1");

    open();
    EXPECT_EQ(form->Edit2->text(), "/data/upload.asc");
    EXPECT_EQ(form->HourPosition(), 13);
    EXPECT_EQ(form->ComboBox1->currentText(), "  1:00 PM  ");
    EXPECT_EQ(form->rgdate->itemIndex(), 1);
    EXPECT_TRUE(form->btnActivate->isEnabled());
    EXPECT_TRUE(form->btnExport->isEnabled());

    // Text typed into the hour box that is no hour of the list enables the
    // buttons but is stored as no hour.
    form->ComboBox1->setEditText("10:30");
    EXPECT_EQ(form->HourPosition(), -1);
    EXPECT_TRUE(form->btnActivate->isEnabled());
    form->Edit2->clear();
    EXPECT_FALSE(form->btnActivate->isEnabled());
    EXPECT_FALSE(form->btnExport->isEnabled());
    form->FormDeactivate();
    EXPECT_EQ(setting("Time"), "-1");
    EXPECT_EQ(setting("Filename"), "");
}

TEST_F(AutoPrepTest, SaveDialogPutsTheChosenNameIntoTheBox) {
    std::vector<ui::ModalRequest> asked;
    ui::ScopedModalAnswerer answers([&](const ui::ModalRequest& r) {
        asked.push_back(r);
        return ui::ModalAnswer(ui::mrOk, "/somewhere/kestal.asc");
    });
    writeSettings("[ORVA Auto Export]\nFilename=/data/old.asc\n");
    open();
    form->SpeedButton1->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].kind, ui::ModalKind::SaveFile);
    EXPECT_EQ(asked[0].title, "Save Kestal Export File");
    EXPECT_EQ(asked[0].text, "/data/old.asc") << "the dialog starts at the saved name";
    EXPECT_EQ(asked[0].filter, "Text files (*.txt)|*.txt|All files (*.*)|*.*");
    EXPECT_EQ(asked[0].defaultExtension, "asc");
    EXPECT_EQ(form->Edit2->text(), "/somewhere/kestal.asc");
}

// The save dialog takes the window's activation while it is open: the window
// is deactivated when the dialog opens (and stores its values) and activated
// again once the dialog has closed and the event loop runs. The name chosen
// in the dialog is the one the window keeps, stores and writes to.
TEST_F(AutoPrepTest, TheNameChosenInTheSaveDialogOutlivesTheDialogsActivations) {
    const std::string chosen = output.dir() + "chosen.asc";
    ui::ScopedModalAnswerer answers([&](const ui::ModalRequest& r) {
        if (r.kind != ui::ModalKind::SaveFile) return ui::ModalAnswer(ui::mrOk);
        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(form.get(), &deactivate);
        QCoreApplication::postEvent(form.get(), new QEvent(QEvent::WindowActivate));
        return ui::ModalAnswer(ui::mrOk, chosen);
    });
    writeSettings("[ORVA Auto Export]\nFilename=" + output.dir() + "old.asc\nTime=10\nDate=1\n");
    setNow(2004, 6, 15, 10, 30);
    open();
    form->SpeedButton1->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->Edit2->text().toStdString(), chosen);

    form->btnActivate->click();
    form->Timer1Timer();
    EXPECT_EQ(lineCount(chosen), 62u);
    EXPECT_FALSE(std::filesystem::exists(output.dir() + "old.asc"));
    form->FormDeactivate();
    EXPECT_EQ(setting("Filename"), chosen);
}

// Armed, only the button that disarms acts: neither Esc nor the window's
// close box closes the window and loses the schedule. Inactive, both close it.
TEST_F(AutoPrepTest, EscAndTheCloseBoxLeaveAnArmedWindowOpen) {
    const struct Case {
        const char* what;
        std::function<void(TAutoPrepForm&)> close;
    } cases[] = {
        {"Esc", [](TAutoPrepForm& f) { QTest::keyClick(&f, Qt::Key_Escape); }},
        {"the close box", [](TAutoPrepForm& f) { f.close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        arm(10);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        c.close(*form);
        EXPECT_TRUE(form->isVisible());
        EXPECT_TRUE(armedLook());

        form->btnActivate->click();
        c.close(*form);
        EXPECT_FALSE(form->isVisible()) << "an inactive window closes";
        form.reset();
    }
}

// The window has no default button: Enter in the file name box neither arms
// it nor starts a preparation.
TEST_F(AutoPrepTest, EnterInTheFileNameBoxPressesNoButton) {
    ui::ScopedModalAnswerer answers([](const ui::ModalRequest&) { return ui::mrOk; });
    writeSettings("[ORVA Auto Export]\nFilename=" + upload() + "\nTime=10\nDate=1\n");
    open();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    ASSERT_TRUE(form->btnActivate->isEnabled());
    form->Edit2->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(form->Edit2, key);
        EXPECT_FALSE(form->AutoActive) << key;
        EXPECT_FALSE(form->Timer1->isActive()) << key;
        EXPECT_TRUE(messages().empty()) << key;
        EXPECT_FALSE(std::filesystem::exists(upload())) << key;
    }
    EXPECT_TRUE(form->isVisible());
    for (QPushButton* button : form->findChildren<QPushButton*>())
        EXPECT_FALSE(button->isDefault() || button->autoDefault())
            << button->objectName().toStdString();
}

// A stored hour outside the list chooses no hour: both buttons stay off and
// closing the window stores -1, not an hour nobody chose.
TEST_F(AutoPrepTest, AStoredTimeOutsideTheListChoosesNoHour) {
    for (const char* stored : {"24", "99", "-2", "2147483647", "-2147483648"}) {
        SCOPED_TRACE(stored);
        writeSettings("[ORVA Auto Export]\nFilename=/data/upload.asc\nTime=" + std::string(stored) +
                      "\nDate=1\n");
        open();
        EXPECT_EQ(form->HourPosition(), -1);
        EXPECT_EQ(form->ComboBox1->currentText(), "");
        EXPECT_FALSE(form->btnActivate->isEnabled());
        EXPECT_FALSE(form->btnExport->isEnabled());
        form->FormDeactivate();
        EXPECT_EQ(setting("Time"), "-1");
        form.reset();
    }
}

TEST_F(AutoPrepTest, ArmingAndDisarmingByTheButton) {
    arm(10);
    EXPECT_TRUE(armedLook());
    // A message box or another window taking the focus for a moment does not
    // change what the button does.
    form->FormDeactivate();
    form->FormActivate();
    EXPECT_TRUE(form->AutoActive);
    form->btnActivate->click();
    EXPECT_TRUE(inactiveLook());
    EXPECT_EQ(form->StatusText(), "Automatic Export Inactive");
    EXPECT_TRUE(form->btnExport->isEnabled());
}

// Armed at 10:30 for "10:00 AM": the next tick runs the preparation.
TEST_F(AutoPrepTest, ArmedWithinTheHourRunsAtTheNextTick) {
    ui::ScopedModalAnswerer answers([](const ui::ModalRequest&) { return ui::mrOk; });
    setNow(2004, 6, 15, 10, 30);
    arm(10);
    form->Timer1Timer();
    EXPECT_TRUE(inactiveLook());
    EXPECT_EQ(form->StatusText(), "Automatic Export Completed");
    EXPECT_EQ(messages(), std::vector<std::string>{"Export File has been successfully prepared."});
    EXPECT_EQ(lineCount(upload()), 62u) << "19 + 19 + 24 live temporary records of VIRNTP1";

    EXPECT_FALSE(form->Timer1->isActive()) << "fired once: no further run without arming again";
}

// Armed at 11:00 for "10:00 AM": nothing until 10:00 the next day.
TEST_F(AutoPrepTest, ArmedAfterTheHourWaitsForTheNextDay) {
    ui::ScopedModalAnswerer answers([](const ui::ModalRequest&) { return ui::mrOk; });
    setNow(2004, 6, 15, 11, 0);
    arm(10);
    const kes::LocalTime waiting[] = {{2004, 6, 15, 11, 0, 1, 0},
                                      {2004, 6, 15, 23, 59, 59, 0},
                                      {2004, 6, 16, 0, 0, 0, 0},
                                      {2004, 6, 16, 9, 59, 59, 0}};
    for (const kes::LocalTime& t : waiting) {
        kes::Clock::instance().setSource([t] { return t; });
        form->Timer1Timer();
        EXPECT_TRUE(armedLook()) << t.day << " " << t.hour << ":" << t.minute;
    }
    EXPECT_FALSE(std::filesystem::exists(upload()));
    EXPECT_TRUE(ui::shownModals().empty());

    setNow(2004, 6, 16, 10, 0, 0);
    form->Timer1Timer();
    EXPECT_TRUE(inactiveLook());
    EXPECT_EQ(form->StatusText(), "Automatic Export Completed");
    EXPECT_EQ(lineCount(upload()), 62u);
}

// A timed run that fails leaves nothing armed, and the window says so: it is
// inactive, its status names the failure and its button arms it again.
TEST_F(AutoPrepTest, FailedTimedRunReturnsToTheInactiveState) {
    ui::ScopedModalAnswerer answers([](const ui::ModalRequest&) { return ui::mrOk; });
    choices.Period = "4"; // its temporary student index is missing
    arm(10);
    EXPECT_ANY_THROW(form->Timer1Timer());
    EXPECT_TRUE(inactiveLook());
    EXPECT_EQ(form->StatusText(), "Automatic Export Failed");
    EXPECT_TRUE(form->btnExport->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(upload()));
    EXPECT_TRUE(messages().empty()) << "no outcome message: the export never ran";

    form->btnActivate->click();
    EXPECT_TRUE(armedLook());
}

// Runs `probe` once, when a run of the window creates its hidden selection
// window: after the gathering, before the export.
class BetweenGatheringAndExport {
  public:
    // Runs `probe` once, when the export's progress first moves after a
    // gathering that kept rows.
    BetweenGatheringAndExport(TAutoPrepForm& form, std::function<void()> probe) {
        connection_ = QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged,
                                       [this, &form, probe = std::move(probe)] {
                                           if (ran_ || form.Account().kept == 0) return;
                                           ran_ = true;
                                           probe();
                                       });
    }
    ~BetweenGatheringAndExport() { QObject::disconnect(connection_); }
    bool ran() const { return ran_; }

  private:
    QMetaObject::Connection connection_;
    bool ran_ = false;
};

// A timed run holds the data folder from its gathering to the end of its
// export: a kesprep-batch on the same folder in between (another process) is
// refused and cannot replace the work table the export is about to read.
TEST_F(AutoPrepTest, ARunHoldsTheDataFolderFromGatheringToExport) {
    ui::ScopedModalAnswerer answers([](const ui::ModalRequest&) { return ui::mrOk; });
    writeSettings("");
    const std::string other = output.dir() + "batch.asc";
    const std::string err = output.dir() + "batch-err.txt";
    auto batch = [&] {
        kes::os::RunOptions o;
        o.stdoutFile = output.dir() + "batch-out.txt";
        o.stderrFile = err;
        return kes::os::runProgram({KES_BATCH_PROGRAM, "--ini", settings.dir() + "KesPrep.ini",
                                    "--data", data.dir(), "--period", "2", "--set", "temporary",
                                    "--dates", "all", "--output", other},
                                   o);
    };
    setNow(2004, 6, 15, 10, 30);
    arm(10);
    int between = -1;
    BetweenGatheringAndExport probe(*form, [&] { between = batch(); });
    form->Timer1Timer();
    ASSERT_TRUE(probe.ran());
    EXPECT_EQ(between, 5) << testsupport::readFile(err);
    EXPECT_NE(testsupport::readFile(err).find("Another preparation is running on the data folder"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(other));
    EXPECT_EQ(form->StatusText(), "Automatic Export Completed");
    EXPECT_EQ(lineCount(upload()), 62u) << "period 1's rows, as gathered";

    // The run let go of the folder when it ended.
    EXPECT_EQ(batch(), 0) << testsupport::readFile(err);
    EXPECT_TRUE(std::filesystem::exists(other));
}

// While another process prepares from the data folder, a timed run is
// refused with a message that says so; nothing is gathered or written, and
// the window shows the run failed.
TEST_F(AutoPrepTest, ATimedRunWhileAnotherPreparationHoldsTheFolderIsRefused) {
    ui::ScopedModalAnswerer answers([](const ui::ModalRequest&) { return ui::mrOk; });
    const std::string held = output.dir() + "held";
    const std::string release = output.dir() + "release";
    int holderExit = -1;
    std::thread holder([&] {
        holderExit = kes::os::runProgram({KES_LOCK_HOLDER, data.dir(), held, release});
    });
    {
        struct Release {
            std::string file;
            std::thread& thread;
            ~Release() {
                testsupport::writeFile(file, "");
                thread.join();
            }
        } letGo{release, holder};
        for (int i = 0; i < 300 && !std::filesystem::exists(held); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(std::filesystem::exists(held));

        arm(10);
        try {
            form->Timer1Timer();
            ADD_FAILURE() << "the run went ahead";
        } catch (const EPreparationBusy& e) {
            EXPECT_EQ(std::string(e.what()), "Another preparation is running on the data folder " +
                                                 data.dir() + ". Try again when it has finished.");
        }
        EXPECT_TRUE(inactiveLook());
        EXPECT_EQ(form->StatusText(), "Automatic Export Failed");
        EXPECT_FALSE(std::filesystem::exists(data.dir() + "KESTABLE.dbf"));
        EXPECT_FALSE(std::filesystem::exists(upload()));
        EXPECT_TRUE(messages().empty()) << "no outcome message: nothing ran";
    }
    EXPECT_EQ(holderExit, 0);
}

// A timed run whose export writes no upload file did not complete: the
// window is inactive, says the run failed and can be armed again, and the
// export's own message, with the writer's reason, is the only one shown.
TEST_F(AutoPrepTest, TimedRunWithoutAnUploadFileIsAFailedRun) {
    const struct Case {
        const char* what;
        std::string target;
        int fileFormat;
        bool currentDate; // "Current Date" on a day without records
        std::string message;
    } cases[] = {
        {"a name the upload file may not take", data.dir() + "KESTABLE.dbf", 0, false,
         "Export File has been not prepared.\r\nThe upload file \"" + data.dir() +
             "KESTABLE.dbf\" is KESTABLE.dbf of the data folder, which the preparation reads or "
             "writes; choose another name."},
        {"a folder that does not exist", output.dir() + "missing/upload.asc", 0, false,
         "Export File has been not prepared.\r\nUnable to create " + output.dir() +
             "missing/upload.asc: " + cannotCreateReason(output.dir() + "missing/upload.asc")},
        {"a layout number outside 0 to 3", upload(), 7, false,
         "Export File has been not prepared.\r\nUnknown file layout 7 (File Format is 0 to 3)"},
        {"no record on the day", upload(), 0, true,
         "No data in date range.  Export File was not prepared."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui::ScopedModalAnswerer answers([](const ui::ModalRequest&) { return ui::mrOk; });
        setNow(2004, 6, 15, 10, 30);
        choices.Layout = static_cast<UploadLayout>(c.fileFormat);
        open();
        form->rgdate->setItemIndex(c.currentDate ? 0 : 1);
        form->ComboBox1->setCurrentIndex(10);
        form->Edit2->setText(QString::fromStdString(c.target));
        form->btnActivate->click();
        ASSERT_TRUE(armedLook());
        form->Timer1Timer();
        EXPECT_TRUE(inactiveLook());
        EXPECT_EQ(form->StatusText(), "Automatic Export Failed");
        EXPECT_EQ(messages(), std::vector<std::string>{c.message});
        EXPECT_FALSE(std::filesystem::exists(upload()));
        EXPECT_FALSE(ui::terminationRequested());
        form->btnActivate->click();
        EXPECT_TRUE(armedLook()) << "the button arms it again";
        form.reset();
    }
}

// The window's runs go into the history under their own names: "Prepare
// Export File" for the button, "Timed Run" for the hour, failed ones with the
// writer's reason, and the refusal of a timed run while another process
// prepares.
TEST_F(AutoPrepTest, EveryRunLeavesItsEntryInTheHistory) {
    ui::ScopedModalAnswerer answers([](const ui::ModalRequest&) { return ui::mrOk; });
    setNow(2004, 6, 15, 9, 15, 30);
    open();
    form->rgdate->setItemIndex(1);
    form->ComboBox1->setCurrentIndex(10);
    form->Edit2->setText(QString::fromStdString(upload()));
    form->btnExport->click();
    form.reset();

    setNow(2004, 6, 15, 10, 0, 1);
    arm(10);
    form->Timer1Timer();
    form.reset();

    choices.Layout = static_cast<UploadLayout>(7);
    setNow(2004, 6, 16, 10, 0, 2);
    arm(10);
    form->Timer1Timer();
    form.reset();

    {
        testsupport::OtherPreparation other(KES_LOCK_HOLDER, data.dir());
        ASSERT_TRUE(other.holding());
        setNow(2004, 6, 17, 10, 0, 3);
        arm(10);
        EXPECT_THROW(form->Timer1Timer(), EPreparationBusy);
    }

    const std::vector<HistoryEntry> entries = ReadHistory(data.dir());
    ASSERT_EQ(entries.size(), 4u);
    const struct Expected {
        const char* started;
        const char* frontEnd;
        HistoryOutcome outcome;
        std::string reason;
    } expected[] = {
        {"2004-06-15 09:15:30", "Prepare Export File", HistoryOutcome::Prepared, ""},
        {"2004-06-15 10:00:01", "Timed Run", HistoryOutcome::Prepared, ""},
        {"2004-06-16 10:00:02", "Timed Run", HistoryOutcome::NotPrepared,
         "Unknown file layout 7 (File Format is 0 to 3)"},
        {"2004-06-17 10:00:03", "Timed Run", HistoryOutcome::NotPrepared,
         "Another preparation is running on the data folder " + data.dir() +
             ". Try again when it has finished."},
    };
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i].Started, expected[i].started);
        EXPECT_EQ(entries[i].FrontEnd, expected[i].frontEnd);
        EXPECT_EQ(entries[i].Outcome, expected[i].outcome);
        EXPECT_EQ(entries[i].Reason, expected[i].reason);
        EXPECT_EQ(entries[i].UploadFile, upload());
    }
    EXPECT_EQ(entries[1].Rows, "62");
}

// "Prepare Export File" with "Current Date" gathers today's records only and
// leaves the window as it was.
TEST_F(AutoPrepTest, PrepareNowWithTodaysDate) {
    ui::ScopedModalAnswerer answers([](const ui::ModalRequest&) { return ui::mrOk; });
    setNow(2005, 9, 1, 8, 0); // row 7 of every VIRNTP1 record table lies on this day
    choices.Dates =
        DateSelection::Between(*kes::Date::fromYmd(2000, 1, 1), *kes::Date::fromYmd(2020, 12, 31));
    open();
    form->ComboBox1->setCurrentIndex(3);
    form->Edit2->setText(QString::fromStdString(upload()));
    form->btnExport->click();
    EXPECT_EQ(DateFilterOf(form->PlanOfRun().Dates),
              "(DTOS(Date) >= \"20050901\") .and. (DTOS(Date) <= \"20050901\")");
    EXPECT_EQ(messages(), std::vector<std::string>{"Export File has been successfully prepared."});
    EXPECT_EQ(form->Account().kept, static_cast<int>(lineCount(upload())));
    EXPECT_GE(lineCount(upload()), 3u);
    EXPECT_EQ(form->StatusText(), "Automatic Export Inactive");
    EXPECT_TRUE(form->btnExport->isEnabled());

    // "Date Selection": the main window's range as it was when the window opened.
    form->rgdate->setItemIndex(1);
    form->btnExport->click();
    EXPECT_EQ(form->PlanOfRun().Dates, *choices.Dates);
    EXPECT_EQ(lineCount(upload()), 59u) << "all but the three rows without a test date";
}

// The operator gives up on a table that does not open: the program is to
// end, and nothing after the gathering runs.
TEST_F(AutoPrepTest, GivingUpOnAnOpenRequestsTheEnd) {
    ui::ScopedModalAnswerer answers([](const ui::ModalRequest& r) {
        return r.buttons == ui::MsgButtons::OkCancel ? ui::mrCancel : ui::mrOk;
    });
    std::filesystem::create_directory(data.dir() + "VIRNTP9");
    choices.Period = "9"; // a period folder without its tables
    open();
    form->rgdate->setItemIndex(1);
    form->ComboBox1->setCurrentIndex(3);
    form->Edit2->setText(QString::fromStdString(upload()));
    form->btnExportClick();
    EXPECT_TRUE(form->GatherCancelled());
    EXPECT_TRUE(ui::terminationRequested());
    EXPECT_FALSE(std::filesystem::exists(upload()));
    for (const std::string& text : messages())
        EXPECT_EQ(text.find("Export File"), std::string::npos) << text;
}

} // namespace
