// kesprep-bench-selection: the record selection window over a large gathered
// work table (by default 1,000,000 records over 200,000 students), offscreen.
// After one gathering over all dates of the temporary set it times: the window
// opening and showing its first page, Select All, single keystrokes of the
// incremental search in the last-name order, and the move to the last row with
// its repaint; then the peak memory of the process above what the gathering
// left, and the resident memory the open window holds; last Select All and
// Export from the window, with the peak memory through it.
#include "app/core/Preparation.h"
#include "export/ListKesu.h"
#include "export/ScoresGrid.h"
#include "os/Os.h"
#include "prep/core/Gather.h"
#include "ui/Application.h"
#include "ui/Modal.h"

#include "BenchData.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Processor time of the process, user and system: on a busy machine it shows
// what a step costs, where the wall clock also counts the waits for a core.
double cpuMilliseconds() {
    return kes::os::processorSeconds() * 1000.0;
}

double peakMegabytes() {
    return bench::peakMegabytes();
}

double residentMegabytes() {
    return bench::megabytes(kes::os::residentMemoryBytes());
}

// Paints what is on screen now, as the event loop would.
void paint(TListKestalScoresForm& form) {
    form.wwDBGrid1->viewport()->repaint();
    QApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    BenchData data;
    bool gatherAgain = true;
    for (int i = 1; i < argc; ++i) {
        if (data.takeOption(argc, argv, i)) continue;
        if (std::string(argv[i]) == "--no-gather") {
            gatherAgain = false; // the work table of an earlier run (for a profiler)
            continue;
        }
        std::printf("Usage: kesprep-bench-selection %s [--no-gather]\n", BenchData::kOptions);
        return std::string(argv[i]) == "--help" ? 0 : 2;
    }
    if (!data.prepare()) {
        std::fprintf(stderr, "kesprep-bench-selection: generating the data failed\n");
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ui::Application app(argc, argv);
    // Any message box is answered at once.
    ui::setModalAnswerer([](const ui::ModalRequest&) { return ui::ModalAnswer(ui::mrOk); });

    const std::string dataDir = data.dataDir();
    GatherOptions gather;
    gather.DataDir = dataDir;
    gather.PeriodDir = data.periodDir();
    gather.SearchTemporary = true;
    SilentOperator quiet;
    auto t = Clock::now();
    if (gatherAgain && GatherRecords(gather, quiet) != GatherResult::Done) return 1;
    std::printf("Gathering: %.0f ms\n", millisecondsSince(t));
    const double gatheredPeak = peakMegabytes();
    const double gatheredResident = residentMegabytes();

    // The window exports through a preparation of the benchmark's folder; it
    // keeps its file name in a settings file there.
    PreparationPlan plan;
    plan.DataDir = dataDir;
    plan.Period = std::to_string(data.period);
    plan.SettingsFile = dataDir + "KesPrep.ini";
    Preparation preparation(plan, PreparationFrontEnd::FindAndExport);

    // Each step: wall clock and processor time.
    struct Step {
        Clock::time_point wall = Clock::now();
        double cpu = cpuMilliseconds();
        void print(const char* what, const char* goal, const std::string& note = {}) const {
            std::printf("%-30s %8.1f ms wall %8.1f ms cpu  %s %s\n", what, millisecondsSince(wall),
                        cpuMilliseconds() - cpu, goal, note.c_str());
        }
    };

    Step step;
    auto form = std::make_unique<TListKestalScoresForm>(nullptr, preparation);
    form->show();
    paint(*form);
    step.print("Open and show the first page:", "(goal < 300)",
               std::to_string(form->TotalCount) + " records");

    step = Step();
    form->btnAllClick();
    paint(*form);
    step.print("Select All:", "(goal < 200)", std::to_string(form->SelectedCount) + " selected");

    // A plain click on a row drops all the others.
    step = Step();
    QTest::mouseClick(form->wwDBGrid1->viewport(), Qt::LeftButton, {},
                      form->wwDBGrid1->visualRect(form->wwDBGrid1->model()->index(3, 1)).center());
    paint(*form);
    step.print("Click after Select All:", "", std::to_string(form->SelectedCount) + " selected");

    step = Step();
    QTest::mouseClick(form->RadioButton2, Qt::LeftButton);
    paint(*form);
    step.print("Order By Last Name:", "");

    // A keystroke: the key reaches the search box, the seek moves the current
    // row and the grid scrolls to it; then the grid repaints.
    double slowestKey = 0, slowestPaint = 0;
    std::string typed;
    for (const char key : std::string("smithson")) {
        auto started = Clock::now();
        QTest::keyClick(form->wwIncrementalSearch1, key);
        const double handled = millisecondsSince(started);
        started = Clock::now();
        paint(*form);
        const double painted = millisecondsSince(started);
        slowestKey = std::max(slowestKey, handled);
        slowestPaint = std::max(slowestPaint, painted);
        typed += key;
        std::printf("  search \"%s\": %.2f ms, repaint %.2f ms, row %d\n", typed.c_str(), handled,
                    painted, form->CurrentRow());
    }
    std::printf("Incremental search keystroke: %8.2f ms slowest  (goal < 5), repaint %.2f ms "
                "slowest\n",
                slowestKey, slowestPaint);

    step = Step();
    QTest::mouseClick(form->NavigatorButtons[TListKestalScoresForm::nbLast], Qt::LeftButton);
    paint(*form);
    step.print("Scroll to the last row:", "(goal < 50)",
               "row " + std::to_string(form->CurrentRow()));

    const double windowResident = residentMegabytes();

    // Select All and Export: the staging table and the upload file from the
    // window, its messages answered at once.
    const double beforeExportPeak = peakMegabytes();
    ui::clearShownModals();
    form->Edit1->setText(QString::fromStdString(dataDir + "upload-window.asc"));
    step = Step();
    form->btnAllClick();
    const int exported = form->SelectedCount;
    form->btnExportClick();
    step.print("Select All and Export:", "",
               std::to_string(exported) + " rows: " +
                   (ui::shownModals().empty() ? std::string("no message")
                                              : ui::shownModals().back().text));
    std::printf("Peak memory through the export: %.0f MB (%.0f MB before it)\n", peakMegabytes(),
                beforeExportPeak);
    std::printf("Peak memory: %.0f MB after the gathering, %.0f MB with the window: +%.0f MB  "
                "(goal < 100)\n",
                gatheredPeak, peakMegabytes(), peakMegabytes() - gatheredPeak);
    std::printf("Resident memory: %.0f MB after the gathering, %.0f MB with the window open: "
                "+%.0f MB\n",
                gatheredResident, windowResident, windowResident - gatheredResident);
    form.reset();
    return 0;
}
