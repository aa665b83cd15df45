// The platform-independent part of the OS layer: File's life (moves, lock
// release and close over the platform's handle), replacing a file whole,
// copying, reading a whole file, and the temporaries of the replace routine.
#include "os/Os.h"

#include "os/OsInternal.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <utility>

namespace kes::os {

namespace {

constexpr std::string_view kTempMarker = ".kes-";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr size_t kTempRandomLength = 6;
constexpr int kTempAttempts = 100;

std::string directoryPart(const std::string& path) {
    size_t i = path.size();
    while (i > 0 && !detail::isSeparator(path[i - 1]))
        --i;
    return path.substr(0, i);
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

// Six letters and digits, different in every call and in every process.
std::string randomPart() {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter{0};
    thread_local std::mt19937_64 generator([] {
        std::random_device device;
        std::seed_seq seed{
            device(), device(), static_cast<unsigned>(processId()),
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }());
    uint64_t bits = generator() ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    std::string out(kTempRandomLength, 'a');
    for (char& c : out) {
        c = kAlphabet[bits % 36];
        bits /= 36;
    }
    return out;
}

// Makes the temporary at `path` known to a termination request; -1 when
// every slot is taken or the path is too long (the temporary is then only
// left to the next clean-up, as after a power cut).
int addLiveTemporary(const std::string& path) {
    if (path.size() >= detail::kLiveTemporaryPathMax) return -1;
    for (int i = 0; i < detail::kLiveTemporarySlots; ++i) {
        detail::LiveTemporary& slot = detail::liveTemporaries[i];
        int expected = 0;
        if (!slot.state.compare_exchange_strong(expected, 1)) continue;
        path.copy(slot.path, path.size());
        slot.path[path.size()] = '\0';
        slot.state.store(2);
        return i;
    }
    return -1;
}

void dropLiveTemporary(int& slot) {
    if (slot >= 0) detail::liveTemporaries[slot].state.store(0);
    slot = -1;
}

} // namespace

namespace detail {
LiveTemporary liveTemporaries[kLiveTemporarySlots];
} // namespace detail

// File ----------------------------------------------------------------------

File::~File() {
    close();
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, detail::kNoHandle)),
      locked_(std::exchange(other.locked_, false)), path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, detail::kNoHandle);
        locked_ = std::exchange(other.locked_, false);
        path_ = std::move(other.path_);
    }
    return *this;
}

bool File::isOpen() const {
    return handle_ != detail::kNoHandle;
}

void File::unlock() {
    if (locked_ && isOpen()) detail::releaseLock(handle_);
    locked_ = false;
}

Status File::close() {
    if (!isOpen()) return Status();
    // The lock goes before the handle: Windows releases a lock only some
    // time after its handle closes, and the next open must find it free.
    unlock();
    return detail::closeHandle(std::exchange(handle_, detail::kNoHandle), path_);
}

// Injected faults ---------------------------------------------------------------

namespace detail {
std::atomic<bool> g_faultInjectionArmed{false};
} // namespace detail

namespace {

// The one FaultInjectionForTesting alive and what it has seen; guarded by
// faultMutex(), since points come from every thread.
struct FaultState {
    uint64_t at = 0;
    FaultInjectionForTesting::Mode mode = FaultInjectionForTesting::Mode::FailOnce;
    uint64_t points = 0;
    bool struck = false;
    std::vector<FaultInjectionForTesting::Visit> visits;
};

std::mutex& faultMutex() {
    static std::mutex mutex;
    return mutex;
}

FaultState*& faultState() {
    static FaultState* state = nullptr;
    return state;
}

// How the system would refuse each kind of point.
std::pair<ErrorKind, const char*> injectedFailure(WritePoint point) {
    switch (point) {
    case WritePoint::Write:
    case WritePoint::SetLength:
        return {ErrorKind::Other, "the disk is full"};
    case WritePoint::Flush:
        return {ErrorKind::Other, "input/output error"};
    case WritePoint::Lock:
        return {ErrorKind::Other, "no lock is available"};
    default:
        return {ErrorKind::AccessDenied, "access denied"};
    }
}

} // namespace

const char* writePointName(WritePoint point) {
    switch (point) {
    case WritePoint::Create:
        return "create";
    case WritePoint::OpenForWriting:
        return "open for writing";
    case WritePoint::Write:
        return "write";
    case WritePoint::SetLength:
        return "set length";
    case WritePoint::Flush:
        return "flush";
    case WritePoint::Lock:
        return "lock";
    case WritePoint::Rename:
        return "rename";
    case WritePoint::Remove:
        return "remove";
    case WritePoint::MakeFolder:
        return "make folder";
    }
    return "?";
}

