// libFuzzer entry: arbitrary bytes salvaged as an archive in memory.
#include "salvage_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz_salvage::salvage_input(data, size);
}
