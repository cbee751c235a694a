#include "archive/entry.h"

#include <vector>

#include "archive/little_endian.h"
#include "archive/names.h"
#include "archive/recovery_tail.h"

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

Status read_streamed_index(ByteIn& in, ArchiveIndex& index, bool& found, RecordTail& record) {
    found = false;
    const uint64_t start = bytes_in(in);
    std::vector<uint8_t> rest;
    // A recovery record may follow: the index is what stands in front of it.
    VORB_TRY(read_record_tail(in, max_streamed_index_bytes, rest, record));
    if (rest.empty()) return Status::ok;
    VORB_CHECK(rest.size() >= index_footer_size && index_footer_near(rest.data() + rest.size() - index_footer_size),
               Status::trailing_bytes);
    // Read from right after the last entry, so it starts there or fails;
    // unless a whole index ends the bytes: then the header's entry count
    // stopped the reading early, which the caller reports.
    const uint64_t length = get_le(rest.data() + rest.size() - index_footer_size + 8, 8);
    const size_t from = length < rest.size() && length >= index_min_size ? rest.size() - length : 0;
    ArchiveIndex later;
    if (from == 0 || index_parse(rest.data() + from, rest.size() - from, start + rest.size(), later) != Status::ok)
        VORB_TRY(index_parse(rest.data(), rest.size(), start + rest.size(), index));
    else
        index = std::move(later);
    found = true;
    return Status::ok;
}

Status check_streamed_index(ByteIn& in, uint32_t member_count, RecordTail& record) {
    const uint64_t start = bytes_in(in);
    std::vector<uint8_t> rest;
    VORB_TRY(read_record_tail(in, max_streamed_index_bytes, rest, record));
    if (rest.empty()) return Status::ok;
    VORB_CHECK(rest.size() >= index_footer_size && index_footer_found(rest.data() + rest.size() - index_footer_size),
               Status::trailing_bytes);
    ArchiveIndex index;
    VORB_CHECK(index_parse(rest.data(), rest.size(), start + rest.size(), index) == Status::ok, Status::trailing_bytes);
    VORB_CHECK(index.start == start && index.entries.size() == member_count, Status::trailing_bytes);
    return Status::ok;
}
