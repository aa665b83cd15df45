// The OS layer on Windows. Paths arrive as UTF-8 and go to the wide (UTF-16)
// functions; the narrow C runtime would read them in the ANSI code page.
#ifdef _WIN32

#include "os/Os.h"
#include "os/OsInternal.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <psapi.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <io.h>

namespace kes::os {

namespace {

// The lock is one byte far beyond any data: Windows locks are mandatory for
// the bytes they cover, and the engine's own reads and writes through another
// handle must never meet them.
constexpr uint64_t kLockOffset = uint64_t(1) << 62;

// A rename refused for a moment (a virus scanner or an indexer holding the
// file) is tried again for about two seconds.
constexpr int kRenameAttempts = 20;
constexpr DWORD kRenamePauseMs = 100;

// The size limit of FileSizeLimitForTesting; 0 when none.
std::atomic<uint64_t> g_fileSizeLimit{0};

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(const wchar_t* text, size_t size) {
    if (size == 0) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), out.data(), n, nullptr, nullptr);
    return out;
}

std::string narrow(const std::wstring& text) {
    return narrow(text.data(), text.size());
}

ErrorKind kindOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ErrorKind::NotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return ErrorKind::Exists;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return ErrorKind::AccessDenied;
    case ERROR_LOCK_VIOLATION:
        return ErrorKind::LockConflict;
    case ERROR_HANDLE_EOF:
        return ErrorKind::EndOfFile;
    default:
        return ErrorKind::Other;
    }
}

std::string systemText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                   reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = buffer && n ? narrow(buffer, n) : "";
    if (buffer) LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty()) text = "system error " + std::to_string(error);
    return text;
}

Status failure(const std::string& what, DWORD error = GetLastError()) {
    std::string reason = systemText(error);
    return Status(kindOf(error), what + ": " + reason).withReason(reason);
}

HANDLE handleOf(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

Status openWith(const std::string& path, DWORD access, DWORD disposition, DWORD flags, File& out,
                const char* verb) {
    out.close();
    // Others may read, write, rename and delete meanwhile, as on POSIX systems;
    // the locks say who may change a table.
    HANDLE h = CreateFileW(wide(path).c_str(), access,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED && fileKind(path) == FileKind::Directory)
            return Status(ErrorKind::Other,
                          std::string("Cannot ") + verb + " " + path + ": it is a folder")
                .withReason("it is a folder");
        return failure(std::string("Cannot ") + verb + " " + path, error);
    }
    detail::FileAccess::assign(out, reinterpret_cast<intptr_t>(h), path);
    return Status();
}

OVERLAPPED at(uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

} // namespace

namespace detail {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// MOVEFILE_WRITE_THROUGH already waits until the rename is on the disk.
void syncDirectoryOf(const std::string&) {}

// The new file takes its access rights from the folder, as the old one did.
void adoptPermissions(File&, const std::string&) {}

} // namespace detail

// File ----------------------------------------------------------------------

Status File::openRead(const std::string& path, File& out) {
    return openWith(path, GENERIC_READ, OPEN_EXISTING, 0, out, "open");
}

Status File::openReadWrite(const std::string& path, File& out) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::OpenForWriting, path, "Cannot open");
            !s.ok())
            return s;
    return openWith(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, 0, out, "open");
}

Status File::createExclusive(const std::string& path, File& out) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Create, path, "Cannot create"); !s.ok())
            return s;
    return openWith(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT,
                    out, "create");
}

Status File::openOrCreate(const std::string& path, File& out) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Create, path, "Cannot open"); !s.ok())
            return s;
    return openWith(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT,
                    out, "open");
}

Status File::createOrTruncate(const std::string& path, File& out) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Create, path, "Cannot create"); !s.ok())
            return s;
    return openWith(path, GENERIC_WRITE, CREATE_ALWAYS, 0, out, "create");
}

Status File::readAt(uint64_t offset, void* buffer, size_t size) const {
    char* p = static_cast<char*>(buffer);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
        OVERLAPPED o = at(offset);
        DWORD got = 0;
        if (!ReadFile(handleOf(handle_), p, chunk, &got, &o)) {
            const DWORD error = GetLastError();
            if (error != ERROR_HANDLE_EOF) return failure("Cannot read " + path_, error);
            got = 0;
        }
        if (got == 0)
            return Status(ErrorKind::EndOfFile, "Cannot read " + path_ + ": the file ends early")
                .withReason("the file ends early");
        p += got;
        size -= got;
        offset += got;
    }
    return Status();
}

