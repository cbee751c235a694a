// Reading an archive entry by entry; with an index, sizes, attributes and
// checksums come from it and members are stepped over without decoding.
#include <algorithm>
#include <cstring>

#include "api/api_alloc.h"
#include "api/api_streams.h"
#include "archive/checksum.h"
#include "archive/entry.h"
#include "archive/header.h"
#include "archive/index_load.h"
#include "archive/member_decode.h"
#include "archive/stream_check.h"
#include "archive/recovery_check.h"
#include "archive/recovery_tail.h"

struct vorb_reader {
    vorb_source source{};
    CallbackIn in;                // a source without read_at
    AtIn at;                      // a source with read_at and a size
    ByteIn* input = nullptr;      // whichever of the two is read
    ArchiveHeader header;
    MemberDecoder decoder;
    ArchiveIndex index;
    IndexLookup index_found = IndexLookup::none;
    const IndexEntry* current = nullptr;  // the current member's index record
    int entries_read = 0;
    bool member_pending = false;  // the current entry is present and not yet decoded
    bool ended = false;           // vorb_reader_next returned VORB_END
    Status failed = Status::ok;   // a decode failed: the position in the archive is lost
    // The last member that failed in one of its blocks: that block's bytes.
    bool damage_known = false;
    uint64_t damage_offset = 0;
    uint64_t damage_length = 0;
    // Read as a stream: what passed, for the index at the end, and what differed from it.
    StreamCheck streamed;
    const char* mismatch = nullptr;
    int mismatch_entry = -1;
    const char* disagreement = nullptr;  // the header and a valid index differ: why
    std::vector<vorb_file_meta> node_metas;  // of the index's nodes, for vorb_reader_node
    RecordTail record;            // a recovery record after the archive
    ArchiveInFront front;         // read at offsets: the bytes in front of it
};

