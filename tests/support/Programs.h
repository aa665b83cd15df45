// Starting other programs from a test without a shell: the programs under
// test (kesprep-batch, the generator) and the independent readers some
// cross-checks compare with, which a machine may not have.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// The full path of a program found on PATH ("" when there is none); on
// Windows the ".exe" ending is tried as well.
std::string findOnPath(const std::string& name);

// Runs `argv` (argv[0] a path), waits for it and returns its exit code, or -1
// when it could not be started or did not end normally. Standard output and
// error are kept in `out` and `err` when given (as text: a Windows program's
// CR LF line ends read as LF), and discarded otherwise; `err` also says why a
// program could not be started or did not end normally.
int runProgram(const std::vector<std::string>& argv, std::string* out = nullptr,
               std::string* err = nullptr);

// Console text with CR LF line ends (a Windows program's) as LF.
std::string withUnixLineEnds(std::string text);

} // namespace testsupport
