// Path texts and file lookup. Paths use the platform's separator (PathDelim);
// file names are matched without regard to letter case on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
inline constexpr char PathDelim = '\\';
#else
inline constexpr char PathDelim = '/';
#endif

// Keeps the first 255 characters and appends PathDelim unless the text is
// already 255 characters long or ends in PathDelim. "" gives PathDelim alone.
std::string NormalizePath(std::string_view path);

namespace kes {

// The default data directory: C:\VIRN\ on Windows, ~/VIRN/ elsewhere.
std::string defaultDataDir();

// Finds the file or folder that `path` names, matching each component of the
// path without regard to letter case. Returns the spelling found on disk, or
// an empty string when there is no such entry. Exact matches win.
std::string resolveCaseInsensitive(const std::string& path);

// Like resolveCaseInsensitive, but for a file about to be created or replaced:
// an existing entry under any spelling is returned; otherwise the directory part
// is resolved and the file name kept as given.
std::string resolveForWriting(const std::string& path);

// The entries of the folder of `path` whose names are its file name in some
// letter case (on a file system that tells case apart, there can be two).
std::vector<std::string> spellingsOf(const std::string& path);

// True when a regular file exists under any letter case of `path`.
bool fileExists(const std::string& path);

// Deletes the file under any letter case; true when a file was removed.
bool deleteFile(const std::string& path);

// Directory part including the trailing separator ("" when there is none).
std::string directoryOf(const std::string& path);
// File name part.
std::string fileNameOf(const std::string& path);
// Name without directory and extension ("SSN" for ".../SSN.NTX").
std::string baseNameOf(const std::string& path);
// True when the file name part has an extension.
bool hasExtension(const std::string& path);

// The name of a temporary file beside `target` that replaces it when complete:
// the target's name, ".~", a number, ".tmp".
std::string temporaryNameBeside(const std::string& target, unsigned number);
// Removes the temporary files that runs killed before their rename left
// beside `target`: the numbered ones named as above, and those of the OS
// layer's replace routine (os::removeStaleReplacementTemporaries).
void removeStaleNumberedAndReplacementTemporaries(const std::string& target);

} // namespace kes
