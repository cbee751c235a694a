// Codes one transformed block as the block stream lays it out: the length,
// the symbol set with first positions, the distances, the primary index.
// Either at once on the range coder (code_block), or in two halves: the
// models' work into a step record wherever the block was sorted
// (steps_prepare, steps_record), and the range coder's arithmetic in stream
// order (steps_finish). Both give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coder/step_record.h"
#include "dc/dc_encode.h"

// Resets the models and codes t[0, n) with its primary index. n = 0 codes the
// end marker and flushes the coder, which ends the member's stream.
// dc.distance must hold at least n entries.
void code_block(DistanceCoder& dc, NumberCoder& nc, const uint8_t* t, int32_t n, int32_t primary);

// A block between its sort and its place in the stream.
struct BlockSteps {
    DistanceCoder dc;
    ModelSet models;
    StepRecord record;
    const uint8_t* t = nullptr;
    int32_t n = 0;
    int32_t primary = 0;
};

// Scans t[0, n) (n >= 1) into work, which holds its run distances (n
// entries at most), and readies fresh models and an empty record.
void steps_prepare(BlockSteps& b, const uint8_t* t, int32_t n, int32_t primary, int32_t* work);

// Shown the record as it grows: at a number's end every chunk_words words
// or so, and once more when it ends. show returns true when the one shown
// takes over the rest of the block instead (recording then stops).
struct RecordProgress {
    bool (*show)(void* ctx, const StepRecord& r, bool ended);
    void* ctx;
    size_t chunk_words;
};

// Records as many of the block's steps as fit in the work area of
// work_entries entries (steps_prepare's): first the part past the run
// distances, then the distances already coded. What does not fit is left
// for steps_finish. True when progress took over the rest.
bool steps_record(BlockSteps& b, int32_t* work, size_t work_entries, const RecordProgress* progress = nullptr);

// Codes at once on rc, the models' work and the arithmetic together, the
// steps neither coded nor recorded yet: the whole block, or the rest after a
// record that progress took over (whose recorded steps rc must have coded).
void steps_code_at_once(BlockSteps& b, RangeCoder& rc);

// Codes the block on nc's range coder: the recorded steps (unless they were
// replayed as they were shown), then the rest.
void steps_finish(BlockSteps& b, NumberCoder& nc, bool replayed = false);
