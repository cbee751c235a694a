#include "archive/recovery_tail.h"

#include <algorithm>
#include <cstring>

namespace {

// The record ends the stream: its last bytes are a header whose sizes
// reach back to where the record starts, inside the bytes kept.
bool record_at_end(const uint8_t* last, uint64_t start, uint64_t total, size_t keep, RecordLayout& l) {
    RecordLayout found;
    if (record_header_parse(last, found) != Status::ok) return false;
    if (found.data_size + found.record_size != start + total || found.data_size < start ||
        found.data_size - start > keep)
        return false;
    l = found;
    return true;
}

}  // namespace

Status read_record_tail(ByteIn& in, size_t keep, std::vector<uint8_t>& front, RecordTail& tail) {
    tail = RecordTail{};
    front.clear();
    const uint64_t start = bytes_in(in);
    const size_t kept = keep + record_header_size;  // the record's first header copy too
    uint8_t last[record_header_size] = {};
    uint64_t total = 0;
    for (;;) {
        if (in.pos == in.len) {
            if (refill_in(in) < 0) break;
            in.pos--;
        }
        const uint8_t* p = in.buf + in.pos;
        const size_t len = in.len - in.pos;
        in.pos = in.len;
        if (front.size() < kept) front.insert(front.end(), p, p + std::min(len, kept - front.size()));
        // The last header's worth of bytes, for the record's end.
        if (len >= record_header_size) {
            std::memcpy(last, p + len - record_header_size, record_header_size);
        } else {
            std::memmove(last, last + len, record_header_size - len);
            std::memcpy(last + record_header_size - len, p, len);
        }
        total += len;
    }
    VORB_CHECK(!in.read_error, Status::read_failed);
    if (total >= 2 * record_header_size && record_at_end(last, start, total, keep, tail.layout)) {
        const size_t at = static_cast<size_t>(tail.layout.data_size - start);
        uint8_t first[record_header_size];
        record_header_write(tail.layout, first);
        tail.seen = std::memcmp(front.data() + at, first, sizeof first) == 0 ? RecordSeen::intact : RecordSeen::damaged;
        front.resize(at);
        return Status::ok;
    }
    // The end is lost: a first header copy standing where it says it does.
    for (size_t at = 0; at + record_header_size <= front.size(); at++) {
        const uint8_t* h = front.data() + at;
        if (h[record_header_size - sizeof record_signature] != record_signature[0] ||
            std::memcmp(h + record_header_size - sizeof record_signature, record_signature, sizeof record_signature) != 0)
            continue;
        RecordLayout found;
        if (record_header_parse(h, found) == Status::ok && found.data_size == start + at) {
            tail.layout = found;
            tail.seen = RecordSeen::damaged;
            front.resize(at);
            return Status::ok;
        }
    }
    VORB_CHECK(total <= keep, Status::trailing_bytes);
    return Status::ok;
}
