#include "settings/core/CodeFiles.h"

#include "common/Paths.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace codefiles {

std::string renameFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(fs::path(from), fs::path(to), ec);
    if (ec) return ec.message();
    return {};
}

std::string copyFileReplacing(const std::string& from, const std::string& to) {
    const std::string source = kes::resolveCaseInsensitive(from);
    if (source.empty() || !kes::fileExists(source)) return from + " does not exist";
    std::error_code ec;
    fs::copy_file(fs::path(source), fs::path(kes::resolveForWriting(to)),
                  fs::copy_options::overwrite_existing, ec);
    if (ec) return ec.message();
    return {};
}

std::string copyFileToExactName(const std::string& from, const std::string& to) {
    const std::string source = kes::resolveCaseInsensitive(from);
    if (source.empty() || !kes::fileExists(source)) return from + " does not exist";
    std::error_code ec;
    fs::copy_file(fs::path(source), fs::path(to), fs::copy_options::overwrite_existing, ec);
    if (ec) return ec.message();
    return {};
}

void deleteEverySpelling(const std::string& path) {
    // Each round removes one spelling; a file that cannot be removed ends it.
    while (kes::deleteFile(path)) {
    }
}

} // namespace codefiles
