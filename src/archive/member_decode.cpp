#include "archive/member_decode.h"

#include "inverse/decode_block.h"

struct InverseSlot {
    BlockBuffers buffers;  // block: the transformed bytes, then the block's; index, distance: links
    int32_t bucket_start[256];
    int32_t n = 0;
    int32_t primary = 0;
    Status status = Status::ok;
    Job job;
    ~InverseSlot() { release_buffers(buffers); }
};

MemberDecoder::MemberDecoder() = default;
MemberDecoder::~MemberDecoder() { pipeline_stop(pipe); }

namespace {

void invert_slot(void* ctx) {
    InverseSlot& s = *static_cast<InverseSlot*>(ctx);
    s.status = invert_block(s.bucket_start, s.buffers.block_start, s.n, s.primary, s.buffers.index,
                            s.buffers.distance);
}

// Writes the oldest block in flight once its inverse is done.
Status write_oldest(MemberDecoder& d, ByteOut& out, ProgressSink progress) {
    const InverseSlot& s = *static_cast<const InverseSlot*>(pipeline_retire_oldest(d.pipe)->ctx);
    // On one thread the block shows as started before its inverse can fail;
    // worker threads show only the blocks that come out whole.
    const bool threaded = pool_is_threaded(d.pipe.pool);
    if (!threaded) progress_put(progress, 'H');
    VORB_TRY(s.status);
    if (threaded) progress_put(progress, 'H');
    put_bytes(out, s.buffers.block_start, static_cast<size_t>(s.n));
    return out.failed ? Status::write_failed : Status::ok;
}

// One slot more than workers, so the next block decodes while every worker inverts.
int slot_count(int threads) { return threads > 1 ? threads + 1 : 1; }

}  // namespace

Status member_decoder_init(MemberDecoder& d, ByteIn& in, uint32_t block_size, int threads) {
    VORB_CHECK(threads >= 1, Status::bad_parameter);
    d.in = &in;
    d.block_size = block_size;
    d.nc->rc.mode = rc_mode_unpack;
    d.nc->rc.in = &in;
    std::vector<Job*> jobs;
    for (int i = 0; i < slot_count(threads); i++) {
        auto s = std::make_unique<InverseSlot>();
        if (!setup_buffers(s->buffers, block_size, true)) return Status::out_of_memory;
        s->job.run = invert_slot;
        s->job.ctx = s.get();
        jobs.push_back(&s->job);
        d.slots.push_back(std::move(s));
    }
    pipeline_start(d.pipe, jobs, threads > 1 ? threads : 0);
    return Status::ok;
}

uint64_t member_decoder_memory(uint32_t block_size, int threads) {
    const uint64_t slots = static_cast<uint64_t>(slot_count(threads));
    return slots * (buffer_bytes(block_size, true) + sizeof(InverseSlot)) + sizeof(BlockDecoder) +
           sizeof(NumberCoder) + sizeof(MemberDecoder);
}

Status decode_member(MemberDecoder& d, ByteOut& out, ProgressSink progress, bool invert, MemberStats& stats) {
    const uint64_t start = bytes_in(*d.in);
    stats = MemberStats{};
    rc_start(d.nc->rc);
    Status st = Status::ok;
    for (;;) {
        if (!pipeline_free(d.pipe)) {
            st = write_oldest(d, out, progress);
            if (st != Status::ok) break;
        }
        InverseSlot& s = *static_cast<InverseSlot*>(pipeline_free(d.pipe)->ctx);
        st = decode_block_symbols(*d.bd, *d.nc, s.buffers.block_start, d.block_size, stats.blocks == 0, s.n,
                                  s.primary);
        // Garbage read past the end usually trips a check; the cause is the cut.
        // An intact stream never needs a byte past the end of the archive.
        if (d.in->read_error)
            st = Status::read_failed;
        else if (d.in->overread)
            st = Status::truncated;
        if (st != Status::ok) break;
        stats.blocks++;
        if (s.n == 0) break;
        stats.unpacked += static_cast<uint64_t>(s.n);
        if (invert) pipeline_submit(d.pipe);
    }
    // Every job in flight must end before its slot is reused or freed.
    while (!d.pipe.pending.empty()) {
        const Status f = write_oldest(d, out, progress);
        if (st == Status::ok) st = f;
    }
    VORB_TRY(st);
    stats.packed = bytes_in(*d.in) - start;
    return Status::ok;
}