Status File::writeAt(uint64_t offset, const void* data, size_t size) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Write, path_, "Cannot write"); !s.ok())
            return s;
    const uint64_t limit = g_fileSizeLimit.load();
    if (limit != 0 && offset + size > limit)
        return failure("Cannot write " + path_, ERROR_DISK_FULL);
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
        OVERLAPPED o = at(offset);
        DWORD put = 0;
        if (!WriteFile(handleOf(handle_), p, chunk, &put, &o))
            return failure("Cannot write " + path_);
        if (put == 0) return failure("Cannot write " + path_, ERROR_DISK_FULL);
        p += put;
        size -= put;
        offset += put;
    }
    return Status();
}

Status File::size(uint64_t& out) const {
    LARGE_INTEGER n{};
    if (!GetFileSizeEx(handleOf(handle_), &n)) return failure("Cannot read the size of " + path_);
    out = static_cast<uint64_t>(n.QuadPart);
    return Status();
}

Status File::truncate(uint64_t length) {
    if (detail::faultInjectionArmed())
        if (Status s =
                detail::injectedFault(WritePoint::SetLength, path_, "Cannot set the length of");
            !s.ok())
            return s;
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFilePointerEx(handleOf(handle_), to, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(handleOf(handle_)))
        return failure("Cannot set the length of " + path_);
    return Status();
}

Status File::sync() {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Flush, path_, "Cannot flush"); !s.ok())
            return s;
    if (!FlushFileBuffers(handleOf(handle_))) return failure("Cannot flush " + path_ + " to disk");
    return Status();
}

void File::startWriteBack(uint64_t, uint64_t) {
    // Windows writes the cache back on its own; only FlushFileBuffers waits.
}

Status File::lock(LockKind kind) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Lock, path_, "Cannot lock"); !s.ok())
            return s;
    unlock();
    OVERLAPPED o = at(kLockOffset);
    const DWORD flags =
        LOCKFILE_FAIL_IMMEDIATELY | (kind == LockKind::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (!LockFileEx(handleOf(handle_), flags, 0, 1, 0, &o)) {
        const DWORD error = GetLastError();
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            return Status(ErrorKind::LockConflict, "Cannot lock " + path_ + ": it is in use")
                .withReason("it is in use");
        return failure("Cannot lock " + path_, error);
    }
    locked_ = true;
    return Status();
}

namespace detail {

void releaseLock(intptr_t handle) {
    OVERLAPPED o = at(kLockOffset);
    UnlockFileEx(handleOf(handle), 0, 1, 0, &o);
}

Status closeHandle(intptr_t handle, const std::string& path) {
    if (!CloseHandle(handleOf(handle))) return failure("Cannot close " + path);
    return Status();
}

} // namespace detail

// Files and folders -----------------------------------------------------------

FileKind fileKind(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::Other;
    return FileKind::Regular;
}

