#include "coder/step_record.h"

namespace {

// The interval steps of one area. The ordered pass is little else, so the
// coder's registers stay in locals and the usual way bytes settle (top bytes
// equal, range wide again after the shift) is handled here; only a cut
// interval goes to rc_normalize.
void replay_area(RangeCoder& rc, const uint16_t* w, const uint16_t* end) {
    uint32_t low = rc.low, range = rc.range;
    while (w < end) {
        const uint32_t x = *w++;
        uint32_t unit, cum, freq;
        if (x < step_table_tag) [[likely]] {
            const uint32_t p = x & (prob_one - 1);
            const uint32_t mask = 0u - (x >> 12);
            unit = range >> 12;
            cum = p & mask;
            freq = p ^ ((p ^ (prob_one - p)) & mask);
        } else {
            unit = range / (x & ~uint32_t{step_table_tag});
            cum = w[0];
            freq = w[1];
            w += 2;
        }
        low += cum * unit;
        range = freq * unit;
        if (rc_wide(low, range)) [[likely]]
            continue;
        while ((low ^ (low + range)) < (1u << 24)) {
            put_byte(*rc.out, static_cast<uint8_t>(low >> 24));
            low <<= 8;
            range <<= 8;
        }
        if (range < rc_min_range) {
            rc_normalize(rc, low, range);
            low = rc.low;
            range = rc.range;
        }
    }
    rc.low = low;
    rc.range = range;
}

}  // namespace

void record_clear(StepRecord& r) { r = StepRecord{}; }

bool record_open(StepRecord& r, void* begin, void* end) {
    if (r.area_count == step_record_areas) return false;
    if (r.area_count > 0) r.areas[r.area_count - 1].end = r.at;
    r.at = static_cast<uint16_t*>(begin);
    r.end = static_cast<uint16_t*>(end);
    r.areas[r.area_count++] = StepArea{r.at, r.at};
    return true;
}

void replay_steps_on(RangeCoder& rc, const StepRecord& r, ReplayPoint& where) {
    for (int i = where.area; i < r.area_count; i++) {
        const uint16_t* end = i == r.area_count - 1 ? r.at : r.areas[i].end;
        replay_area(rc, i == where.area && where.at ? where.at : r.areas[i].begin, end);
        where = {i, end};
    }
}

void replay_steps(RangeCoder& rc, const StepRecord& r) {
    ReplayPoint start;
    replay_steps_on(rc, r, start);
}

size_t record_words(const StepRecord& r) {
    size_t words = 0;
    for (int i = 0; i < r.area_count; i++)
        words += static_cast<size_t>((i == r.area_count - 1 ? r.at : r.areas[i].end) - r.areas[i].begin);
    return words;
}
