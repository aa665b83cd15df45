// kesprep: prepares the upload file of placement-test results for Kestal.
// The program takes no options of its own (Qt's own, such as -platform, are
// understood by Qt and everything else is ignored).
#include "app/KesPrepu.h"
#include "ui/Application.h"

int main(int argc, char** argv) {
    ui::Application application(argc, argv);
    ui::setApplicationTitle("Prepare ORVA Upload File for Kestal");

    TKesPrepMainForm mainForm;
    mainForm.show();
    return application.exec();
}
