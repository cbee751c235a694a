// Writing an archive: the header, then each entry with its member, and on
// request an index after the last entry.
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "api/api_alloc.h"
#include "api/api_streams.h"
#include "archive/checksum.h"
#include "archive/entry.h"
#include "archive/header.h"
#include "archive/index_format.h"
#include "archive/index_nodes.h"
#include "archive/names.h"
#include "archive/pack.h"
#include "dc/block_buffers.h"

struct vorb_writer {
    Packer packer;
    CallbackOut out;
    uint32_t block_size = 0;
    unsigned member_count = 0;
    unsigned entries_written = 0;
    bool begun = false;
    bool finished = false;  // the last bytes went out: a second finish writes nothing
    // With an index: every archive byte passes through archive_sum on its
    // way to the callback's drain.
    bool indexed = false;
    bool (*drain)(void* ctx, const uint8_t* data, size_t len) = nullptr;
    void* drain_ctx = nullptr;
    Checksum archive_sum;
    ArchiveIndex index;
};

namespace {

bool hash_and_drain(void* ctx, const uint8_t* data, size_t len) {
    vorb_writer& w = *static_cast<vorb_writer*>(ctx);
    checksum_add(w.archive_sum, data, len);
    return w.drain(w.drain_ctx, data, len);
}

}  // namespace

vorb_writer* vorb_writer_create(vorb_write_fn write, void* ctx, const vorb_pack_options* options,
                                vorb_status* err) {
    const uint32_t block_size = options && options->block_size ? options->block_size : default_block_size;
    const int threads = options && options->threads > 1 ? options->threads : 1;
    const bool threads_bad = options && options->threads < 0;
    if (!write || block_size > max_block_size || threads > 256 || threads_bad) {
        set_error(err, VORB_ERR_PARAM);
        return nullptr;
    }
    vorb_writer* w = create_or_fail<vorb_writer>(err, [&](vorb_writer& x) {
        callback_out_init(x.out, write, ctx);
        return packer_init(x.packer, block_size, threads);
    });
    if (!w) return nullptr;
    w->block_size = block_size;
    if (options && options->index) {
        w->indexed = true;
        w->drain = w->out.out.drain;
        w->drain_ctx = w->out.out.ctx;
        w->out.out.drain = hash_and_drain;
        w->out.out.ctx = w;
        w->index.block_size = block_size;
    }
    set_error(err, VORB_OK);
    return w;
}

vorb_status vorb_writer_begin(vorb_writer* w, unsigned member_count) {
    if (!w || w->begun || member_count > max_members) return VORB_ERR_PARAM;
    w->begun = true;
    w->member_count = member_count;
    write_header(w->out.out, ArchiveHeader{w->block_size, static_cast<int>(member_count)});
    return w->out.out.failed ? VORB_ERR_WRITE : VORB_OK;
}

