#include "app/glrunone.h"

#include "os/Os.h"
#include "ui/Modal.h"

#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QScreen>
#include <QWidget>

#include "os/Desktop.h"

#ifndef _WIN32
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#endif

TGLRunOnce::TGLRunOnce(QWidget* owner) : QObject(owner), owner_(owner) {
    alwaysTerminate_ = true;
    appName_ = ui::applicationTitle();
    errorMessage_ = "This application is already running!";
    showErrorMessage_ = true;
    previousHandler_ = ui::applicationMessageHandler();
    ui::setApplicationMessageHandler(
        [this](ui::AppMessage& message, bool& handled) { AppMessageHook(message, handled); });
}

TGLRunOnce::~TGLRunOnce() {
    ui::setApplicationMessageHandler(previousHandler_);
    kes::os::desktop::closeInstanceMutex(instanceMutex_);
}

void TGLRunOnce::SetAlwaysSwitchToPreviousInstance(bool value) {
    alwaysSwitch_ = value;
    if (value) alwaysTerminate_ = true;
}

void TGLRunOnce::Loaded() {
    if (loaded_) return;
    loaded_ = true;
    if (appName_.empty()) {
        appName_ = ui::applicationTitle();
        if (appName_.empty()) appName_ = ui::executableName();
    }
    switchMessage_ = ui::registerWindowMessage(appName_);
    alreadyRunning_ = !acquireInstanceLock();
    if (!alreadyRunning_) {
        listenForSwitchMessages();
        return;
    }
    if (showErrorMessage_) ui::messageBox(ui::MsgType::Error, ui::MsgButtons::Ok, errorMessage_);
    if (alwaysSwitch_) {
        SwitchToPreviousInstance();
    } else if (alwaysTerminate_) {
        HideOwnerForm();
        ui::requestTermination();
    }
}

void TGLRunOnce::SwitchToPreviousInstance() {
    HideOwnerForm();
    postSwitchMessage();
    ui::requestTermination();
}

void TGLRunOnce::HideOwnerForm() {
    if (!owner_ || !owner_->isWindow()) return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize(0, 0);
    // A fixed-size window would refuse the zero size.
    owner_->setMinimumSize(0, 0);
    owner_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    // Height and width first, then the top and left edges of the window
    // itself (its frame, where the window system draws one).
    owner_->resize(0, 0);
    owner_->move(screenSize.width() + 1, screenSize.height() + 1);
}

void TGLRunOnce::AppMessageHook(ui::AppMessage& message, bool& handled) {
    if (switchMessage_ != 0 && message.message == switchMessage_) {
        bringOwnerToFront();
        handled = true;
        return;
    }
    if (previousHandler_) previousHandler_(message, handled);
}

void TGLRunOnce::bringOwnerToFront() {
    if (!owner_) return;
    QWidget* window = owner_->window();
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
#ifdef _WIN32
    // Asking for the native handle makes one; elsewhere Qt's raise() is all.
    kes::os::desktop::bringToFront(static_cast<std::uintptr_t>(window->winId()));
#endif
}

#ifdef _WIN32

bool TGLRunOnce::acquireInstanceLock() {
    return kes::os::desktop::acquireInstanceMutex(appName_, instanceMutex_);
}

void TGLRunOnce::postSwitchMessage() {
    kes::os::desktop::broadcastMessage(switchMessage_);
}

void TGLRunOnce::listenForSwitchMessages() {
    // The registered window message reaches the application's message event
    // through the native event filter of ui::Application.
}

#else

namespace {

// AppName made safe as a file name: letters, digits, ".", "_" and "-" stay,
// every other byte is written %XX.
QString encodedName(const std::string& name) {
    QString out;
    for (unsigned char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '_' || c == '-')
            out += QChar(c);
        else
            out += QString("%%1").arg(c, 2, 16, QChar('0')).toUpper();
    }
    return out;
}

QString guardPath(const std::string& appName, const char* suffix) {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return dir + '/' + encodedName(appName) + QLatin1String(suffix);
}

constexpr int kChannelTimeoutMs = 2000;

} // namespace

bool TGLRunOnce::acquireInstanceLock() {
    const std::string path = guardPath(appName_, ".lock").toStdString();
    kes::os::File file;
    kes::os::Status opened = kes::os::File::openReadWrite(path, file);
    if (opened.kind() == kes::os::ErrorKind::NotFound)
        opened = kes::os::File::createExclusive(path, file);
    if (opened.kind() == kes::os::ErrorKind::Exists) // created meanwhile by another copy
        opened = kes::os::File::openReadWrite(path, file);
    // A lock that cannot be had, for whatever reason, counts as a running copy.
    if (!opened.ok() || !file.lock(kes::os::LockKind::Exclusive).ok()) return false;
    // Kept open: the lock lasts as long as the guard.
    instanceLock_ = std::move(file);
    return true;
}

void TGLRunOnce::postSwitchMessage() {
    QLocalSocket socket;
    socket.connectToServer(guardPath(appName_, ".switch"));
    if (!socket.waitForConnected(kChannelTimeoutMs)) return; // lost, as a posted message may be
    socket.write(QByteArray::fromStdString(appName_) + '\n');
    socket.waitForBytesWritten(kChannelTimeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kChannelTimeoutMs);
}

void TGLRunOnce::listenForSwitchMessages() {
    const QString channel = guardPath(appName_, ".switch");
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file left there belongs to a copy that has ended.
    QLocalServer::removeServer(channel);
    if (!server_->listen(channel)) return;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            auto drain = [socket] {
                while (socket->canReadLine()) {
                    const QByteArray name = socket->readLine().trimmed();
                    ui::AppMessage message;
                    message.message = ui::registerWindowMessage(name.toStdString());
                    ui::guarded(nullptr, [&] { ui::deliverApplicationMessage(message); });
                }
            };
            connect(socket, &QLocalSocket::readyRead, this, drain);
            drain();
        }
    });
}

#endif
