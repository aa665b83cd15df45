// Where the upload file may go. It may not be any file a preparation reads or
// writes (the testing system's tables and indexes, the work and staging
// tables, the code tables and their backups, the lock file, the history, the
// settings file), nor any table, index or lock file of another folder (a
// name ending in .dbf, .ntx, .cdx or .lck), nor lie inside a testing-period
// folder (VIRNTPn, of any data directory); it may not be a folder, a device,
// a pipe or a file marked read-only. Names are compared as
// the file system resolves them: without regard to letter case, after "." and
// "..", through symbolic links, and by file identity where the file exists.
#pragma once

#include <string>

// Empty when `uploadFile` is a place the upload file may be written; otherwise
// a message for the operator that names the file and what it is.
// `settingsFile` may be empty when the caller has none.
std::string UploadPathProblem(const std::string& uploadFile, const std::string& dataDir,
                              const std::string& settingsFile);
