// An indexed member: every block starts from the coder state the index
// recorded for it, so the workers decode different blocks at once, each set
// inverting the block it decoded last beside the decoding of its next one.
#include "archive/member_decode.h"

#include <algorithm>
#include <cstring>

#include "archive/checksum.h"
#include "archive/work_sets.h"

namespace {

// Decodes the block from its recorded state while the set's held block is
// inverted beside it, then holds this one.
void decode_and_invert_slot(void* ctx) {
    InverseSlot& s = *static_cast<InverseSlot*>(ctx);
    WorkSets& sets = *s.work;
    WorkSet& w = take_work(sets);
    DecodeTick tick = inverse_tick(w.pending);
    s.status = decode_block_resumed(w.bd, w.nc, s.packed.data(), s.packed.size(), s.start, s.buffers.block_start,
                                    s.buffers.block_size, s.n, s.primary, s.end, tick.fn ? &tick : nullptr);
    if (w.held) end_held(sets, w);
    const bool hold = s.status == Status::ok && s.n > 0;
    if (hold)
        begin_inverse(w.pending, w.bd.dd.value_count, w, s);
    {
        std::lock_guard<std::mutex> lock(sets.mutex);
        if (hold) {
            w.held = &s;
            s.holder = &w;
        } else {
            s.ready = true;
        }
    }
    give_back(sets, w);
}

// Takes len bytes from in; false when the archive ends first.
bool take_bytes(ByteIn& in, uint8_t* dst, size_t len) {
    while (len > 0) {
        if (in.pos == in.len) {
            const int c = refill_in(in);
            if (c < 0) return false;
            *dst++ = static_cast<uint8_t>(c);
            len--;
            continue;
        }
        const size_t n = std::min(len, in.len - in.pos);
        std::memcpy(dst, in.buf + in.pos, n);
        in.pos += n;
        dst += n;
        len -= n;
    }
    return true;
}

// The order the workers start blocks in. While blocks are still to be read
// they go in order: the oldest holds the window of slots, and passing it over
// would leave the window full of finished blocks and the workers idle. Once
// the last is read, the dearest waiting goes first, so that what runs alone
// at the end is a cheap block. A block's decoding time, roughly: on text,
// binaries and compressed data alike a packed byte costs about eight times an
// unpacked one. Every block ranks above the helpers' jobs (0).
uint64_t block_priority(uint32_t k, uint32_t block_count, size_t slots, size_t packed, uint32_t length) {
    constexpr uint64_t in_order = uint64_t{1} << 62;  // above any cost: packed and length stay below 2^40
    if (k + slots < block_count) return in_order - k;
    return 1 + 8 * static_cast<uint64_t>(packed) + length;
}

// The oldest block in flight once its bytes are whole.
InverseSlot& retire_whole(MemberDecoder& d) {
    InverseSlot& s = *static_cast<InverseSlot*>(pipeline_retire_oldest(d.pipe)->ctx);
    wait_ready(s);
    return s;
}

// Checks the oldest block against its record and the next block's start,
// then writes it and adds it to the member's checksum.
Status finish_indexed_block(MemberDecoder& d, const ArchiveIndex& index, const IndexBlock* rec,
                            const IndexBlock* next, const IndexEntry& e, ByteOut& out, ProgressSink progress,
                            Checksum& sum) {
    const InverseSlot& s = retire_whole(d);
    // The block had all the bytes up to where the next starts: needing more is no cut archive.
    VORB_CHECK(s.status != Status::truncated, Status::bad_block_end);
    VORB_TRY(s.status);
    VORB_CHECK(static_cast<uint32_t>(s.n) == rec->length, Status::bad_block_end);
    // After the end marker only the coder's four last bytes remain.
    VORB_CHECK(next ? s.end == next->start : s.end.written + coder_lookahead == e.stream_length, Status::bad_block_end);
    if (s.n == 0) return Status::ok;
    // Checked before the bytes go out: the damage is this block's alone.
    VORB_CHECK(index.version == index_version_1 ||
                   checksum_of(s.buffers.block_start, static_cast<size_t>(s.n)) == rec->checksum,
               Status::block_checksum_mismatch);
    progress_put(progress, ProgressEvent::block_decoded);
    checksum_add(sum, s.buffers.block_start, static_cast<size_t>(s.n));
    put_bytes(out, s.buffers.block_start, static_cast<size_t>(s.n));
    return out.failed ? Status::write_failed : Status::ok;
}

}  // namespace

Status decode_member_indexed(MemberDecoder& d, const ArchiveIndex& index, const IndexEntry& e, ByteOut& out,
                             ProgressSink progress, MemberStats& stats) {
    stats = MemberStats{};
    for (auto& s : d.slots) s->job.run = decode_and_invert_slot;
    const IndexBlock* blocks = index.blocks.data() + e.first_block;
    Checksum sum;
    uint64_t have = 0;  // stream bytes read so far
    uint8_t carry[coder_lookahead];  // the last of them: the next block's first
    Status st = Status::ok;
    uint32_t retired = 0;
    for (uint32_t k = 0; k < e.block_count && st == Status::ok; k++) {
        if (!pipeline_free(d.pipe)) {
            d.failed_block = retired;
            st = finish_indexed_block(d, index, blocks + retired,
                                      retired + 1 < e.block_count ? blocks + retired + 1 : nullptr, e, out, progress, sum);
            retired++;
            if (st != Status::ok) break;
        }
        InverseSlot& s = *static_cast<InverseSlot*>(pipeline_free(d.pipe)->ctx);
        // The index guarantees written counts that never fall and stay four
        // bytes inside the stream, so each block needs the four bytes read
        // last and the ones up to four past the next block's start.
        s.start = blocks[k].start;
        const uint64_t stop = k + 1 < e.block_count ? blocks[k + 1].start.written + coder_lookahead : e.stream_length;
        const uint64_t reuse = have - s.start.written;
        s.packed.resize(stop - s.start.written);
        std::memcpy(s.packed.data(), carry + coder_lookahead - reuse, reuse);
        if (!take_bytes(*d.in, s.packed.data() + reuse, s.packed.size() - reuse)) {
            st = d.in->read_error ? Status::read_failed : Status::truncated;
            break;
        }
        have = stop;
        std::memcpy(carry, s.packed.data() + s.packed.size() - coder_lookahead, coder_lookahead);
        s.job.priority = block_priority(k, e.block_count, d.slots.size(), s.packed.size(), blocks[k].length);
        s.ready = false;
        pipeline_submit(d.pipe);
    }
    // Every job in flight must end before its slot is reused or freed.
    while (!d.pipe.pending.empty()) {
        if (st == Status::ok) {
            d.failed_block = retired;
            st = finish_indexed_block(d, index, blocks + retired,
                                      retired + 1 < e.block_count ? blocks + retired + 1 : nullptr, e, out, progress, sum);
        } else
            retire_whole(d);  // no set may hold a block once the member ends
        retired++;
    }
    VORB_TRY(st);
    VORB_CHECK(checksum_value(sum) == e.checksum, Status::checksum_mismatch);
    stats = MemberStats{e.size, e.stream_length, e.block_count};
    return Status::ok;
}
