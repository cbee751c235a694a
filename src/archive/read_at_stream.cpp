#include "archive/read_at_stream.h"

#include <algorithm>

namespace {

constexpr size_t first_refill_bytes = 4 << 10;
constexpr size_t largest_refill_bytes = 256 << 10;

size_t refill(void* ctx, const uint8_t** data) {
    ReadAtStream& s = *static_cast<ReadAtStream*>(ctx);
    if (s.next >= s.src.size) return 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(std::min(s.refill_bytes, s.buffer.size()), s.src.size - s.next));
    const ptrdiff_t got = s.src.read_at(s.src.ctx, s.buffer.data(), want, s.next);
    if (got < 0) {
        s.in.read_error = true;
        return 0;
    }
    // A callback claiming more than it was given room for is held to the room.
    const size_t n = std::min(static_cast<size_t>(got), want);
    s.next += n;
    s.refill_bytes = std::min(s.refill_bytes * 4, largest_refill_bytes);
    *data = s.buffer.data();
    return n;
}

}  // namespace

void read_at_stream_init(ReadAtStream& s, const IndexSource& src) {
    s.src = src;
    // No refill asks for more than the archive holds.
    s.buffer.assign(static_cast<size_t>(std::clamp<uint64_t>(src.size, 1, largest_refill_bytes)), 0);
    read_at_stream_seek(s, 0);
}

void read_at_stream_seek(ReadAtStream& s, uint64_t offset) {
    s.next = offset;
    s.refill_bytes = first_refill_bytes;
    s.in = ByteIn{};
    s.in.consumed = offset;
    s.in.refill = refill;
    s.in.ctx = &s;
}

bool read_at_exact(const IndexSource& src, uint8_t* dst, size_t len, uint64_t offset, bool& read_error) {
    read_error = false;
    while (len > 0) {
        const ptrdiff_t got = src.read_at(src.ctx, dst, len, offset);
        if (got < 0) read_error = true;
        if (got <= 0) return false;
        const size_t n = std::min(static_cast<size_t>(got), len);
        dst += n;
        len -= n;
        offset += n;
    }
    return true;
}
