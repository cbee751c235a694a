#include "common/status.h"

const char* status_message(Status s) {
    switch (s) {
    case Status::ok: return "ok";
    case Status::end: return "no more entries";
    case Status::bad_parameter: return "bad parameter";
    case Status::out_of_memory: return "out of memory";
    case Status::read_failed: return "read failed";
    case Status::write_failed: return "write failed";
    case Status::bad_signature: return "invalid signature";
    case Status::truncated: return "archive is truncated";
    case Status::bad_block_size: return "block size out of range";
    case Status::bad_length_code: return "damaged data (number too long)";
    case Status::bad_frequency: return "damaged data (symbol out of range)";
    case Status::bad_block_length: return "damaged data (block longer than the block size)";
    case Status::bad_symbol_set: return "damaged data (bad symbol set)";
    case Status::bad_run: return "damaged data (bad run)";
    case Status::bad_primary_index: return "damaged data (bad primary index)";
    case Status::bad_transform: return "damaged data (block does not invert)";
    case Status::trailing_bytes: return "bytes follow the last member";
    case Status::name_too_long: return "name longer than 198 characters";
    case Status::checksum_mismatch: return "checksum mismatch";
    case Status::damaged_index: return "damaged index";
    case Status::bad_block_end: return "damaged data (a block does not end where the next one starts)";
    case Status::block_checksum_mismatch: return "block checksum mismatch";
    case Status::bad_stream_end: return "damaged data (a member's last bytes do not match its coder)";
    case Status::damaged_record: return "damaged recovery record";
    case Status::beyond_repair: return "damage beyond what the recovery record can repair";
    case Status::no_record: return "no recovery record";
    }
    return "unknown error";
}
