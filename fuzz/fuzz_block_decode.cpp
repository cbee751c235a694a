// libFuzzer entry: arbitrary bytes decoded as a block stream; every block
// accepted must be a real transform.
#include "block_decode_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz_block_decode::block_decode_input(data, size);
}
