// libFuzzer entry: kesfuzz::ReadDbf.
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return kesfuzz::ReadDbf(data, size);
}
