#include "support/Programs.h"

#include "os/Os.h"
#include "support/Files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace testsupport {

namespace {

#ifdef _WIN32
constexpr char kPathSeparator = ';';
#else
constexpr char kPathSeparator = ':';
#endif

std::string contents(const std::string& path) {
    std::string text;
    kes::os::readFile(path, text);
    return text;
}

} // namespace

std::string withUnixLineEnds(std::string text) {
    size_t kept = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            text[kept++] = text[i];
    text.resize(kept);
    return text;
}

std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path) return {};
    const std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(kPathSeparator, start);
        if (end == std::string::npos) end = list.size();
        const std::string folder = list.substr(start, end - start);
        start = end + 1;
        if (folder.empty()) continue;
        for (const char* ending : {"", ".exe"}) {
            const std::filesystem::path candidate = std::filesystem::path(folder) / (name + ending);
            if (kes::os::fileKind(candidate.string()) == kes::os::FileKind::Regular)
                return candidate.string();
        }
    }
    return {};
}

int runProgram(const std::vector<std::string>& argv, std::string* out, std::string* err) {
    TempDir capture("run");
    kes::os::RunOptions options;
    options.stdoutFile = capture.file("stdout.txt");
    options.stderrFile = capture.file("stderr.txt");
    kes::os::Status status;
    const int code = kes::os::runProgram(argv, options, &status);
    if (out) *out = withUnixLineEnds(contents(options.stdoutFile));
    if (err) *err = withUnixLineEnds(contents(options.stderrFile));
    // Why it did not start or end normally, for the test's failure message.
    if (!status.ok() || code == -1) {
        std::fprintf(stderr, "runProgram: %s (exit code %d)\n", status.message().c_str(), code);
        if (err) *err += status.message() + "\n";
    }
    return code;
}

} // namespace testsupport
