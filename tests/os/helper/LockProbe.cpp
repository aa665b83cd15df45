// Tries a lock on a file from a second process and says through its exit
// code what happened: 0 taken, 3 held elsewhere, 2 anything else.
//   kes_lock_probe <path> shared|exclusive
// With --argument it checks instead that one argument full of what a command
// line quotes arrived whole: 0 when it did, 4 when not.
//   kes_lock_probe --argument <text>
// With --sleep it waits that many seconds and ends with 0; with --crash it
// ends as a crashed program does (a signal, or on Windows the exit code of
// an access violation).
//   kes_lock_probe --sleep <seconds>
//   kes_lock_probe --crash now
// With --environment it checks what the OS layer reads from its environment:
// 0 when the variable (or, for --home, the home folder) is the text given, 5
// when not.
//   kes_lock_probe --environment <name> <text>
//   kes_lock_probe --home <text>
#include "os/Os.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

// Blanks, quotes, backslashes before a quote and at the end, and characters
// a shell would act on.
constexpr const char* kAwkwardArgument = "say \"hi\" & a\\\"b c:\\dir\\ $HOME|* c:\\dir\\";

int main(int argc, char** argv) {
    const std::vector<std::string> args = kes::os::commandLineArguments(argc, argv);
    if (argc == 4 && args[1] == "--environment")
        return kes::os::environmentVariable(args[2]) == args[3] ? 0 : 5;
    if (argc == 3 && args[1] == "--home") return kes::os::homeDirectory() == args[2] ? 0 : 5;
    if (argc != 3) return 2;
    if (args[1] == "--argument") return args[2] == kAwkwardArgument ? 0 : 4;
    if (args[1] == "--sleep") {
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(args[2].c_str())));
        return 0;
    }
    if (args[1] == "--crash") {
#ifdef _WIN32
        std::_Exit(static_cast<int>(0xC0000005u)); // what an access violation leaves
#else
        std::abort();
#endif
    }
    kes::os::File file;
    if (!kes::os::File::openRead(args[1], file).ok()) return 2;
    const kes::os::Status locked = file.lock(args[2] == "exclusive" ? kes::os::LockKind::Exclusive
                                                                    : kes::os::LockKind::Shared);
    if (locked.ok()) return 0;
    return locked.kind() == kes::os::ErrorKind::LockConflict ? 3 : 2;
}