namespace {

bool indexed(const vorb_reader* r) { return r->index_found == IndexLookup::valid; }
bool streamed(const vorb_reader* r) { return r->input == &r->in.in; }

// Every byte a member's decoding hands on is hashed on its way out.
struct HashedOut {
    Checksum sum;
    ByteOut* out = nullptr;
    bool (*drain)(void* ctx, const uint8_t* data, size_t len) = nullptr;
    void* ctx = nullptr;
};

bool hash_then_drain(void* ctx, const uint8_t* data, size_t len) {
    HashedOut& h = *static_cast<HashedOut*>(ctx);
    checksum_add(h.sum, data, len);
    return !h.drain || h.drain(h.ctx, data, len);
}

void hash_out(HashedOut& h, ByteOut& out) {
    h.out = &out;
    h.drain = out.drain;
    h.ctx = out.ctx;
    out.drain = hash_then_drain;
    out.ctx = &h;
}

void unhash_out(HashedOut& h) {
    h.out->drain = h.drain;
    h.out->ctx = h.ctx;
}

// Where the failed block of an indexed member lies in the member's bytes.
void note_damage(vorb_reader* r, const IndexEntry& e, Status st) {
    r->damage_known = st != Status::checksum_mismatch && st != Status::write_failed && st != Status::read_failed &&
                      st != Status::out_of_memory && st != Status::truncated &&
                      r->decoder.failed_block < e.block_count;
    if (!r->damage_known) return;
    const IndexBlock* b = r->index.blocks.data() + e.first_block;
    r->damage_offset = 0;
    for (uint32_t k = 0; k < r->decoder.failed_block; k++) r->damage_offset += b[k].length;
    r->damage_length = b[r->decoder.failed_block].length;
}

// Decodes a member of an archive read as a stream, noting what it was for
// the index at the end.
Status decode_streamed(vorb_reader* r, ByteOut& out, ProgressSink progress, bool invert, MemberStats& s) {
    StreamedEntry& noted = r->streamed.entries.back();
    HashedOut h;
    hash_out(h, out);
    Status st = or_out_of_memory([&] { return decode_member(r->decoder, out, progress, invert, s); });
    if (!flush_out(out) && st == Status::ok) st = Status::write_failed;
    unhash_out(h);
    noted.stats = s;
    noted.unpacked = invert;
    noted.checksum = checksum_value(h.sum);
    return st;
}

void put_stats(vorb_member_stats* out, const MemberStats& s) {
    if (out) *out = vorb_member_stats{s.unpacked, s.packed, s.blocks};
}

// Decodes the current member to out. With an index a failure leaves the
// reader on the next entry; without one the reader stops.
vorb_status decode_current(vorb_reader* r, ByteOut& out, ProgressSink progress, bool invert,
                           vorb_member_stats* stats) {
    if (!r || !r->member_pending || r->failed != Status::ok) return VORB_ERR_PARAM;
    r->member_pending = false;
    r->damage_known = false;
    MemberStats s;
    Status st;
    if (r->current) {
        const IndexEntry& e = *r->current;
        // Sizes need no decoding: the index has them.
        s = MemberStats{e.size, e.stream_length, e.block_count};
        if (invert)
            st = or_out_of_memory([&] { return decode_member_indexed(r->decoder, r->index, e, out, progress, s); });
        else
            st = Status::ok;
        at_in_seek(r->at, e.stream_offset + e.stream_length);
        if (st == Status::ok && !flush_out(out)) st = Status::write_failed;
        if (st != Status::ok) note_damage(r, e, st);
    } else if (streamed(r)) {
        st = decode_streamed(r, out, progress, invert, s);
        r->failed = st;
    } else {
        st = or_out_of_memory([&] { return decode_member(r->decoder, out, progress, invert, s); });
        if (!flush_out(out) && st == Status::ok) st = Status::write_failed;
        r->failed = st;
    }
    put_stats(stats, s);
    return to_api(st);
}

// Why the header and a valid index disagree, or null. One of the two is
// damaged: under random damage the header (the index's checksum covers its
// copy of the numbers, and its records match the entries), while a forged
// index can claim any block size.
const char* header_disagreement(const vorb_reader* r, Status header) {
    if (header != Status::ok || r->header.block_size != r->index.block_size)
        return "the header and the index disagree on the block size";
    if (static_cast<size_t>(r->header.member_count) != r->index.entries.size())
        return "the header and the index disagree on the entry count";
    return nullptr;
}

// Where they disagree, the entries are read by the index, each block in
// buffers of the largest block it records (which the blocks' own lengths
// are checked against), and vorb_reader_finish reports the damage.
void settle_header(vorb_reader* r, Status header) {
    r->disagreement = header_disagreement(r, header);
    if (!r->disagreement) return;
    uint32_t largest = 1;
    for (const IndexBlock& b : r->index.blocks) largest = std::max(largest, b.length);
    r->header.block_size = largest;
    r->header.member_count = static_cast<int>(r->index.entries.size());
}

// A node's attributes as the library gives them, made once.
Status keep_node_metas(vorb_reader* r) {
    return or_out_of_memory([&] {
        r->node_metas.clear();
        for (const IndexNode& n : r->index.nodes)
            r->node_metas.push_back(vorb_file_meta{n.mode, n.mtime_nsec, n.mtime_sec});
        return Status::ok;
    });
}

Status open_input(vorb_reader* r, int threads, uint64_t memory_limit) {
    const vorb_source& src = r->source;
    const bool random_access = src.read_at && src.size != UINT64_MAX;
    if (random_access) {
        // An archive with a recovery record is the bytes in front of it.
        VORB_TRY(archive_in_front_open(r->front, src, r->record.layout, r->record.seen));
        at_in_init(r->at, read_in_front, &r->front);
        if (threads > 1) at_in_read_ahead(r->at);
        r->input = &r->at.in;
    } else {
        callback_in_init(r->in, src.read, src.ctx);
        if (threads > 1) callback_in_read_ahead(r->in);
        r->input = &r->in.in;
        stream_check_start(r->streamed, *r->input);
    }
    const Status header = read_header(*r->input, r->header);
    VORB_CHECK(header == Status::ok || header == Status::bad_block_size, header);
    if (random_access) VORB_TRY(index_load(IndexSource{read_in_front, &r->front, r->front.end}, r->index, r->index_found));
    if (indexed(r)) {
        settle_header(r, header);
        VORB_TRY(keep_node_metas(r));
    } else {
        VORB_TRY(header);
    }
    return member_decoder_init(r->decoder, *r->input, r->header.block_size, threads, memory_limit);
}

}  // namespace

