// The layer over Qt: modal pieces answered by tests, the general error
// report, the hourglass, the termination request, the retry question of
// table opens, the date picker, the period list widget and the radio group.
#include "support/QtEnvironment.h"

#include "common/Clock.h"
#include "data/AdsTable.h"
#include "data/OpenTableWithRetry.h"
#include "ui/Application.h"
#include "ui/DateEdit.h"
#include "ui/Modal.h"
#include "ui/RadioGroup.h"
#include "ui/VirtualListBox.h"
#include "ui/WindowOperator.h"

#include <QCalendarWidget>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <set>

using namespace ui;

namespace {

ModalAnswerer answerWith(int result, std::string path = {}) {
    return [result, path](const ModalRequest&) { return ModalAnswer(result, path); };
}

TEST(ModalTest, MessageBoxesReachTheAnswererWithTypeButtonsAndText) {
    struct Case {
        MsgType type;
        MsgButtons buttons;
        int answer;
        int expected;
        const char* title;
    };
    const Case cases[] = {
        {MsgType::Error, MsgButtons::Ok, mrOk, mrOk, "Error"},
        {MsgType::Error, MsgButtons::OkCancel, mrCancel, mrCancel, "Error"},
        {MsgType::Information, MsgButtons::Ok, mrOk, mrOk, "Information"},
        {MsgType::Confirmation, MsgButtons::YesCancel, mrYes, mrYes, "Confirm"},
        {MsgType::Confirmation, MsgButtons::YesCancel, mrCancel, mrCancel, "Confirm"},
    };
    for (const Case& c : cases) {
        ScopedModalAnswerer answers(answerWith(c.answer));
        EXPECT_EQ(messageBox(c.type, c.buttons, "Line one\r\nline two"), c.expected);
        ASSERT_EQ(shownModals().size(), 1u);
        const ModalRequest& shown = shownModals().front();
        EXPECT_EQ(shown.kind, ModalKind::MessageBox);
        EXPECT_EQ(shown.type, c.type);
        EXPECT_EQ(shown.buttons, c.buttons);
        EXPECT_EQ(shown.title, c.title);
        EXPECT_EQ(shown.text, "Line one\r\nline two");
    }
    EXPECT_FALSE(hasModalAnswerer());
}

TEST(ModalTest, ScopedAnswererPutsThePreviousOneBack) {
    ScopedModalAnswerer outer(answerWith(mrYes));
    {
        ScopedModalAnswerer inner(answerWith(mrCancel));
        EXPECT_EQ(messageBox(MsgType::Confirmation, MsgButtons::YesCancel, "q"), mrCancel);
    }
    EXPECT_EQ(messageBox(MsgType::Confirmation, MsgButtons::YesCancel, "q"), mrYes);
}

TEST(ModalTest, FileAndDirectoryDialogsGiveThePathOrNothing) {
    {
        ScopedModalAnswerer answers(answerWith(mrOk, "/tmp/out.txt"));
        EXPECT_EQ(saveFileDialog(nullptr, "Save Upload File", "/tmp/old.txt", "Text files (*.txt)",
                                 "txt"),
                  std::optional<std::string>("/tmp/out.txt"));
        EXPECT_EQ(directoryDialog(nullptr, "Data Directory", "/tmp"),
                  std::optional<std::string>("/tmp/out.txt"));
        ASSERT_EQ(shownModals().size(), 2u);
        EXPECT_EQ(shownModals()[0].kind, ModalKind::SaveFile);
        EXPECT_EQ(shownModals()[0].text, "/tmp/old.txt");
        EXPECT_EQ(shownModals()[0].filter, "Text files (*.txt)");
        EXPECT_EQ(shownModals()[0].defaultExtension, "txt");
        EXPECT_EQ(shownModals()[1].kind, ModalKind::Directory);
        EXPECT_EQ(shownModals()[1].text, "/tmp");
    }
    ScopedModalAnswerer cancelled(answerWith(mrCancel, "/ignored"));
    EXPECT_EQ(saveFileDialog(nullptr, "t", "", ""), std::nullopt);
    EXPECT_EQ(directoryDialog(nullptr, "t", ""), std::nullopt);
}

class Thrower : public QObject {
  public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw std::runtime_error("Field 'TPName' not found");
        return QObject::event(e);
    }
};

