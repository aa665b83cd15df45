// Another preparation, as far as the data folder's lock goes: holds the
// preparation lock of a data folder until told to let go.
//   kes_lock_holder DATA-FOLDER HELD-FILE RELEASE-FILE
// writes HELD-FILE once it holds the lock and ends when RELEASE-FILE appears
// (or after a minute). Exit status 0 when it held the lock, 1 otherwise.
#include "common/PreparationLock.h"
#include "os/Os.h"

#include <chrono>
#include <exception>
#include <iostream>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: kes_lock_holder DATA-FOLDER HELD-FILE RELEASE-FILE\n";
        return 2;
    }
    try {
        PreparationLock lock(argv[1]);
        if (!kes::os::writeFileReplacing(argv[2], "held").ok()) return 1;
        for (int i = 0; i < 600 && kes::os::fileKind(argv[3]) == kes::os::FileKind::Missing; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
