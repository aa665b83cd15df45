#include "app/core/SettingsLocation.h"

#include "common/Paths.h"
#include "os/Os.h"

namespace {

// The folder of the user's own settings files, below the configuration folder.
constexpr const char* kProgramFolder = "kesprep";

std::string withSeparator(std::string dir) {
    if (!dir.empty() && dir.back() != PathDelim) dir += PathDelim;
    return dir;
}

std::string withoutSeparators(std::string dir) {
    while (dir.size() > 1 && dir.back() == PathDelim)
        dir.pop_back();
    return dir;
}

bool isAbsolute(const std::string& path) {
    return !path.empty() && path.front() == PathDelim;
}

// Creates each missing folder on the way to `dir`; what cannot be created is
// left for the first write to report with the file's name.
void createFolders(const std::string& dir) {
    for (size_t end = dir.find(PathDelim, 1); end != std::string::npos;
         end = dir.find(PathDelim, end + 1)) {
        const std::string folder = dir.substr(0, end + 1);
        if (kes::os::fileKind(folder) == kes::os::FileKind::Missing)
            kes::os::createDirectory(folder);
    }
}

} // namespace

std::string SettingsDirectoryFor(const SettingsLocationFacts& facts) {
    const std::string besideProgram = withSeparator(facts.ProgramDir);
    const bool installed =
        !facts.InstalledProgramDir.empty() && !facts.ProgramDir.empty() &&
        withoutSeparators(facts.ProgramDir) == withoutSeparators(facts.InstalledProgramDir);
    if (!installed) return besideProgram;
    // The XDG base directory rule: a relative $XDG_CONFIG_HOME is ignored.
    std::string configHome;
    if (isAbsolute(facts.ConfigHome))
        configHome = withSeparator(facts.ConfigHome);
    else if (isAbsolute(facts.HomeDir))
        configHome = withSeparator(facts.HomeDir) + ".config" + PathDelim;
    else
        return besideProgram; // nowhere else to go; a write names the file it could not write
    return configHome + kProgramFolder + PathDelim;
}

SettingsLocationFacts CurrentSettingsLocationFacts(const std::string& programDir) {
    SettingsLocationFacts facts;
    facts.ProgramDir = programDir;
#if defined(KES_INSTALLED_BINDIR) && !defined(_WIN32)
    // The bin folder of the install prefix, given by the build. A Windows copy
    // is unzipped and runs where it lies: it has no installed folder.
    facts.InstalledProgramDir = KES_INSTALLED_BINDIR;
#endif
    facts.ConfigHome = kes::os::environmentVariable("XDG_CONFIG_HOME");
    facts.HomeDir = kes::os::homeDirectory();
    return facts;
}

std::string SettingsDirectory(const std::string& programDir) {
    const std::string dir = SettingsDirectoryFor(CurrentSettingsLocationFacts(programDir));
    if (dir != withSeparator(programDir)) createFolders(dir);
    return dir;
}
