#include "app/pack.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>

#include "app/file_io.h"
#include "app/names.h"
#include "app/worker_pool.h"
#include "sort/encode_block.h"

namespace {

const char signature[5] = {'!', 'v', 'o', 'r', 'b'};

// Limits checked before anything is created, so a refused run leaves no trace.
RunResult check_pack_request(const PackOptions& opt) {
    if (opt.files.size() > max_members) return run_failed("\nToo many files: an archive holds at most 255");
    for (const std::string& name : opt.files)
        if (name.size() > max_name_length)
            return run_failed("\nFile name longer than 198 characters: " + printable_name(name));
    const FileId archive = file_id(opt.archive);
    if (archive.exists)
        for (const std::string& name : opt.files) {
            const FileId member = file_id(name);
            if (member.exists && member.dev == archive.dev && member.ino == archive.ino)
                return run_failed("\nThe archive is one of the files to pack: " + printable_name(name));
        }
    return {};
}

// One block in flight: its own buffers and sorter, so blocks sort in parallel.
struct PackSlot {
    BlockBuffers buffers;
    Sorter* sorter = nullptr;
    ProgressSink progress;
    int32_t n = 0;
    int32_t primary = 0;
    bool sorted = false;
    Job job;
    ~PackSlot() {
        release_buffers(buffers);
        if (sorter) sorter_destroy(sorter);
    }
};

void sort_slot(void* ctx) {
    PackSlot& s = *static_cast<PackSlot*>(ctx);
    s.sorted = forward_transform(*s.sorter, s.buffers.block_start, s.n, s.buffers.index, s.progress, s.primary);
}

struct Packer {
    std::vector<std::unique_ptr<PackSlot>> slots;
    std::unique_ptr<DistanceCoder> dc = std::make_unique<DistanceCoder>();
    std::unique_ptr<NumberCoder> nc = std::make_unique<NumberCoder>();
    WorkerPool pool;
    ProgressSink progress;
    ~Packer() { pool_stop(pool); }
};

bool packer_init(Packer& p, const PackOptions& opt, ByteOut& archive, ProgressSink progress) {
    const int threads = opt.threads < 1 ? 1 : opt.threads;
    p.progress = progress;
    for (int i = 0; i < threads; i++) {
        auto slot = std::make_unique<PackSlot>();
        slot->sorter = sorter_create();
        // The coder's distance array lives with the first slot: one thread
        // then uses exactly the three buffers of a block.
        if (!slot->sorter || !setup_buffers(slot->buffers, opt.block_size, i == 0)) return false;
        // Worker threads print nothing; the coder shows each block when it is done.
        slot->progress = threads == 1 ? progress : ProgressSink{};
        slot->job.run = sort_slot;
        slot->job.ctx = slot.get();
        p.slots.push_back(std::move(slot));
    }
    p.dc->distance = p.slots[0]->buffers.distance;
    p.nc->rc.mode = rc_mode_pack;
    p.nc->rc.out = &archive;
    pool_start(p.pool, threads == 1 ? 0 : threads);
    return true;
}

// Codes the oldest block in flight, in file order, once its sort is done.
bool code_oldest(Packer& p, std::deque<PackSlot*>& pending, std::vector<PackSlot*>& free_slots) {
    PackSlot* s = pending.front();
    pending.pop_front();
    pool_wait(p.pool, s->job);
    free_slots.push_back(s);
    if (!s->sorted) return false;
    if (pool_is_threaded(p.pool)) {
        progress_put(p.progress, 'D');
        progress_put(p.progress, '\b');
        progress_put(p.progress, 'W');
    }
    code_block(*p.dc, *p.nc, reinterpret_cast<const uint8_t*>(s->buffers.index), s->n, s->primary);
    return true;
}

// Reads the member block by block; blocks sort on the workers while the
// oldest finished one is coded here, so the stream is the same for any
// number of threads.
RunResult pack_member(Packer& p, InFile& in, const std::string& name) {
    rc_start(p.nc->rc);
    std::deque<PackSlot*> pending;
    std::vector<PackSlot*> free_slots;
    for (auto& s : p.slots) free_slots.push_back(s.get());
    bool memory_ok = true;
    RunResult r;
    for (;;) {
        if (free_slots.empty()) memory_ok = code_oldest(p, pending, free_slots) && memory_ok;
        PackSlot* s = free_slots.back();
        const int64_t got = in_file_read(in, s->buffers.block_start, s->buffers.block_size);
        if (got < 0) {
            r = run_failed("\nRead error in " + printable_name(name) + ": " + std::strerror(in.error));
            break;
        }
        if (got == 0) break;
        free_slots.pop_back();
        s->n = static_cast<int32_t>(got);
        pool_submit(p.pool, s->job);
        pending.push_back(s);
    }
    while (!pending.empty()) memory_ok = code_oldest(p, pending, free_slots) && memory_ok;
    if (r.status != 0) return r;
    if (!memory_ok) return run_failed("\nNot enough memory to sort a block");
    code_block(*p.dc, *p.nc, nullptr, 0, 0);  // end marker
    return {};
}

}  // namespace

RunResult pack_archive(const PackOptions& opt, const Console& con) {
    RunResult r = check_pack_request(opt);
    if (r.status != 0) return r;

    OutFile archive;
    if (!out_file_create(archive, opt.archive, true)) return run_failed("\nCan't open output");

    Packer p;
    if (!packer_init(p, opt, archive.out, console_progress(con))) {
        out_file_discard(archive);
        return run_failed("\nNot enough memory for the block size");
    }

    ByteOut& out = archive.out;
    put_bytes(out, reinterpret_cast<const uint8_t*>(signature), sizeof signature);
    for (int shift = 0; shift < 32; shift += 8) put_byte(out, static_cast<uint8_t>(opt.block_size >> shift));
    put_byte(out, static_cast<uint8_t>(opt.files.size()));

    for (const std::string& name : opt.files) {
        InFile in;
        if (!in_file_open(in, name)) {
            put_byte(out, 0xFF);
            continue;
        }
        put_byte(out, 0x00);
        write_name(out, name);
        const uint64_t start = clock_ms();
        say_member(con, name);
        r = pack_member(p, in, name);
        in_file_close(in);
        if (r.status != 0) {
            out_file_discard(archive);
            return r;
        }
        say_time(con, clock_ms() - start);
        if (out.failed) break;
    }

    if (!out_file_commit(archive))
        return run_failed("\nWrite error on " + printable_name(opt.archive) + ": " + std::strerror(archive.error));
    return {};
}
