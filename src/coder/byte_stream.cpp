#include "coder/byte_stream.h"

#include <cstring>

bool flush_out(ByteOut& o) {
    if (o.pos > 0) {
        if (!o.failed && o.drain && !o.drain(o.ctx, o.buf, o.pos)) o.failed = true;
        o.drained += o.pos;
        o.pos = 0;
    }
    return !o.failed;
}

void put_bytes(ByteOut& o, const uint8_t* data, size_t len) {
    while (len > 0) {
        if (o.pos == o.cap) flush_out(o);
        size_t take = o.cap - o.pos;
        if (take > len) take = len;
        std::memcpy(o.buf + o.pos, data, take);
        o.pos += take;
        data += take;
        len -= take;
    }
}

int refill_in(ByteIn& in) {
    if (!in.at_end && in.refill) {
        in.consumed += in.len;
        in.pos = 0;
        in.len = in.refill(in.ctx, &in.buf);
        if (in.len > 0) return in.buf[in.pos++];
    }
    in.at_end = true;
    in.overread = true;
    return -1;
}

void byte_in_from_memory(ByteIn& in, const uint8_t* data, size_t len) {
    in = ByteIn{};
    in.buf = data;
    in.len = len;
}