Status detail::injectedFault(WritePoint point, const std::string& path, const char* verb) {
    bool fail = false;
    {
        std::lock_guard<std::mutex> guard(faultMutex());
        FaultState* state = faultState();
        if (!state) return Status();
        const uint64_t number = ++state->points;
        fail = state->at != 0 &&
               (number == state->at ||
                (state->mode == FaultInjectionForTesting::Mode::Crash && number > state->at));
        if (number == state->at) state->struck = true;
        state->visits.push_back({point, path, fail});
    }
    if (!fail) return Status();
    const auto [kind, reason] = injectedFailure(point);
    const std::string why =
        std::string(reason) + " " + FaultInjectionForTesting::kInjectedFaultMark;
    return Status(kind, std::string(verb) + " " + path + ": " + why).withReason(why);
}

FaultInjectionForTesting::FaultInjectionForTesting(uint64_t at, Mode mode) {
    std::lock_guard<std::mutex> guard(faultMutex());
    delete faultState();
    faultState() = new FaultState{at, mode, 0, false, {}};
    detail::g_faultInjectionArmed.store(true);
}

FaultInjectionForTesting::~FaultInjectionForTesting() {
    disarm();
    std::lock_guard<std::mutex> guard(faultMutex());
    delete faultState();
    faultState() = nullptr;
}

void FaultInjectionForTesting::disarm() {
    std::lock_guard<std::mutex> guard(faultMutex());
    detail::g_faultInjectionArmed.store(false);
    if (faultState()) faultState()->at = 0; // the figures stay readable
    // A point already past the armed check counts on, harmlessly: it fails no more.
}

uint64_t FaultInjectionForTesting::points() const {
    std::lock_guard<std::mutex> guard(faultMutex());
    return faultState() ? faultState()->points : 0;
}

bool FaultInjectionForTesting::struck() const {
    std::lock_guard<std::mutex> guard(faultMutex());
    return faultState() && faultState()->struck;
}

std::vector<FaultInjectionForTesting::Visit> FaultInjectionForTesting::visits() const {
    std::lock_guard<std::mutex> guard(faultMutex());
    return faultState() ? faultState()->visits : std::vector<Visit>{};
}

// Replacing a file whole ------------------------------------------------------

ReplacingWriter::~ReplacingWriter() {
    abort();
}

Status ReplacingWriter::open(const std::string& target) {
    abort();
    if (target.empty() || detail::isSeparator(target.back()))
        return Status(ErrorKind::Other, "Cannot write \"" + target + "\": not a file name");
    if (fileKind(target) == FileKind::Directory)
        return Status(ErrorKind::AccessDenied, "Cannot replace " + target + ": it is a folder")
            .withReason("it is a folder");
    Status status;
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        std::string temp =
            target + std::string(kTempMarker) + randomPart() + std::string(kTempSuffix);
        status = File::createExclusive(temp, file_);
        if (status.ok()) {
            // The lock tells a clean-up that the temporary is at work; the
            // system lets it go with the process, however that ends.
            file_.lock(LockKind::Exclusive);
            target_ = target;
            tempPath_ = std::move(temp);
            liveSlot_ = addLiveTemporary(tempPath_);
            written_ = 0;
            writtenBack_ = 0;
            detail::adoptPermissions(file_, target_);
            return status;
        }
        if (status.kind() != ErrorKind::Exists) break;
    }
    return Status(status.kind(),
                  "Cannot create a temporary file beside " + target + ": " + status.reason())
        .withReason(status.reason());
}

Status ReplacingWriter::write(const void* data, size_t size) {
    if (!file_.isOpen()) return Status(ErrorKind::Other, "Cannot write " + target_ + ": not open");
    Status status = file_.writeAt(written_, data, size);
    if (!status.ok()) {
        std::string reason = status.reason();
        abort();
        return Status(status.kind(), "Cannot write " + target_ + ": " + reason).withReason(reason);
    }
    // What is written goes to disk meanwhile, a few megabytes behind, so that
    // the flush at the commit has little left to wait for.
    if (written_ / kWriteBackStep != (written_ + size) / kWriteBackStep) {
        const uint64_t upTo = (written_ + size) / kWriteBackStep * kWriteBackStep;
        file_.startWriteBack(writtenBack_, upTo - writtenBack_);
        writtenBack_ = upTo;
    }
    written_ += size;
    return status;
}

