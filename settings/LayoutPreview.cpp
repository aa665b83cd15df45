#include "settings/LayoutPreview.h"

#include "ui/Modal.h"

ui::ReportSetup LayoutReportSetup() {
    ui::ReportSetup setup;
    setup.previewTitle = QString::fromLatin1(kLayoutPreviewTitle);
    setup.statusTitle = QString::fromLatin1(kReportStatusTitle);
    setup.generatingText = QString::fromLatin1(kReportGeneratingText);
    setup.printingText = QString::fromLatin1(kReportPrintingText);
    setup.jobTitle = QString::fromLatin1(kReportJobTitle);
    setup.documentTitle = QString::fromLatin1(kLayoutReportTitle);
    return setup;
}

void ShowLayoutReport(QWidget* owner, int fileFormat, bool attempt, bool subscores, bool panda,
                      bool siteCode) {
    LayoutReportChoices choices;
    choices.FileFormat = fileFormat;
    choices.IncludeAttempted = attempt;
    choices.IncludeSubscores = subscores;
    choices.IncludePandA = panda;
    choices.IncludeSiteCode = siteCode;
    ui::ReportPreview preview(owner, LayoutReportSetup(), [choices](kes::ReportSurface& surface) {
        ReportSystem1Print(surface, choices);
    });
    ui::execModal(preview, ui::ModalKind::ReportPreview);
}
