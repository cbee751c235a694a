#include "dc/block_code.h"

#include "dc/dc_steps.h"

void code_block(DistanceCoder& dc, NumberCoder& nc, const uint8_t* t, int32_t n, int32_t primary) {
    reset_models(nc.models);
    if (n == 0) {
        encode_number(nc, 0, 0, 0);
        rc_flush(nc.rc);
        return;
    }
    dc_scan_block(dc, t, n);
    dc_code_steps(dc, nc.models, nc, t, n, primary);
}

void steps_prepare(BlockSteps& b, const uint8_t* t, int32_t n, int32_t primary, int32_t* work) {
    b.t = t;
    b.n = n;
    b.primary = primary;
    b.dc.distance = work;
    dc_scan_block(b.dc, t, n);
    reset_models(b.models);
    record_clear(b.record);
}

void steps_record(BlockSteps& b, int32_t* work, size_t work_entries) {
    DistanceCoder& dc = b.dc;
    if (!record_open(b.record, work + dc.run_count, work + work_entries)) return;
    bool in_distances = false;
    while (!dc_code_steps(dc, b.models, b.record, b.t, b.n, b.primary)) {
        // Distances already coded are free; the record may run on over them,
        // up to the next one still to code.
        int32_t* free_end = work + (dc.stage == dc_stage_runs ? dc.item : 0);
        if (dc.stage > dc_stage_runs) free_end = work + dc.run_count;
        if (!in_distances) {
            if (!record_open(b.record, work, free_end)) return;
            in_distances = true;
        } else {
            record_extend(b.record, free_end);
        }
        if (!sink_has_room(b.record)) return;
    }
}

void steps_finish(BlockSteps& b, NumberCoder& nc) {
    replay_steps(nc.rc, b.record);
    dc_code_steps(b.dc, b.models, nc, b.t, b.n, b.primary);
}
