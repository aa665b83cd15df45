// The operating system as the rest of the program sees it: files with 64-bit
// positioned I/O and locks, the one routine that replaces a file whole, folder
// listings, anonymous memory, local time, the program's own folder and
// starting a program. Nothing else in the program includes a platform header.
//
// Paths are UTF-8 text everywhere; the Windows implementation turns them into
// UTF-16, so a folder named "Données" works on every platform. Failures come
// back as a Status that names the path and the system's reason; nothing here
// throws except std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kes::os {

enum class ErrorKind {
    None,
    NotFound,     // the file or a folder on its path does not exist
    Exists,       // exclusive creation found something under the name
    AccessDenied, // permissions, a read-only file, or a file held by another program
    LockConflict, // the lock is held through another open of the file
    EndOfFile,    // a read reached the end of the file before it was satisfied
    Other
};

// The outcome of an operation: ok, or what failed and why ("Cannot rename
// /a/b.tmp to /a/b: Permission denied").
class Status {
  public:
    Status() = default;
    Status(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
    bool ok() const { return kind_ == ErrorKind::None; }
    explicit operator bool() const { return ok(); }
    ErrorKind kind() const { return kind_; }
    const std::string& message() const { return message_; }
    // The system's reason alone ("Permission denied"), for texts that name the
    // file themselves.
    const std::string& reason() const { return reason_; }
    Status& withReason(std::string reason) {
        reason_ = std::move(reason);
        return *this;
    }

  private:
    ErrorKind kind_ = ErrorKind::None;
    std::string message_;
    std::string reason_;
};

// True where an open refused as AccessDenied may mean that another program
// holds the file (Windows reports its sharing violations so); elsewhere it
// means the permissions alone.
#ifdef _WIN32
inline constexpr bool kAccessDeniedMayMeanInUse = true;
#else
inline constexpr bool kAccessDeniedMayMeanInUse = false;
#endif

enum class LockKind { Shared, Exclusive };

namespace detail {
struct FileAccess;
}

// One open file. Move-only; the destructor releases a lock and closes.
// Locks are advisory between opens that ask for them, never stop plain reads
// or writes, conflict between two opens even inside one process, and end with
// the process however it ends.
class File {
  public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // An existing file, for reading only or for reading and writing.
    static Status openRead(const std::string& path, File& out);
    static Status openReadWrite(const std::string& path, File& out);
    // A new file for reading and writing; fails with ErrorKind::Exists when
    // anything, a symbolic link included, already has the name.
    static Status createExclusive(const std::string& path, File& out);
    // An existing file or, when there is none, a new one, for reading and
    // writing; never through a symbolic link (for lock files).
    static Status openOrCreate(const std::string& path, File& out);
    // A file for writing that starts empty: created, or an existing one cut to
    // nothing (for files that are not replaced whole).
    static Status createOrTruncate(const std::string& path, File& out);

    bool isOpen() const;
    const std::string& path() const { return path_; }

    // Reads exactly `size` bytes at `offset`; ErrorKind::EndOfFile when the file ends first.
    Status readAt(uint64_t offset, void* buffer, size_t size) const;
    // Writes all `size` bytes at `offset`, growing the file as needed.
    Status writeAt(uint64_t offset, const void* data, size_t size);
    Status size(uint64_t& out) const;
    // Sets the length; bytes beyond are gone, new bytes read as zero.
    Status truncate(uint64_t length);
    // Returns once the contents are on the disk.
    Status sync();
    // Asks the system to start writing these bytes to disk now, without
    // waiting: a later sync then has less left to wait for. Only a hint.
    void startWriteBack(uint64_t offset, uint64_t size);

    // Takes the lock without waiting; ErrorKind::LockConflict when another
    // open holds a conflicting one. Taking a lock again replaces the first.
    Status lock(LockKind kind);
    void unlock();
    bool locked() const { return locked_; }

    // Releases the lock, then closes. Closing a closed file does nothing.
    Status close();

  private:
    friend struct detail::FileAccess;
    intptr_t handle_ = -1;
    bool locked_ = false;
    std::string path_;
};

enum class FileKind { Missing, Regular, Directory, Other };

// What the path names, symbolic links followed.
FileKind fileKind(const std::string& path);
// True when the file exists and is marked read-only: no write permission for
// anyone (POSIX), the read-only attribute (Windows). The mark, not whether
// this process could write anyway (root can).
bool isMarkedReadOnly(const std::string& path);
// The entries of a folder, without "." and "..", in no particular order.
Status listDirectory(const std::string& directory, std::vector<std::string>& names);
Status removeFile(const std::string& path);
Status createDirectory(const std::string& path); // ok when it already exists
// Renames over an existing target. On Windows a rename refused for a moment
// (a virus scanner or an indexer holding the file) is retried briefly.
Status renameReplacing(const std::string& from, const std::string& to);
// Copies `from` over `to` through writeFileReplacing's rule.
Status copyFileReplacing(const std::string& from, const std::string& to);
// The whole contents of a file.
Status readFile(const std::string& path, std::string& out);
Status readFile(const std::string& path, std::vector<unsigned char>& out);

// Replacing a file whole. The new contents go to a new temporary file beside
// the target ("<target>.kes-XXXXXX.tmp"), created exclusively and never
// through a symbolic link; once written whole it is flushed to disk, renamed
// over the target and the folder flushed where the platform allows. On any
// failure the temporary file is removed and the old target is left as it was.
// The replacement keeps the permissions of the file it replaces.
Status writeFileReplacing(const std::string& target, std::string_view bytes);

// The same for contents written piece by piece: open, write..., commit.
// Destroying a writer that was not committed abandons it (as abort does).
class ReplacingWriter {
  public:
    ReplacingWriter() = default;
    ~ReplacingWriter();
    ReplacingWriter(const ReplacingWriter&) = delete;
    ReplacingWriter& operator=(const ReplacingWriter&) = delete;