TEST(ErrorReportTest, AnExceptionInAHandlerIsShownAndTheProgramGoesOn) {
    ScopedModalAnswerer answers(answerWith(mrOk));
    QPushButton button("Go");
    int after = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        guarded(&button, [] { throw std::runtime_error("Unable to write to /x/KesPrep.ini"); });
        ++after;
    });
    button.click();
    EXPECT_EQ(after, 1);

    // An exception that escapes an event handler without the wrapper is
    // caught by the application object.
    Thrower thrower;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&thrower, &event));

    ASSERT_EQ(shownModals().size(), 2u);
    EXPECT_EQ(shownModals()[0].type, MsgType::Error);
    EXPECT_EQ(shownModals()[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(shownModals()[0].text, "Unable to write to /x/KesPrep.ini");
    EXPECT_EQ(shownModals()[1].text, "Field 'TPName' not found");
}

TEST(HourglassTest, TheCursorComesBackOnEveryPath) {
    ASSERT_FALSE(hourglassShown());
    try {
        HourglassCursor outer;
        EXPECT_TRUE(hourglassShown());
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            HourglassCursor inner;
            // Something inside turns it off (the retry question does).
            setHourglass(false);
        }
        EXPECT_TRUE(hourglassShown());
        throw std::runtime_error("fails");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(hourglassShown());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(TerminationTest, TakesEffectWhenControlReturnsToTheEventLoop) {
    clearTerminationRequest();
    bool ranOn = false;
    bool laterEvent = false;
    QTimer::singleShot(0, [&] {
        requestTermination();
        ranOn = true; // the handler itself goes on
    });
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, &safety, [] { QCoreApplication::exit(7); });
    safety.start(5000);
    QObject context;
    QTimer::singleShot(3000, &context, [&] { laterEvent = true; });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(ranOn);
    EXPECT_FALSE(laterEvent);
    EXPECT_TRUE(terminationRequested());

    // Asked for before the loop runs: the loop ends as soon as it starts.
    clearTerminationRequest();
    requestTermination();
    safety.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    clearTerminationRequest();
}

TEST(WindowOperatorTest, RetryQuestionAfterEveryTwelfthFailureAndEndsOnCancel) {
    testsupport::TempDir dir;
    TAdsTable table;
    table.DatabaseName = dir.dir();
    table.TableType = ttAdsNTX;
    table.SetTableName("TP");
    int questions = 0;
    ScopedModalAnswerer answers([&](const ModalRequest& r) -> ModalAnswer {
        EXPECT_FALSE(hourglassShown()) << "the question shows the normal cursor";
        if (r.buttons == MsgButtons::OkCancel) return ++questions == 1 ? mrOk : mrCancel;
        return mrOk;
    });
    WindowOperator op;
    EXPECT_FALSE(OpenTableWithRetry(table, op));
    ASSERT_EQ(shownModals().size(), 3u);
    const std::string question = "Unable to open Table: " + dir.dir() + "TP.CDX.\r\nOK to retry?";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(shownModals()[i].type, MsgType::Error);
        EXPECT_EQ(shownModals()[i].buttons, MsgButtons::OkCancel);
        EXPECT_EQ(shownModals()[i].text, question);
    }
    EXPECT_EQ(shownModals()[2].type, MsgType::Error);
    EXPECT_EQ(shownModals()[2].buttons, MsgButtons::Ok);
    EXPECT_EQ(shownModals()[2].text, "Cancelled.  The program will be terminated.");
    EXPECT_FALSE(hourglassShown());
}

