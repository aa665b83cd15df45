// The OS layer on Linux and other POSIX systems.
#ifndef _WIN32

#include "os/Os.h"
#include "os/OsInternal.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kes::os {

namespace {

ErrorKind kindOf(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ErrorKind::NotFound;
    case EEXIST:
        return ErrorKind::Exists;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return ErrorKind::AccessDenied;
    case EWOULDBLOCK:
        return ErrorKind::LockConflict;
    default:
        return ErrorKind::Other;
    }
}

Status failure(const std::string& what, int error = errno) {
    std::string reason = std::strerror(error);
    return Status(kindOf(error), what + ": " + reason).withReason(reason);
}

int fdOf(intptr_t handle) {
    return static_cast<int>(handle);
}

Status openWith(const std::string& path, int flags, File& out, const char* verb) {
    out.close();
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return failure(std::string("Cannot ") + verb + " " + path);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Status(ErrorKind::Other,
                      std::string("Cannot ") + verb + " " + path + ": it is a folder")
            .withReason("it is a folder");
    }
    detail::FileAccess::assign(out, fd, path);
    return Status();
}

} // namespace

namespace detail {

bool isSeparator(char c) {
    return c == '/';
}

void syncDirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void adoptPermissions(File& replacement, const std::string& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    // Best effort: a file we may replace but not chmod keeps our default.
    if (replacement.isOpen()) ::chmod(replacement.path().c_str(), st.st_mode & 07777);
}

} // namespace detail

// File ----------------------------------------------------------------------

Status File::openRead(const std::string& path, File& out) {
    return openWith(path, O_RDONLY, out, "open");
}

Status File::openReadWrite(const std::string& path, File& out) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::OpenForWriting, path, "Cannot open");
            !s.ok())
            return s;
    return openWith(path, O_RDWR, out, "open");
}

Status File::createExclusive(const std::string& path, File& out) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Create, path, "Cannot create"); !s.ok())
            return s;
    return openWith(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, out, "create");
}

Status File::openOrCreate(const std::string& path, File& out) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Create, path, "Cannot open"); !s.ok())
            return s;
    return openWith(path, O_RDWR | O_CREAT | O_NOFOLLOW, out, "open");
}

Status File::createOrTruncate(const std::string& path, File& out) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Create, path, "Cannot create"); !s.ok())
            return s;
    return openWith(path, O_WRONLY | O_CREAT | O_TRUNC, out, "create");
}

Status File::readAt(uint64_t offset, void* buffer, size_t size) const {
    char* p = static_cast<char*>(buffer);
    while (size > 0) {
        if (offset > static_cast<uint64_t>(INT64_MAX))
            return Status(ErrorKind::EndOfFile, "Cannot read " + path_ + ": offset out of range");
        ssize_t n = ::pread(fdOf(handle_), p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failure("Cannot read " + path_);
        if (n == 0)
            return Status(ErrorKind::EndOfFile, "Cannot read " + path_ + ": the file ends early")
                .withReason("the file ends early");
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return Status();
}

Status File::writeAt(uint64_t offset, const void* data, size_t size) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Write, path_, "Cannot write"); !s.ok())
            return s;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::pwrite(fdOf(handle_), p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failure("Cannot write " + path_);
        if (n == 0) return failure("Cannot write " + path_, ENOSPC);
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return Status();
}

Status File::size(uint64_t& out) const {
    struct stat st {};
    if (::fstat(fdOf(handle_), &st) != 0) return failure("Cannot read the size of " + path_);
    out = static_cast<uint64_t>(st.st_size);
    return Status();
}

Status File::truncate(uint64_t length) {
    if (detail::faultInjectionArmed())
        if (Status s =
                detail::injectedFault(WritePoint::SetLength, path_, "Cannot set the length of");
            !s.ok())
            return s;
    if (::ftruncate(fdOf(handle_), static_cast<off_t>(length)) != 0)
        return failure("Cannot set the length of " + path_);
    return Status();
}

