#include "support/memory_stream.h"

namespace {
bool drain_to_vector(void* ctx, const uint8_t* data, size_t len) {
    auto& v = *static_cast<std::vector<uint8_t>*>(ctx);
    v.insert(v.end(), data, data + len);
    return true;
}
void record(void* ctx, uint32_t value, uint8_t symbol, uint8_t kind) {
    static_cast<std::vector<TracedNumber>*>(ctx)->push_back({value, symbol, kind});
}
}  // namespace

void memory_out_init(MemoryOut& m) {
    m.bytes.clear();
    m.out = ByteOut{};
    m.out.buf = m.buf;
    m.out.cap = sizeof m.buf;
    m.out.drain = drain_to_vector;
    m.out.ctx = &m.bytes;
}

const std::vector<uint8_t>& memory_out_bytes(MemoryOut& m) {
    flush_out(m.out);
    return m.bytes;
}

void start_packing(NumberCoder& nc, MemoryOut& m) {
    memory_out_init(m);
    nc.rc = RangeCoder{};
    nc.rc.mode = rc_mode_pack;
    nc.rc.out = &m.out;
    nc.trace = NumberTrace{};
    reset_models(nc.models);
    rc_start(nc.rc);
}

void start_unpacking(NumberCoder& nc, ByteIn& in) {
    nc.rc = RangeCoder{};
    nc.rc.mode = rc_mode_unpack;
    nc.rc.in = &in;
    nc.trace = NumberTrace{};
    reset_models(nc.models);
    rc_start(nc.rc);
    rc_load(nc.rc);
}

void trace_numbers(NumberCoder& nc, std::vector<TracedNumber>& v) {
    nc.trace.fn = record;
    nc.trace.ctx = &v;
}
