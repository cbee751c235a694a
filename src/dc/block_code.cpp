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

bool steps_record(BlockSteps& b, int32_t* work, size_t work_entries, const RecordProgress* progress) {
    DistanceCoder& dc = b.dc;
    StepRecord& r = b.record;
    bool in_distances = false;
    bool room = record_open(r, work + dc.run_count, work + work_entries);
    while (room) {
        // Shown to someone, the record stops at every chunk's end.
        uint16_t* const end = r.end;
        if (progress && static_cast<size_t>(end - r.at) > progress->chunk_words) r.end = r.at + progress->chunk_words;
        const bool done = dc_code_steps(dc, b.models, r, b.t, b.n, b.primary);
        const bool chunk_full = r.end != end;
        r.end = end;
        if (done) break;
        if (progress && progress->show(progress->ctx, r, false)) return true;
        if (chunk_full && sink_has_room(r)) continue;
        // Distances already coded are free; the record may run on over them,
        // up to the next one still to code.
        int32_t* free_end = work + (dc.stage == dc_stage_runs ? dc.item : 0);
        if (dc.stage > dc_stage_runs) free_end = work + dc.run_count;
        if (!in_distances) {
            room = record_open(r, work, free_end);
            in_distances = true;
        } else {
            record_extend(r, free_end);
        }
        room = room && sink_has_room(r);
    }
    return progress && progress->show(progress->ctx, r, true);
}

void steps_code_at_once(BlockSteps& b, RangeCoder& rc) {
    dc_code_steps(b.dc, b.models, rc, b.t, b.n, b.primary);
}

void steps_finish(BlockSteps& b, NumberCoder& nc, bool replayed) {
    if (!replayed) replay_steps(nc.rc, b.record);
    dc_code_steps(b.dc, b.models, nc, b.t, b.n, b.primary);
}
