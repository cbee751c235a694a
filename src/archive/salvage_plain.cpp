#include "archive/salvage_plain.h"

#include "archive/entry_probe.h"

namespace {

// A block's status once the stream's own state is weighed: bytes read past
// the archive's end are garbage, whatever they decoded to.
Status blame_the_stream(const ByteIn& in, Status st) {
    if (in.read_error) return Status::read_failed;
    if (in.overread) return Status::truncated;
    return st;
}

}  // namespace

Status salvage_plain_member(SalvageDecoder& d, ByteIn& in, ByteOut& out, ProgressSink progress, PlainMember& r) {
    r = PlainMember{};
    r.next_entry_from = bytes_in(in);
    r.last_block_from = r.next_entry_from;
    salvage_coder_start(d, in);
    NumberCoder& nc = *d.nc;
    const BlockBuffers* held = nullptr;  // the block whose inverse is pending
    int32_t held_n = 0;
    uint64_t held_end = 0;
    Status st = Status::ok;
    for (uint32_t k = 0;; k++) {
        const BlockBuffers& b = d.slots[k % 2];
        DecodeTick tick = inverse_tick(d.pending);
        int32_t n = 0, primary = 0;
        st = decode_block_symbols(*d.bd, nc, b.block_start, d.block_size, k == 0, n, primary,
                                  tick.fn ? &tick : nullptr);
        st = blame_the_stream(in, st);
        const uint64_t end = bytes_in(in);
        if (held) {
            // The block before is written first, or fails first.
            progress_put(progress, ProgressEvent::block_decoded);
            const Status f = inverse_end(d.pending);
            const uint8_t* bytes = held->block_start;
            held = nullptr;
            if (f != Status::ok) {
                if (st != Status::read_failed) st = f;
                break;
            }
            put_bytes(out, bytes, static_cast<size_t>(held_n));
            VORB_CHECK(flush_out(out), Status::write_failed);
            r.saved += static_cast<uint64_t>(held_n);
            r.blocks++;
            r.last_block_from = r.next_entry_from;
            r.next_entry_from = held_end;
        }
        if (st != Status::ok) break;
        if (n == 0) {
            r.blocks++;
            r.next_entry_from = end;
            r.end_matches = stream_end_matches(nc.rc);
            return Status::ok;
        }
        st = salvage_links(d, n);
        if (st != Status::ok) break;
        inverse_begin(d.pending, d.bd->dd.value_count, d.bucket_start, b.block_start, n, primary, d.links.index,
                      d.links.distance);
        held = &b;
        held_n = n;
        held_end = end;
    }
    nc.rc.in = nullptr;
    r.status = st;
    VORB_CHECK(st != Status::read_failed && st != Status::out_of_memory, st);
    return Status::ok;
}

bool stream_proven(SalvageDecoder& d, ByteIn& in, bool (*full_block)(uint32_t n, uint32_t block_size)) {
    salvage_coder_start(d, in);
    NumberCoder& nc = *d.nc;
    uint8_t* t = d.slots[0].block_start;
    int32_t n = 0, primary = 0;
    bool proven = false;
    if (decode_block_symbols(*d.bd, nc, t, d.block_size, true, n, primary) == Status::ok && !in.overread && n > 0) {
        if (full_block(static_cast<uint32_t>(n), d.block_size)) {
            proven = true;
        } else {
            int32_t next = 0, p2 = 0;
            proven = decode_block_symbols(*d.bd, nc, d.slots[1].block_start, d.block_size, false, next, p2) ==
                         Status::ok &&
                     !in.overread && next == 0 && stream_end_matches(nc.rc);
        }
        proven = proven && salvage_links(d, n) == Status::ok &&
                 invert_block(d.bucket_start, t, n, primary, d.links.index, d.links.distance) == Status::ok;
    }
    nc.rc.in = nullptr;
    return proven;
}
