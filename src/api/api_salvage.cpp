// Salvage through the public API: the archive layer's walk, with the
// caller's callbacks as its sinks.
#include <algorithm>
#include <cstring>

#include "api/api_alloc.h"
#include "api/api_streams.h"
#include "archive/recovery_check.h"
#include "archive/salvage.h"

struct vorb_salvager {
    Salvage salvage;
    CallbackOut out;
    ArchiveInFront front;  // the archive: the bytes in front of a recovery record, or all
};

namespace {

// Members go to the write callback in pieces of this size.
constexpr size_t salvage_out_chunk = 64 << 10;
// Buffers of the salvager beside its decoder: the search's window, the
// stream's and the output's chunks.
constexpr uint64_t salvage_fixed_bytes = (1 << 20) + (128 << 10) + api_chunk_bytes + salvage_out_chunk;

void describe(const SalvageEntry& e, vorb_salvage_entry& out) {
    out = vorb_salvage_entry{};
    out.entry.present = e.present;
    const size_t len = std::min(e.name.size(), sizeof out.entry.name - 1);
    std::memcpy(out.entry.name, e.name.data(), len);
    out.entry.name[len] = '\0';
    out.number = e.number;
    out.offset = e.offset;
    if (e.name_damaged) out.salvage_flags |= VORB_SALVAGE_NAME_DAMAGED;
    if (e.found_by_search) {
        out.salvage_flags |= VORB_SALVAGE_FOUND;
        out.skipped_from = e.skipped_from;
    }
    const IndexEntry* x = e.record;
    if (!x) return;
    if (!x->present) {
        out.entry.flags |= VORB_ENTRY_HAS_ABSENT_NAME;
        return;
    }
    out.entry.flags |= VORB_ENTRY_HAS_SIZE | VORB_ENTRY_HAS_CHECKSUM;
    out.entry.unpacked_size = x->size;
    out.entry.packed_size = x->stream_length;
    if (x->flags & index_flag_attributes) {
        out.entry.flags |= VORB_ENTRY_HAS_META;
        out.entry.meta = vorb_file_meta{x->mode, x->mtime_nsec, x->mtime_sec};
    }
}

struct LostAdapter {
    vorb_lost_fn fn;
    void* ctx;
};

void lost_to_callback(void* ctx, uint64_t offset, uint64_t length) {
    const LostAdapter& a = *static_cast<const LostAdapter*>(ctx);
    a.fn(a.ctx, offset, length);
}

}  // namespace

vorb_salvager* vorb_salvager_open(const vorb_source* source, const vorb_unpack_options* options, vorb_status* err) {
    if (!source || !source->read_at || source->size == UINT64_MAX) {
        set_error(err, VORB_ERR_PARAM);
        return nullptr;
    }
    vorb_salvager* s = create_or_fail<vorb_salvager>(err, [&](vorb_salvager& x) {
        const uint64_t asked = options ? options->memory_limit : 0;
        const uint64_t limit = asked == 0 ? 0 : asked > salvage_fixed_bytes ? asked - salvage_fixed_bytes : 1;
        RecordLayout layout;
        RecordSeen seen = RecordSeen::none;
        Status st = archive_in_front_open(x.front, *source, layout, seen);
        if (st == Status::ok) st = salvage_open(x.salvage, IndexSource{read_in_front, &x.front, x.front.end}, limit);
        x.out.buffer.assign(salvage_out_chunk, 0);  // callback_out_init keeps a buffer it is given
        return st;
    });
    if (!s) return nullptr;
    set_error(err, VORB_OK);
    return s;
}

vorb_status vorb_salvager_info(const vorb_salvager* s, vorb_salvage_info* info) {
    if (!s || !info) return VORB_ERR_PARAM;
    const Salvage& x = s->salvage;
    *info = vorb_salvage_info{};
    if (salvage_indexed(x)) info->flags |= VORB_SALVAGE_INDEXED;
    if (salvage_indexed(x) && x.index.version != index_version_1) info->flags |= VORB_SALVAGE_BLOCK_CHECKSUMS;
    if (x.lookup == IndexLookup::damaged) {
        info->flags |= VORB_SALVAGE_INDEX_DAMAGED;
        info->index_fault = x.index.fault;
    }
    if (x.header_damaged) info->flags |= VORB_SALVAGE_HEADER_DAMAGED;
    if (x.gave_up) info->flags |= VORB_SALVAGE_GAVE_UP;
    info->block_size = x.block_size;
    info->member_count = x.announced;
    info->entries_seen = x.entries_seen;
    info->unread_from = x.ended ? x.unread_from : 0;
    info->archive_size = x.src.size;
    return VORB_OK;
}

vorb_status vorb_salvager_next(vorb_salvager* s, vorb_salvage_entry* entry) {
    if (!s || !entry) return VORB_ERR_PARAM;
    return or_out_of_memory([&] {
        const Status st = salvage_next(s->salvage, ProgressSink{});
        if (st == Status::ok) describe(s->salvage.current, *entry);
        return to_api(st);
    });
}

vorb_status vorb_salvager_unpack(vorb_salvager* s, vorb_write_fn write, void* write_ctx, vorb_lost_fn lost,
                                 void* lost_ctx, vorb_progress_fn progress, void* progress_ctx,
                                 vorb_salvage_result* result) {
    if (!s || !write) return VORB_ERR_PARAM;
    return or_out_of_memory([&] {
        callback_out_init(s->out, write, write_ctx);
        LostAdapter adapter{lost, lost_ctx};
        const LostSink sink{lost ? lost_to_callback : nullptr, &adapter};
        ProgressAdapter pa;
        SalvageOutcome r;
        Status st = salvage_unpack(s->salvage, s->out.out, sink, progress_sink(pa, progress, progress_ctx), r);
        if (st == Status::ok && !flush_out(s->out.out)) st = Status::write_failed;
        if (result) {
            *result = vorb_salvage_result{};
            result->written = r.written;
            result->lost = r.lost;
            if (r.status == Status::ok) result->flags |= VORB_SALVAGE_WHOLE;
            if (r.verified) result->flags |= VORB_SALVAGE_VERIFIED;
            if (r.rest_lost) result->flags |= VORB_SALVAGE_REST_LOST;
        }
        return to_api(st != Status::ok ? st : r.status);
    });
}

void vorb_salvager_free(vorb_salvager* s) { delete s; }
