// Result of every step that reads archive bytes. Values read from an archive
// are never trusted: each check names what was wrong so that the program can
// say it.
#pragma once

#include <cstdint>

// The library's one error enum; include/vorb.h mirrors it value for value.
enum class Status : uint8_t {
    ok = 0,
    end,                // no more entries (not an error)
    bad_parameter,      // a caller passed a null pointer or a value out of range
    out_of_memory,      // buffers or tables could not be allocated
    read_failed,        // the read callback reported an error
    write_failed,       // the write callback (an output file) reported an error
    bad_signature,      // the archive does not start with the signature
    truncated,          // the archive ended inside its header, an entry or a block stream
    bad_block_size,     // the header's block size is 0 or above the largest block
    bad_length_code,    // a number's bit length ran past what the format allows
    bad_frequency,      // a frequency-table symbol lay outside the table's total
    bad_block_length,   // a block claimed more bytes than the stored block size
    bad_symbol_set,     // the symbol set listed a value twice or a bad first position
    bad_run,            // a run ended at or before the current position or past the block
    bad_primary_index,  // the primary index was not a row of the block
    bad_transform,      // the block does not invert to one sequence of bytes
    trailing_bytes,     // bytes follow the last entry
    name_too_long,      // a member name longer than max_name_length
    checksum_mismatch,  // unpacked bytes differ from their recorded checksum
    damaged_index,      // the archive's index contradicts itself or the data
    bad_block_end,      // a block did not end where the index says the next one starts
    block_checksum_mismatch,  // a block's unpacked bytes differ from the index's checksum of them
    bad_stream_end,     // a stream's last four bytes are not what its coder flushed there
    damaged_record,     // the recovery record fails a check
    beyond_repair,      // more damage than the recovery record can repair
    no_record,          // no recovery record was found
};
constexpr int status_count = static_cast<int>(Status::no_record) + 1;

const char* status_message(Status s);

// One check per hostile value: on failure the enclosing function returns the status.
#define VORB_CHECK(cond, status)                 \
    do {                                         \
        if (!(cond)) [[unlikely]] return (status); \
    } while (0)

// Passes a failure from a callee straight back to the caller.
#define VORB_TRY(expr)                              \
    do {                                            \
        const Status vorb_try_status_ = (expr);     \
        if (vorb_try_status_ != Status::ok) [[unlikely]] return vorb_try_status_; \
    } while (0)