Status File::sync() {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Flush, path_, "Cannot flush"); !s.ok())
            return s;
    if (::fsync(fdOf(handle_)) != 0) return failure("Cannot flush " + path_ + " to disk");
    return Status();
}

void File::startWriteBack(uint64_t offset, uint64_t size) {
#ifdef SYNC_FILE_RANGE_WRITE
    ::sync_file_range(fdOf(handle_), static_cast<off_t>(offset), static_cast<off_t>(size),
                      SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)size;
#endif
}

Status File::lock(LockKind kind) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Lock, path_, "Cannot lock"); !s.ok())
            return s;
    const int op = (kind == LockKind::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    int rc;
    do {
        rc = ::flock(fdOf(handle_), op);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno == EWOULDBLOCK)
            return Status(ErrorKind::LockConflict, "Cannot lock " + path_ + ": it is in use")
                .withReason("it is in use");
        return failure("Cannot lock " + path_);
    }
    locked_ = true;
    return Status();
}

namespace detail {

void releaseLock(intptr_t handle) {
    ::flock(fdOf(handle), LOCK_UN);
}

Status closeHandle(intptr_t handle, const std::string& path) {
    if (::close(fdOf(handle)) != 0 && errno != EINTR) return failure("Cannot close " + path);
    return Status();
}

} // namespace detail

// Files and folders -----------------------------------------------------------

FileKind fileKind(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return FileKind::Missing;
    if (S_ISREG(st.st_mode)) return FileKind::Regular;
    if (S_ISDIR(st.st_mode)) return FileKind::Directory;
    return FileKind::Other;
}

bool isMarkedReadOnly(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

Status listDirectory(const std::string& directory, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) return failure("Cannot list the folder " + directory);
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(dir);
    return Status();
}

Status removeFile(const std::string& path) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Remove, path, "Cannot delete"); !s.ok())
            return s;
    if (::unlink(path.c_str()) != 0) return failure("Cannot delete " + path);
    return Status();
}

Status createDirectory(const std::string& path) {
    if (detail::faultInjectionArmed())
        if (Status s =
                detail::injectedFault(WritePoint::MakeFolder, path, "Cannot create the folder");
            !s.ok())
            return s;
    if (::mkdir(path.c_str(), 0777) != 0) {
        if (errno == EEXIST && fileKind(path) == FileKind::Directory) return Status();
        return failure("Cannot create the folder " + path);
    }
    return Status();
}

Status renameReplacing(const std::string& from, const std::string& to) {
    if (detail::faultInjectionArmed())
        if (Status s =
                detail::injectedFault(WritePoint::Rename, from + " to " + to, "Cannot rename");
            !s.ok())
            return s;
    if (::rename(from.c_str(), to.c_str()) != 0)
        return failure("Cannot rename " + from + " to " + to);
    return Status();
}

// Memory ----------------------------------------------------------------------

