// Buffered byte streams with a pluggable end (a file, memory, nowhere), so the
// coder and the block writer never make a library call per byte and tests can
// capture or feed the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteOut {
    uint8_t* buf = nullptr;
    size_t pos = 0;
    size_t cap = 0;
    // Takes len bytes; returns false on a write error. May be null: bytes are dropped.
    bool (*drain)(void* ctx, const uint8_t* data, size_t len) = nullptr;
    void* ctx = nullptr;
    uint64_t drained = 0;  // bytes handed to drain so far
    bool failed = false;   // a drain reported an error; later bytes are dropped
};

// Hands the buffered bytes to the drain. Returns false once any write failed.
bool flush_out(ByteOut& o);

inline void put_byte(ByteOut& o, uint8_t b) {
    if (o.pos == o.cap) [[unlikely]] flush_out(o);
    o.buf[o.pos++] = b;
}

void put_bytes(ByteOut& o, const uint8_t* data, size_t len);

// Bytes written so far, buffered or drained.
inline uint64_t bytes_out(const ByteOut& o) { return o.drained + o.pos; }

struct ByteIn {
    const uint8_t* buf = nullptr;
    size_t pos = 0;
    size_t len = 0;
    // Refills buf from the source; returns the byte count, 0 at the end. May be null.
    size_t (*refill)(void* ctx, const uint8_t** data) = nullptr;
    void* ctx = nullptr;
    uint64_t consumed = 0;  // bytes taken before the current buffer
    bool at_end = false;    // the source has no more bytes
    bool overread = false;  // a read was attempted at the end
    bool read_error = false;  // set by the refill function on an I/O error
    // Reads the source's next buffer now, while this one is still being
    // read, so that the next refill returns at once; the bytes the stream
    // gives and its position are unchanged. May be null.
    void (*read_ahead)(void* ctx) = nullptr;
    void* ahead_ctx = nullptr;  // read_ahead's own, left alone by a wrapped refill
};

// Slow path of get_byte: refills, or marks the end.
int refill_in(ByteIn& in);

// Next byte (0..255), or -1 at the end of the stream (and overread is set).
inline int get_byte(ByteIn& in) {
    if (in.pos < in.len) [[likely]] return in.buf[in.pos++];
    return refill_in(in);
}

inline uint64_t bytes_in(const ByteIn& in) { return in.consumed + in.pos; }

// A stream over a memory range (tests, fuzzing).
void byte_in_from_memory(ByteIn& in, const uint8_t* data, size_t len);
