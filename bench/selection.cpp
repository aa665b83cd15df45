// kesprep-bench-selection: the record selection window over a large gathered
// work table (by default 1,000,000 records over 200,000 students), offscreen.
// After one gathering over all dates of the temporary set it times: the window
// opening and showing its first page, Select All, single keystrokes of the
// incremental search in the last-name order, and the move to the last row with
// its repaint; then the peak memory of the process above what the gathering
// left, and the resident memory the open window holds.
#include "app/core/ProgramState.h"
#include "export/ListKesu.h"
#include "export/ScoresGrid.h"
#include "prep/core/Gather.h"
#include "ui/Application.h"
#include "ui/Modal.h"

#include "BenchData.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

// Paints what is on screen now, as the event loop would.
void paint(TListKestalScoresForm& form) {
    form.wwDBGrid1->viewport()->repaint();
    QApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    BenchData data;
    for (int i = 1; i < argc; ++i) {
        if (data.takeOption(argc, argv, i)) continue;
        std::printf("Usage: kesprep-bench-selection [--dir DIR] [--records N] [--students N] "
                    "[--regenerate]\n");
        return std::string(argv[i]) == "--help" ? 0 : 2;
    }
    if (!data.prepare()) {
        std::fprintf(stderr, "kesprep-bench-selection: generating the data failed\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ui::Application app(argc, argv);
    // Any message box is answered at once.
    ui::setModalAnswerer([](const ui::ModalRequest&) { return ui::ModalAnswer(ui::mrOk); });

    const std::string dataDir = data.dir + "/";
    GatherOptions gather;
    gather.DataDir = dataDir;
    gather.PeriodDir = "VIRNTP1/";
    gather.SearchTemporary = true;
    SilentOperator quiet;
    auto t = Clock::now();
    if (GatherRecords(gather, quiet) != GatherResult::Done) return 1;
    std::printf("Gathering: %.0f ms\n", millisecondsSince(t));
    const double gatheredPeak = peakMegabytes();
    const double gatheredResident = residentMegabytes();

    ProgramState& program = Program();
    program.DataDir = dataDir;
    program.ExeDir = dataDir;

    t = Clock::now();
    auto form = std::make_unique<TListKestalScoresForm>(nullptr);
    form->show();
    paint(*form);
    const double opened = millisecondsSince(t);
    std::printf("Records: %d\n", form->TotalCount);
    std::printf("Open and show the first page: %8.1f ms  (goal < 300)\n", opened);

    t = Clock::now();
    form->btnAllClick();
    paint(*form);
    std::printf("Select All:                   %8.1f ms  (goal < 200)  %d selected\n",
                millisecondsSince(t), form->SelectedCount);

    // A plain click on a row drops all the others.
    t = Clock::now();
    QTest::mouseClick(form->wwDBGrid1->viewport(), Qt::LeftButton, {},
                      form->wwDBGrid1->visualRect(form->wwDBGrid1->model()->index(3, 1)).center());
    paint(*form);
    std::printf("Click after Select All:       %8.1f ms  %d selected\n", millisecondsSince(t),
                form->SelectedCount);

    t = Clock::now();
    QTest::mouseClick(form->RadioButton2, Qt::LeftButton);
    paint(*form);
    std::printf("Order By Last Name:           %8.1f ms\n", millisecondsSince(t));

    // A keystroke: the key reaches the search box, the seek moves the current
    // row and the grid scrolls to it; then the grid repaints.
    double slowestKey = 0, slowestPaint = 0;
    std::string typed;
    for (const char key : std::string("smithson")) {
        t = Clock::now();
        QTest::keyClick(form->wwIncrementalSearch1, key);
        const double handled = millisecondsSince(t);
        t = Clock::now();
        paint(*form);
        const double painted = millisecondsSince(t);
        slowestKey = std::max(slowestKey, handled);
        slowestPaint = std::max(slowestPaint, painted);
        typed += key;
        std::printf("  search \"%s\": %.2f ms, repaint %.2f ms, row %d\n", typed.c_str(), handled,
                    painted, form->CurrentRow());
    }
    std::printf("Incremental search keystroke: %8.2f ms slowest  (goal < 5), repaint %.2f ms "
                "slowest\n",
                slowestKey, slowestPaint);

    t = Clock::now();
    QTest::mouseClick(form->NavigatorButtons[TListKestalScoresForm::nbLast], Qt::LeftButton);
    paint(*form);
    std::printf("Scroll to the last row:       %8.1f ms  (goal < 50)  row %d\n",
                millisecondsSince(t), form->CurrentRow());

    const double windowResident = residentMegabytes();
    std::printf("Peak memory: %.0f MB after the gathering, %.0f MB with the window: +%.0f MB  "
                "(goal < 100)\n",
                gatheredPeak, peakMegabytes(), peakMegabytes() - gatheredPeak);
    std::printf("Resident memory: %.0f MB after the gathering, %.0f MB with the window open: "
                "+%.0f MB\n",
                gatheredResident, windowResident, windowResident - gatheredResident);
    form->AutoMode = true; // leaves the settings file alone
    form.reset();
    return 0;
}
