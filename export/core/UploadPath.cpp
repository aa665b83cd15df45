#include "export/core/UploadPath.h"

#include "common/Text.h"
#include "os/Os.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The files of the data directory that a preparation or the settings dialog
// reads or writes.
const char* const kDataDirFiles[] = {
    "KESTABLE.dbf", "KESTABLE.cdx", "KESTALEX.dbf", "KESTALEX.cdx", "KESPLACE.dbf", "KESPLACE.cdx",
    "KESTEST.dbf",  "KESTEST.cdx",  "KESTEMP.dbf",  "KESTEMP.cdx",  "KESPLACx.DBF", "KESPLACx.CDX",
    "KESTESTx.DBF", "KESTESTx.CDX", "SetupSch.dbf", "KESPREP.LCK",  "KESHIST.CSV",  "KESCODES.SES",
};

// Endings of the files no upload file may replace in any folder: xBase
// tables and indexes (another data folder's, a backup's) and lock files.
const char* const kForeignEndings[] = {".dbf", ".ntx", ".cdx", ".lck"};

// The path as the file system resolves it, in lower case for comparing.
std::string resolved(const fs::path& p) {
    std::error_code ec;
    fs::path absolute = fs::absolute(p, ec);
    if (ec) absolute = p;
    fs::path canonical = fs::weakly_canonical(absolute, ec);
    if (ec) canonical = absolute.lexically_normal();
    std::string text = canonical.generic_string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return kes::toLowerAscii(text);
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec) && !ec) return true;
    return resolved(a) == resolved(b);
}

bool isPeriodFolderName(const std::string& name) {
    const std::string lower = kes::toLowerAscii(name);
    if (lower.size() <= 6 || lower.compare(0, 6, "virntp") != 0) return false;
    for (size_t i = 6; i < lower.size(); ++i)
        if (lower[i] < '0' || lower[i] > '9') return false;
    return true;
}

// A name no upload file may have in any folder: another data folder's
// tables and indexes, a backup's, a lock file.
std::string endingProblem(const fs::path& upload, const std::string& quoted) {
    const std::string lowerName = kes::toLowerAscii(upload.filename().string());
    for (const char* ending : kForeignEndings) {
        const std::string end = ending;
        if (lowerName.size() > end.size() &&
            lowerName.compare(lowerName.size() - end.size(), end.size(), end) == 0)
            return "The upload file " + quoted + " has the name of a table, index or lock file (" +
                   end + "), which an upload file may not replace; choose another name.";
    }
    return {};
}

} // namespace

std::string UploadPathProblem(const std::string& uploadFile, const std::string& dataDir,
                              const std::string& settingsFile) {
    const std::string quoted = "\"" + uploadFile + "\"";
    if (uploadFile.empty()) return "No upload file is named.";
    const fs::path upload(uploadFile);
    std::error_code ec;
    switch (kes::os::fileKind(uploadFile)) {
    case kes::os::FileKind::Directory:
        return "The upload file " + quoted + " is a folder; name a file.";
    case kes::os::FileKind::Other:
        // Replacing a device or a pipe by a file breaks what uses it.
        return "The upload file " + quoted + " is a device or a pipe, not a file; name a file.";
    case kes::os::FileKind::Regular:
        if (kes::os::isMarkedReadOnly(uploadFile))
            return "The upload file " + quoted +
                   " is marked read-only; clear the mark or choose another name.";
        break;
    case kes::os::FileKind::Missing:
        break;
    }
    if (!settingsFile.empty() && sameFile(upload, settingsFile))
        return "The upload file " + quoted + " is the settings file " + settingsFile +
               "; choose another name.";
    if (dataDir.empty()) return endingProblem(upload, quoted);
    const fs::path data(dataDir);
    for (const char* name : kDataDirFiles)
        if (sameFile(upload, data / name))
            return "The upload file " + quoted + " is " + name +
                   " of the data folder, which the preparation reads or writes; choose another "
                   "name.";
    // Inside a testing-period folder: every file there belongs to the testing system.
    const std::string dataResolved = resolved(data);
    const fs::path uploadResolved = fs::weakly_canonical(fs::absolute(upload, ec), ec);
    for (fs::path folder = uploadResolved.parent_path(); !folder.empty();
         folder = folder.parent_path()) {
        if (isPeriodFolderName(folder.filename().string()) &&
            resolved(folder.parent_path()) == dataResolved)
            return "The upload file " + quoted + " lies in the testing period folder " +
                   folder.string() +
                   ", which belongs to the testing system; choose another "
                   "folder.";
        if (folder == folder.root_path()) break;
    }
    return endingProblem(upload, quoted);
}