bool isMarkedReadOnly(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

Status listDirectory(const std::string& directory, std::vector<std::string>& names) {
    names.clear();
    std::string pattern = directory.empty() ? "." : directory;
    if (!detail::isSeparator(pattern.back())) pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(wide(pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return Status(); // an empty folder
        return failure("Cannot list the folder " + directory, error);
    }
    do {
        std::string name = narrow(data.cFileName, std::wcslen(data.cFileName));
        if (name != "." && name != "..") names.push_back(std::move(name));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return Status();
}

Status removeFile(const std::string& path) {
    if (detail::faultInjectionArmed())
        if (Status s = detail::injectedFault(WritePoint::Remove, path, "Cannot delete"); !s.ok())
            return s;
    if (!DeleteFileW(wide(path).c_str())) return failure("Cannot delete " + path);
    return Status();
}

Status createDirectory(const std::string& path) {
    if (detail::faultInjectionArmed())
        if (Status s =
                detail::injectedFault(WritePoint::MakeFolder, path, "Cannot create the folder");
            !s.ok())
            return s;
    if (!CreateDirectoryW(wide(path).c_str(), nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS && fileKind(path) == FileKind::Directory) return Status();
        return failure("Cannot create the folder " + path, error);
    }
    return Status();
}

Status renameReplacing(const std::string& from, const std::string& to) {
    if (detail::faultInjectionArmed())
        if (Status s =
                detail::injectedFault(WritePoint::Rename, from + " to " + to, "Cannot rename");
            !s.ok())
            return s;
    const std::wstring source = wide(from), target = wide(to);
    DWORD error = 0;
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        if (MoveFileExW(source.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return Status();
        error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
            error != ERROR_LOCK_VIOLATION)
            break;
        // A folder under the target's name will not go away by waiting.
        if (fileKind(to) == FileKind::Directory) break;
        Sleep(kRenamePauseMs);
    }
    return failure("Cannot rename " + from + " to " + to, error);
}

// Memory ----------------------------------------------------------------------

void* allocatePages(size_t size) {
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void* growPages(void* data, size_t oldSize, size_t newSize) {
    void* p = allocatePages(newSize);
    if (!p) return nullptr;
    std::memcpy(p, data, oldSize < newSize ? oldSize : newSize);
    freePages(data, oldSize);
    return p;
}

void freePages(void* data, size_t) {
    if (data) VirtualFree(data, 0, MEM_RELEASE);
}

void adviseHugePages(void*, size_t) {}

const void* mapFileForReading(const File& file, size_t size) {
    if (size == 0 || !file.isOpen()) return nullptr;
    HANDLE mapping = CreateFileMappingW(handleOf(detail::FileAccess::handle(file)), nullptr,
                                        PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) return nullptr;
    // The view keeps the mapping alive on its own.
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
    CloseHandle(mapping);
    return view;
}

void prepareViewForReading(const void*, size_t) {
    // Windows brings a view's pages in as they are read; nothing to ask.
}

void unmapFile(const void* view, size_t) {
    if (view) UnmapViewOfFile(view);
}

void adviseSmallPages(const void*, size_t) {}

// The Windows heap hands large blocks back to the system when they are freed.
void returnFreedMemoryPromptly() {}

// The process ------------------------------------------------------------------

CalendarTime localTime(std::time_t moment) {
    std::tm tm{};
    localtime_s(&tm, &moment);
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
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    const std::string path = narrow(buffer);
    size_t i = path.size();
    while (i > 0 && !detail::isSeparator(path[i - 1]))
        --i;
    return path.substr(0, i);
}

std::string temporaryDirectory() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    std::string out = n ? narrow(buffer, n) : std::string("C:\\Windows\\Temp\\");
    if (!detail::isSeparator(out.back())) out += '\\';
    return out;
}

std::string environmentVariable(const std::string& name) {
    const std::wstring key = wide(name);
    std::wstring value(64, L'\0');
    while (true) {
        const DWORD n =
            GetEnvironmentVariableW(key.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) return {}; // not set, or set to nothing
        if (n < value.size()) return narrow(value.data(), n);
        value.resize(n); // n counts the terminating zero here
    }
}

std::string homeDirectory() {
    std::string home = environmentVariable("USERPROFILE");
    if (!home.empty() && !detail::isSeparator(home.back())) home += '\\';
    return home;
}

int processId() {
    return static_cast<int>(GetCurrentProcessId());
}

namespace {

// Runs on a thread of its own while the program goes on; a temporary still
// open is deleted when its last handle closes, at the latest as the process
// ends. The default handler then ends the program.
BOOL WINAPI removeLiveTemporaries(DWORD) {
    for (detail::LiveTemporary& slot : detail::liveTemporaries)
        if (slot.state.load() == 2) DeleteFileW(wide(slot.path).c_str());
    return FALSE;
}

} // namespace

void removeTemporariesOnTermination() {
    SetConsoleCtrlHandler(removeLiveTemporaries, TRUE);
}

std::string userName() {
    wchar_t buffer[257]; // a logon name has at most 256 characters
    DWORD size = sizeof buffer / sizeof buffer[0];
    if (!GetUserNameW(buffer, &size) || size == 0) return {};
    return narrow(buffer, size - 1); // the size counted the terminating zero
}

uint64_t peakResidentMemoryBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return static_cast<uint64_t>(counters.PeakWorkingSetSize);
}

uint64_t residentMemoryBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return static_cast<uint64_t>(counters.WorkingSetSize);
}

double processorSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {
        const uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        return static_cast<double>(ticks) / 1e7; // 100-nanosecond ticks
    };
    return seconds(kernel) + seconds(user);
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wideArgs = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wideArgs || count != argc) {
        if (wideArgs) LocalFree(wideArgs);
        return std::vector<std::string>(argv, argv + (argc > 0 ? argc : 0));
    }
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i)
        out.push_back(narrow(wideArgs[i], std::wcslen(wideArgs[i])));
    LocalFree(wideArgs);
    return out;
}

