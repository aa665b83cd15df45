// One preparation at a time per data folder. A preparation (gathering the work
// table, then writing the upload file from it) holds the lock of its data
// folder from the start of the gathering to the end of the export, so that a
// second one (another kesprep-batch, or kesprep beside a scheduled batch run)
// cannot replace the work table between the two halves of the first. The lock
// is an operating-system lock on the file KESPREP.LCK in the data folder: it
// ends with the process that holds it, also when that process is killed.
//
// Within one process the lock is shared: the gathering and the export each
// take it for their own run, and a caller that holds it around both keeps it
// from the first to the last.
#pragma once

#include <stdexcept>
#include <string>

// The refusal when another process holds the lock.
class EPreparationBusy : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class PreparationLock {
  public:
    // Takes the lock of `dataDir` (ends in PathDelim) without waiting. Throws
    // EPreparationBusy when another process holds it, std::runtime_error
    // when the lock file cannot be created.
    explicit PreparationLock(const std::string& dataDir);
    ~PreparationLock();
    PreparationLock(const PreparationLock&) = delete;
    PreparationLock& operator=(const PreparationLock&) = delete;

    static constexpr const char* kFileName = "KESPREP.LCK";

  private:
    std::string key_;
};
