// Where the upload file may go. It may not be any file a preparation reads or
// writes (the testing system's tables and indexes, the work and staging
// tables, the code tables and their backups, the settings file), nor lie
// inside a testing-period folder of the data directory. Names are compared as
// the file system resolves them: without regard to letter case, after "." and
// "..", through symbolic links, and by file identity where the file exists.
#pragma once

#include <string>

// Empty when `uploadFile` is a place the upload file may be written; otherwise
// a message for the operator that names the file and what it is.
// `settingsFile` may be empty when the caller has none.
std::string UploadPathProblem(const std::string& uploadFile, const std::string& dataDir,
                              const std::string& settingsFile);
