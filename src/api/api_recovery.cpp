// Recovery records: building one after an archive, checking a file against
// its record, and repairing it.
#include "api/api_alloc.h"
#include "api/api_streams.h"
#include "archive/recovery_build.h"
#include "archive/recovery_check.h"
#include "archive/recovery_repair.h"

namespace {

vorb_recovery_layout public_layout(const RecordLayout& l) {
    vorb_recovery_layout p{};
    p.data_size = l.data_size;
    p.record_size = l.record_size;
    p.percent = l.percent;
    p.unit_size = l.unit_size;
    p.stripes = l.stripes;
    p.data_units = l.data_units;
    p.parity_units = l.parity_units;
    p.burst_bytes = record_burst_bytes(l);
    return p;
}

bool percent_ok(unsigned percent) { return percent >= record_min_percent && percent <= record_max_percent; }

bool random_access(const vorb_source* s) { return s && s->read_at && s->size != UINT64_MAX; }

void put_report(const RecordCheck& c, vorb_recovery_report* report) {
    if (!report) return;
    *report = vorb_recovery_report{};
    if (!c.found) return;
    report->state = record_intact(c)       ? VORB_RECOVERY_INTACT
                    : record_repairable(c) ? VORB_RECOVERY_REPAIRABLE
                                           : VORB_RECOVERY_BEYOND;
    report->layout = public_layout(c.layout);
    report->damaged_data_units = c.damaged_data;
    report->damaged_record_units = c.damaged_record;
    report->unknown_units = c.unknown;
    report->stripes_beyond = c.stripes_beyond;
}

RecordSource record_source(const vorb_source* s) { return RecordSource{s->read_at, s->ctx, s->size}; }

}  // namespace

vorb_status vorb_recovery_plan(uint64_t data_size, unsigned percent, vorb_recovery_layout* layout) {
    if (!layout || !percent_ok(percent) || data_size == 0 || data_size > record_max_data_size) return VORB_ERR_PARAM;
    *layout = public_layout(record_plan(data_size, percent));
    return VORB_OK;
}

vorb_status vorb_recovery_build(const vorb_source* source, unsigned percent, vorb_write_fn write, void* write_ctx) {
    if (!source || !source->read || !write || !percent_ok(percent) || source->size == 0 ||
        source->size > record_max_data_size)
        return VORB_ERR_PARAM;
    return or_out_of_memory([&] {
        CallbackOut out;
        callback_out_init(out, write, write_ctx);
        const Status st = record_build(record_plan(source->size, percent), RecordInput{source->read, source->ctx},
                                       nullptr, out.out);
        if (st != Status::ok) return to_api(st);
        return flush_out(out.out) ? VORB_OK : VORB_ERR_WRITE;
    });
}

vorb_status vorb_recovery_check(const vorb_source* source, vorb_recovery_report* report) {
    if (!random_access(source) || !report) return VORB_ERR_PARAM;
    return or_out_of_memory([&] {
        RecordCheck c;
        const Status st = record_check(record_source(source), c);
        if (st != Status::ok) return to_api(st);
        put_report(c, report);
        return VORB_OK;
    });
}

vorb_status vorb_recovery_repair(const vorb_source* source, vorb_write_fn write, void* write_ctx,
                                 vorb_recovery_report* report) {
    if (!random_access(source) || !write) return VORB_ERR_PARAM;
    return or_out_of_memory([&] {
        RecordCheck c;
        Status st = record_check(record_source(source), c);
        if (st != Status::ok) return to_api(st);
        put_report(c, report);
        if (!c.found) return VORB_ERR_NO_RECOVERY;
        CallbackOut out;
        callback_out_init(out, write, write_ctx);
        st = record_repair(record_source(source), c, out.out);
        if (st != Status::ok) return to_api(st);
        return flush_out(out.out) ? VORB_OK : VORB_ERR_WRITE;
    });
}
