#include "common/PreparationLock.h"

#include "os/Os.h"

#include <filesystem>
#include <map>
#include <mutex>

namespace {

struct Held {
    kes::os::File file;
    int users = 0;
};

// The locks this process holds, by data folder as the file system resolves it.
std::mutex gHeldMutex;
std::map<std::string, Held> gHeld;

std::string keyOf(const std::string& dataDir) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::weakly_canonical(dataDir, ec);
    return ec ? dataDir : p.string();
}

} // namespace

PreparationLock::PreparationLock(const std::string& dataDir) : key_(keyOf(dataDir)) {
    std::lock_guard<std::mutex> guard(gHeldMutex);
    Held& held = gHeld[key_];
    if (held.users > 0) {
        ++held.users;
        return;
    }
    const std::string path = dataDir + kFileName;
    // Never through a symbolic link: the lock file is ours alone.
    kes::os::File file;
    const kes::os::Status opened = kes::os::File::openOrCreate(path, file);
    if (!opened.ok()) {
        gHeld.erase(key_);
        throw std::runtime_error("Cannot create the preparation lock " + path + " (" +
                                 opened.reason() + ").");
    }
    const kes::os::Status locked = file.lock(kes::os::LockKind::Exclusive);
    if (!locked.ok()) {
        file.close();
        gHeld.erase(key_);
        if (locked.kind() == kes::os::ErrorKind::LockConflict)
            throw EPreparationBusy("Another preparation is running on the data folder " + dataDir +
                                   ". Try again when it has finished.");
        throw std::runtime_error("Cannot take the preparation lock " + path + " (" +
                                 locked.reason() + ").");
    }
    held.file = std::move(file);
    held.users = 1;
}

PreparationLock::~PreparationLock() {
    std::lock_guard<std::mutex> guard(gHeldMutex);
    auto it = gHeld.find(key_);
    if (it == gHeld.end()) return;
    if (--it->second.users > 0) return;
    it->second.file.close(); // releases the lock, then closes
    gHeld.erase(it);
}
