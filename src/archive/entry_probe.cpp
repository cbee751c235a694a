#include "archive/entry_probe.h"

#include <algorithm>
#include <cstring>

#include "archive/names.h"

size_t plausible_name_length(const uint8_t* p, size_t avail) {
    const size_t scan = std::min(avail, max_name_length + 1);
    for (size_t i = 0; i < scan; i++) {
        if (p[i] == 0) return i;
        if (p[i] < 0x20 || p[i] == 0x7F) return 0;
    }
    return 0;
}

namespace {

// The symbol set's checks; false at the first number no packer writes.
bool symbol_set_plausible(NumberCoder& nc, uint32_t n) {
    uint32_t firsts[256];
    uint32_t count = 0;
    uint32_t x = 0;
    uint32_t v = 0;
    if (decode_number(nc, 0, 1, v) != Status::ok) return false;
    for (;;) {
        // Ascending without wrapping: the packer sends each value less the one before.
        x += v;
        if (x > 255) return false;
        uint32_t first = 0;
        if (decode_number(nc, static_cast<uint8_t>(x), 0, first) != Status::ok || first >= n) return false;
        firsts[count++] = first;
        if (decode_number(nc, 0, 1, v) != Status::ok) return false;
        if (v == 0) break;
        if (count == 256) return false;
    }
    if (count > n) return false;
    std::sort(firsts, firsts + count);
    if (firsts[0] != 0) return false;
    return std::adjacent_find(firsts, firsts + count) == firsts + count;
}

}  // namespace

StreamHead probe_stream_head(NumberCoder& nc, const uint8_t* bytes, size_t len, uint32_t block_size) {
    ByteIn in;
    byte_in_from_memory(in, bytes, len);
    nc.rc = RangeCoder{};
    nc.rc.mode = rc_mode_unpack;
    nc.rc.in = &in;
    reset_models(nc.models);
    rc_load(nc.rc);
    uint32_t n = 0;
    bool ok = decode_number(nc, 0, 0, n) == Status::ok && n <= block_size;
    StreamHead head = StreamHead::implausible;
    if (ok && n == 0)
        head = stream_end_matches(nc.rc) ? StreamHead::empty : StreamHead::implausible;
    else if (ok && symbol_set_plausible(nc, n))
        head = StreamHead::plausible;
    // Garbage read past the end proves nothing either way.
    if (in.overread) head = StreamHead::cut;
    nc.rc.in = nullptr;
    return head;
}
