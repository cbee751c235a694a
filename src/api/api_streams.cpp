#include "api/api_streams.h"

#include <algorithm>

namespace {

bool drain_to_callback(void* ctx, const uint8_t* data, size_t len) {
    const CallbackOut& c = *static_cast<const CallbackOut*>(ctx);
    return c.write(c.ctx, data, len) == 0;
}

size_t refill_from_callback(void* ctx, const uint8_t** data) {
    CallbackIn& c = *static_cast<CallbackIn*>(ctx);
    ptrdiff_t got = 0;
    if (!take_read_ahead(c.ahead, c.buffer, got)) got = c.read(c.ctx, c.buffer.data(), c.buffer.size());
    if (got < 0) {
        c.in.read_error = true;
        return 0;
    }
    *data = c.buffer.data();
    // A callback claiming more than it was given room for is held to the room.
    return static_cast<size_t>(got) < c.buffer.size() ? static_cast<size_t>(got) : c.buffer.size();
}

void read_ahead_from_callback(void* ctx) {
    CallbackIn& c = *static_cast<CallbackIn*>(ctx);
    if (c.ahead.held || c.in.at_end) return;
    c.ahead.got = c.read(c.ctx, c.ahead.buffer.data(), c.ahead.buffer.size());
    c.ahead.held = true;
}

// A read at the next offset into buf, held to buf's size; the offset moves past what it gave.
ptrdiff_t read_at_next(AtIn& a, std::vector<uint8_t>& buf) {
    const ptrdiff_t got = a.read_at(a.ctx, buf.data(), buf.size(), a.next);
    if (got < 0) return got;
    const size_t n = std::min(static_cast<size_t>(got), buf.size());
    a.next += n;
    return static_cast<ptrdiff_t>(n);
}

size_t refill_at(void* ctx, const uint8_t** data) {
    AtIn& a = *static_cast<AtIn*>(ctx);
    ptrdiff_t got = 0;
    if (!take_read_ahead(a.ahead, a.buffer, got)) got = read_at_next(a, a.buffer);
    if (got < 0) {
        a.in.read_error = true;
        return 0;
    }
    *data = a.buffer.data();
    return static_cast<size_t>(got);
}

void read_ahead_at(void* ctx) {
    AtIn& a = *static_cast<AtIn*>(ctx);
    if (a.ahead.held || a.in.at_end) return;
    a.ahead.got = read_at_next(a, a.ahead.buffer);
    a.ahead.held = true;
}

void put_event(void* ctx, ProgressEvent e) {
    const ProgressAdapter& a = *static_cast<const ProgressAdapter*>(ctx);
    switch (e) {
    case ProgressEvent::sort_started: a.fn(a.ctx, VORB_EVENT_SORT_STARTED); break;
    case ProgressEvent::sort_ended: a.fn(a.ctx, VORB_EVENT_SORT_ENDED); break;
    case ProgressEvent::block_decoded: a.fn(a.ctx, VORB_EVENT_BLOCK_DECODED); break;
    }
}

}  // namespace

void callback_out_init(CallbackOut& c, vorb_write_fn write, void* ctx) {
    if (c.buffer.empty()) c.buffer.assign(api_chunk_bytes, 0);
    c.write = write;
    c.ctx = ctx;
    c.out = ByteOut{};
    c.out.buf = c.buffer.data();
    c.out.cap = c.buffer.size();
    c.out.drain = drain_to_callback;
    c.out.ctx = &c;
}

void callback_in_init(CallbackIn& c, vorb_read_fn read, void* ctx) {
    if (c.buffer.empty()) c.buffer.assign(api_chunk_bytes, 0);
    c.read = read;
    c.ctx = ctx;
    c.ahead.held = false;
    c.in = ByteIn{};
    c.in.refill = refill_from_callback;
    c.in.ctx = &c;
}

void callback_in_read_ahead(CallbackIn& c) {
    if (c.ahead.buffer.empty()) c.ahead.buffer.assign(api_chunk_bytes, 0);
    c.in.read_ahead = read_ahead_from_callback;
    c.in.ahead_ctx = &c;
}

void at_in_init(AtIn& a, vorb_read_at_fn read_at, void* ctx) {
    if (a.buffer.empty()) a.buffer.assign(api_chunk_bytes, 0);
    a.read_at = read_at;
    a.ctx = ctx;
    at_in_seek(a, 0);
}

void at_in_seek(AtIn& a, uint64_t offset) {
    a.next = offset;
    a.ahead.held = false;
    a.in = ByteIn{};
    a.in.consumed = offset;
    a.in.refill = refill_at;
    a.in.ctx = &a;
    if (!a.ahead.buffer.empty()) {
        a.in.read_ahead = read_ahead_at;
        a.in.ahead_ctx = &a;
    }
}

void at_in_read_ahead(AtIn& a) {
    if (a.ahead.buffer.empty()) a.ahead.buffer.assign(api_chunk_bytes, 0);
    at_in_seek(a, a.next);
}

ProgressSink progress_sink(ProgressAdapter& adapter, vorb_progress_fn fn, void* ctx) {
    adapter.fn = fn;
    adapter.ctx = ctx;
    ProgressSink s;
    if (fn) {
        s.put = put_event;
        s.ctx = &adapter;
    }
    return s;
}

Status archive_in_front_open(ArchiveInFront& a, const vorb_source& source, RecordLayout& layout, RecordSeen& seen) {
    a.source = source;
    VORB_TRY(record_find_at_end(RecordSource{source.read_at, source.ctx, source.size}, layout, seen));
    a.end = seen != RecordSeen::none ? layout.data_size : source.size;
    return Status::ok;
}

ptrdiff_t read_in_front(void* ctx, void* buf, size_t len, uint64_t offset) {
    const ArchiveInFront& a = *static_cast<const ArchiveInFront*>(ctx);
    if (offset >= a.end) return 0;
    return a.source.read_at(a.source.ctx, buf, static_cast<size_t>(std::min<uint64_t>(len, a.end - offset)), offset);
}
