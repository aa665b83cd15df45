// The application-wide services of the user interface: the hourglass cursor,
// letting pending window events run, the termination request, the general
// error report for exceptions that escape an event handler, the application's
// title, and the application's message event (a handler that sees the
// messages the event loop takes from the queue and may mark them handled).
#pragma once

#include <QApplication>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace ui {

// The application object of the program. Any exception that escapes an event
// handler ends that handler, is shown by the general error report and the
// program goes on.
class Application : public QApplication {
  public:
    Application(int& argc, char** argv);
    ~Application() override;
    bool notify(QObject* receiver, QEvent* event) override;
};

// The general error report: an error message box with the exception's text.
void reportException(const std::exception& error, QWidget* parent = nullptr);
void reportUnknownException(QWidget* parent = nullptr);

// Runs an event handler; an exception it raises is shown by the general error
// report and goes no further. Every slot of the program's windows runs
// through this.
template <class Handler> void guarded(QWidget* parent, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        reportException(error, parent);
    } catch (...) {
        reportUnknownException(parent);
    }
}

// The hourglass for the lifetime of the object; the cursor that was in force
// before comes back on every path out of the scope.
class HourglassCursor {
  public:
    HourglassCursor();
    ~HourglassCursor();
    HourglassCursor(const HourglassCursor&) = delete;
    HourglassCursor& operator=(const HourglassCursor&) = delete;

  private:
    bool previous_;
};

// The program-wide mouse cursor: the hourglass (true) or the normal one.
void setHourglass(bool on);
bool hourglassShown();

// Lets pending window events run (repaints, input) and returns.
void processEvents();

// Asks the application to end. It takes effect when control returns to the
// event loop (also when the loop has not started yet); the current handler
// runs on.
void requestTermination();
bool terminationRequested();
// For tests that request termination and go on in the same process.
void clearTerminationRequest();

// The application's title (the name of the single-instance guard). Every
// window shows its own caption alone; the title is not added to them.
void setApplicationTitle(const std::string& title);
std::string applicationTitle();
// The executable's file name without its directory.
std::string executableName();

// The application's message event.
struct AppMessage {
    unsigned message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};
using AppMessageHandler = std::function<void(AppMessage& message, bool& handled)>;

AppMessageHandler applicationMessageHandler();
void setApplicationMessageHandler(AppMessageHandler handler);
// Hands a message to the application's handler as the event loop does with
// every message it takes from the queue; true when the handler marked it handled.
bool deliverApplicationMessage(AppMessage& message);

// The message identifier registered under a name; the same name gives the
// same identifier. On Windows this is the system's registered window message;
// elsewhere the identifier is local to the process and other processes reach
// it by name (see the single-instance guard).
unsigned registerWindowMessage(const std::string& name);

} // namespace ui
