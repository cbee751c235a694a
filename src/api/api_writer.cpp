// Writing an archive: the header, then each entry with its member, and on
// request an index after the last entry.
#include <cstring>
#include <new>
#include <string>

#include "api/api_streams.h"
#include "archive/checksum.h"
#include "archive/entry.h"
#include "archive/header.h"
#include "archive/index_format.h"
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
    vorb_writer* w = new (std::nothrow) vorb_writer;
    Status st = w ? Status::ok : Status::out_of_memory;
    if (w) {
        try {
            callback_out_init(w->out, write, ctx);
            st = packer_init(w->packer, block_size, threads);
        } catch (const std::bad_alloc&) {
            st = Status::out_of_memory;
        }
    }
    if (st != Status::ok) {
        delete w;
        set_error(err, to_api(st));
        return nullptr;
    }
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

}  // namespace

vorb_status vorb_writer_add_member(vorb_writer* w, const char* name, vorb_read_fn read, void* read_ctx,
                                   const vorb_file_meta* meta, vorb_progress_fn progress, void* progress_ctx,
                                   vorb_member_stats* stats) {
    const vorb_status c = check_entry(w, name);
    if (c != VORB_OK) return c;
    if (!read || std::strlen(name) > max_name_length) return VORB_ERR_PARAM;
    if (meta && meta->mtime_nsec >= nanoseconds_per_second) return VORB_ERR_PARAM;
    w->entries_written++;
    write_entry(w->out.out, true, name);
    const uint64_t stream_offset = bytes_out(w->out.out);
    ProgressAdapter adapter;
    MemberStats s;
    Status st;
    try {
        MemberRecord rec;
        st = pack_member(w->packer, MemberInput{read, read_ctx}, w->out.out,
                         progress_sink(adapter, progress, progress_ctx), s, w->indexed ? &rec : nullptr);
        if (st == Status::ok && w->indexed) note_member(w, name, meta, stream_offset, s, rec);
    } catch (const std::bad_alloc&) {
        st = Status::out_of_memory;
    }
    if (stats) *stats = vorb_member_stats{s.unpacked, s.packed, s.blocks};
    return to_api(st);
}

vorb_status vorb_writer_add_absent(vorb_writer* w, const char* name) {
    const vorb_status c = check_entry(w, name);
    if (c != VORB_OK) return c;
    if (w->indexed && std::strlen(name) > max_name_length) return VORB_ERR_PARAM;
    w->entries_written++;
    write_entry(w->out.out, false, std::string());
    if (w->indexed) {
        try {
            IndexEntry e;
            e.absent_name = name;
            w->index.entries.push_back(std::move(e));
        } catch (const std::bad_alloc&) {
            return VORB_ERR_MEMORY;
        }
    }
    return w->out.out.failed ? VORB_ERR_WRITE : VORB_OK;
}

vorb_status vorb_writer_finish(vorb_writer* w) {
    if (!w || !w->begun || w->entries_written != w->member_count) return VORB_ERR_PARAM;
    if (w->indexed) {
        if (!flush_out(w->out.out)) return VORB_ERR_WRITE;
        w->index.archive_checksum = checksum_value(w->archive_sum);
        try {
            std::vector<uint8_t> bytes;
            index_build(w->index, bytes);
            put_bytes(w->out.out, bytes.data(), bytes.size());
        } catch (const std::bad_alloc&) {
            return VORB_ERR_MEMORY;
        }
    }
    return flush_out(w->out.out) ? VORB_OK : VORB_ERR_WRITE;
}

void vorb_writer_free(vorb_writer* w) { delete w; }