vorb_reader* vorb_reader_open(const vorb_source* source, const vorb_unpack_options* options, vorb_status* err) {
    const int threads = options && options->threads > 1 ? options->threads : 1;
    const bool threads_bad = options && options->threads < 0;
    if (!source || !source->read || threads > 256 || threads_bad) {
        set_error(err, VORB_ERR_PARAM);
        return nullptr;
    }
    vorb_reader* r = create_or_fail<vorb_reader>(err, [&](vorb_reader& x) {
        x.source = *source;
        // The limit covers the chunk buffers too, as vorb_memory_usage does.
        const uint64_t chunks = unpack_chunk_bytes(threads);
        const uint64_t asked = options ? options->memory_limit : 0;
        const uint64_t limit = asked == 0 ? 0 : asked > chunks ? asked - chunks : 1;
        return open_input(&x, threads, limit);
    });
    if (!r) return nullptr;
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
    if (r->index_found == IndexLookup::valid) {
        info->flags |= VORB_INFO_HAS_INDEX;
        info->index_version = r->index.version;
    }
    if (r->index_found == IndexLookup::damaged) info->flags |= VORB_INFO_INDEX_DAMAGED;
    if (r->record.seen != RecordSeen::none) {
        info->flags |= VORB_INFO_HAS_RECOVERY;
        info->recovery_percent = r->record.layout.percent;
    }
    if (r->record.seen == RecordSeen::damaged) info->flags |= VORB_INFO_RECOVERY_DAMAGED;
    return VORB_OK;
}

const char* vorb_reader_index_fault(const vorb_reader* r) {
    if (r && r->index_found == IndexLookup::valid) return r->disagreement;
    return r && r->index_found == IndexLookup::damaged ? r->index.fault : nullptr;
}

vorb_status vorb_reader_check_archive(vorb_reader* r) {
    if (!r || !indexed(r) || streamed(r)) return VORB_ERR_PARAM;
    return or_out_of_memory([&] {
        std::vector<uint8_t> buf(api_chunk_bytes);
        Checksum sum;
        for (uint64_t at = 0; at < r->index.start;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), r->index.start - at));
            const ptrdiff_t got = r->source.read_at(r->source.ctx, buf.data(), want, at);
            if (got < 0) return VORB_ERR_READ;
            if (got == 0) return VORB_ERR_TRUNCATED;
            const size_t n = std::min(static_cast<size_t>(got), want);
            checksum_add(sum, buf.data(), n);
            at += n;
        }
        return checksum_value(sum) == r->index.archive_checksum ? VORB_OK : VORB_ERR_CHECKSUM;
    });
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
    const Status st = or_out_of_memory([&] { return read_entry(*r->input, e); });
    if (st != Status::ok) {
        r->failed = st;
        return to_api(st);
    }
    r->current = nullptr;
    if (streamed(r)) {
        const Status kept = or_out_of_memory([&] {
            StreamedEntry noted;
            noted.present = e.present;
            noted.name = e.name;
            noted.entry_checksum = index_entry_checksum(e.presence, e.name);
            noted.stream_offset = bytes_in(*r->input);
            r->streamed.entries.push_back(std::move(noted));
            return Status::ok;
        });
        if (kept != Status::ok) {
            r->failed = kept;
            return to_api(kept);
        }
    }
    const IndexEntry* x = indexed(r) ? &r->index.entries[static_cast<size_t>(r->entries_read)] : nullptr;
    // A verified index and an entry that disagree: the entry is damaged,
    // and its name cannot be trusted.
    if (x && (x->present != e.present ||
              (e.present && (x->stream_offset != bytes_in(*r->input) ||
                             x->entry_checksum != index_entry_checksum(e.presence, e.name))))) {
        r->failed = Status::checksum_mismatch;
        return to_api(r->failed);
    }
    r->entries_read++;
    *entry = vorb_entry{};
    entry->present = e.present;
    entry->name_too_long = e.name_read == Status::name_too_long;
    std::memcpy(entry->name, e.name.data(), e.name.size());  // at most max_name_length bytes
    entry->name[e.name.size()] = '\0';
    if (x && !x->present) {
        std::memcpy(entry->name, x->absent_name.data(), x->absent_name.size());  // checked by the index parse
        entry->name[x->absent_name.size()] = '\0';
        entry->flags |= VORB_ENTRY_HAS_ABSENT_NAME;
    }
    if (x && x->present) {
        r->current = x;
        entry->flags |= VORB_ENTRY_HAS_SIZE | VORB_ENTRY_HAS_CHECKSUM;
        entry->unpacked_size = x->size;
        entry->packed_size = x->stream_length;
        if (x->flags & index_flag_attributes) {
            entry->flags |= VORB_ENTRY_HAS_META;
            entry->meta = vorb_file_meta{x->mode, x->mtime_nsec, x->mtime_sec};
        }
    }
    r->member_pending = e.present;
    return VORB_OK;
}

