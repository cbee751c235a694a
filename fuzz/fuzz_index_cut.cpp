// libFuzzer entry: a valid indexed archive cut at any length.
#include "index_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz_index::cut_input(data, size); }
