// Tries a lock on a file from a second process and says through its exit
// code what happened: 0 taken, 3 held elsewhere, 2 anything else.
//   kes_lock_probe <path> shared|exclusive
#include "os/Os.h"

#include <string>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::vector<std::string> args = kes::os::commandLineArguments(argc, argv);
    kes::os::File file;
    if (!kes::os::File::openRead(args[1], file).ok()) return 2;
    const kes::os::Status locked = file.lock(args[2] == "exclusive" ? kes::os::LockKind::Exclusive
                                                                    : kes::os::LockKind::Shared);
    if (locked.ok()) return 0;
    return locked.kind() == kes::os::ErrorKind::LockConflict ? 3 : 2;
}
