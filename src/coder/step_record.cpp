#include "coder/step_record.h"

namespace {

// The interval steps of one area.
void replay_area(RangeCoder& rc, const uint16_t* w, const uint16_t* end) {
    while (w < end) {
        const uint32_t x = *w++;
        if (x < step_table_tag) [[likely]] {
            const uint32_t p = x & (prob_one - 1);
            const bool second = x >> 12;
            rc.range >>= 12;
            rc_encode(rc, second ? p : 0, second ? prob_one - p : p);
        } else {
            rc.range /= x & ~uint32_t{step_table_tag};
            rc_encode(rc, w[0], w[1]);
            w += 2;
        }
    }
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

void replay_steps(RangeCoder& rc, const StepRecord& r) {
    for (int i = 0; i < r.area_count; i++)
        replay_area(rc, r.areas[i].begin, i == r.area_count - 1 ? r.at : r.areas[i].end);
}

size_t record_words(const StepRecord& r) {
    size_t words = 0;
    for (int i = 0; i < r.area_count; i++)
        words += static_cast<size_t>((i == r.area_count - 1 ? r.at : r.areas[i].end) - r.areas[i].begin);
    return words;
}