    Status open(const std::string& target);
    Status write(const void* data, size_t size);
    Status write(std::string_view bytes) { return write(bytes.data(), bytes.size()); }
    // Flushes, renames over the target and flushes the folder.
    Status commit();
    // Removes the temporary file; the target stays as it was.
    void abort();
    bool isOpen() const { return file_.isOpen(); }
    const std::string& temporaryPath() const { return tempPath_; }
    uint64_t written() const { return written_; }

  private:
    File file_;
    std::string target_;
    std::string tempPath_;
    uint64_t written_ = 0;
    uint64_t writtenBack_ = 0; // the bytes before it are on their way to disk
    int liveSlot_ = -1;        // where a termination request finds the temporary
    static constexpr uint64_t kWriteBackStep = 4u << 20;
};

// From the call on, a request to end the program from outside (SIGTERM,
// SIGINT, SIGHUP; on Windows a console's Ctrl+C, Ctrl+Break, close, log-off
// or shut-down) first removes the replace routine's temporaries that exist at
// that moment, then ends the program as the request would have: the previous
// files stay as they were and no half-written temporary is left behind.
void removeTemporariesOnTermination();

// True when `name` has the form of a temporary file of the replace routine
// for the target file name `targetName` (both without folders). A writer
// holds an exclusive lock on its temporary from its creation until it is
// renamed into place.
bool isReplacementTemporary(std::string_view name, std::string_view targetName);
// Removes temporary files that an interrupted replacement of `target` left
// beside it (any letter case of the target's name): those whose lock no
// process holds. Returns how many went.
int removeStaleReplacementTemporaries(const std::string& target);

// Memory for large growing buffers, straight from the system: zero-filled,
// page-aligned, grown without copying where the platform can.
void* allocatePages(size_t size); // nullptr when refused
void* growPages(void* data, size_t oldSize,
                size_t newSize); // nullptr when refused; the old block stays
void freePages(void* data, size_t size);
// Asks for huge pages for the whole 2 MB pages inside the range, where supported.
void adviseHugePages(void* data, size_t size);
// A read-only view of the first `size` bytes of an open file, read from the
// system's file cache as it is touched: a large table is read on demand
// without a private copy. nullptr when refused or when `size` is 0. The view
// outlives neither a shortening of the file by another program nor
// unmapFile; it may outlive the File.
const void* mapFileForReading(const File& file, size_t size);
void unmapFile(const void* view, size_t size);
// Asks that the view be mapped in small pages where the system would map
// pieces of 2 MB of the file's cache: a view read in scattered places then
// brings less into the process, at some cost for one read through whole.
void adviseSmallPages(const void* view, size_t size);
// Maps the whole view at once, for a reading that is about to touch all of
// it in scattered order: one request in place of a page fault every few
// pages. Only a hint; nothing happens where the system has no such request.
void prepareViewForReading(const void* view, size_t size);
// Large blocks of the ordinary heap go back to the system as soon as they are
// freed. (The C library of Linux otherwise raises its limit for that after
// every large block freed, and keeps the next ones: a gathering's 100 MB of
// freed keys stayed with the process through the export.) Safe to call often.
void returnFreedMemoryPromptly();

// The broken-down local time of a moment.
struct CalendarTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
CalendarTime localTime(std::time_t moment);

// The folder of the running program, from the operating system, with a
// trailing separator ("" when it cannot be found).
std::string executableDirectory();
// The folder for temporary files, with a trailing separator.
std::string temporaryDirectory();
// The value of an environment variable as UTF-8 text; "" when it is not set
// (a variable set to nothing reads the same).
std::string environmentVariable(const std::string& name);
// The user's home folder with a trailing separator: $HOME, else the account's
// entry in the user database; %USERPROFILE% on Windows. "" when unknown.
std::string homeDirectory();
int processId();
// The name of the user the program runs as, as the system knows it ("jdoe";
// on Windows the logon name, without the domain); "" when it cannot be had.
std::string userName();
// The most memory the process has held in RAM since it started (its peak
// resident set, the peak working set on Windows), in bytes; 0 when unknown.
uint64_t peakResidentMemoryBytes();
// The memory the process holds in RAM now, in bytes; 0 when unknown.
uint64_t residentMemoryBytes();
// Processor time the process has used so far, user and system together, in
// seconds: on a busy machine it shows what work costs, where the wall clock
// also counts the waits for a core.
double processorSeconds();
// The program's arguments as UTF-8 text (on Windows taken from the wide
// command line, since the narrow one loses what the code page lacks).
std::vector<std::string> commandLineArguments(int argc, char** argv);
// True when standard output is a terminal that understands redrawing a line.
bool stdoutIsTerminal();

// Starts a program with the given arguments (argv[0] is the program's path,
// no shell involved) and waits for it. Standard input reads from nothing;
// output and error go to the files named, or stay with this process when empty.
// Returns the exit code, or -1 with `status` set when it could not be started
// or did not end normally.
struct RunOptions {
    std::string stdoutFile;
    std::string stderrFile;
    std::vector<std::pair<std::string, std::string>> environment; // added or replaced
    // A program still running after this many seconds is stopped (killed);
    // 0 waits for as long as it takes.
    double timeoutSeconds = 0;
};
int runProgram(const std::vector<std::string>& argv, const RunOptions& options = {},
               Status* status = nullptr);

// How a program that runProgramToItsEnd started ended.
struct ProgramEnding {
    enum class How {
        Exited,    // it returned or called exit: exitCode
        Crashed,   // a signal (POSIX) or an exception the system caught (Windows): crash
        TimedOut,  // still running after RunOptions::timeoutSeconds; it was stopped
        NotStarted // status says why
    };
    How how = How::NotStarted;
    int exitCode = -1;
    int crash = 0; // the signal's number, or the exception's code (0xC0000005 ...)
    Status status; // what ended it, in words, unless it exited
};
ProgramEnding runProgramToItsEnd(const std::vector<std::string>& argv,
                                 const RunOptions& options = {});

// For tests of files that are not regular: creates a named pipe (FIFO) at
// `path`. Fails on systems without them in the file system (Windows).
Status createFifoForTesting(const std::string& path);

// The calls of this layer that change what is on the disk, or may be refused
// on the way to a change: each is one point of a FaultInjectionForTesting.
enum class WritePoint {
    Create,         // createExclusive, openOrCreate, createOrTruncate
    OpenForWriting, // openReadWrite
    Write,          // File::writeAt
    SetLength,      // File::truncate
    Flush,          // File::sync
    Lock,           // File::lock
    Rename,         // renameReplacing
    Remove,         // removeFile
    MakeFolder,     // createDirectory
};
const char* writePointName(WritePoint point);

// For tests of a failure at every place where the program changes the disk,
// in the manner of LevelDB's fault-injection environment and SQLite's I/O
// error tests. While one lives, every call listed in WritePoint is a point,
// numbered from 1 in the order they come (from every thread), and:
//  - FailOnce: the point numbered `at` fails as the system would fail it
//    (a refused creation, open, rename or removal: access denied; a write or
//    a length: the disk is full; a flush: an input/output error; a lock:
//    none to be had); every other point goes through;
//  - Crash: the point `at` and every point after it fails, as if the program
//    had been stopped there: the disk keeps exactly what came before, while
//    the program's own error handling still runs (and changes nothing more).
// `at` 0 only counts. The reasons end in kInjectedFaultMark, so a test can
// tell an injected failure in a message. One lives at a time. Nothing in the
// program makes one: when none lives, a point costs one atomic load.
class FaultInjectionForTesting {
  public:
    enum class Mode { FailOnce, Crash };
    static constexpr const char* kInjectedFaultMark = "(injected fault)";