// Each kind of message is its box with its buttons, and the answer comes back.
TEST(WindowOperatorTest, MessagesAreBoxesOfTheirKind) {
    WindowOperator op;
    struct Case {
        std::function<bool(WindowOperator&)> show; // true when the answer was "yes"/"OK"
        int answer;
        MsgType type;
        MsgButtons buttons;
        bool expected;
    } cases[] = {
        {[](WindowOperator& o) {
             o.ShowError("E");
             return true;
         },
         mrOk, MsgType::Error, MsgButtons::Ok, true},
        {[](WindowOperator& o) {
             o.ShowInformation("E");
             return true;
         },
         mrOk, MsgType::Information, MsgButtons::Ok, true},
        {[](WindowOperator& o) { return o.Confirm("E"); }, mrYes, MsgType::Confirmation,
         MsgButtons::YesCancel, true},
        {[](WindowOperator& o) { return o.Confirm("E"); }, mrCancel, MsgType::Confirmation,
         MsgButtons::YesCancel, false},
        {[](WindowOperator& o) { return o.AskRetry("E"); }, mrOk, MsgType::Error,
         MsgButtons::OkCancel, true},
        {[](WindowOperator& o) { return o.AskRetry("E"); }, mrCancel, MsgType::Error,
         MsgButtons::OkCancel, false},
        {[](WindowOperator& o) {
             o.ShowCancelled("E");
             return true;
         },
         mrOk, MsgType::Error, MsgButtons::Ok, true},
    };
    for (const Case& c : cases) {
        ScopedModalAnswerer answers(answerWith(c.answer));
        EXPECT_EQ(c.show(op), c.expected);
        ASSERT_EQ(shownModals().size(), 1u);
        EXPECT_EQ(shownModals()[0].type, c.type);
        EXPECT_EQ(shownModals()[0].buttons, c.buttons);
        EXPECT_EQ(shownModals()[0].text, "E");
    }
}

// The status text and the progress go to the panel and bar of the window that
// owns the operator; a window without them is no error.
TEST(WindowOperatorTest, StatusAndProgressGoToTheOwnersPanelAndBar) {
    QWidget window;
    auto* panel = new QStatusBar(&window);
    auto* bar = new QProgressBar(&window);
    WindowOperator op(&window, panel, bar);
    op.ShowStatus("Adding Placement Records");
    EXPECT_EQ(panel->currentMessage(), "Adding Placement Records");
    op.SetProgressRange(0, 40);
    op.SetProgress(10);
    EXPECT_EQ(bar->maximum(), 40);
    EXPECT_EQ(bar->value(), 10);
    op.ShowStatus("");
    EXPECT_EQ(panel->currentMessage(), "");
    op.SetHourglass(true);
    EXPECT_TRUE(hourglassShown());
    op.SetHourglass(false);
    EXPECT_FALSE(hourglassShown());

    WindowOperator bare;
    bare.ShowStatus("nothing to show it on");
    bare.SetProgress(3);
    // A window that exports asks for its progress window; one that does not has none.
    EXPECT_EQ(bare.CreateExportProgress(), nullptr);
    struct Shown : TExportProgress {
        void Initialize(int, int, const std::string&, int64_t, int64_t) override {}
        void Show() override {}
        void UpdateProgress(int64_t, int64_t) override {}
    };
    bare.SetExportProgress([] { return std::make_unique<Shown>(); });
    auto progress = bare.CreateExportProgress();
    EXPECT_NE(dynamic_cast<Shown*>(progress.get()), nullptr);
}

TEST(DateEditTest, StartsEmptyAndReportsDayZero) {
    DateEdit edit;
    EXPECT_TRUE(edit.isEmpty());
    EXPECT_EQ(edit.date(), kes::Date());
    EXPECT_EQ(edit.text(), "");
    EXPECT_EQ(edit.lineEdit()->placeholderText(), "mm/dd/yyyy");
}

