#include "archive/lost_ranges.h"

#include <cassert>

void lost_add(LostRanges& r, uint64_t offset, uint64_t length) {
    if (length == 0) return;
    assert(!r.to_end && (r.length == 0 || offset >= r.offset + r.length));
    if (r.length != 0 && offset == r.offset + r.length) {
        r.length = length == lost_to_end ? lost_to_end : r.length + length;
    } else {
        lost_close(r);
        r.offset = offset;
        r.length = length;
    }
    if (length == lost_to_end)
        r.to_end = true;
    else
        r.total += length;
}

void lost_close(LostRanges& r) {
    if (r.length == 0) return;
    if (r.sink.fn) r.sink.fn(r.sink.ctx, r.offset, r.length);
    r.count++;
    r.length = 0;
}
