// The settings file: an INI text read and written value by value, with the
// semantics of the Windows profile functions. Sections and keys match without
// regard to case; lines the program does not touch (comments, other keys,
// blank lines) stay as they are. Every write replaces the file atomically, so
// a crash or a full disk never leaves a truncated or empty settings file.
// No Qt: the command-line program uses it as well.
#pragma once

#include "common/Date.h"

#include <optional>
#include <string>

class TIniFile {
  public:
    // `path` is the file's full path; it need not exist.
    explicit TIniFile(std::string path);

    const std::string& FileName() const { return path_; }

    // Read through a 2048-byte buffer: at most 2047 characters come back.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // Decimal text; a missing value or one that is not an integer gives the default.
    int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
    // Read as an integer (same default rule); any value other than zero is true.
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;

    // Writes fail with std::runtime_error "Unable to write to <full path>".
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value); // "1" / "0"

  private:
    std::string path_;
};

// The settings file of a program that runs from `exeDir`, matching an
// existing file of any letter case: ExeDir + "KesPrep.ini", or, for the
// installed copy on Linux, the file in the user's configuration folder (see
// app/core/SettingsLocation.h).
std::string SettingsFilePath(const std::string& exeDir);
