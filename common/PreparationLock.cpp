#include "common/PreparationLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace {

struct Held {
    int fd = -1;
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
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        gHeld.erase(key_);
        throw std::runtime_error("Cannot create the preparation lock " + path + " (" +
                                 std::strerror(error) + ").");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        gHeld.erase(key_);
        if (error == EWOULDBLOCK)
            throw EPreparationBusy("Another preparation is running on the data folder " + dataDir +
                                   ". Try again when it has finished.");
        throw std::runtime_error("Cannot take the preparation lock " + path + " (" +
                                 std::strerror(error) + ").");
    }
    held.fd = fd;
    held.users = 1;
}

PreparationLock::~PreparationLock() {
    std::lock_guard<std::mutex> guard(gHeldMutex);
    auto it = gHeld.find(key_);
    if (it == gHeld.end()) return;
    if (--it->second.users > 0) return;
    ::close(it->second.fd); // also releases the lock
    gHeld.erase(it);
}
