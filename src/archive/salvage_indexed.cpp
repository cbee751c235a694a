#include "archive/salvage_indexed.h"

#include <algorithm>
#include <cstring>

#include "archive/checksum.h"
#include "archive/read_at_stream.h"
#include "dc/block_resume.h"

namespace {

// Decodes block k of e into d.slots[0], checked against its records; ok
// when its bytes are whole.
Status salvage_block(SalvageDecoder& d, const IndexSource& src, const ArchiveIndex& index, const IndexEntry& e,
                     const IndexBlock* blocks, uint32_t k) {
    const IndexBlock& rec = blocks[k];
    const IndexBlock* next = k + 1 < e.block_count ? &blocks[k + 1] : nullptr;
    // The index guarantees written counts that never fall and stay four
    // bytes inside the stream.
    const uint64_t stop = next ? next->start.written + coder_lookahead : e.stream_length;
    VORB_CHECK(stop - rec.start.written <= max_packed_bytes(d.block_size), Status::bad_block_end);
    d.packed.resize(static_cast<size_t>(stop - rec.start.written));
    bool read_error = false;
    if (!read_at_exact(src, d.packed.data(), d.packed.size(), e.stream_offset + rec.start.written, read_error))
        return read_error ? Status::read_failed : Status::truncated;
    uint8_t* t = d.slots[0].block_start;
    int32_t n = 0, primary = 0;
    CoderState end;
    VORB_TRY(decode_block_resumed(*d.bd, *d.nc, d.packed.data(), d.packed.size(), rec.start, t, d.block_size, n,
                                  primary, end));
    VORB_CHECK(static_cast<uint32_t>(n) == rec.length, Status::bad_block_end);
    VORB_CHECK(next ? end == next->start : end.written + coder_lookahead == e.stream_length, Status::bad_block_end);
    VORB_TRY(salvage_links(d, n));
    VORB_TRY(invert_block(d.bucket_start, t, n, primary, d.links.index, d.links.distance));
    VORB_CHECK(index.version == index_version_1 || checksum_of(t, static_cast<size_t>(n)) == rec.checksum,
               Status::block_checksum_mismatch);
    return Status::ok;
}

void put_zeros(ByteOut& out, Checksum& sum, uint64_t len) {
    static const uint8_t zeros[4096] = {};
    while (len > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(len, sizeof zeros));
        put_bytes(out, zeros, n);
        checksum_add(sum, zeros, n);
        len -= n;
    }
}

}  // namespace

Status salvage_indexed_member(SalvageDecoder& d, const IndexSource& src, const ArchiveIndex& index,
                              const IndexEntry& e, ByteOut& out, LostRanges& lost, ProgressSink progress,
                              IndexedMember& r) {
    r = IndexedMember{};
    const IndexBlock* blocks = index.blocks.data() + e.first_block;
    Checksum sum;
    // The end marker holds no bytes: its record is the last, and only the
    // block before it reads its stream bytes.
    for (uint32_t k = 0; k + 1 < e.block_count; k++) {
        const uint32_t len = blocks[k].length;
        const Status st = salvage_block(d, src, index, e, blocks, k);
        VORB_CHECK(st != Status::read_failed && st != Status::out_of_memory, st);
        progress_put(progress, ProgressEvent::block_decoded);
        if (st == Status::ok) {
            put_bytes(out, d.slots[0].block_start, len);
            checksum_add(sum, d.slots[0].block_start, len);
        } else {
            if (r.status == Status::ok) r.status = st;
            lost_add(lost, r.written, len);
            put_zeros(out, sum, len);
        }
        r.written += len;
        VORB_CHECK(flush_out(out), Status::write_failed);
    }
    lost_close(lost);
    r.checksum_matched = checksum_value(sum) == e.checksum;
    // Each block's own checksum vouches for what it gave; without them only
    // the member's, which a lost block fails.
    r.verified = r.checksum_matched || (index.version != index_version_1 && r.status != Status::ok);
    if (r.status == Status::ok && !r.checksum_matched) r.status = Status::checksum_mismatch;
    return Status::ok;
}
