#include "archive/salvage.h"

#include <algorithm>
#include <cstring>

#include "archive/entry.h"
#include "archive/names.h"
#include "archive/salvage_indexed.h"
#include "archive/salvage_plain.h"

namespace {

// What a damaged stored name is replaced by: the entry's number keeps it
// apart from the others.
std::string placeholder_name(uint32_t number) { return "damaged-name-" + std::to_string(number); }

// Reads what the archive has of [at, at + len): the count read.
Status read_some_at(const IndexSource& src, uint8_t* dst, size_t len, uint64_t at, size_t& got) {
    got = 0;
    while (got < len) {
        const ptrdiff_t n = src.read_at(src.ctx, dst + got, len - got, at + got);
        VORB_CHECK(n >= 0, Status::read_failed);
        if (n == 0) break;
        got += std::min(static_cast<size_t>(n), len - got);
    }
    return Status::ok;
}

enum class EntryRead { entry, cut, damaged };

// The entry at s.pos of a plain archive: its presence byte and name. A name
// no packer stores (empty, or longer than 198 bytes) is damage.
Status read_plain_entry(Salvage& s, SalvageEntry& e, EntryRead& how) {
    uint8_t buf[1 + max_name_length + 1];
    size_t got = 0;
    VORB_TRY(read_some_at(s.src, buf, sizeof buf, s.pos, got));
    how = EntryRead::cut;
    if (got == 0) return Status::ok;
    e.offset = s.pos;
    e.present = buf[0] != entry_absent;
    if (!e.present) {
        how = EntryRead::entry;
        return Status::ok;
    }
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(buf + 1, 0, got - 1));
    if (!nul) {
        how = got < sizeof buf ? EntryRead::cut : EntryRead::damaged;
        return Status::ok;
    }
    const size_t len = static_cast<size_t>(nul - (buf + 1));
    how = len == 0 ? EntryRead::damaged : EntryRead::entry;
    e.name.assign(reinterpret_cast<const char*>(buf + 1), len);
    e.stream_offset = s.pos + 2 + len;
    return Status::ok;
}

Status end_of_entries(Salvage& s, uint64_t unread_from) {
    s.ended = true;
    s.unread_from = std::min(unread_from, s.src.size);
    return Status::end;
}

Status next_plain(Salvage& s) {
    for (;;) {
        if (s.entries_seen >= s.announced) return end_of_entries(s, s.src.size);
        SalvageEntry e;
        if (s.must_search) {
            SearchOutcome found = SearchOutcome::none;
            uint64_t at = 0;
            VORB_TRY(search_entry(s.dec, s.stream, s.area, s.search, s.pos, s.announced - s.entries_seen, found, at));
            if (found != SearchOutcome::found) {
                s.gave_up = found == SearchOutcome::gave_up;
                return end_of_entries(s, s.gave_up ? at : s.damage_from);
            }
            e.found_by_search = true;
            e.skipped_from = std::min(s.damage_from, at);
            s.counted = false;
            s.pos = at;
            s.must_search = false;
        }
        EntryRead how = EntryRead::cut;
        VORB_TRY(read_plain_entry(s, e, how));
        if (how == EntryRead::cut) return end_of_entries(s, s.pos);
        if (how == EntryRead::damaged) {
            s.must_search = true;
            s.damage_from = s.pos++;
            continue;
        }
        s.entries_seen++;
        e.number = s.counted ? s.entries_seen : 0;
        s.current = e;
        s.pos = e.present ? e.stream_offset : e.offset + 1;
        s.pending = e.present;
        return Status::ok;
    }
}

Status next_indexed(Salvage& s) {
    if (s.entries_seen == s.index.entries.size()) return end_of_entries(s, s.src.size);
    const IndexEntry& x = s.index.entries[s.entries_seen];
    SalvageEntry e;
    e.number = ++s.entries_seen;
    e.offset = s.pos;
    e.present = x.present;
    e.record = &x;
    if (!x.present) {
        e.name = x.absent_name;
        s.pos++;
        s.current = e;
        return Status::ok;
    }
    // The index places the stream at least two bytes after the entry's start.
    const uint64_t entry_len = x.stream_offset - s.pos;
    uint8_t buf[1 + max_name_length + 1];
    size_t got = 0;
    if (entry_len <= sizeof buf) VORB_TRY(read_some_at(s.src, buf, static_cast<size_t>(entry_len), s.pos, got));
    const size_t name_len = static_cast<size_t>(entry_len) - 2;
    const bool name_ok = got == entry_len && buf[got - 1] == 0 && std::memchr(buf + 1, 0, name_len) == nullptr &&
                         index_entry_checksum(buf[0], std::string(reinterpret_cast<const char*>(buf + 1), name_len)) ==
                             x.entry_checksum;
    e.name_damaged = !name_ok;
    e.name = name_ok ? std::string(reinterpret_cast<const char*>(buf + 1), name_len) : placeholder_name(e.number);
    e.stream_offset = x.stream_offset;
    s.pos = x.stream_offset + x.stream_length;
    s.current = e;
    s.pending = true;
    return Status::ok;
}

