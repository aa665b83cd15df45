// Every window of the program, as the operator meets it on the sample data:
// the main window, the automatic window, "Select Records" after a Find, the
// four pages of the settings dialog, the layout report's preview, the
// history and the export's progress window. Two things hold for each:
//  - no text of the program is cut: captions, titles, column titles, the
//    hours, the period names of the choosers and the dates of the grids fit
//    their controls in the font the window has (measured with its metrics);
//  - every control has an accessible name (its caption, or what it does),
//    as Qt's accessibility interface gives it to a screen reader.
#include "support/QtEnvironment.h"

#include "app/Historyu.h"
#include "app/KesPrepu.h"
#include "app/core/Preparation.h"
#include "app/core/Settings.h"
#include "export/ListKesu.h"
#include "export/ScoresGrid.h"
#include "export/wcprgwnd.h"
#include "prep/AutoPrepu.h"
#include "settings/SetKesu.h"
#include "support/RecordingOperator.h"
#include "ui/DateEdit.h"
#include "ui/Modal.h"
#include "ui/RadioGroup.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <functional>

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

// "&Last Name" as it shows: "Last Name".
QString shown(QString caption) {
    caption.replace("&&", "\x01");
    caption.remove('&');
    caption.replace("\x01", "&");
    return caption;
}

std::string nameOf(const QWidget* w) {
    std::string path = w->objectName().toStdString();
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (!p->objectName().isEmpty() && !p->objectName().startsWith("qt_"))
            path = p->objectName().toStdString() + "/" + path;
    return path + " (" + w->metaObject()->className() + ")";
}

// Where a text of the program does not fit, one line each.
class CutTexts {
  public:
    std::vector<std::string> found;

    void need(const QWidget* w, const QString& text, int needed, int room) {
        if (needed > room)
            found.push_back(nameOf(w) + ": \"" + text.toStdString() + "\" needs " +
                            std::to_string(needed) + " pixels, has " + std::to_string(room));
    }