vorb_status vorb_reader_unpack(vorb_reader* r, vorb_write_fn write, void* write_ctx, vorb_progress_fn progress,
                               void* progress_ctx, vorb_member_stats* stats) {
    if (!r || !write) return VORB_ERR_PARAM;
    CallbackOut out;
    const vorb_status ready = or_out_of_memory([&] {
        callback_out_init(out, write, write_ctx);
        return VORB_OK;
    });
    if (ready != VORB_OK) return ready;
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

namespace {

// The end of an archive read as a stream: its index, when it has one, is
// checked against everything that passed.
vorb_status finish_streamed(vorb_reader* r) {
    stream_check_stop(r->streamed);
    ArchiveIndex index;
    bool found = false;
    return or_out_of_memory([&] {
        const Status st = read_streamed_index(*r->input, index, found, r->record);
        if (st == Status::damaged_index) {
            r->index.fault = index.fault;
            r->index_found = IndexLookup::damaged;
        }
        if (st != Status::ok) return to_api(st);
        if (!found) return r->record.seen == RecordSeen::damaged ? VORB_ERR_RECOVERY : VORB_OK;
        r->index = std::move(index);
        if (const char* why = header_disagreement(r, Status::ok)) {
            // The members were read by the header: the index is what is reported.
            r->index.fault = why;
            r->index_found = IndexLookup::damaged;
            return VORB_ERR_INDEX;
        }
        r->index_found = IndexLookup::valid;
        r->mismatch = stream_check_compare(r->streamed, r->index, r->mismatch_entry);
        if (r->mismatch) {
            r->index_found = IndexLookup::none;  // its nodes are not to be trusted either
            return VORB_ERR_CHECKSUM;
        }
        if (const Status kept = keep_node_metas(r); kept != Status::ok) return to_api(kept);
        return r->record.seen == RecordSeen::damaged ? VORB_ERR_RECOVERY : VORB_OK;
    });
}

}  // namespace

vorb_status vorb_reader_finish(vorb_reader* r) {
    if (!r || !r->ended) return VORB_ERR_PARAM;
    if (streamed(r)) return finish_streamed(r);
    const bool record_damaged_before = r->record.seen == RecordSeen::damaged;
    // A valid index was matched entry by entry: the last one ends where it starts.
    if (r->index_found == IndexLookup::valid)
        return r->disagreement ? VORB_ERR_INDEX : record_damaged_before ? VORB_ERR_RECOVERY : VORB_OK;
    if (r->index_found == IndexLookup::damaged) return VORB_ERR_INDEX;
    // With a record found at the end nothing may stand between the last entry and it.
    if (r->record.seen != RecordSeen::none) {
        const Status st = check_archive_end(*r->input);
        return to_api(st == Status::ok && record_damaged_before ? Status::damaged_record : st);
    }
    // An index and a record whose end was lost can only be recognised.
    const Status st = check_streamed_index(*r->input, static_cast<uint32_t>(r->header.member_count), r->record);
    return to_api(st == Status::ok && r->record.seen == RecordSeen::damaged ? Status::damaged_record : st);
}

vorb_status vorb_reader_damaged_range(const vorb_reader* r, uint64_t* offset, uint64_t* length) {
    if (!r || !offset || !length || !r->damage_known) return VORB_ERR_PARAM;
    *offset = r->damage_offset;
    *length = r->damage_length;
    return VORB_OK;
}

const char* vorb_reader_mismatch(const vorb_reader* r, const char** name) {
    if (!r || !r->mismatch) return nullptr;
    if (name)
        *name = r->mismatch_entry >= 0 ? r->streamed.entries[static_cast<size_t>(r->mismatch_entry)].name.c_str()
                                       : nullptr;
    return r->mismatch;
}

unsigned vorb_reader_node_count(const vorb_reader* r) {
    return r && indexed(r) && (!streamed(r) || r->ended) ? static_cast<unsigned>(r->node_metas.size()) : 0;
}

vorb_status vorb_reader_node(const vorb_reader* r, unsigned i, vorb_node* node) {
    if (!node || i >= vorb_reader_node_count(r)) return VORB_ERR_PARAM;
    const IndexNode& n = r->index.nodes[i];
    *node = vorb_node{};
    node->kind = n.kind == index_node_link ? VORB_NODE_LINK : VORB_NODE_FOLDER;
    node->path = n.path.c_str();
    node->target = n.kind == index_node_link ? n.target.c_str() : nullptr;
    node->meta = (n.flags & index_flag_attributes) ? &r->node_metas[i] : nullptr;
    return VORB_OK;
}

void vorb_reader_free(vorb_reader* r) { delete r; }
