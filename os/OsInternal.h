// What the shared part of the OS layer needs from each platform's part.
#pragma once

#include "os/Os.h"

#include <string>

namespace kes::os::detail {

// Flushes the folder that holds `path`, so that a rename in it is on the
// disk too. Does nothing where the platform offers no such thing.
void syncDirectoryOf(const std::string& path);
// Gives the new file the permissions of the file it will replace, when that
// exists and the platform keeps such permissions.
void adoptPermissions(File& replacement, const std::string& target);
// True for the separators of the platform's paths.
bool isSeparator(char c);

} // namespace kes::os::detail
