// TProgressWindow offscreen: its look, and the texts it shows in export mode
// with the program clock set by the test.
#include "common/Clock.h"
#include "export/core/wccsvexp.h"
#include "export/wcprgwnd.h"
#include "support/Files.h"
#include "ui/WindowOperator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "export_gui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    return application;
}

class ProgressWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app();
        kes::Clock::instance().setSource([this] { return now_; });
    }
    void TearDown() override { kes::Clock::instance().setSource(nullptr); }
    kes::LocalTime now_{2024, 3, 5, 10, 0, 0, 0};
};

TEST_F(ProgressWindowTest, LooksAsDesignedBeforeInitialisation) {
    TProgressWindow w;
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.windowTitle(), "Progress");
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w.size(), QSize(330, 151));
    EXPECT_TRUE(w.findChildren<QAbstractButton*>().isEmpty());
    EXPECT_EQ(w.Label2->text(), "Records:");
    EXPECT_EQ(w.lbRecords->text(), "?");
    EXPECT_EQ(w.lbPercentage->text(), "0%");
}

TEST_F(ProgressWindowTest, ExportTextsAfterTenSeconds) {
    TProgressWindow w;
    w.Initialize(pmExport, pbRecords, "/tmp/up.asc", 1000, 0);
    w.Show();
    EXPECT_EQ(w.windowTitle(), "Export Progress");
    EXPECT_EQ(w.lbFile->text(), "/tmp/up.asc");
    EXPECT_EQ(w.lbRecords->text(), "0 of 1000");
    EXPECT_EQ(w.lbBytes->text(), "0K written");
    EXPECT_EQ(w.lbTime->text(), "00:00:00 remaining");
    EXPECT_EQ(w.RemainingText(), "00:00:00 remaining");

    now_.second = 10;
    w.UpdateProgress(250, 20480);
    EXPECT_EQ(w.lbRecords->text(), "250 of 1000 records");
    EXPECT_EQ(w.lbBytes->text(), "20.0K written (2.0K/s)");
    EXPECT_EQ(w.lbPercentage->text(), "25%");
    EXPECT_EQ(w.lbTime->text(), "00:00:30 remaining");
    EXPECT_EQ(w.ProgressBar->maximum(), 1000);
    EXPECT_EQ(w.ProgressBar->value(), 250);
    // A label grows with its text, so nothing is cut off.
    EXPECT_GE(w.lbBytes->width(), w.lbBytes->sizeHint().width());
}

int progressWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TProgressWindow*>(w)) ++n;
    return n;
}

TEST_F(ProgressWindowTest, ShownDuringTheComponentsExportOnly) {
    testsupport::TempDir tmp;
    const std::string d = tmp.dir();
    TAdsTable::AdsCreateTable(d + "T.dbf", ttAdsCDX, OEM, 0, "A,C,3,0;");
    TAdsTable table;
    table.DatabaseName = d;
    table.SetTableName("T");
    table.Open();
    for (int i = 0; i < 3; ++i) {
        table.Append();
        table.Fields(0).SetAsString("x");
        table.Post();
    }
    ui::WindowOperator op;
    op.SetExportProgress(&NewProgressWindow);
    TCSVExport e;
    e.SetOperator(&op);
    e.DataSet = &table;
    e.OutputFile = d + "out.txt";
    e.ShowProgress = true;
    std::vector<int> seen;
    e.OnExportRecord = [&](TCSVExport&, int64_t, int64_t) { seen.push_back(progressWindows()); };
    EXPECT_EQ(e.Execute(), 3);
    EXPECT_EQ(seen, (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(progressWindows(), 0);
    table.Close();
}

} // namespace