void* allocatePages(size_t size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void* growPages(void* data, size_t oldSize, size_t newSize) {
#if defined(MREMAP_MAYMOVE) && defined(MREMAP_FIXED)
    // In place when the addresses after it are free; otherwise the pages move
    // (their tables, not their bytes) into a fresh mapping, which the system
    // places where huge pages can start, as it does not for a plain move.
    void* p = ::mremap(data, oldSize, newSize, 0);
    if (p != MAP_FAILED) return p;
    void* target = allocatePages(newSize);
    if (!target) return nullptr;
    p = ::mremap(data, oldSize, newSize, MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (p == MAP_FAILED) {
        freePages(target, newSize);
        return nullptr;
    }
    return p;
#else
    void* p = allocatePages(newSize);
    if (!p) return nullptr;
    std::memcpy(p, data, oldSize < newSize ? oldSize : newSize);
    freePages(data, oldSize);
    return p;
#endif
}

void freePages(void* data, size_t size) {
    if (data) ::munmap(data, size);
}

void returnFreedMemoryPromptly() {
#if defined(__GLIBC__)
    // Setting the limit also turns off its raising; 128 KB is where it starts.
    static const bool fixed = ::mallopt(M_MMAP_THRESHOLD, 128 * 1024) == 1;
    (void)fixed;
#endif
}

const void* mapFileForReading(const File& file, size_t size) {
    if (size == 0 || !file.isOpen()) return nullptr;
    void* p =
        ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fdOf(detail::FileAccess::handle(file)), 0);
    return p == MAP_FAILED ? nullptr : p;
}

void adviseSmallPages(const void* view, size_t size) {
#ifdef MADV_NOHUGEPAGE
    if (view) ::madvise(const_cast<void*>(view), size, MADV_NOHUGEPAGE);
#else
    (void)view;
    (void)size;
#endif
}

void prepareViewForReading(const void* view, size_t size) {
#ifdef MADV_POPULATE_READ
    if (view && size) ::madvise(const_cast<void*>(view), size, MADV_POPULATE_READ);
#else
    (void)view;
    (void)size;
#endif
}

void unmapFile(const void* view, size_t size) {
    if (view) ::munmap(const_cast<void*>(view), size);
}

void adviseHugePages(void* data, size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr size_t kHugePage = 2u << 20;
    if (size < kHugePage) return;
    uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kHugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

// The process ------------------------------------------------------------------

CalendarTime localTime(std::time_t moment) {
    std::tm tm{};
    ::localtime_r(&moment, &tm);
    CalendarTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    return t;
}

std::string executableDirectory() {
    std::string buffer(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
    buffer.resize(static_cast<size_t>(n));
    return buffer.substr(0, buffer.rfind('/') + 1);
}

std::string temporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    std::string out = dir && *dir ? dir : "/tmp";
    if (out.back() != '/') out += '/';
    return out;
}

std::string environmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

std::string homeDirectory() {
    std::string home = environmentVariable("HOME");
    if (home.empty()) {
        long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
        passwd entry{};
        passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir)
            home = found->pw_dir;
    }
    if (!home.empty() && home.back() != '/') home += '/';
    return home;
}

int processId() {
    return static_cast<int>(::getpid());
}

namespace {

// Only what a signal handler may do: unlink, then the signal's own ending.
void removeLiveTemporariesAndEnd(int signal) {
    for (detail::LiveTemporary& slot : detail::liveTemporaries)
        if (slot.state.load() == 2) ::unlink(slot.path);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(signal, &standard, nullptr);
    ::raise(signal);
}

} // namespace

void removeTemporariesOnTermination() {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction current {};
        // A signal the program was started to ignore stays ignored (nohup).
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        struct sigaction handler {};
        handler.sa_handler = removeLiveTemporariesAndEnd;
        sigemptyset(&handler.sa_mask);
        ::sigaction(signal, &handler, nullptr);
    }
}

std::string userName() {
    // The account of the effective user id; the login variables only where
    // the user database does not know the id (a container's bare uid).
    std::vector<char> buffer(1024);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (found && found->pw_name && *found->pw_name) return found->pw_name;
    for (const char* variable : {"LOGNAME", "USER"})
        if (const char* value = std::getenv(variable); value && *value) return value;
    return {};
}

uint64_t peakResidentMemoryBytes() {
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
#ifdef __APPLE__
    const uint64_t peak = static_cast<uint64_t>(usage.ru_maxrss); // bytes there
#else
    const uint64_t peak = static_cast<uint64_t>(usage.ru_maxrss) * 1024; // kilobytes
#endif
    // The system updates its peak figure now and then, not at every page:
    // what the process holds now may be a little more.
    const uint64_t now = residentMemoryBytes();
    return now > peak ? now : peak;
}

