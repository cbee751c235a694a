// Distance decoder: rebuilds a transformed block run by run, keeping the
// values of the symbol set ordered by the position of their next occurrence.
#pragma once

#include <cstdint>

#include "coder/model.h"
#include "common/status.h"

// Entries past the list read by the placement scan, eight at a time: the
// first of them is a stop mark, the rest only pad the last read.
constexpr int upcoming_pad = 8;
constexpr int upcoming_room = 2048;

// How the decoder places a value again on its list after each run. Every
// way decodes every stream, damaged ones included, to the same bytes and
// status; tests compare them.
enum class DcPlacement : uint8_t {
    portable_plain,  // two plain arrays, one entry a step: any processor
    portable,        // the packed list, one entry a step
    sse2_plain,      // the plain arrays four entries a step (x86-64)
    sse2,            // the packed list eight a step, from either end (x86-64)
    avx512,          // the packed list's vectors rewritten up to the place
};

// Whether this build and processor can place that way.
bool dc_placement_available(DcPlacement p);
// The fastest way this processor has.
DcPlacement dc_best_placement();

struct DistanceDecoder;
struct Ticker;
using DcRunsFn = Status (*)(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker);
DcRunsFn dc_runs_for(DcPlacement p);

struct DistanceDecoder {
    // [0, symbol_count): the values in ascending order of their next
    // occurrence not yet written, and those positions, side by side in list
    // order so that the placement scan moves both with the same vector steps.
    int32_t upcoming_list[256 + upcoming_pad];
    int32_t upcoming_pos[256 + upcoming_pad];
    // The same list packed as position << 8 | value, one array to move, for
    // blocks whose positions stay below 2^23 (every block of the default size).
    // It lies somewhere in this wider array, so that either end can move.
    int32_t upcoming_packed[upcoming_room];
    int32_t symbol_count;
    // The placement, chosen once for the processor (dc_use_placement).
    DcRunsFn runs = dc_runs_for(dc_best_placement());
    // After a block decodes: how often each value occurs in it, summed run by
    // run, which spares the inverse transform a count of its own.
    int32_t value_count[256];
};

// Places values as p says from the next block on; false, with nothing
// changed, where p is not available.
bool dc_use_placement(DistanceDecoder& dd, DcPlacement p);

// Work that runs on the decoding thread between runs, so that its memory
// waits overlap the decoder's chain of dependent steps: fn is called after
// the first run with the bytes written so far and the block's length, and
// returns how many must be written before the next call.
struct DecodeTick {
    int32_t (*fn)(void* ctx, int32_t written, int32_t n) = nullptr;
    void* ctx = nullptr;
};

// Reads one block's length, symbol set and distances and writes the
// transformed block to buffer[0, n). n = 0 is the end marker. A length above
// max_n, or any run, position or symbol set no packer can have written, fails
// without writing outside buffer[0, max_n).
// tick, when given, is called between runs as it asks.
[[nodiscard]] Status dc_decode(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, uint32_t max_n,
                               int32_t& n, DecodeTick* tick = nullptr);
