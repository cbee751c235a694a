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

void memory_out_init(MemoryOut& m);
// Drains what is buffered and returns all bytes written so far.
const std::vector<uint8_t>& memory_out_bytes(MemoryOut& m);

// A packing NumberCoder writing to m, models reset, coder started.
void start_packing(NumberCoder& nc, MemoryOut& m);
// An unpacking NumberCoder reading from in, models reset, coder started and loaded.
void start_unpacking(NumberCoder& nc, ByteIn& in);

struct TracedNumber {
    uint32_t value;
    uint8_t symbol;
    uint8_t kind;
    bool operator==(const TracedNumber&) const = default;
};
// Records every coded (value, symbol, kind) into v.
void trace_numbers(NumberCoder& nc, std::vector<TracedNumber>& v);
