// A block's coder steps kept for later: the models run wherever the block is
// coded, and only the range coder's arithmetic waits for the block's place in
// the stream. Steps are 16-bit words written into areas of memory the caller
// lends (parts of a block's buffers that are free once it is sorted):
//   0b000s pppp pppp pppp  a decision: probability p of the first outcome, s set for the second
//   0b1ttt tttt tttt tttt  a table symbol, total t; the next two words hold
//                          the counts before the symbol and its own count
#pragma once

#include <cstddef>
#include <cstdint>

#include "coder/number_encode.h"
#include "coder/range_coder.h"

constexpr uint16_t step_table_tag = 0x8000;
constexpr int step_record_areas = 4;

struct StepArea {
    uint16_t* begin;
    uint16_t* end;  // one past the last word written
};

struct StepRecord {
    StepArea areas[step_record_areas];  // filled areas, in step order
    int area_count = 0;
    uint16_t* at = nullptr;   // next word of the area being filled
    uint16_t* end = nullptr;  // end of the area being filled
};

// Empties the record; it has no room until an area is opened.
void record_clear(StepRecord& r);

// Moves on to words [begin, end) (a whole number of words); false when the
// record already has its most areas.
bool record_open(StepRecord& r, void* begin, void* end);

// Lets the area being filled run on to new_end (when the memory after it has
// come free).
inline void record_extend(StepRecord& r, void* new_end) { r.end = static_cast<uint16_t*>(new_end); }

// Codes the recorded steps, in order, on rc.
void replay_steps(RangeCoder& rc, const StepRecord& r);

// How far a replay has got in a record that is still growing: the area and
// its next word (null: the area's start).
struct ReplayPoint {
    int area = 0;
    const uint16_t* at = nullptr;
};

// Codes the steps of r (a copy taken while it grows, at a number's end) from
// where on, and moves where to its end.
void replay_steps_on(RangeCoder& rc, const StepRecord& r, ReplayPoint& where);

// Words recorded so far.
size_t record_words(const StepRecord& r);

// The record as a sink: room is checked before each number.
inline void sink_number(StepRecord&, uint32_t, uint8_t, uint8_t) {}
inline bool sink_has_room(const StepRecord& r) { return r.end - r.at >= number_steps_max; }
inline void sink_decision(StepRecord& r, uint32_t p, bool second) {
    *r.at++ = static_cast<uint16_t>((static_cast<uint32_t>(second) << 12) | p);
}
inline void sink_table(StepRecord& r, uint32_t cum, uint32_t freq, uint32_t total) {
    r.at[0] = static_cast<uint16_t>(step_table_tag | total);
    r.at[1] = static_cast<uint16_t>(cum);
    r.at[2] = static_cast<uint16_t>(freq);
    r.at += 3;
}