    struct Visit {
        WritePoint point;
        std::string path; // "from to to" for a rename
        bool failed;
    };

    explicit FaultInjectionForTesting(uint64_t at = 0, Mode mode = Mode::FailOnce);
    ~FaultInjectionForTesting();
    FaultInjectionForTesting(const FaultInjectionForTesting&) = delete;
    FaultInjectionForTesting& operator=(const FaultInjectionForTesting&) = delete;

    // How many points were visited so far.
    uint64_t points() const;
    // True once the point `at` was reached (and failed).
    bool struck() const;
    // Every point visited so far, in order.
    std::vector<Visit> visits() const;
    // Stops failing and counting, as if the object were gone (a test that
    // reopens what a "crash" left behind).
    void disarm();
};

// For tests of a full disk: while one lives, a write that would take a file
// past `bytes` fails as a full disk does (through the system's file size
// limit where there is one). The destructor lifts the limit; 0 sets none.
class FileSizeLimitForTesting {
  public:
    explicit FileSizeLimitForTesting(uint64_t bytes);
    ~FileSizeLimitForTesting();
    FileSizeLimitForTesting(const FileSizeLimitForTesting&) = delete;
    FileSizeLimitForTesting& operator=(const FileSizeLimitForTesting&) = delete;
    bool active() const { return active_; }

  private:
    bool active_ = false;
    uint64_t saved_[2] = {0, 0};
};

} // namespace kes::os
