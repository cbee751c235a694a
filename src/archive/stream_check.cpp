#include "archive/stream_check.h"

namespace {

size_t hash_then_refill(void* ctx, const uint8_t** data) {
    StreamCheck& c = *static_cast<StreamCheck*>(ctx);
    // A refill comes only once the buffer is used up: all of it was taken.
    checksum_add(c.archive, c.in->buf, c.in->len);
    return c.refill(c.refill_ctx, data);
}

const char* entry_mismatch(const StreamedEntry& got, const IndexEntry& want) {
    if (got.present != want.present) return "presence byte";
    if (!got.present) return nullptr;
    if (got.entry_checksum != want.entry_checksum) return "stored name";
    if (got.stream_offset != want.stream_offset || got.stats.packed != want.stream_length) return "packed size";
    if (got.stats.unpacked != want.size) return "size";
    if (got.stats.blocks != want.block_count) return "block count";
    if (got.unpacked && got.checksum != want.checksum) return "checksum";
    return nullptr;
}

}  // namespace

void stream_check_start(StreamCheck& c, ByteIn& in) {
    c.in = &in;
    c.refill = in.refill;
    c.refill_ctx = in.ctx;
    in.refill = hash_then_refill;
    in.ctx = &c;
}

void stream_check_stop(StreamCheck& c) {
    if (!c.in || c.in->refill != hash_then_refill) return;
    checksum_add(c.archive, c.in->buf, c.in->pos);
    c.in->refill = c.refill;
    c.in->ctx = c.refill_ctx;
}

const char* stream_check_compare(const StreamCheck& c, const ArchiveIndex& index, int& entry) {
    for (size_t i = 0; i < c.entries.size() && i < index.entries.size(); i++) {
        entry = static_cast<int>(i);
        if (const char* what = entry_mismatch(c.entries[i], index.entries[i])) return what;
    }
    entry = -1;
    if (c.entries.size() != index.entries.size()) return "entry count";
    return checksum_value(c.archive) == index.archive_checksum ? nullptr : "archive checksum";
}