Status ReplacingWriter::commit() {
    if (!file_.isOpen())
        return Status(ErrorKind::Other, "Cannot write " + target_ + ": nothing is open");
    // Renamed while still open and locked: a clean-up never finds the
    // temporary unlocked before it is in place.
    Status status = file_.sync();
    if (status.ok()) status = renameReplacing(tempPath_, target_);
    if (status.ok()) status = file_.close();
    if (!status.ok()) {
        std::string reason = status.reason();
        const std::string target = target_;
        abort();
        return Status(status.kind(), "Cannot write " + target + ": " + reason).withReason(reason);
    }
    detail::syncDirectoryOf(target_);
    // Only now: a request that came meanwhile tried to remove a name that no
    // longer exists, which does no harm.
    dropLiveTemporary(liveSlot_);
    tempPath_.clear();
    return status;
}

void ReplacingWriter::abort() {
    if (file_.isOpen()) file_.close();
    if (!tempPath_.empty()) removeFile(tempPath_);
    dropLiveTemporary(liveSlot_);
    tempPath_.clear();
}

Status writeFileReplacing(const std::string& target, std::string_view bytes) {
    ReplacingWriter writer;
    Status status = writer.open(target);
    if (status.ok()) status = writer.write(bytes);
    if (status.ok()) status = writer.commit();
    return status;
}

Status copyFileReplacing(const std::string& from, const std::string& to) {
    File source;
    Status status = File::openRead(from, source);
    if (!status.ok()) return status;
    uint64_t size = 0;
    status = source.size(size);
    if (!status.ok()) return status;
    ReplacingWriter writer;
    status = writer.open(to);
    std::string chunk(std::min<uint64_t>(size, 1u << 20), '\0');
    for (uint64_t at = 0; status.ok() && at < size;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - at));
        status = source.readAt(at, chunk.data(), n);
        if (status.ok()) status = writer.write(chunk.data(), n);
        at += n;
    }
    if (status.ok()) status = writer.commit();
    return status;
}

namespace {

template <class Bytes> Status readWhole(const std::string& path, Bytes& out) {
    out.clear();
    File file;
    Status status = File::openRead(path, file);
    uint64_t size = 0;
    if (status.ok()) status = file.size(size);
    if (status.ok() && size > static_cast<uint64_t>(SIZE_MAX / 2))
        return Status(ErrorKind::Other, "Cannot read " + path + ": the file is too large")
            .withReason("the file is too large");
    if (status.ok()) {
        out.resize(static_cast<size_t>(size));
        status = file.readAt(0, out.data(), out.size());
    }
    if (!status.ok()) out.clear();
    return status;
}

} // namespace

Status readFile(const std::string& path, std::string& out) {
    return readWhole(path, out);
}

Status readFile(const std::string& path, std::vector<unsigned char>& out) {
    return readWhole(path, out);
}

bool isReplacementTemporary(std::string_view name, std::string_view targetName) {
    const size_t fixed = targetName.size() + kTempMarker.size() + kTempSuffix.size();
    if (name.size() != fixed + kTempRandomLength) return false;
    if (!equalsIgnoreCase(name.substr(0, targetName.size()), targetName)) return false;
    if (name.substr(targetName.size(), kTempMarker.size()) != kTempMarker) return false;
    if (name.substr(name.size() - kTempSuffix.size()) != kTempSuffix) return false;
    for (char c : name.substr(targetName.size() + kTempMarker.size(), kTempRandomLength))
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

int removeStaleReplacementTemporaries(const std::string& target) {
    const std::string directory = directoryPart(target);
    const std::string targetName = target.substr(directory.size());
    std::vector<std::string> names;
    if (!listDirectory(directory.empty() ? "." : directory, names).ok()) return 0;
    int removed = 0;
    for (const std::string& name : names) {
        if (!isReplacementTemporary(name, targetName) ||
            fileKind(directory + name) != FileKind::Regular)
            continue;
        // A writer at work holds its temporary's lock; only one nobody
        // holds was left by a run that ended without finishing it.
        File held;
        if (!File::openRead(directory + name, held).ok() || !held.lock(LockKind::Exclusive).ok())
            continue;
        if (removeFile(directory + name).ok()) ++removed;
    }
    return removed;
}

} // namespace kes::os
