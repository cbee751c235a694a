// One thread: each block's numbers are decoded while the block before it is
// inverted a sweep at a time, so the walks' cache misses wait beside the
// decoder's arithmetic instead of after it.
#include "archive/member_decode_paths.h"

namespace {

// Ends the inverse of the block pending beside the decoding and writes it.
Status write_pending(WorkSet& w, const InverseSlot& s, ByteOut& out, ProgressSink progress) {
    progress_put(progress, ProgressEvent::block_decoded);
    VORB_TRY(inverse_end(w.pending));
    put_bytes(out, s.buffers.block_start, static_cast<size_t>(s.n));
    return out.failed ? Status::write_failed : Status::ok;
}

}  // namespace

Status decode_member_serial(MemberDecoder& d, ByteOut& out, ProgressSink progress, MemberStats& stats) {
    WorkSet& w = *d.work->all[0];
    const InverseSlot* held = nullptr;  // the block whose inverse is pending
    Status st = Status::ok;
    for (size_t k = 0;; k++) {
        InverseSlot& s = *d.slots[k % d.slots.size()];
        DecodeTick tick = inverse_tick(w.pending);
        st = decode_block_symbols(*d.bd, *d.nc, s.buffers.block_start, d.block_size, stats.blocks == 0, s.n,
                                  s.primary, tick.fn ? &tick : nullptr);
        st = blame_the_stream(*d.in, st);
        // The block before fails first.
        if (held) {
            const Status f = write_pending(w, *held, out, progress);
            held = nullptr;
            if (f != Status::ok) st = f;
        }
        if (st != Status::ok) break;
        stats.blocks++;
        if (s.n == 0) break;
        stats.unpacked += static_cast<uint64_t>(s.n);
        begin_inverse(w.pending, d.bd->dd.value_count, w, s);
        held = &s;
    }
    return st;
}
