#include "common/Paths.h"

#include "common/Text.h"
#include "os/Os.h"

#include <vector>

std::string NormalizePath(std::string_view path) {
    std::string result(path.substr(0, 255));
    // Windows takes "/" for a separator as well.
    if (result.size() == 255 ||
        (!result.empty() && (result.back() == PathDelim || result.back() == '/')))
        return result;
    result += PathDelim;
    return result;
}

namespace kes {

std::string defaultDataDir() {
#ifdef _WIN32
    return "C:\\VIRN\\";
#else
    const std::string home = os::homeDirectory();
    return (home.empty() ? "/" : home) + "VIRN/";
#endif
}

namespace {

bool isSep(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

// Looks `name` up in `dir`; exact spelling first, then any letter case.
std::string findEntry(const std::string& dir, const std::string& name) {
    std::string exact = dir + name;
    if (os::fileKind(exact) != os::FileKind::Missing) return exact;
    std::vector<std::string> entries;
    if (!os::listDirectory(dir.empty() ? "." : dir, entries).ok()) return {};
    for (const std::string& entry : entries)
        if (equalsIgnoreCase(entry, name)) return dir + entry;
    return {};
}

// Splits into the resolved leading part (root) and the components.
std::string resolveImpl(const std::string& path, bool lastMayBeMissing) {
    if (path.empty()) return {};
    if (os::fileKind(path) != os::FileKind::Missing) return path;
    std::string current;
    size_t pos = 0;
    // Keep a leading root ("/" or "C:\") as it is.
    while (pos < path.size() && isSep(path[pos]))
        current += path[pos++];
#ifdef _WIN32
    if (current.empty() && path.size() >= 2 && path[1] == ':') {
        current = path.substr(0, 2);
        pos = 2;
        while (pos < path.size() && isSep(path[pos]))
            current += path[pos++];
    }
#endif
    while (pos < path.size()) {
        size_t next = pos;
        while (next < path.size() && !isSep(path[next]))
            ++next;
        std::string component = path.substr(pos, next - pos);
        bool last = next >= path.size();
        std::string found = component.empty() || component == "." || component == ".."
                                ? current + component
                                : findEntry(current, component);
        if (found.empty()) {
            if (last && lastMayBeMissing) return current + component;
            return {};
        }
        current = found;
        while (next < path.size() && isSep(path[next]))
            current += path[next++];
        pos = next;
    }
    return current;
}

} // namespace

std::string resolveCaseInsensitive(const std::string& path) {
    return resolveImpl(path, false);
}

std::string resolveForWriting(const std::string& path) {
    std::string r = resolveImpl(path, true);
    return r.empty() ? path : r;
}

std::vector<std::string> spellingsOf(const std::string& path) {
    std::vector<std::string> found;
    const std::string dir = directoryOf(path);
    const std::string name = fileNameOf(path);
    std::vector<std::string> entries;
    if (name.empty() || !os::listDirectory(dir.empty() ? "." : dir, entries).ok()) return found;
    for (const std::string& entry : entries)
        if (equalsIgnoreCase(entry, name)) found.push_back(dir + entry);
    return found;
}

bool fileExists(const std::string& path) {
    std::string found = resolveCaseInsensitive(path);
    return !found.empty() && os::fileKind(found) == os::FileKind::Regular;
}

bool deleteFile(const std::string& path) {
    std::string found = resolveCaseInsensitive(path);
    if (found.empty()) return false;
    return os::removeFile(found).ok();
}

std::string directoryOf(const std::string& path) {
    size_t i = path.size();
    while (i > 0 && !isSep(path[i - 1]))
        --i;
    return path.substr(0, i);
}

std::string fileNameOf(const std::string& path) {
    return path.substr(directoryOf(path).size());
}

std::string baseNameOf(const std::string& path) {
    std::string name = fileNameOf(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool hasExtension(const std::string& path) {
    return fileNameOf(path).find('.') != std::string::npos;
}

std::string temporaryNameBeside(const std::string& target, unsigned number) {
    return target + ".~" + std::to_string(number) + ".tmp";
}

void removeStaleNumberedAndReplacementTemporaries(const std::string& target) {
    const std::string prefix = fileNameOf(target) + ".~";
    const std::string suffix = ".tmp";
    const std::string dir = directoryOf(target);
    std::vector<std::string> names;
    if (os::listDirectory(dir.empty() ? "." : dir, names).ok()) {
        for (const std::string& name : names) {
            if (name.size() <= prefix.size() + suffix.size() ||
                name.compare(0, prefix.size(), prefix) != 0 ||
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
                continue;
            const std::string number =
                name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
            if (number.find_first_not_of("0123456789") != std::string::npos) continue;
            os::removeFile(dir + name); // a symbolic link goes, not what it points to
        }
    }
    // And those of the replace routine.
    os::removeStaleReplacementTemporaries(target);
}

} // namespace kes
