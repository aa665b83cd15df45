// "Print File Format" of the settings dialog: the upload layout report for the
// choices now on the dialog's Options page, in the modal preview "Response
// File Format", from which it is printed or saved as PDF.
#pragma once

#include "settings/core/LayoutReport.h"
#include "ui/ReportPreview.h"

class QWidget;

// The preview's setup: its titles, status texts and print job name.
ui::ReportSetup LayoutReportSetup();

// Generates the report (with the status window) and shows the preview modally;
// returns when the operator closes it.
void ShowLayoutReport(QWidget* owner, int fileFormat, bool attempt, bool subscores, bool panda,
                      bool siteCode);