    void check(QWidget& window) {
        for (QWidget* w : window.findChildren<QWidget*>()) {
            if (!w->isVisibleTo(&window) || w->objectName().startsWith("qt_")) continue;
            const QFontMetrics fm = w->fontMetrics();
            if (auto* push = qobject_cast<QPushButton*>(w)) {
                QStyleOptionButton option;
                option.initFrom(push);
                option.text = push->text();
                option.icon = push->icon();
                option.iconSize = push->iconSize();
                const QRect inside =
                    push->style()->subElementRect(QStyle::SE_PushButtonContents, &option, push);
                const int icon = push->icon().isNull() ? 0 : push->iconSize().width() + 4;
                need(push, push->text(), fm.horizontalAdvance(shown(push->text())) + icon,
                     inside.width());
            } else if (qobject_cast<QRadioButton*>(w) || qobject_cast<QCheckBox*>(w)) {
                // The text beside the indicator, in the place the style gives it.
                auto* button = static_cast<QAbstractButton*>(w);
                QStyleOptionButton option;
                option.initFrom(button);
                option.text = button->text();
                const bool radio = qobject_cast<QRadioButton*>(w);
                const QRect text = button->style()->subElementRect(
                    radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents, &option,
                    button);
                need(button, button->text(), fm.horizontalAdvance(shown(button->text())),
                     std::min(text.right(), button->width() - 1) - text.left() + 1);
            } else if (auto* tool = qobject_cast<QToolButton*>(w);
                       tool && !tool->text().isEmpty() &&
                       (tool->icon().isNull() ||
                        tool->toolButtonStyle() != Qt::ToolButtonIconOnly)) {
                // A tool button shows its text when it has no glyph.
                const int frame =
                    tool->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, tool);
                need(tool, tool->text(), fm.horizontalAdvance(shown(tool->text())) + 2 * frame,
                     tool->width());
            } else if (auto* label = qobject_cast<QLabel*>(w);
                       label && !label->wordWrap() && !label->text().isEmpty() &&
                       label->textFormat() != Qt::RichText) {
                need(label, label->text(),
                     fm.horizontalAdvance(shown(label->text())) + 2 * label->margin(),
                     label->contentsRect().width());
            } else if (auto* group = qobject_cast<QGroupBox*>(w);
                       group && !group->title().isEmpty()) {
                QStyleOptionGroupBox option;
                option.initFrom(group);
                option.text = group->title();
                option.subControls = QStyle::SC_GroupBoxLabel;
                option.lineWidth = 1;
                const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                                   QStyle::SC_GroupBoxLabel, group);
                need(group, group->title(), fm.horizontalAdvance(shown(group->title())),
                     std::min(title.width(), group->width() - title.x()));
            } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
                QStyleOptionComboBox option;
                option.initFrom(combo);
                option.editable = combo->isEditable();
                const QRect field = combo->style()->subControlRect(
                    QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
                // An editable box shows its text in a line edit with margins.
                const int margins = combo->isEditable() ? 4 : 0;
                for (int i = 0; i < combo->count(); ++i)
                    need(combo, combo->itemText(i),
                         fm.horizontalAdvance(combo->itemText(i)) + margins, field.width());
            } else if (auto* grid = qobject_cast<QTableView*>(w)) {
                checkGrid(*grid);
            }
        }
    }

    // Column titles, and for grids without a horizontal scroll bar every
    // column inside the view and the dates of their rows whole.
    void checkGrid(QTableView& grid) {
        QHeaderView* header = grid.horizontalHeader();
        const QAbstractItemModel* model = grid.model();
        // The title's place in its section, as the style draws it.
        auto titleRoom = [&](int c) {
            QStyleOptionHeader option;
            option.initFrom(header);
            option.rect = QRect(0, 0, header->sectionSize(c), header->height());
            option.section = c;
            option.text = model->headerData(c, Qt::Horizontal).toString();
            return header->style()->subElementRect(QStyle::SE_HeaderLabel, &option, header).width();
        };
        const int cellMargin =
            grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1;
        for (int c = 0; c < model->columnCount(); ++c) {
            if (header->isSectionHidden(c)) continue;
            const QString title = model->headerData(c, Qt::Horizontal).toString();
            need(&grid, "title " + title, header->fontMetrics().horizontalAdvance(title),
                 titleRoom(c));
            if (grid.horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff) continue;
            const int right = header->sectionViewportPosition(c) + header->sectionSize(c);
            need(&grid, "column " + title, right, grid.viewport()->width());
            for (int r = 0; r < std::min(model->rowCount(), 200); ++r) {
                const QString value = model->index(r, c).data().toString();
                // Dates: the program's own values, always ten characters.
                if (value.size() == 10 && value[2] == '/' && value[5] == '/')
                    need(&grid, value, grid.fontMetrics().horizontalAdvance(value) + 2 * cellMargin,
                         header->sectionSize(c));
            }
        }
    }
};

// The controls a screen reader cannot name, or names otherwise than their
// caption.
std::vector<std::string> unnamedControls(QWidget& window) {
    std::vector<std::string> unnamed;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window) || w->objectName().startsWith("qt_")) continue;
        // Controls: what takes input or shows a state the operator reads.
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractItemView*>(w) ||
                             qobject_cast<QProgressBar*>(w) || qobject_cast<QTabWidget*>(w) ||
                             qobject_cast<ui::DateEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w);
        if (!control) continue;
        // A grid's titles and corner are parts of the grid, which speaks for them.
        if (qobject_cast<QAbstractItemView*>(w->parentWidget())) continue;
        // The line edit inside an editable combo box or date picker speaks for its owner.
        if (qobject_cast<QLineEdit*>(w) && (qobject_cast<QComboBox*>(w->parentWidget()) ||
                                            qobject_cast<QAbstractSpinBox*>(w->parentWidget())))
            continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w);
        const QString name = accessible ? accessible->text(QAccessible::Name) : QString();
        if (name.trimmed().isEmpty()) unnamed.push_back(nameOf(w));
        // A button with a caption is named by it, unless it was given a name
        // of its own ("..." is no name).
        if (auto* button = qobject_cast<QAbstractButton*>(w); button && !button->text().isEmpty() &&
                                                              button->accessibleName().isEmpty() &&
                                                              name != shown(button->text()))
            unnamed.push_back(nameOf(w) + " is named \"" + name.toStdString() + "\"");
    }
    return unnamed;
}

class EveryWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::usePrivateRuntimeDir();
        ui::clearTerminationRequest();
        kes::Clock::instance().setSource([] { return kes::LocalTime{2005, 9, 1, 10, 0, 0, 0}; });
        data.copyFolder("virn-sample");
        for (const char* file : {"KESPLACE.DBF", "KESPLACE.cdx", "KESTEST.DBF", "KESTEST.cdx"})
            fs::copy_file(testsupport::fixture(std::string("formats/cdx/") + file),
                          data.dir() + file);
        for (auto& entry : fs::recursive_directory_iterator(data.path()))
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
        testsupport::writeFile(settings.dir() + "KesPrep.ini",
                               "[Directories]\nORVA Path=" + data.dir() +
                                   "\n[Testing Periods]\nORVA From=1\n"
                                   "[ORVA Auto Export]\nFilename=" +
                                   settings.dir() + "upload.asc\nTime=0\nDate=1\n");
    }
    void TearDown() override {
        kes::Clock::instance().setSource({});
        ui::clearTerminationRequest();
    }

    // Runs `each` on every window of the program, shown, with its name.
    void forEveryWindow(const std::function<void(QWidget&, const std::string&)>& each) {
        TKesPrepMainForm main(nullptr, settings.dir());
        main.FormActivate();
        main.show();
        each(main, "main window");

        PlanChoices choices = *main.PrepareSearch();
        {
            TAutoPrepForm automatic(&main, choices, main.SettingsFile());
            automatic.FormActivate();
            automatic.show();
            automatic.Timer2Timer();
            automatic.ComboBox1->setCurrentIndex(0); // "12:00 Midnight", the widest hour
            each(automatic, "automatic window");
        }
        {
            Preparation find(MakePreparationPlan(main.SettingsFile(), choices, PlanUse::Windows),
                             PreparationFrontEnd::FindAndExport);
            testsupport::RecordingOperator quiet;
            ASSERT_EQ(find.Gather(quiet), GatherResult::Done);
            TListKestalScoresForm selection(&main, find);
            selection.show();
            selection.btnAllClick();
            each(selection, "Select Records");
        }
        {
            TSetPathtoORVAForm dialog(&main, main.Program());
            dialog.show();
            for (int page = 0; page < dialog.OvcNotebook1->count(); ++page) {
                dialog.OvcNotebook1->setCurrentIndex(page);
                QCoreApplication::processEvents();
                each(dialog, "settings, page " + std::to_string(page + 1));
            }
            // The report's preview, as "Print File Format" opens it.
            ui::ScopedModalAnswerer preview([&](const ui::ModalRequest& request) {
                if (request.kind == ui::ModalKind::ReportPreview && request.window) {
                    request.window->show();
                    each(*request.window, "layout report preview");
                }
                return ui::ModalAnswer(ui::mrOk);
            });
            dialog.btnPrint->click();
            dialog.DiscardAndCloseCodeTables();
        }
        {
            THistoryForm history(&main, data.dir());
            history.show();
            each(history, "history");
        }
        {
            TProgressWindow progress;
            progress.Initialize(pmExport, pbRecords, settings.dir() + "upload.asc", 2557, 153420);
            progress.Show();
            progress.UpdateProgress(1200, 72000);
            each(progress, "progress window");
        }
    }

    TempDir settings;
    TempDir data;
    // The sample lacks periods 5 to 9, which the main window says.
    ui::ScopedModalAnswerer answers{[](const ui::ModalRequest&) { return ui::mrOk; }};
};

TEST_F(EveryWindowTest, NoTextOfTheProgramIsCut) {
    int windows = 0;
    forEveryWindow([&](QWidget& window, const std::string& name) {
        ++windows;
        CutTexts cut;
        cut.check(window);
        EXPECT_TRUE(cut.found.empty()) << name << ":\n  " << testing::PrintToString(cut.found);
    });
    EXPECT_EQ(windows, 10);
}

TEST_F(EveryWindowTest, EveryControlHasAnAccessibleName) {
    int windows = 0;
    forEveryWindow([&](QWidget& window, const std::string& name) {
        ++windows;
        EXPECT_EQ(unnamedControls(window), std::vector<std::string>{}) << name;
    });
    EXPECT_EQ(windows, 10);
}

} // namespace
