// In-memory ends for the byte streams, so tests see every byte coded.
#pragma once

#include <cstdint>
#include <vector>

#include "coder/byte_stream.h"
#include "coder/model.h"

struct MemoryOut {
    std::vector<uint8_t> bytes;
    uint8_t buf[7];  // small on purpose: drains happen mid-stream
    ByteOut out;
};

inline void memory_out_init(MemoryOut& m) {
    m.bytes.clear();
    m.out = ByteOut{};
    m.out.buf = m.buf;
    m.out.cap = sizeof m.buf;
    m.out.ctx = &m.bytes;
    m.out.drain = [](void* ctx, const uint8_t* data, size_t len) {
        auto& v = *static_cast<std::vector<uint8_t>*>(ctx);
        v.insert(v.end(), data, data + len);
        return true;
    };
}

// Drains what is buffered and returns all bytes written so far.
inline const std::vector<uint8_t>& memory_out_bytes(MemoryOut& m) {
    flush_out(m.out);
    return m.bytes;
}

// A NumberCoder packing to m, or unpacking from in: models reset, coder started (and loaded).
inline void start_packing(NumberCoder& nc, MemoryOut& m) {
    memory_out_init(m);
    nc.rc = RangeCoder{};
    nc.rc.mode = rc_mode_pack;
    nc.rc.out = &m.out;
    nc.trace = NumberTrace{};
    reset_models(nc.models);
    rc_start(nc.rc);
}

inline void start_unpacking(NumberCoder& nc, ByteIn& in) {
    nc.rc = RangeCoder{};
    nc.rc.mode = rc_mode_unpack;
    nc.rc.in = &in;
    nc.trace = NumberTrace{};
    reset_models(nc.models);
    rc_start(nc.rc);
    rc_load(nc.rc);
}

struct TracedNumber {
    uint32_t value;
    uint8_t symbol;
    uint8_t kind;
    bool operator==(const TracedNumber&) const = default;
};
