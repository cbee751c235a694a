// libFuzzer entry: a file with a recovery record, damaged or forged, checked and repaired.
#include "recovery_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz_recovery::recovery_input(data, size);
}
