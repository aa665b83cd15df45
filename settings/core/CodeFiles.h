// File operations of the code tables: moving a table's files aside, copying
// them to their backups and back. Names are matched without regard to letter
// case. No Qt here.
#pragma once

#include <string>

// Renames the file `from` to `to`, both spelled exactly as on disk (resolve
// them first); an empty text on success, otherwise what went wrong.
std::string RenameCodeFile(const std::string& from, const std::string& to);

// Copies `from` over `to`, replacing it (any letter case); an empty text on
// success, otherwise what went wrong.
std::string CopyCodeFileReplacing(const std::string& from, const std::string& to);

// Copies `from` (any letter case) to exactly `to`, replacing a file of that
// spelling; an empty text on success, otherwise what went wrong.
std::string CopyCodeFileToExactName(const std::string& from, const std::string& to);

// Deletes the file under every letter case it exists in.
void DeleteEverySpelling(const std::string& path);
