// kesprep: prepares the upload file of placement-test results for Kestal.
// The program takes no options of its own (Qt's own, such as -platform, are
// understood by Qt and everything else is ignored).
#include "app/KesPrepu.h"
#include "app/Version.h"
#include "ui/Application.h"

#include <QIcon>

int main(int argc, char** argv) {
    ui::Application application(argc, argv);
    ui::setApplicationTitle("Prepare ORVA Upload File for Kestal");
    QApplication::setApplicationVersion(QStringLiteral(KES_VERSION));
    // The installed desktop entry and icon (kesprep.desktop, the hicolor
    // theme's kesprep); on Windows the windows take the icon of the .exe.
    QGuiApplication::setDesktopFileName(QStringLiteral("kesprep"));
    const QIcon icon = QIcon::fromTheme(QStringLiteral("kesprep"));
    if (!icon.isNull()) QApplication::setWindowIcon(icon);

    TKesPrepMainForm mainForm;
    mainForm.show();
    return application.exec();
}
