// The copies of the code tables that the settings dialog can be cancelled
// back to: before the dialog opens, KESPLACE.DBF, KESPLACE.CDX, KESTEST.DBF
// and KESTEST.CDX are copied to KESPLACx.DBF, KESPLACx.CDX, KESTESTx.DBF and
// KESTESTx.CDX in the data directory; after a Cancel they are copied back
// and deleted. The dialog's tables must be closed before the restore. No Qt.
#pragma once

#include <array>
#include <string>
#include <vector>

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
// backup.
CodeTableBackup BackUpCodeTables(const std::string& dataDir);

// Puts the code tables back as they were at the backup: each file that was
// copied is copied back under the name it had (a file the dialog made
// under another letter case is removed) and its backup deleted; a file that did not exist
// then and does now (the dialog created it) is deleted; older backups without
// a fresh copy are deleted. A backup that cannot be copied back is kept.
// Returns one line for each file that could not be put back (empty when all
// were).
std::vector<std::string> RestoreCodeTables(const CodeTableBackup& backup);
