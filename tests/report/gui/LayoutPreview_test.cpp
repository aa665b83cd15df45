// The layout report's preview offscreen: its window, the status texts, and
// the page saved as PDF and printed (to a PDF file), read back with pdftotext.
#include "report/report_support.h"
#include "support/QtEnvironment.h"

#include "settings/LayoutPreview.h"
#include "ui/Modal.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace reporttest;
using testsupport::TempDir;

namespace {

TEST(LayoutPreviewTest, PreviewShowsThePageAndSavesAndPrintsIt) {
    TempDir dir;
    const std::string saved = dir.dir() + "layout.pdf", printed = dir.dir() + "printed.pdf";
    bool previewAnswered = false, savedOk = false, printedOk = false;
    std::vector<std::string> statusTexts;

    ui::ScopedModalAnswerer answers([&](const ui::ModalRequest& request) -> ui::ModalAnswer {
        switch (request.kind) {
        case ui::ModalKind::ReportPreview: {
            auto* preview = dynamic_cast<ui::ReportPreview*>(request.window);
            if (!preview) return ui::mrCancel;
            previewAnswered = true;
            EXPECT_EQ(request.title, "Response File Format");
            EXPECT_TRUE(preview->windowState() & Qt::WindowMaximized);
            EXPECT_DOUBLE_EQ(preview->zoomPercent(), 100.0);
            EXPECT_EQ(preview->statusWindow().windowTitle().toStdString(), "Report Status");
            savedOk = preview->saveAsPdf();
            printedOk = preview->print();
            statusTexts = preview->statusWindow().shownTexts();
            EXPECT_FALSE(preview->statusWindow().isVisible());
            return ui::mrOk;
        }
        case ui::ModalKind::SaveFile:
            EXPECT_EQ(request.defaultExtension, "pdf");
            return ui::ModalAnswer(ui::mrOk, saved);
        case ui::ModalKind::Print:
            return ui::ModalAnswer(ui::mrOk, printed);
        default:
            ADD_FAILURE() << "unexpected modal: " << request.title << " " << request.text;
            return ui::mrCancel;
        }
    });
    ShowLayoutReport(nullptr, 2, true, true, true, true);

    ASSERT_TRUE(previewAnswered);
    EXPECT_TRUE(savedOk);
    EXPECT_TRUE(printedOk);
    EXPECT_EQ(statusTexts, (std::vector<std::string>{"Generating page 1", "Printing page 1"}));
    for (const std::string& pdf : {saved, printed}) {
        SCOPED_TRACE(pdf);
        EXPECT_EQ(describe(pdfTextLines(pdf)), describe(commaReportWithEveryField()));
    }
}

TEST(LayoutPreviewTest, CancelledDialogsAndAnUnwritableFileLeaveNothingBehind) {
    TempDir dir;
    const std::string unwritable = dir.dir() + "no-such-folder/layout.pdf";
    std::vector<bool> results;
    ui::ScopedModalAnswerer answers([&](const ui::ModalRequest& request) -> ui::ModalAnswer {
        if (request.kind == ui::ModalKind::ReportPreview) {
            auto* preview = dynamic_cast<ui::ReportPreview*>(request.window);
            results = {preview->saveAsPdf(), preview->print(), preview->saveAsPdf()};
            return ui::mrCancel;
        }
        static int saves = 0;
        if (request.kind == ui::ModalKind::SaveFile)
            return ++saves == 1 ? ui::ModalAnswer(ui::mrCancel)
                                : ui::ModalAnswer(ui::mrOk, unwritable);
        return ui::mrCancel; // the print dialog, and the error message
    });
    ShowLayoutReport(nullptr, 0, false, false, false, false);

    EXPECT_EQ(results, (std::vector<bool>{false, false, false}));
    const auto& shown = ui::shownModals();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().kind, ui::ModalKind::MessageBox);
    EXPECT_EQ(shown.back().type, ui::MsgType::Error);
    EXPECT_EQ(shown.back().text, "Unable to write to " + unwritable);
    EXPECT_TRUE(std::filesystem::is_empty(dir.dir()));
}

} // namespace
