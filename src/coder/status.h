// Result of every step that reads archive bytes. Values read from an archive
// are never trusted: each check names what was wrong so that app/ can say it.
#pragma once

#include <cstdint>

enum class Status : uint8_t {
    ok = 0,
    truncated,          // the archive ended inside a member's block stream
    bad_length_code,    // a number's bit length ran past what the format allows
    bad_frequency,      // a frequency-table symbol lay outside the table's total
    bad_block_length,   // a block claimed more bytes than the stored block size
    bad_symbol_set,     // the symbol set listed a value twice or a bad first position
    bad_run,            // a run ended at or before the current position or past the block
    bad_primary_index,  // the primary index was not a row of the block
    bad_transform,      // the block does not invert to one sequence of bytes
    write_failed,       // an output file could not be written
    checksum_mismatch,  // unpacked bytes differ from their recorded checksum
    damaged_index,      // the archive's index contradicts itself or the data
};

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
