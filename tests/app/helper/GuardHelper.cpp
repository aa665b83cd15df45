// A small program with a single-instance guard, started as separate processes
// by the guard tests. Usage: kes_guard_helper MODE APPNAME
//   first       runs until killed; its window starts minimised and every
//               time it is brought back it prints "RESTORED" and minimises again
//   second      like the main window's activation step: switches to the
//               running copy when there is one
//   terminate   AlwaysTerminate true: ends in Loaded without switching
//   switch      AlwaysSwitchToPreviousInstance true: switches in Loaded
// Every message box is answered OK and printed as "MESSAGE <text>".
#include "app/glrunone.h"
#include "ui/Application.h"
#include "ui/Modal.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <string>

namespace {
void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    ui::Application app(argc, argv);
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    ui::setModalAnswerer([](const ui::ModalRequest& r) {
        say("MESSAGE " + r.text);
        return ui::ModalAnswer(ui::mrOk);
    });

    QWidget owner;
    owner.setGeometry(100, 100, 200, 100);
    TGLRunOnce guard(&owner);
    guard.SetAppName(argv[2]);
    guard.SetAlwaysTerminate(mode == "terminate");
    guard.SetAlwaysSwitchToPreviousInstance(mode == "switch");
    guard.Loaded();
    say(std::string("RUNNING ") + (guard.AlreadyRunning() ? "1" : "0"));

    QTimer safety;
    QObject::connect(&safety, &QTimer::timeout, &safety, [] { QCoreApplication::exit(3); });
    QTimer watch;
    if (mode == "first") {
        owner.show();
        owner.showMinimized();
        QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
            if (owner.isMinimized()) return;
            say("RESTORED");
            owner.showMinimized();
        });
        watch.start(20);
        say("READY");
    } else {
        if (!guard.AlreadyRunning()) return 0; // runs normally; nothing more to see
        // "second" switches from a shown window, as the main window's activation
        // does; the other modes have already acted in Loaded.
        if (mode == "second") {
            owner.show();
            guard.SwitchToPreviousInstance();
        }
        safety.start(10000);
    }
    const int code = app.exec();
    // The window's outer top-left corner (frame included) and its inner size,
    // and the size of the screen it was hidden beyond.
    const QPoint corner = owner.frameGeometry().topLeft();
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    say("EXIT " + std::to_string(code) + " terminated=" + (ui::terminationRequested() ? "1" : "0") +
        " place=" + std::to_string(corner.x()) + "," + std::to_string(corner.y()) + "," +
        std::to_string(owner.width()) + "," + std::to_string(owner.height()) +
        " screen=" + std::to_string(screen.width()) + "," + std::to_string(screen.height()));
    return code;
}
