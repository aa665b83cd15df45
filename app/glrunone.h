// TGLRunOnce: the single-instance guard. Placed on the main window, it finds
// out when it is loaded whether another copy of the program is running,
// through a system-wide lock named after AppName. It can tell the operator,
// and it can make this copy hand over: hide its window, ask the running copy
// (through a message named after AppName) to restore itself and come to the
// front, and end.
//
// On Windows the lock is a named mutex and the message a registered window
// message broadcast to all top-level windows. Elsewhere the lock is an
// advisory file lock (flock) on "<AppName>.lock" in the user's runtime
// directory, which the system drops when the process ends however it ends,
// so a crash never blocks the next start; the message travels over a local
// socket "<AppName>.switch" in the same directory, on which the first copy
// listens and hands each message to the application's message event.
#pragma once

#include "ui/Application.h"

#include <QObject>

#include "os/Os.h"

#include <cstdint>
#include <string>

class QLocalServer;
class QWidget;

class TGLRunOnce : public QObject {
    Q_OBJECT
  public:
    // Sets the defaults and installs AppMessageHook as the application's
    // message handler.
    explicit TGLRunOnce(QWidget* owner);
    // Puts the message handler that was installed before back and lets go of
    // the instance lock: the guard lives as long as the main window, which
    // lives as long as the program.
    ~TGLRunOnce() override;

    bool AlwaysSwitchToPreviousInstance() const { return alwaysSwitch_; }
    // Setting it to true also sets AlwaysTerminate to true.
    void SetAlwaysSwitchToPreviousInstance(bool value);
    bool AlwaysTerminate() const { return alwaysTerminate_; }
    void SetAlwaysTerminate(bool value) { alwaysTerminate_ = value; }
    const std::string& AppName() const { return appName_; }
    void SetAppName(const std::string& value) { appName_ = value; }
    const std::string& ErrorMessage() const { return errorMessage_; }
    void SetErrorMessage(const std::string& value) { errorMessage_ = value; }
    bool ShowErrorMessage() const { return showErrorMessage_; }
    void SetShowErrorMessage(bool value) { showErrorMessage_ = value; }

    // True when a running copy was found at load time.
    bool AlreadyRunning() const { return alreadyRunning_; }
    // The message identifier registered under AppName.
    unsigned SwitchMessage() const { return switchMessage_; }

    // Runs once, after the owner's properties are set: performs the check.
    virtual void Loaded();
    // Hides the owner, asks the running copy to come to the front and
    // requests this copy's termination.
    virtual void SwitchToPreviousInstance();
    // Moves the owner window out of sight with a size of zero.
    void HideOwnerForm();
    // The application's message handler while the component lives.
    void AppMessageHook(ui::AppMessage& message, bool& handled);

  private:
    bool acquireInstanceLock();
    void postSwitchMessage();
    void listenForSwitchMessages();
    void bringOwnerToFront();

    QWidget* owner_;
    bool alwaysSwitch_ = false;
    bool alwaysTerminate_ = true;
    std::string appName_;
    std::string errorMessage_;
    bool showErrorMessage_ = true;
    bool alreadyRunning_ = false;
    unsigned switchMessage_ = 0;
    bool loaded_ = false;
    ui::AppMessageHandler previousHandler_;
    QLocalServer* server_ = nullptr;
    // What keeps "this copy runs" known to the others while the guard lives.
    std::uintptr_t instanceMutex_ = 0; // Windows
    kes::os::File instanceLock_;       // elsewhere
};
