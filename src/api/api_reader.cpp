// Reading an archive entry by entry.
#include <cstring>
#include <new>

#include "api/api_streams.h"
#include "archive/entry.h"
#include "archive/header.h"
#include "archive/member_decode.h"

struct vorb_reader {
    vorb_source source{};
    CallbackIn in;
    ArchiveHeader header;
    MemberDecoder decoder;
    int entries_read = 0;
    bool member_pending = false;  // the current entry is present and not yet decoded
    bool ended = false;           // vorb_reader_next returned VORB_END
    Status failed = Status::ok;   // a decode failed: the position in the archive is lost
};

namespace {

void put_stats(vorb_member_stats* out, const MemberStats& s) {
    if (out) *out = vorb_member_stats{s.unpacked, s.packed, s.blocks};
}

// Decodes the current member to out; after a failure the reader stops.
vorb_status decode_current(vorb_reader* r, ByteOut& out, ProgressSink progress, bool invert,
                           vorb_member_stats* stats) {
    if (!r || !r->member_pending || r->failed != Status::ok) return VORB_ERR_PARAM;
    r->member_pending = false;
    MemberStats s;
    Status st = decode_member(r->decoder, out, progress, invert, s);
    if (!flush_out(out) && st == Status::ok) st = Status::write_failed;
    r->failed = st;
    put_stats(stats, s);
    return to_api(st);
}

}  // namespace

vorb_reader* vorb_reader_open(const vorb_source* source, const vorb_unpack_options* options, vorb_status* err) {
    const int threads = options && options->threads > 1 ? options->threads : 1;
    const bool threads_bad = options && options->threads < 0;
    if (!source || !source->read || threads > 256 || threads_bad) {
        set_error(err, VORB_ERR_PARAM);
        return nullptr;
    }
    vorb_reader* r = new (std::nothrow) vorb_reader;
    Status st = r ? Status::ok : Status::out_of_memory;
    if (r) {
        try {
            r->source = *source;
            callback_in_init(r->in, source->read, source->ctx);
            st = read_header(r->in.in, r->header);
            if (st == Status::ok) st = member_decoder_init(r->decoder, r->in.in, r->header.block_size, threads);
        } catch (const std::bad_alloc&) {
            st = Status::out_of_memory;
        }
    }
    if (st != Status::ok) {
        delete r;
        set_error(err, to_api(st));
        return nullptr;
    }
    set_error(err, VORB_OK);
    return r;
}

vorb_status vorb_header_parse(const void* buf, size_t len, vorb_archive_info* info) {
    if (!buf || !info) return VORB_ERR_PARAM;
    ByteIn in;
    byte_in_from_memory(in, static_cast<const uint8_t*>(buf), len);
    ArchiveHeader h;
    const Status st = read_header(in, h);
    *info = vorb_archive_info{};
    info->block_size = h.block_size;
    info->member_count = h.member_count > 0 ? static_cast<unsigned>(h.member_count) : 0;
    return to_api(st);
}

vorb_status vorb_reader_info(const vorb_reader* r, vorb_archive_info* info) {
    if (!r || !info) return VORB_ERR_PARAM;
    *info = vorb_archive_info{};
    info->block_size = r->header.block_size;
    info->member_count = static_cast<unsigned>(r->header.member_count);
    return VORB_OK;
}

vorb_status vorb_reader_next(vorb_reader* r, vorb_entry* entry) {
    if (!r || !entry) return VORB_ERR_PARAM;
    if (r->failed != Status::ok) return to_api(r->failed);
    if (r->member_pending) {
        const vorb_status st = vorb_reader_skip(r, nullptr);
        if (st != VORB_OK) return st;
    }
    if (r->entries_read == r->header.member_count) {
        r->ended = true;
        return VORB_END;
    }
    ArchiveEntry e;
    const Status st = read_entry(r->in.in, e);
    if (st != Status::ok) {
        r->failed = st;
        return to_api(st);
    }
    r->entries_read++;
    *entry = vorb_entry{};
    entry->present = e.present;
    entry->name_too_long = e.name_read == Status::name_too_long;
    std::memcpy(entry->name, e.name.data(), e.name.size());  // at most max_name_length bytes
    entry->name[e.name.size()] = '\0';
    r->member_pending = e.present;
    return VORB_OK;
}

vorb_status vorb_reader_unpack(vorb_reader* r, vorb_write_fn write, void* write_ctx, vorb_progress_fn progress,
                               void* progress_ctx, vorb_member_stats* stats) {
    if (!r || !write) return VORB_ERR_PARAM;
    CallbackOut out;
    try {
        callback_out_init(out, write, write_ctx);
    } catch (const std::bad_alloc&) {
        return VORB_ERR_MEMORY;
    }
    ProgressAdapter adapter;
    return decode_current(r, out.out, progress_sink(adapter, progress, progress_ctx), true, stats);
}

namespace {

// Where a member decoded to nowhere goes: a small buffer, never drained.
struct Nowhere {
    uint8_t buf[1 << 12];
    ByteOut out;
    Nowhere() {
        out.buf = buf;
        out.cap = sizeof buf;
    }
};

}  // namespace

vorb_status vorb_reader_skip(vorb_reader* r, vorb_member_stats* stats) {
    Nowhere n;
    return decode_current(r, n.out, ProgressSink{}, false, stats);
}

vorb_status vorb_reader_test(vorb_reader* r, vorb_progress_fn progress, void* progress_ctx,
                             vorb_member_stats* stats) {
    Nowhere n;
    ProgressAdapter adapter;
    return decode_current(r, n.out, progress_sink(adapter, progress, progress_ctx), true, stats);
}

vorb_status vorb_reader_finish(vorb_reader* r) {
    if (!r || !r->ended) return VORB_ERR_PARAM;
    return to_api(check_archive_end(r->in.in));
}

void vorb_reader_free(vorb_reader* r) { delete r; }