namespace {

vorb_status check_entry(const vorb_writer* w, const char* name) {
    if (!w || !name || !w->begun || w->entries_written >= w->member_count) return VORB_ERR_PARAM;
    return VORB_OK;
}

// The index's record of a member just packed.
void note_member(vorb_writer* w, const char* name, const vorb_file_meta* meta, uint64_t stream_offset,
                 const MemberStats& s, const MemberRecord& rec) {
    IndexEntry e;
    e.present = true;
    e.entry_checksum = index_entry_checksum(entry_present, name);
    if (meta) {
        e.flags = index_flag_attributes;
        e.mode = static_cast<uint16_t>(meta->mode & index_mode_mask);
        e.mtime_sec = meta->mtime;
        e.mtime_nsec = meta->mtime_nsec;
    }
    e.size = s.unpacked;
    e.stream_offset = stream_offset;
    e.stream_length = s.packed;
    e.checksum = checksum_value(rec.checksum);
    e.first_block = static_cast<uint32_t>(w->index.blocks.size());
    e.block_count = static_cast<uint32_t>(rec.blocks.size());
    w->index.blocks.insert(w->index.blocks.end(), rec.blocks.begin(), rec.blocks.end());
    w->index.entries.push_back(std::move(e));
}

// The index's record of an absent entry: the name that could not be packed.
Status note_absent(vorb_writer* w, const char* name) {
    if (!w->indexed) return Status::ok;
    return or_out_of_memory([&] {
        IndexEntry e;
        e.absent_name = name;
        w->index.entries.push_back(std::move(e));
        return Status::ok;
    });
}

// A batch on its way through the packer: the entries' names, the caller's
// feed and what each entry's open gave.
struct Batch {
    vorb_writer* w;
    const char* const* names;
    const vorb_member_feed* feed;
    std::vector<std::optional<vorb_file_meta>> metas;  // per entry, when given
    uint64_t stream_offset = 0;  // of the present entry being written
};

Status batch_open(void* ctx, unsigned i, MemberInput& in, bool& present) {
    Batch& b = *static_cast<Batch*>(ctx);
    vorb_member_input given{};
    b.feed->open(b.feed->ctx, i, &given);
    present = given.read != nullptr;
    if (present && given.meta) {
        VORB_CHECK(given.meta->mtime_nsec < nanoseconds_per_second, Status::bad_parameter);
        b.metas[i] = *given.meta;
    }
    in = MemberInput{given.read, given.read_ctx};
    return Status::ok;
}

void batch_close(void* ctx, unsigned i) {
    const Batch& b = *static_cast<Batch*>(ctx);
    if (b.feed->close) b.feed->close(b.feed->ctx, i);
}

Status batch_begin(void* ctx, unsigned i, bool present) {
    Batch& b = *static_cast<Batch*>(ctx);
    vorb_writer* w = b.w;
    if (b.feed->begin) b.feed->begin(b.feed->ctx, i);
    w->entries_written++;
    write_entry(w->out.out, present, present ? b.names[i] : "");
    b.stream_offset = bytes_out(w->out.out);
    return present ? Status::ok : note_absent(w, b.names[i]);
}

Status batch_end(void* ctx, unsigned i, const MemberStats& s, MemberRecord* rec) {
    Batch& b = *static_cast<Batch*>(ctx);
    if (rec) {
        VORB_TRY(or_out_of_memory([&] {
            note_member(b.w, b.names[i], b.metas[i] ? &*b.metas[i] : nullptr, b.stream_offset, s, *rec);
            return Status::ok;
        }));
    }
    if (b.feed->done) {
        const vorb_member_stats stats{s.unpacked, s.packed, s.blocks};
        b.feed->done(b.feed->ctx, i, &stats);
    }
    return Status::ok;
}

// The entries of a batch, names and counts checked by the caller.
vorb_status add_batch(vorb_writer* w, const char* const* names, unsigned count, const vorb_member_feed* feed,
                      ProgressSink progress) {
    return to_api(or_out_of_memory([&] {
        Batch b{w, names, feed, std::vector<std::optional<vorb_file_meta>>(count), 0};
        MemberFeed mf{&b, batch_open, batch_close, batch_begin, batch_end, progress};
        return pack_members(w->packer, count, mf, w->out.out, w->indexed);
    }));
}

// One entry given by its arguments, as a batch of one.
struct OneEntry {
    vorb_read_fn read;
    void* read_ctx;
    const vorb_file_meta* meta;
    vorb_member_stats* stats;
};

void one_open(void* ctx, unsigned, vorb_member_input* in) {
    const OneEntry& e = *static_cast<OneEntry*>(ctx);
    *in = vorb_member_input{e.read, e.read_ctx, e.meta};
}

void one_done(void* ctx, unsigned, const vorb_member_stats* stats) {
    const OneEntry& e = *static_cast<OneEntry*>(ctx);
    if (e.stats) *e.stats = *stats;
}

}  // namespace