TEST(DateEditTest, ReadsWhatAPersonTypes) {
    struct Case {
        const char* typed;
        const char* shown; // after leaving the field
    };
    const Case cases[] = {
        {"3/5/2004", "03/05/2004"},
        {"03/05/04", "03/05/2004"},
        {"1/1/49", "01/01/2049"},
        {"1/1/50", "01/01/1950"},
        {"12/31/99", "12/31/1999"},
        {"02/29/2004", "02/29/2004"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        DateEdit edit;
        edit.setDate(*kes::Date::fromYmd(2003, 7, 4));
        edit.lineEdit()->setText(c.typed);
        emit edit.lineEdit()->editingFinished();
        EXPECT_EQ(edit.text().toStdString(), c.shown);
        const auto expected = kes::Date::fromShortText(c.shown);
        EXPECT_EQ(edit.date(), expected ? *expected : kes::Date());
    }
}

// Text that is not a date does not vanish: it stays as typed, the field is
// marked and reports no date, until a date is typed or set.
TEST(DateEditTest, TextThatIsNotADateStaysMarked) {
    for (const char* typed : {"02/30/2004", "13/01/2004", "1/"}) {
        SCOPED_TRACE(typed);
        DateEdit edit;
        edit.setDate(*kes::Date::fromYmd(2003, 7, 4));
        kes::Date changedTo = edit.date();
        QObject::connect(&edit, &DateEdit::dateChanged, [&](kes::Date d) { changedTo = d; });
        edit.lineEdit()->setText(typed);
        emit edit.lineEdit()->editingFinished();
        EXPECT_EQ(edit.text().toStdString(), typed);
        EXPECT_TRUE(edit.hasInvalidText());
        EXPECT_EQ(edit.date(), kes::Date());
        EXPECT_EQ(changedTo, kes::Date());
        EXPECT_FALSE(edit.lineEdit()->toolTip().isEmpty());

        edit.lineEdit()->setText("3/5/2004");
        emit edit.lineEdit()->editingFinished();
        EXPECT_FALSE(edit.hasInvalidText());
        EXPECT_EQ(edit.date(), *kes::Date::fromYmd(2004, 3, 5));
        EXPECT_TRUE(edit.lineEdit()->toolTip().isEmpty());
    }
}

TEST(DateEditTest, TheCalendarDropsDownAndSetsTheDate) {
    kes::Clock::instance().setSource([] { return kes::LocalTime{2004, 6, 15, 9, 0, 0, 0}; });
    DateEdit edit;
    edit.show();
    kes::Date changedTo;
    QObject::connect(&edit, &DateEdit::dateChanged, [&](kes::Date d) { changedTo = d; });
    edit.dropDownButton()->click();
    ASSERT_TRUE(edit.calendarShown());
    EXPECT_EQ(edit.calendar()->selectedDate(), QDate(2004, 6, 15)) << "empty picker opens at today";
    edit.calendar()->setSelectedDate(QDate(2004, 3, 5));
    emit edit.calendar()->clicked(QDate(2004, 3, 5));
    EXPECT_FALSE(edit.calendarShown());
    EXPECT_EQ(edit.text(), "03/05/2004");
    EXPECT_EQ(changedTo, *kes::Date::fromYmd(2004, 3, 5));

    edit.setEnabled(false);
    edit.showCalendar();
    EXPECT_FALSE(edit.calendarShown());
    kes::Clock::instance().setSource({});
}

TEST(VirtualListBoxTest, AsksOnlyForRowsItHasAndKeepsTheSelectionInStep) {
    VirtualListBox list;
    list.resize(169, 147);
    std::set<int> asked;
    list.setItemTextCallback([&](int i) {
        asked.insert(i);
        return std::to_string(i + 1) + ".  \tPeriod";
    });
    std::vector<int> changes;
    QObject::connect(&list, &VirtualListBox::itemIndexChanged,
                     [&](int i) { changes.push_back(i); });
    list.show();

    list.setCount(5);
    list.grab();
    ASSERT_FALSE(asked.empty());
    EXPECT_LE(*asked.rbegin(), 4);
    EXPECT_EQ(list.itemText(2), "3.  \tPeriod");

    list.setItemIndex(3);
    list.setCount(3); // row 3 is gone: deselected
    list.setItemIndex(1);
    list.setCount(2); // row 1 is still there: kept
    list.setCount(6);
    EXPECT_EQ(list.itemIndex(), 1);
    list.setItemIndex(-1);
    EXPECT_EQ(changes, (std::vector<int>{3, -1, 1, -1}));

    asked.clear();
    list.setCount(0);
    list.grab();
    EXPECT_TRUE(asked.empty());
}

TEST(VirtualListBoxTest, TheOperatorMovesTheSelectionButNeverClearsIt) {
    VirtualListBox list;
    list.resize(169, 147);
    list.setItemTextCallback([](int i) { return std::to_string(i + 1) + ".  \tPeriod"; });
    list.setCount(3);
    list.show();
    std::vector<int> changes;
    QObject::connect(&list, &VirtualListBox::itemIndexChanged,
                     [&](int i) { changes.push_back(i); });
    auto centre = [&](int row) { return list.visualRect(list.model()->index(row, 0)).center(); };

    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, centre(1));
    EXPECT_EQ(list.itemIndex(), 1);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, centre(1));
    EXPECT_EQ(list.itemIndex(), 1) << "Ctrl+click on the selected row";
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                      QPoint(10, list.viewport()->height() - 3));
    EXPECT_EQ(list.itemIndex(), 1) << "click below the last row";
    QTest::keyClick(list.viewport(), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(list.itemIndex(), 1) << "Ctrl+Space";
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, centre(2));
    EXPECT_EQ(list.itemIndex(), 2);
    EXPECT_EQ(changes, (std::vector<int>{1, 2}));
}

