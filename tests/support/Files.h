// Files and folders for the test programs: whole files read and written,
// folders copied, fixtures of tests/data, and temporary folders. A TempDir is
// a fresh folder of its own under the system temporary folder, removed with
// everything in it when the object goes; only its owner may enter it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

// The whole file's bytes; "" for a file that does not exist or cannot be read.
std::string readFile(const std::filesystem::path& path);

// Makes `path` a file of exactly `bytes`, making its folder first when it is
// missing. Throws when the file cannot be written: a test must not go on from
// a set-up that did not happen.
void writeFile(const std::filesystem::path& path, std::string_view bytes);

// Copies the folder `from` with everything in it into `to` (made when it is
// missing), every copy writable whatever the original's permissions.
void copyFolder(const std::filesystem::path& from, const std::filesystem::path& to);

// A fixture file or folder of tests/data, by its path below that folder.
std::string fixture(const std::string& relative);

// True when the file system of `folder` ignores the letter case of names
// (Windows, macOS by default): there a path spelled in any case names the
// file, and the program need not find its exact spelling.
bool fileNamesIgnoreCase(const std::filesystem::path& folder);

class TempDir {
  public:
    // `tag` goes into the folder's name, after the running test's name.
    explicit TempDir(const std::string& tag = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder with a trailing separator, as DatabaseName and data folders want it.
    std::string dir() const;
    std::string file(const std::string& name) const;
    // Copies a fixture file in, writable, as `as` (default: its own name);
    // returns the copy's path.
    std::string copy(const std::string& relative, const std::string& as = "") const;
    // Copies the contents of a fixture folder in, every file writable.
    void copyFolder(const std::string& relative) const;

  private:
    std::filesystem::path path_;
};

} // namespace testsupport
