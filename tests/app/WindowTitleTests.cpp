// The titles the window system shows. Qt's Windows and X11 platforms put a
// window's title together through QPlatformWindow::formatWindowTitle, which
// appends the application's display name to every title that does not
// already end with it; each window of the program must show its own caption
// and nothing more.
#include "tests/ui/QtTestSupport.h"

#include "app/Historyu.h"
#include "app/KesPrepu.h"
#include "app/core/IniFile.h"
#include "app/core/Preparation.h"
#include "app/core/PreparationPlan.h"
#include "export/ListKesu.h"
#include "export/wcprgwnd.h"
#include "prep/AutoPrepu.h"
#include "settings/SetKesu.h"
#include "ui/Application.h"
#include "ui/Modal.h"

#include <qpa/qplatformwindow.h>

#include <QString>
#include <QWidget>

#include <filesystem>

namespace {

// The title as Qt's Windows platform hands it to the window system.
struct ShownTitle : QPlatformWindow {
    static std::string onWindows(const QWidget& window) {
        return formatWindowTitle(window.windowTitle(), QStringLiteral(" - ")).toStdString();
    }
};

TEST(WindowTitles, EveryWindowShowsExactlyItsCaption) {
    testsupport::usePrivateRuntimeDir(); // no running copy of another test program is found
    // The selection window finds no work table here: its open is given up.
    ui::ScopedModalAnswerer answers{[](const ui::ModalRequest&) { return ui::mrCancel; }};
    testsupport::TempDir settings;
    testsupport::TempDir data;
    std::filesystem::create_directories(data.dir() + "VIRNTP1");
    // The application as the program sets it up.
    ui::setApplicationTitle("Prepare ORVA Upload File for Kestal");

    TKesPrepMainForm main(nullptr, settings.dir());
    const std::string settingsFile = SettingsFilePath(settings.dir());
    TAutoPrepForm autoPrepare(&main, PlanChoices{}, settingsFile);
    PreparationPlan plan;
    plan.DataDir = data.dir();
    plan.Period = "1";
    plan.SettingsFile = settingsFile;
    Preparation preparation(plan, PreparationFrontEnd::FindAndExport);
    TListKestalScoresForm selection(&main, preparation);
    TSetPathtoORVAForm settingsDialog(&main, main.Program());
    TProgressWindow progress(&main);
    THistoryForm history(&main, data.dir());
    const struct {
        const QWidget* window;
        const char* caption;
    } windows[] = {
        {&main, "Prepare ORVA Upload File for Kestal"},
        {&autoPrepare, "Automatic File Preparation"},
        {&selection, "Select Records"},
        {&settingsDialog, "Set Path to ORVA"},
        {&progress, "Progress"},
        {&history, "History"},
    };
    for (const auto& w : windows) {
        EXPECT_EQ(w.window->windowTitle().toStdString(), w.caption);
        EXPECT_EQ(ShownTitle::onWindows(*w.window), w.caption);
    }
    // The title stays the application's: the single-instance guard is named by it.
    EXPECT_EQ(ui::applicationTitle(), "Prepare ORVA Upload File for Kestal");
    ui::setApplicationTitle("KesPrep tests");
    ui::clearTerminationRequest();
}

} // namespace