uint64_t residentMemoryBytes() {
    // The second number of /proc/self/statm: resident pages.
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[128];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    unsigned long long size = 0, resident = 0;
    if (std::sscanf(text, "%llu %llu", &size, &resident) != 2) return 0;
    return static_cast<uint64_t>(resident) * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

double processorSeconds() {
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + (argc > 0 ? argc : 0));
}

bool stdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

ProgramEnding runProgramToItsEnd(const std::vector<std::string>& argv, const RunOptions& options) {
    ProgramEnding ending;
    if (argv.empty()) {
        ending.status = Status(ErrorKind::Other, "No program to start");
        return ending;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& [key, value] : options.environment)
            replaced = replaced || key == name;
        if (!replaced) environment.push_back(std::move(entry));
    }
    for (const auto& [key, value] : options.environment)
        environment.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!options.stdoutFile.empty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.stdoutFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (!options.stderrFile.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.stderrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0666);
    pid_t pid = 0;
    const int rc =
        ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ending.status = failure("Cannot start " + argv[0], rc);
        return ending;
    }
    int wstatus = 0;
    if (options.timeoutSeconds > 0) {
        // Looked at every few milliseconds until it ends or its time is up.
        timespec start{};
        ::clock_gettime(CLOCK_MONOTONIC, &start);
        while (true) {
            const pid_t done = ::waitpid(pid, &wstatus, WNOHANG);
            if (done == pid) break;
            if (done < 0 && errno != EINTR) {
                ending.status = failure("Cannot wait for " + argv[0]);
                return ending;
            }
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            const double elapsed = static_cast<double>(now.tv_sec - start.tv_sec) +
                                   static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
            if (elapsed >= options.timeoutSeconds) {
                ::kill(pid, SIGKILL);
                while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
                }
                ending.how = ProgramEnding::How::TimedOut;
                ending.status =
                    Status(ErrorKind::Other, argv[0] + " did not end within " +
                                                 std::to_string(options.timeoutSeconds) +
                                                 " seconds and was stopped");
                return ending;
            }
            timespec pause{0, 5 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
        }
    } else {
        while (::waitpid(pid, &wstatus, 0) < 0)
            if (errno != EINTR) {
                ending.status = failure("Cannot wait for " + argv[0]);
                return ending;
            }
    }
    if (WIFEXITED(wstatus)) {
        ending.how = ProgramEnding::How::Exited;
        ending.exitCode = WEXITSTATUS(wstatus);
        return ending;
    }
    ending.how = ProgramEnding::How::Crashed;
    ending.crash = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    ending.status =
        Status(ErrorKind::Other, argv[0] + " ended by signal " + std::to_string(ending.crash));
    return ending;
}

int runProgram(const std::vector<std::string>& argv, const RunOptions& options, Status* status) {
    ProgramEnding ending = runProgramToItsEnd(argv, options);
    if (ending.how == ProgramEnding::How::Exited) return ending.exitCode;
    if (status) *status = std::move(ending.status);
    return -1;
}

Status createFifoForTesting(const std::string& path) {
    if (::mkfifo(path.c_str(), 0600) != 0) return failure("Cannot create the pipe " + path);
    return Status();
}

FileSizeLimitForTesting::FileSizeLimitForTesting(uint64_t bytes) {
    if (bytes == 0) return;
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    if (::getrlimit(RLIMIT_FSIZE, &saved) != 0) return;
    saved_[0] = saved.rlim_cur;
    saved_[1] = saved.rlim_max;
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(bytes);
    active_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
}

FileSizeLimitForTesting::~FileSizeLimitForTesting() {
    if (!active_) return;
    rlimit saved{};
    saved.rlim_cur = static_cast<rlim_t>(saved_[0]);
    saved.rlim_max = static_cast<rlim_t>(saved_[1]);
    ::setrlimit(RLIMIT_FSIZE, &saved);
}

} // namespace kes::os
#endif