bool stdoutIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

namespace {

// One argument quoted the way the C runtime splits a command line.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            out.append(backslashes * 2 + 1, L'\\');
        else
            out.append(backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

HANDLE inheritableFile(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    return CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

ProgramEnding runProgramToItsEnd(const std::vector<std::string>& argv, const RunOptions& options) {
    ProgramEnding ending;
    auto fail = [&](Status s) {
        ending.status = std::move(s);
        return ending;
    };
    if (argv.empty()) return fail(Status(ErrorKind::Other, "No program to start"));
    std::wstring commandLine;
    for (const std::string& a : argv) {
        if (!commandLine.empty()) commandLine += L' ';
        commandLine += quoted(wide(a));
    }

    // The environment block: ours, with the given variables added or replaced.
    std::vector<std::wstring> entries;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* e = block; *e; e += std::wcslen(e) + 1) {
            std::wstring entry = e;
            const std::wstring name = entry.substr(0, entry.find(L'=', 1));
            bool replaced = false;
            for (const auto& [key, value] : options.environment)
                replaced = replaced || _wcsicmp(wide(key).c_str(), name.c_str()) == 0;
            if (!replaced) entries.push_back(std::move(entry));
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [key, value] : options.environment)
        entries.push_back(wide(key) + L"=" + wide(value));
    std::wstring environment;
    for (const std::wstring& e : entries)
        environment += e + L'\0';
    environment += L'\0';

    HANDLE input = inheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE output = options.stdoutFile.empty()
                        ? GetStdHandle(STD_OUTPUT_HANDLE)
                        : inheritableFile(options.stdoutFile, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE error = options.stderrFile.empty()
                       ? GetStdHandle(STD_ERROR_HANDLE)
                       : inheritableFile(options.stderrFile, GENERIC_WRITE, CREATE_ALWAYS);
    auto closeOwn = [&] {
        if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
        if (!options.stdoutFile.empty() && output != INVALID_HANDLE_VALUE) CloseHandle(output);
        if (!options.stderrFile.empty() && error != INVALID_HANDLE_VALUE) CloseHandle(error);
    };
    if (output == INVALID_HANDLE_VALUE || error == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        closeOwn();
        return fail(failure("Cannot open the output files of " + argv[0], code));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    closeOwn();
    if (!started) return fail(failure("Cannot start " + argv[0], startError));
    const DWORD wait =
        options.timeoutSeconds > 0 ? static_cast<DWORD>(options.timeoutSeconds * 1000.0) : INFINITE;
    if (WaitForSingleObject(process.hProcess, wait) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ending.how = ProgramEnding::How::TimedOut;
        ending.status = Status(ErrorKind::Other, argv[0] + " did not end within " +
                                                     std::to_string(options.timeoutSeconds) +
                                                     " seconds and was stopped");
        return ending;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // An exception the program did not handle ends it with its code, an
    // NTSTATUS of the error kind (0xC0000005, an access violation).
    if ((code & 0xF0000000u) == 0xC0000000u) {
        ending.how = ProgramEnding::How::Crashed;
        ending.crash = static_cast<int>(code);
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
        ending.status = Status(ErrorKind::Other, argv[0] + " ended by the exception " + hex);
        return ending;
    }
    ending.how = ProgramEnding::How::Exited;
    ending.exitCode = static_cast<int>(code);
    return ending;
}

int runProgram(const std::vector<std::string>& argv, const RunOptions& options, Status* status) {
    ProgramEnding ending = runProgramToItsEnd(argv, options);
    if (ending.how == ProgramEnding::How::Exited) return ending.exitCode;
    if (status) *status = std::move(ending.status);
    return -1;
}

Status createFifoForTesting(const std::string& path) {
    return Status(ErrorKind::Other, "Windows has no named pipes in its folders: " + path);
}

FileSizeLimitForTesting::FileSizeLimitForTesting(uint64_t bytes) {
    g_fileSizeLimit.store(bytes);
    active_ = bytes != 0;
}

FileSizeLimitForTesting::~FileSizeLimitForTesting() {
    g_fileSizeLimit.store(0);
}

} // namespace kes::os
#endif
