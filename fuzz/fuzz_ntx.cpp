// libFuzzer entry: kesfuzz::ReadNtx.
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return kesfuzz::ReadNtx(data, size);
}
