#include "settings/core/CodeFiles.h"

#include "common/Paths.h"
#include "os/Os.h"

std::string RenameCodeFile(const std::string& from, const std::string& to) {
    const kes::os::Status status = kes::os::renameReplacing(from, to);
    return status.ok() ? std::string() : status.reason();
}

namespace {

// The copy is written whole beside the target and put in its place, so a
// backup is the old one or the new one, never a part; what a killed copy
// left beside the target goes first.
std::string copyOver(const std::string& from, const std::string& to) {
    const std::string source = kes::resolveCaseInsensitive(from);
    if (source.empty() || !kes::fileExists(source)) return from + " does not exist";
    kes::os::removeStaleReplacementTemporaries(to);
    const kes::os::Status status = kes::os::copyFileReplacing(source, to);
    return status.ok() ? std::string() : status.reason();
}

} // namespace

std::string CopyCodeFileReplacing(const std::string& from, const std::string& to) {
    return copyOver(from, kes::resolveForWriting(to));
}

std::string CopyCodeFileToExactName(const std::string& from, const std::string& to) {
    return copyOver(from, to);
}

void DeleteEverySpelling(const std::string& path) {
    // Each round removes one spelling; a file that cannot be removed ends it.
    while (kes::deleteFile(path)) {
    }
}
