// The caller's callbacks behind the library's byte streams and progress sink.
#pragma once

#include <vector>

#include <vorb.h>

#include "archive/recovery_check.h"
#include "coder/byte_stream.h"
#include "common/progress.h"
#include "common/status.h"

// Archive bytes pass through buffers of this size on their way to or from a callback.
constexpr size_t api_chunk_bytes = 256 << 10;
// Those an unpacking reader holds: one each way, and on threads one more,
// which the archive is read ahead into.
constexpr uint64_t unpack_chunk_bytes(int threads) { return (threads > 1 ? 3 : 2) * uint64_t{api_chunk_bytes}; }

// A read made into a second buffer while the stream's reader is still in
// the first, and its result, held for the refill that takes it.
struct ReadAhead {
    std::vector<uint8_t> buffer;
    ptrdiff_t got = 0;
    bool held = false;
};
// At a refill: the held read's buffer takes the place of `into`, which the
// reader has left, and got is its result. False when none is held.
inline bool take_read_ahead(ReadAhead& r, std::vector<uint8_t>& into, ptrdiff_t& got) {
    if (!r.held) return false;
    into.swap(r.buffer);
    r.held = false;
    got = r.got;
    return true;
}

struct CallbackOut {
    std::vector<uint8_t> buffer;
    vorb_write_fn write = nullptr;
    void* ctx = nullptr;
    ByteOut out;
};
// Points out at write; buffer is allocated once (std::bad_alloc is caught by the callers).
void callback_out_init(CallbackOut& c, vorb_write_fn write, void* ctx);

struct CallbackIn {
    std::vector<uint8_t> buffer;
    ReadAhead ahead;  // with read-ahead only
    vorb_read_fn read = nullptr;
    void* ctx = nullptr;
    ByteIn in;
};
void callback_in_init(CallbackIn& c, vorb_read_fn read, void* ctx);
// Lets c's stream read ahead; only for a reader's own source, whose bytes
// past the archive no caller looks for.
void callback_in_read_ahead(CallbackIn& c);

// An archive read through read_at from a position of its own, so a member
// an index describes can be stepped over without reading it.
struct AtIn {
    std::vector<uint8_t> buffer;
    ReadAhead ahead;  // with read-ahead only; a seek drops what it holds
    vorb_read_at_fn read_at = nullptr;
    void* ctx = nullptr;
    uint64_t next = 0;  // archive offset of the next read
    ByteIn in;
};
void at_in_init(AtIn& a, vorb_read_at_fn read_at, void* ctx);
// The stream goes on from archive offset `offset`.
void at_in_seek(AtIn& a, uint64_t offset);
// Lets a's stream read ahead, as callback_in_read_ahead does.
void at_in_read_ahead(AtIn& a);

struct ProgressAdapter {
    vorb_progress_fn fn = nullptr;
    void* ctx = nullptr;
};
// A sink that passes the library's progress events to the caller's; adapter
// must outlive the sink.
ProgressSink progress_sink(ProgressAdapter& adapter, vorb_progress_fn fn, void* ctx);

inline vorb_status to_api(Status s) { return static_cast<vorb_status>(s); }
inline void set_error(vorb_status* err, vorb_status s) {
    if (err) *err = s;
}

// An archive read at offsets: the file's bytes in front of a recovery record
// at its end, or all of them, so the index is found in front of the record
// and nothing reads the record as archive bytes.
struct ArchiveInFront {
    vorb_source source{};
    uint64_t end = UINT64_MAX;
};
// Looks for a record at the end of source (read_at and size are required).
[[nodiscard]] Status archive_in_front_open(ArchiveInFront& a, const vorb_source& source, RecordLayout& layout,
                                           RecordSeen& seen);
// source.read_at, ending at a.end; ctx is the ArchiveInFront.
ptrdiff_t read_in_front(void* ctx, void* buf, size_t len, uint64_t offset);
