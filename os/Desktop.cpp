#include "os/Desktop.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kes::os::desktop {

#ifdef _WIN32

bool acquireInstanceMutex(const std::string& name, std::uintptr_t& handle) {
    // Ownership is given up at once; the open handle keeps the mutex in being.
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
    const bool found = GetLastError() != 0;
    if (mutex) ReleaseMutex(mutex);
    handle = reinterpret_cast<std::uintptr_t>(mutex);
    return !found;
}

void closeInstanceMutex(std::uintptr_t handle) {
    if (handle) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

unsigned registerMessage(const std::string& name) {
    return RegisterWindowMessageA(name.c_str());
}

void broadcastMessage(unsigned id) {
    PostMessageA(HWND_BROADCAST, id, 0, 0);
}

void bringToFront(std::uintptr_t window) {
    SetForegroundWindow(reinterpret_cast<HWND>(window));
}

bool readQueuedMessage(const void* nativeMessage, QueuedMessage& out) {
    if (!nativeMessage) return false;
    const MSG* msg = static_cast<const MSG*>(nativeMessage);
    out.id = msg->message;
    out.wParam = static_cast<std::uintptr_t>(msg->wParam);
    out.lParam = static_cast<std::intptr_t>(msg->lParam);
    return true;
}

#else

bool acquireInstanceMutex(const std::string&, std::uintptr_t& handle) {
    handle = 0;
    return true;
}

void closeInstanceMutex(std::uintptr_t) {}

unsigned registerMessage(const std::string&) {
    return 0;
}

void broadcastMessage(unsigned) {}

void bringToFront(std::uintptr_t) {}

bool readQueuedMessage(const void*, QueuedMessage&) {
    return false;
}

#endif

} // namespace kes::os::desktop
