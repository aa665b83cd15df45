// What the windows ask of the desktop on Windows: the program-wide mutex that
// tells a second copy of the program from the first, the registered message
// that asks the first copy to come forward, and bringing a window to the
// front. Elsewhere the windows use Qt's own means, and these do nothing.
#pragma once

#include <cstdint>
#include <string>

namespace kes::os::desktop {

// Creates (or opens) the mutex named `name` and keeps its handle in
// `handle` until closeInstanceMutex; the mutex exists while a handle is open.
// True when it did not exist yet: this is the first copy.
bool acquireInstanceMutex(const std::string& name, std::uintptr_t& handle);
void closeInstanceMutex(std::uintptr_t handle);

// The message number the system gives `name` (the same in every process), or
// 0 where there are no registered messages.
unsigned registerMessage(const std::string& name);

// Sends message `id` to every top-level window of the desktop.
void broadcastMessage(unsigned id);

// Brings the window with the native handle `window` to the front.
void bringToFront(std::uintptr_t window);

// A message taken from the event queue, read from the native message
// structure `nativeMessage` points at; false when there is none here.
struct QueuedMessage {
    unsigned id = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};
bool readQueuedMessage(const void* nativeMessage, QueuedMessage& out);

} // namespace kes::os::desktop
