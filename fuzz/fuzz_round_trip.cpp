// libFuzzer entry: arbitrary bytes packed, unpacked and compared.
#include "round_trip_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz_round_trip::round_trip_input(data, size);
}
