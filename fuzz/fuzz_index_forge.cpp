// libFuzzer entry: a valid indexed archive with its index and footer forged.
#include "index_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz_index::forge_input(data, size); }
