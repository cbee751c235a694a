// Writing an archive: the header, then each entry with its member.
#include <cstring>
#include <new>
#include <string>

#include "api/api_streams.h"
#include "archive/entry.h"
#include "archive/header.h"
#include "archive/names.h"
#include "archive/pack.h"

struct vorb_writer {
    Packer packer;
    CallbackOut out;
    uint32_t block_size = 0;
    unsigned member_count = 0;
    unsigned entries_written = 0;
    bool begun = false;
};

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

}  // namespace

vorb_status vorb_writer_add_member(vorb_writer* w, const char* name, vorb_read_fn read, void* read_ctx,
                                   const vorb_file_meta* meta, vorb_progress_fn progress, void* progress_ctx,
                                   vorb_member_stats* stats) {
    (void)meta;  // the plain format stores no attributes
    const vorb_status c = check_entry(w, name);
    if (c != VORB_OK) return c;
    if (!read || std::strlen(name) > max_name_length) return VORB_ERR_PARAM;
    w->entries_written++;
    write_entry(w->out.out, true, name);
    ProgressAdapter adapter;
    MemberStats s;
    const Status st =
        pack_member(w->packer, MemberInput{read, read_ctx}, w->out.out, progress_sink(adapter, progress, progress_ctx), s);
    if (stats) *stats = vorb_member_stats{s.unpacked, s.packed, s.blocks};
    return to_api(st);
}

vorb_status vorb_writer_add_absent(vorb_writer* w, const char* name) {
    const vorb_status c = check_entry(w, name);
    if (c != VORB_OK) return c;
    w->entries_written++;
    write_entry(w->out.out, false, std::string());
    return w->out.out.failed ? VORB_ERR_WRITE : VORB_OK;
}

vorb_status vorb_writer_finish(vorb_writer* w) {
    if (!w || !w->begun || w->entries_written != w->member_count) return VORB_ERR_PARAM;
    return flush_out(w->out.out) ? VORB_OK : VORB_ERR_WRITE;
}

void vorb_writer_free(vorb_writer* w) { delete w; }
