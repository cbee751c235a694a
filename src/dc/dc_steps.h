// Coding a scanned block as the block stream lays it out (the length, the
// symbol set with first positions, the distances, the primary index) into
// any step sink. With a record as the sink it stops, before a number, when
// the record has no room; a later call takes it up where it stopped, with the
// same models, and may go to another sink.
#pragma once

#include <cstdint>

#include "coder/number_encode.h"
#include "dc/dc_encode.h"

// True when the block is done, false when the sink ran out of room.
template <class Sink>
bool dc_code_steps(DistanceCoder& dc, ModelSet& m, Sink& out, const uint8_t* t, int32_t n, int32_t primary) {
    switch (dc.stage) {
        case dc_stage_length:
            if (!sink_has_room(out)) return false;
            encode_number_to(m, out, static_cast<uint32_t>(n), 0, 0);
            dc.stage = dc_stage_symbols;
            dc.item = 0;
            [[fallthrough]];
        case dc_stage_symbols:
            // Two numbers per value present (the step from the value before,
            // the first position), then a step of 0 to end the set.
            for (; dc.item <= 2 * dc.symbol_count; dc.item++) {
                if (!sink_has_room(out)) return false;
                const int i = dc.item >> 1;
                if (i == dc.symbol_count) {
                    encode_number_to(m, out, 0, 0, 1);
                    continue;
                }
                const uint8_t x = dc.sorted_symbols[i];
                if (dc.item & 1) {
                    encode_number_to(m, out, static_cast<uint32_t>(dc.first_pos[x]), x, 0);
                } else {
                    const uint8_t before = i > 0 ? dc.sorted_symbols[i - 1] : 0;
                    encode_number_to(m, out, static_cast<uint8_t>(x - before), 0, 1);
                }
            }
            dc.stage = dc_stage_runs;
            dc.item = 0;
            dc.pos = 0;
            [[fallthrough]];
        case dc_stage_runs: {
            // Each run's distance in the context of its byte, marked when the
            // run is longer than one byte.
            int32_t r = dc.item, p = dc.pos;
            while (p < n) {
                if (!sink_has_room(out)) {
                    dc.item = r;
                    dc.pos = p;
                    return false;
                }
                const uint8_t x = t[p];
                const int32_t e = run_end(t, p, n);
                encode_number_to(m, out, static_cast<uint32_t>(dc.distance[r]), x, e > p + 1);
                r++;
                p = e;
            }
            dc.item = r;
            dc.pos = p;
            dc.stage = dc_stage_primary;
            [[fallthrough]];
        }
        case dc_stage_primary:
            if (!sink_has_room(out)) return false;
            encode_number_to(m, out, static_cast<uint32_t>(primary), 0, 0);
            dc.stage = dc_stage_done;
            [[fallthrough]];
        default:
            return true;
    }
}
