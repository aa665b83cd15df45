#include "ui/Application.h"

#include "ui/Modal.h"

#include <QCursor>
#include <QFileInfo>
#include <QMetaObject>

#include <map>

#include "os/Desktop.h"

#ifdef _WIN32
#include <QAbstractNativeEventFilter>
#endif

namespace ui {

namespace {

struct AppState {
    std::string title;
    bool terminationRequested = false;
    bool hourglass = false;
    AppMessageHandler messageHandler;
    std::map<std::string, unsigned> registeredMessages;
};

AppState& state() {
    static AppState s;
    return s;
}

#ifdef _WIN32
// Feeds every message the event loop takes from the queue to the
// application's message handler.
class MessageEventFilter : public QAbstractNativeEventFilter {
  public:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "windows_generic_MSG") return false;
        kes::os::desktop::QueuedMessage queued;
        if (!kes::os::desktop::readQueuedMessage(message, queued)) return false;
        AppMessage m{queued.id, queued.wParam, queued.lParam};
        return deliverApplicationMessage(m);
    }
};
#endif

} // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
#ifdef _WIN32
    static MessageEventFilter filter;
    installNativeEventFilter(&filter);
#endif
}

Application::~Application() = default;

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        reportException(error);
    } catch (...) {
        reportUnknownException();
    }
    return false;
}

void reportException(const std::exception& error, QWidget* parent) {
    try {
        messageBox(MsgType::Error, MsgButtons::Ok, error.what(), parent);
    } catch (...) {
        // The report itself must never throw out of an event handler.
    }
}

void reportUnknownException(QWidget* parent) {
    try {
        messageBox(MsgType::Error, MsgButtons::Ok, "An unexpected error occurred.", parent);
    } catch (...) {
    }
}

HourglassCursor::HourglassCursor() : previous_(hourglassShown()) {
    setHourglass(true);
}

HourglassCursor::~HourglassCursor() {
    setHourglass(previous_);
}

void setHourglass(bool on) {
    AppState& s = state();
    if (on == s.hourglass) return;
    s.hourglass = on;
    if (!qApp) return;
    if (on)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QApplication::restoreOverrideCursor();
}

bool hourglassShown() {
    return state().hourglass;
}

void processEvents() {
    QCoreApplication::processEvents();
}

void requestTermination() {
    state().terminationRequested = true;
    // Queued, so that it takes effect when control is back in the event loop,
    // and also when the loop is only about to start.
    if (qApp) QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

bool terminationRequested() {
    return state().terminationRequested;
}

void clearTerminationRequest() {
    state().terminationRequested = false;
}

void setApplicationTitle(const std::string& title) {
    // Kept here, not as Qt's application display name: the Windows and X11
    // platforms append that name to every window's title ("Select Records -
    // Prepare ORVA Upload File for Kestal"), where each window must show its
    // own caption alone.
    state().title = title;
}

std::string applicationTitle() {
    return state().title;
}

std::string executableName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
}

AppMessageHandler applicationMessageHandler() {
    return state().messageHandler;
}

void setApplicationMessageHandler(AppMessageHandler handler) {
    state().messageHandler = std::move(handler);
}

bool deliverApplicationMessage(AppMessage& message) {
    bool handled = false;
    AppMessageHandler handler = state().messageHandler;
    if (handler) handler(message, handled);
    return handled;
}

unsigned registerWindowMessage(const std::string& name) {
#ifdef _WIN32
    return kes::os::desktop::registerMessage(name);
#else
    // Registered identifiers lie in the same range as on Windows.
    auto& table = state().registeredMessages;
    auto found = table.find(name);
    if (found != table.end()) return found->second;
    unsigned id = 0xC000u + static_cast<unsigned>(table.size());
    table.emplace(name, id);
    return id;
#endif
}

} // namespace ui
