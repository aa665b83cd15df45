// kesprep-bench-settings: the settings dialog's Build buttons over a large
// generated testing period (by default 1,000,000 records), offscreen. It times
// the dialog's creation, then Build on the Placement Codes page and on the
// Test/Score Codes page, first into empty code tables and then a rebuild over
// the tables just built (the confirmation answered Yes), each with the
// repaint that follows.
#include "app/core/ProgramState.h"
#include "os/Os.h"
#include "settings/SetKesu.h"
#include "ui/Application.h"
#include "ui/Modal.h"

#include "BenchData.h"

#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

} // namespace

int main(int argc, char** argv) {
    BenchData data;
    for (int i = 1; i < argc; ++i) {
        if (data.takeOption(argc, argv, i)) continue;
        std::printf("Usage: kesprep-bench-settings %s\n", BenchData::kOptions);
        return std::string(argv[i]) == "--help" ? 0 : 2;
    }
    if (!data.prepare()) {
        std::fprintf(stderr, "kesprep-bench-settings: generating the data failed\n");
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ui::Application app(argc, argv);
    int questions = 0;
    ui::setModalAnswerer([&](const ui::ModalRequest& r) {
        ++questions;
        return ui::ModalAnswer(r.buttons == ui::MsgButtons::YesCancel ? ui::mrYes : ui::mrOk);
    });

    // The code tables are built anew; the ones the data folder came with are
    // set aside and come back at the end, for the other benchmarks.
    const std::string dataDir = data.dataDir();
    const char* const codeFiles[] = {"KESPLACE.dbf", "KESPLACE.cdx", "KESTEST.dbf", "KESTEST.cdx"};
    std::error_code ignored;
    for (const char* name : codeFiles)
        std::filesystem::rename(dataDir + name, dataDir + name + ".bench-saved", ignored);
    struct Restore {
        const std::string& dir;
        const char* const (&names)[4];
        ~Restore() {
            std::error_code ignored;
            // The rebuild's copy of the table it replaced goes too.
            for (const char* name : {"KESTEMP.DBF", "KESTEMP.CDX"})
                std::filesystem::remove(dir + name, ignored);
            for (const char* name : names) {
                std::filesystem::remove(dir + name, ignored);
                std::filesystem::rename(dir + name + ".bench-saved", dir + name, ignored);
            }
        }
    } restore{dataDir, codeFiles};

    ProgramState program;
    program.DataDir = dataDir;
    program.ExeDir = dataDir;
    program.PeriodNames = {std::to_string(data.period) + ". Benchmark"};
    program.PeriodNumbers = {std::to_string(data.period)};
    program.SelectedPeriodIndex = data.period - 1;

    auto started = Clock::now();
    auto form = std::make_unique<TSetPathtoORVAForm>(nullptr, program);
    form->show();
    QApplication::processEvents();
    std::printf("%-36s %8.1f ms\n", "Open the dialog:", millisecondsSince(started));

    struct Page {
        const char* name;
        int tab;
        QComboBox* chooser;
        QPushButton* build;
    } pages[] = {{"Placement Codes", 2, form->ComboBox1, form->btnBuildP},
                 {"Test/Score Codes", 3, form->ComboBox2, form->btnBuildT}};
    for (const Page& page : pages) {
        form->OvcNotebook1->setCurrentIndex(page.tab);
        QApplication::processEvents();
        page.chooser->setCurrentIndex(0);
        for (const char* round : {"into an empty table", "over the table built"}) {
            questions = 0;
            started = Clock::now();
            page.build->click();
            form->repaint();
            QApplication::processEvents();
            std::printf("Build, %-16s %-20s %8.1f ms  (goal < 1000), %d question(s)\n", page.name,
                        round, millisecondsSince(started), questions);
        }
    }
    std::printf("Peak memory: %.0f MB\n", bench::peakMegabytes());
    form.reset();
    return 0;
}
