// The copies of the code tables that the settings dialog can be cancelled
// back to: before the dialog opens, KESPLACE.DBF, KESPLACE.CDX, KESTEST.DBF
// and KESTEST.CDX are copied to KESPLACx.DBF, KESPLACx.CDX, KESTESTx.DBF and
// KESTESTx.CDX in the data directory; after a Cancel they are copied back
// and deleted. The dialog's tables must be closed before the restore. No Qt.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

class PreparationLock;

struct CodeTableFile {
    const char* file;   // "KESPLACE.DBF"
    const char* backup; // "KESPLACx.DBF"
};
inline constexpr std::array<CodeTableFile, 4> kCodeTableFiles = {{
    {"KESPLACE.DBF", "KESPLACx.DBF"},
    {"KESPLACE.CDX", "KESPLACx.CDX"},
    {"KESTEST.DBF", "KESTESTx.DBF"},
    {"KESTEST.CDX", "KESTESTx.CDX"},
}};

// What the backup found and did, file by file in the order above.
struct CodeTableBackup {
    std::string dataDir;
    std::array<bool, 4> existed{};       // the code table file was there
    std::array<bool, 4> backedUp{};      // and its copy was made now
    std::array<std::string, 4> spelling; // the file's name as it was on disk
};

// Copies every code table file that exists to its backup, replacing an older
// backup. Holds the code tables while it copies (HoldCodeTables:
// EPreparationBusy, nothing copied).
CodeTableBackup BackUpCodeTables(const std::string& dataDir);

// Puts the code tables back as they were at the backup: each file that was
// copied is copied back under the name it had (a file the dialog made
// under another letter case is removed) and its backup deleted; a file that did not exist
// then and does now (the dialog created it) is deleted; older backups without
// a fresh copy are deleted. A backup that cannot be copied back is kept.
// Returns one line for each file that could not be put back (empty when all
// were). Holds the code tables while it copies (EPreparationBusy, nothing put
// back and every backup kept).
std::vector<std::string> RestoreCodeTables(const CodeTableBackup& backup);

// The settings dialog's hold on the code tables for as long as it is open.
// The dialog may rebuild, edit, tick and then throw away its changes, so a
// preparation must not look codes up in the tables at any moment of it: it
// would gather by a half-built table, or by changes a Cancel then takes back.
// The data folder's preparation lock is taken before the backup and let go
// when the session ends, after the restore of a Cancel or, after OK, once the
// dialog's own last writes are done (the session is to outlive the dialog's
// tables). A preparation started meanwhile is refused; while one runs, the
// session gets no lock, backs nothing up, and is not editable: the dialog
// keeps the code tables closed and shows refusal().
class CodeTableSession {
  public:
    explicit CodeTableSession(const std::string& dataDir);
    ~CodeTableSession();
    CodeTableSession(const CodeTableSession&) = delete;
    CodeTableSession& operator=(const CodeTableSession&) = delete;

    bool editable() const { return refusal_.empty(); }
    // Why the code tables cannot be changed now; empty when they can.
    const std::string& refusal() const { return refusal_; }

    // After a Cancel, with the dialog's tables closed: puts the code tables
    // back as RestoreCodeTables does and returns its problems. Nothing when
    // the session is not editable: it changed nothing.
    std::vector<std::string> restore();

  private:
    std::unique_ptr<PreparationLock> lock_;
    CodeTableBackup backup_;
    std::string refusal_;
};
