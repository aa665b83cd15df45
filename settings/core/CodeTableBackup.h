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
    std::array<std::string, 4> failure;  // why a file that was there was not copied
};

// Copies every code table file that exists to its backup, replacing an older
// backup. Holds the code tables while it copies (HoldCodeTables:
// EPreparationBusy, nothing copied).
CodeTableBackup BackUpCodeTables(const std::string& dataDir);

// Puts the code tables back as they were at the backup: each file that was
// copied is copied back under the name it had (a file the dialog made
// under another letter case is removed); a file that did not exist then and
// does now (the dialog created it) is deleted. Once every file is back, the
// backups go (older ones without a fresh copy too); when one could not be
// put back, every backup is kept, so that the restore can be done again.
// Returns one line for each file that could not be put back (empty when all
// were). Holds the code tables while it copies (EPreparationBusy, nothing put
// back and every backup kept).
std::vector<std::string> RestoreCodeTables(const CodeTableBackup& backup);
// Its two halves: the files put back, the backups kept (the problems as
// above); and every backup deleted.
std::vector<std::string> PutCodeTablesBack(const CodeTableBackup& backup);
void RemoveCodeTableBackups(const std::string& dataDir);

// The mark of a settings session that has not ended: the file KESCODES.SES
// in the data folder, written and flushed once the backups are made, and
// removed when the session ends (with OK, or with a Cancel whose restore put
// every file back). It names the files the backups were made of. A mark
// that is there while no session runs was left by a program that stopped
// with the dialog open (killed, or the machine off): the code tables may then
// hold any part of that session's changes (a rebuild half done, a table
// ahead of its index), which nobody confirmed. The next session and the next
// preparation put them back from the session's backups first, as its Cancel
// would have.
inline constexpr const char* kSessionMark = "KESCODES.SES";

// Writes the mark of a session whose backup is `backup`; "" when it is on
// the disk, otherwise why not.
std::string MarkCodeTableSession(const CodeTableBackup& backup);
// Removes the mark; "" when it is gone (or was not there), otherwise why not.
std::string UnmarkCodeTableSession(const std::string& dataDir);

// What PutBackUnendedSession did.
struct UnendedSession {
    bool found = false;                // a mark was there
    bool putBack = false;              // and the code tables are back as it found them
    std::vector<std::string> problems; // what could not be put back (the mark stays)
};
// When the mark of a session that did not end is in `dataDir`, puts the code
// tables back from that session's backups, removes the mark once every file
// is back, and then the backups. The caller holds the data folder's preparation lock (no
// session of another process is open). A mark that cannot be read stands for
// the backups that are there.
UnendedSession PutBackUnendedSession(const std::string& dataDir);
// The message that tells the operator of a put-back session, or of why it
// failed; "" when there was no mark.
std::string UnendedSessionMessage(const UnendedSession& session, const std::string& dataDir);

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
//
// The session first puts back what a session that did not end left (see
// kSessionMark; notice() tells of it), then backs the tables up and marks
// itself; keep() and restore() end it. A session whose backup could not be
// made, or whose mark could not be written, is not editable either: its
// changes could not be taken back.
class CodeTableSession {
  public:
    explicit CodeTableSession(const std::string& dataDir);
    ~CodeTableSession();
    CodeTableSession(const CodeTableSession&) = delete;
    CodeTableSession& operator=(const CodeTableSession&) = delete;

    bool editable() const { return refusal_.empty(); }
    // Why the code tables cannot be changed now; empty when they can.
    const std::string& refusal() const { return refusal_; }
    // What the operator is to hear of an earlier session that did not end
    // and was put back now; empty when there was none.
    const std::string& notice() const { return notice_; }

    // After a Cancel, with the dialog's tables closed: puts the code tables
    // back as RestoreCodeTables does and returns its problems; when there are
    // none, the session's mark goes, and then the backups. Nothing when the
    // session is not editable: it changed nothing.
    std::vector<std::string> restore();
    // After OK, with the dialog's tables closed (every change of theirs is on
    // the disk): the changes stay, the backups too; the session's mark goes.
    // "" when it is gone, otherwise why not (the next session or preparation
    // would then put the tables back as they were before this one).
    std::string keep();

  private:
    std::unique_ptr<PreparationLock> lock_;
    CodeTableBackup backup_;
    std::string refusal_;
    std::string notice_;
};
