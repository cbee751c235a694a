#include "archive/entry.h"

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