// A list that gets the focus without a selected row stands on its first row
// (and shows it) without selecting it; with a selected row it stands there.
TEST(VirtualListBoxTest, ShowsWhereItStandsWhenItGetsTheFocus) {
    QWidget window;
    auto* before = new QPushButton("before", &window);
    auto* list = new VirtualListBox(&window);
    list->setGeometry(0, 30, 169, 147);
    list->setItemTextCallback([](int i) { return std::to_string(i + 1); });
    list->setCount(3);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    ASSERT_TRUE(list->hasFocus());
    EXPECT_EQ(list->currentIndex().row(), 0);
    EXPECT_EQ(list->itemIndex(), -1);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->itemIndex(), 1);
}

TEST(VirtualListBoxTest, TabStopIsInDialogUnitsOfTheFont) {
    VirtualListBox list;
    list.setTabStopDialogUnits(30);
    EXPECT_DOUBLE_EQ(list.tabStopPixels(), 30 * list.fontMetrics().averageCharWidth() / 4.0);
    EXPECT_GT(list.tabStopPixels(), 0.0);
}

TEST(RadioGroupTest, AnIndexOutsideTheItemsChoosesNone) {
    RadioGroup group("&Search", {"Temporary", "Master"});
    group.setItemIndex(1);
    EXPECT_TRUE(group.button(1)->isChecked());
    group.setItemIndex(-1);
    EXPECT_EQ(group.itemIndex(), -1);
    EXPECT_FALSE(group.button(0)->isChecked());
    EXPECT_FALSE(group.button(1)->isChecked());
    group.setItemIndex(0);
    EXPECT_EQ(group.itemIndex(), 0);
    EXPECT_FALSE(group.button(1)->isChecked());
}

// Every option is a Tab stop in its place, chosen or not; choosing one by
// Space or a click clears the other, and the chosen one stays chosen.
TEST(RadioGroupTest, TabReachesEveryOptionAndTheChoiceStaysExclusive) {
    QWidget window;
    auto* before = new QPushButton("before", &window);
    auto* group = new RadioGroup("&Search", {"Temporary", "Master"}, &window);
    auto* after = new QPushButton("after", &window);
    group->move(0, 30);
    after->move(0, 120);
    group->setItemIndex(0);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    before->setFocus();
    std::vector<QWidget*> reached;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(reached, (std::vector<QWidget*>{group->button(0), group->button(1), after}));

    std::vector<int> changes;
    QObject::connect(group, &RadioGroup::itemIndexChanged, [&](int i) { changes.push_back(i); });
    QTest::keyClick(group->button(1), Qt::Key_Space);
    EXPECT_EQ(group->itemIndex(), 1);
    EXPECT_FALSE(group->button(0)->isChecked());
    QTest::mouseClick(group->button(1), Qt::LeftButton);
    EXPECT_TRUE(group->button(1)->isChecked()) << "a click on the chosen option keeps it";
    QTest::mouseClick(group->button(0), Qt::LeftButton);
    EXPECT_EQ(group->itemIndex(), 0);
    EXPECT_FALSE(group->button(1)->isChecked());
    EXPECT_EQ(changes, (std::vector<int>{1, 0}));
}

TEST(RadioGroupTest, ColumnsPutTheItemsSideBySide) {
    RadioGroup group("Set Date:", {"Current Date", "Date Selection"}, nullptr, 2);
    group.resize(195, 41);
    group.show();
    EXPECT_EQ(group.button(0)->y(), group.button(1)->y());
    EXPECT_LT(group.button(0)->x(), group.button(1)->x());
}

} // namespace
