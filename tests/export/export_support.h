// What the export tests share: the upload files they expect.
#pragma once

#include "support/Files.h"

#include <string>

namespace exporttest {

// The expected upload file `name` of tests/export/golden.
inline std::string golden(const std::string& name) {
    return testsupport::readFile(std::string(KES_EXPORT_GOLDEN) + "/" + name);
}

} // namespace exporttest
