// libFuzzer entry: arbitrary bytes unpacked as an archive in memory.
#include "unpack_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz_unpack::unpack_input(data, size);
}