Status unpack_plain(Salvage& s, ByteOut& out, LostSink sink, ProgressSink progress, SalvageOutcome& r) {
    read_at_stream_seek(s.stream, s.current.stream_offset);
    PlainMember m;
    VORB_TRY(salvage_plain_member(s.dec, s.stream.in, out, progress, m));
    r.written = m.saved;
    r.status = m.status;
    if (m.status == Status::ok && m.end_matches) {
        s.pos = m.next_entry_from;
        return Status::ok;
    }
    s.must_search = true;
    s.damage_from = m.next_entry_from;
    if (m.status == Status::ok) {
        // Decoded to an end marker the coder's last bytes deny: the last
        // block may have been read out of step, and the next entry with it.
        r.status = Status::bad_stream_end;
        s.pos = m.last_block_from;
        return Status::ok;
    }
    r.rest_lost = true;
    LostRanges lost;
    lost.sink = sink;
    lost_add(lost, m.saved, lost_to_end);
    lost_close(lost);
    // Nothing decoded: the entry itself may be what is damaged.
    if (m.saved == 0) s.damage_from = s.current.offset;
    s.pos = m.saved > 0 ? m.next_entry_from : s.current.offset + 1;
    return Status::ok;
}

}  // namespace

Status salvage_open(Salvage& s, const IndexSource& src, uint64_t memory_limit) {
    s.src = src;
    uint8_t head[header_size];
    size_t got = 0;
    VORB_TRY(read_some_at(src, head, sizeof head, 0, got));
    ByteIn in;
    byte_in_from_memory(in, head, got);
    ArchiveHeader h;
    s.header_damaged = read_header(in, h) != Status::ok;
    VORB_TRY(index_load(src, s.index, s.lookup));
    if (salvage_indexed(s)) {
        // Its checksum covers its copy of the header.
        s.block_size = s.index.block_size;
        s.announced = static_cast<unsigned>(s.index.entries.size());
    } else {
        s.block_size = s.header_damaged ? default_block_size : h.block_size;
        s.announced = s.header_damaged ? max_members : static_cast<unsigned>(h.member_count);
    }
    VORB_TRY(salvage_decoder_init(s.dec, s.block_size, memory_limit));
    read_at_stream_init(s.stream, src);
    s.area = SearchArea{src, src.size, s.header_damaged};
    s.search.budget = search_budget(src.size);
    return Status::ok;
}

bool salvage_indexed(const Salvage& s) { return s.lookup == IndexLookup::valid; }

Status salvage_next(Salvage& s, ProgressSink progress) {
    if (s.ended) return Status::end;
    if (s.pending) {
        ByteOut nowhere;
        uint8_t buf[1 << 12];
        nowhere.buf = buf;
        nowhere.cap = sizeof buf;
        SalvageOutcome r;
        VORB_TRY(salvage_unpack(s, nowhere, LostSink{}, progress, r));
    }
    return salvage_indexed(s) ? next_indexed(s) : next_plain(s);
}

Status salvage_unpack(Salvage& s, ByteOut& out, LostSink lost, ProgressSink progress, SalvageOutcome& r) {
    VORB_CHECK(s.pending, Status::bad_parameter);
    s.pending = false;
    r = SalvageOutcome{};
    if (!salvage_indexed(s)) return unpack_plain(s, out, lost, progress, r);
    LostRanges ranges;
    ranges.sink = lost;
    IndexedMember m;
    VORB_TRY(salvage_indexed_member(s.dec, s.src, s.index, *s.current.record, out, ranges, progress, m));
    r.status = m.status;
    r.written = m.written;
    r.lost = ranges.total;
    r.verified = m.verified;
    return Status::ok;
}
