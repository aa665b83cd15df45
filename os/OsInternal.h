// What the shared part of the OS layer and each platform's part need from
// each other: File's handle, and the few calls that differ by platform.
#pragma once

#include "os/Os.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace kes::os::detail {

// File's handle when no file is open.
inline constexpr intptr_t kNoHandle = -1;

// What each platform's part may do to a File.
struct FileAccess {
    static void assign(File& file, intptr_t handle, const std::string& path) {
        file.handle_ = handle;
        file.locked_ = false;
        file.path_ = path;
    }
    static intptr_t handle(const File& file) { return file.handle_; }
};

// Releases the lock taken through `handle`.
void releaseLock(intptr_t handle);
// Closes `handle`; a failure names `path`.
Status closeHandle(intptr_t handle, const std::string& path);

// Flushes the folder that holds `path`, so that a rename in it is on the
// disk too. Does nothing where the platform offers no such thing.
void syncDirectoryOf(const std::string& path);
// Gives the new file the permissions of the file it will replace, when that
// exists and the platform keeps such permissions.
void adoptPermissions(File& replacement, const std::string& target);
// True for the separators of the platform's paths.
bool isSeparator(char c);

// The replace routine's temporaries that exist at this moment, so that a
// termination request can remove them before the program ends. A slot is
// written by the thread that creates the temporary and read by the handler
// of the request, which may run at any moment (a signal) or on a thread of
// its own (Windows): a path is readable once its slot is marked live.
inline constexpr int kLiveTemporarySlots = 64;
inline constexpr size_t kLiveTemporaryPathMax = 4096;
struct LiveTemporary {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 live
    char path[kLiveTemporaryPathMax];
};
extern LiveTemporary liveTemporaries[kLiveTemporarySlots];

// FaultInjectionForTesting: true while one lives. Each platform's calls that
// WritePoint lists begin with
//   if (detail::faultInjectionArmed())
//       if (Status s = detail::injectedFault(point, path, "Cannot write"); !s.ok()) return s;
extern std::atomic<bool> g_faultInjectionArmed;
inline bool faultInjectionArmed() {
    return g_faultInjectionArmed.load(std::memory_order_relaxed);
}
// Counts the point and returns the failure to give there, or ok. `verb`
// begins the message as the call's own failures do ("Cannot write").
Status injectedFault(WritePoint point, const std::string& path, const char* verb);

} // namespace kes::os::detail