vorb_status vorb_writer_add_members(vorb_writer* w, const char* const* names, unsigned count,
                                    const vorb_member_feed* feed) {
    if (!w || !w->begun || (!names && count > 0) || !feed || !feed->open ||
        count > w->member_count - w->entries_written)
        return VORB_ERR_PARAM;
    for (unsigned i = 0; i < count; i++)
        if (!names[i] || std::strlen(names[i]) > max_name_length) return VORB_ERR_PARAM;
    ProgressAdapter adapter;
    return add_batch(w, names, count, feed, progress_sink(adapter, feed->progress, feed->ctx));
}

vorb_status vorb_writer_add_member(vorb_writer* w, const char* name, vorb_read_fn read, void* read_ctx,
                                   const vorb_file_meta* meta, vorb_progress_fn progress, void* progress_ctx,
                                   vorb_member_stats* stats) {
    const vorb_status c = check_entry(w, name);
    if (c != VORB_OK) return c;
    if (!read || std::strlen(name) > max_name_length) return VORB_ERR_PARAM;
    if (meta && meta->mtime_nsec >= nanoseconds_per_second) return VORB_ERR_PARAM;
    if (stats) *stats = vorb_member_stats{};
    OneEntry e{read, read_ctx, meta, stats};
    const vorb_member_feed feed{one_open, nullptr, nullptr, one_done, nullptr, &e};
    ProgressAdapter adapter;
    return add_batch(w, &name, 1, &feed, progress_sink(adapter, progress, progress_ctx));
}

vorb_status vorb_writer_add_absent(vorb_writer* w, const char* name) {
    const vorb_status c = check_entry(w, name);
    if (c != VORB_OK) return c;
    if (w->indexed && std::strlen(name) > max_name_length) return VORB_ERR_PARAM;
    w->entries_written++;
    write_entry(w->out.out, false, std::string());
    const Status st = note_absent(w, name);
    if (st != Status::ok) return to_api(st);
    return w->out.out.failed ? VORB_ERR_WRITE : VORB_OK;
}

vorb_status vorb_writer_add_node(vorb_writer* w, const vorb_node* node) {
    if (!w || !w->indexed || !w->begun || w->finished || !node || !node->path) return VORB_ERR_PARAM;
    // A C caller may hand any int: it is read as one, never as the enum.
    std::underlying_type_t<vorb_node_kind> kind;
    std::memcpy(&kind, &node->kind, sizeof kind);
    if (kind != VORB_NODE_FOLDER && kind != VORB_NODE_LINK) return VORB_ERR_PARAM;
    if ((kind == VORB_NODE_LINK) != (node->target != nullptr)) return VORB_ERR_PARAM;
    return or_out_of_memory([&] {
        IndexNode n;
        n.kind = static_cast<uint8_t>(kind);
        n.path = node->path;
        if (node->target) n.target = node->target;
        if (node->meta) {
            n.flags = index_flag_attributes;
            n.mode = static_cast<uint16_t>(node->meta->mode & index_mode_mask);
            n.mtime_sec = node->meta->mtime;
            n.mtime_nsec = node->meta->mtime_nsec;
        }
        // What a reader would refuse is never written.
        if (index_node_fault(n)) return VORB_ERR_PARAM;
        w->index.nodes.push_back(std::move(n));
        return VORB_OK;
    });
}

vorb_status vorb_writer_finish(vorb_writer* w) {
    if (!w || !w->begun || w->finished || w->entries_written != w->member_count) return VORB_ERR_PARAM;
    w->finished = true;
    if (w->indexed) {
        if (!flush_out(w->out.out)) return VORB_ERR_WRITE;
        w->index.archive_checksum = checksum_value(w->archive_sum);
        const vorb_status ready = or_out_of_memory([&] {
            std::vector<uint8_t> bytes;
            index_build(w->index, bytes);
            put_bytes(w->out.out, bytes.data(), bytes.size());
            return VORB_OK;
        });
        if (ready != VORB_OK) return ready;
    }
    return flush_out(w->out.out) ? VORB_OK : VORB_ERR_WRITE;
}

void vorb_writer_free(vorb_writer* w) { delete w; }
