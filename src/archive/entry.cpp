#include "archive/entry.h"

#include <vector>

#include "archive/names.h"

void write_entry(ByteOut& out, bool present, const std::string& name) {
    put_byte(out, present ? entry_present : entry_absent);
    if (present) write_name(out, name);
}

Status read_entry(ByteIn& in, ArchiveEntry& e) {
    const int presence = get_byte(in);
    VORB_CHECK(!in.read_error, Status::read_failed);
    VORB_CHECK(presence >= 0, Status::truncated);
    e.presence = static_cast<uint8_t>(presence);
    e.present = presence != entry_absent;
    e.name.clear();
    e.name_read = Status::ok;
    if (!e.present) return Status::ok;
    const Status st = read_name(in, e.name);
    if (st == Status::name_too_long) {
        e.name_read = st;
        return Status::ok;
    }
    return st;
}

Status check_archive_end(ByteIn& in) {
    const int c = get_byte(in);
    VORB_CHECK(!in.read_error, Status::read_failed);
    VORB_CHECK(c < 0, Status::trailing_bytes);
    return Status::ok;
}

Status read_streamed_index(ByteIn& in, ArchiveIndex& index, bool& found) {
    found = false;
    const uint64_t start = bytes_in(in);
    std::vector<uint8_t> rest;
    for (int c; (c = get_byte(in)) >= 0;) {
        // An index is a few dozen bytes per block: far more is no index.
        VORB_CHECK(rest.size() < max_streamed_index_bytes, Status::trailing_bytes);
        rest.push_back(static_cast<uint8_t>(c));
    }
    VORB_CHECK(!in.read_error, Status::read_failed);
    if (rest.empty()) return Status::ok;
    VORB_CHECK(rest.size() >= index_footer_size && index_footer_found(rest.data() + rest.size() - index_footer_size),
               Status::trailing_bytes);
    // Read from right after the last entry, so it starts there or fails.
    VORB_TRY(index_parse(rest.data(), rest.size(), start + rest.size(), index));
    found = true;
    return Status::ok;
}
