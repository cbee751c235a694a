#include "coder/status.h"

const char* status_message(Status s) {
    switch (s) {
    case Status::ok: return "ok";
    case Status::truncated: return "archive is truncated";
    case Status::bad_length_code: return "damaged data (number too long)";
    case Status::bad_frequency: return "damaged data (symbol out of range)";
    case Status::bad_block_length: return "damaged data (block longer than the block size)";
    case Status::bad_symbol_set: return "damaged data (bad symbol set)";
    case Status::bad_run: return "damaged data (bad run)";
    case Status::bad_primary_index: return "damaged data (bad primary index)";
    case Status::bad_transform: return "damaged data (block does not invert)";
    case Status::write_failed: return "write failed";
    case Status::checksum_mismatch: return "checksum mismatch";
    case Status::damaged_index: return "damaged index";
    }
    return "unknown error";
}
