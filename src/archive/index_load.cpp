#include "archive/index_load.h"

#include <new>
#include <vector>

namespace {

// Reads len bytes at offset; complete is false when the archive ends first.
Status read_exact_at(const IndexSource& src, uint8_t* buf, size_t len, uint64_t offset, bool& complete) {
    complete = false;
    while (len > 0) {
        const ptrdiff_t got = src.read_at(src.ctx, buf, len, offset);
        VORB_CHECK(got >= 0, Status::read_failed);
        if (got == 0) return Status::ok;
        const size_t n = static_cast<size_t>(got) < len ? static_cast<size_t>(got) : len;
        buf += n;
        len -= n;
        offset += n;
    }
    complete = true;
    return Status::ok;
}

}  // namespace

Status index_load(const IndexSource& src, ArchiveIndex& index, IndexLookup& found) {
    index = ArchiveIndex{};
    found = IndexLookup::none;
    if (src.size < index_min_size) return Status::ok;
    uint8_t footer[index_footer_size];
    bool complete = false;
    VORB_TRY(read_exact_at(src, footer, sizeof footer, src.size - sizeof footer, complete));
    if (!complete || !index_footer_near(footer)) return Status::ok;

    found = IndexLookup::damaged;
    uint64_t length = 0;
    if (index_footer_parse(footer, src.size, length, index.fault) != Status::ok) return Status::ok;
    // The footer's length is at most the archive's size, checked above; a
    // forged one that cannot be held is a damaged index, not a failed run.
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(length);
    } catch (const std::bad_alloc&) {
        index.fault = "index too large to load";
        return Status::ok;
    }
    VORB_TRY(read_exact_at(src, bytes.data(), bytes.size(), src.size - length, complete));
    if (!complete) {
        index.fault = "archive shorter than its size";
        return Status::ok;
    }
    if (index_parse(bytes.data(), bytes.size(), src.size, index) != Status::ok) return Status::ok;
    found = IndexLookup::valid;
    return Status::ok;
}
