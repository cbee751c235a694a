#include "archive/index_format.h"

#include <xxhash.h>

#include <cstring>

#include "archive/header.h"
#include "archive/index_nodes.h"
#include "archive/little_endian.h"
#include "archive/names.h"
#include "dc/block_buffers.h"

namespace {

// The footer's index checksum covers every index byte in front of it.
constexpr size_t footer_checksum_at = 24;
constexpr size_t footer_signature_at = 32;

Status fail(ArchiveIndex& index, const char* why) {
    index.fault = why;
    return Status::damaged_index;
}

// A coder state the packer can have been in between two blocks: what an
// interval step leaves behind (top bytes apart, range not narrow, no wrap).
bool coder_state_possible(const CoderState& s) {
    return s.low <= UINT32_MAX - s.range && rc_wide(s.low, s.range);
}

// One present member's record at p (index_member_record_size bytes) and its
// block records after it, which the caller has shown to be inside the index.
Status parse_member(ArchiveIndex& index, const uint8_t* p, uint64_t archive_pos, IndexEntry& e) {
    e.present = true;
    e.flags = p[1];
    e.mode = static_cast<uint16_t>(get_le(p + 2, 2));
    e.mtime_nsec = static_cast<uint32_t>(get_le(p + 4, 4));
    e.mtime_sec = static_cast<int64_t>(get_le(p + 8, 8));
    e.size = get_le(p + 16, 8);
    e.stream_offset = get_le(p + 24, 8);
    e.stream_length = get_le(p + 32, 8);
    e.checksum = get_le(p + 40, 8);
    e.entry_checksum = get_le(p + 48, 8);
    VORB_CHECK((e.flags & ~index_flag_attributes) == 0, fail(index, "unknown member flags"));
    VORB_CHECK((e.mode & ~index_mode_mask) == 0, fail(index, "mode beyond the permission bits"));
    VORB_CHECK(e.mtime_nsec < nanoseconds_per_second, fail(index, "nanoseconds of a second out of range"));
    VORB_CHECK((e.flags & index_flag_attributes) || (e.mode == 0 && e.mtime_sec == 0 && e.mtime_nsec == 0),
               fail(index, "attributes where none were recorded"));
    // At least a presence byte and a name's NUL in front of the stream.
    VORB_CHECK(e.stream_offset >= archive_pos + 2, fail(index, "member stream overlaps the entry before it"));
    VORB_CHECK(e.stream_offset <= index.start && e.stream_length <= index.start - e.stream_offset,
               fail(index, "member stream runs into the index"));
    VORB_CHECK(e.stream_length >= coder_lookahead, fail(index, "member stream shorter than the coder's last bytes"));

    uint64_t bytes = 0;
    CoderState prev;
    const size_t record_size = index_block_record_size(index.version);
    for (uint32_t k = 0; k < e.block_count; k++) {
        const uint8_t* r = p + index_member_record_size + k * record_size;
        IndexBlock b;
        b.start.written = get_le(r, 8);
        b.start.low = static_cast<uint32_t>(get_le(r + 8, 4));
        b.start.range = static_cast<uint32_t>(get_le(r + 12, 4));
        b.length = static_cast<uint32_t>(get_le(r + 16, 4));
        if (index.version != index_version_1) b.checksum = get_le(r + 20, 8);
        const bool last = k + 1 == e.block_count;
        VORB_CHECK(k > 0 || b.start == CoderState{}, fail(index, "first block does not start the coder afresh"));
        VORB_CHECK(b.start.written >= prev.written, fail(index, "block starts before the block in front of it"));
        // The four bytes the decoder loads there must be inside the stream.
        VORB_CHECK(b.start.written <= e.stream_length - coder_lookahead, fail(index, "block starts past its member's stream"));
        VORB_CHECK(coder_state_possible(b.start), fail(index, "impossible coder state"));
        VORB_CHECK(b.length <= index.block_size, fail(index, "block longer than the block size"));
        VORB_CHECK(last == (b.length == 0), fail(index, "end marker missing or misplaced"));
        VORB_CHECK(!last || b.checksum == 0, fail(index, "end marker with a checksum"));
        VORB_CHECK(b.length <= e.size - bytes, fail(index, "blocks hold more bytes than the member"));
        bytes += b.length;
        prev = b.start;
        index.blocks.push_back(b);
    }
    VORB_CHECK(bytes == e.size, fail(index, "blocks hold fewer bytes than the member"));
    return Status::ok;
}

}  // namespace

uint64_t index_entry_checksum(uint8_t presence, const std::string& name) {
    std::string bytes(1, static_cast<char>(presence));
    bytes += name;
    bytes += '\0';
    return XXH3_64bits(bytes.data(), bytes.size());
}

void index_build(const ArchiveIndex& index, std::vector<uint8_t>& out) {
    const size_t begin = out.size();
    put_le(out, index.block_size, 4);
    put_le(out, index.entries.size(), 2);
    put_le(out, 0, 2);
    for (const IndexEntry& e : index.entries) {
        if (!e.present) {
            out.push_back(index_kind_absent);
            out.push_back(static_cast<uint8_t>(e.absent_name.size()));
            out.insert(out.end(), e.absent_name.begin(), e.absent_name.end());
            continue;
        }
        out.push_back(index_kind_present);
        out.push_back(e.flags);
        put_le(out, e.mode, 2);
        put_le(out, e.mtime_nsec, 4);
        put_le(out, static_cast<uint64_t>(e.mtime_sec), 8);
        put_le(out, e.size, 8);
        put_le(out, e.stream_offset, 8);
        put_le(out, e.stream_length, 8);
        put_le(out, e.checksum, 8);
        put_le(out, e.entry_checksum, 8);
        put_le(out, e.block_count, 4);
        for (uint32_t k = 0; k < e.block_count; k++) {
            const IndexBlock& b = index.blocks[e.first_block + k];
            put_le(out, b.start.written, 8);
            put_le(out, b.start.low, 4);
            put_le(out, b.start.range, 4);
            put_le(out, b.length, 4);
            if (index.version != index_version_1) put_le(out, b.checksum, 8);
        }
    }
    if (index.version != index_version_1) index_nodes_build(index.nodes, out);
    put_le(out, index.archive_checksum, 8);
    put_le(out, out.size() - begin + index_footer_size - 8, 8);
    put_le(out, index.version, 4);
    put_le(out, 0, 4);
    put_le(out, XXH3_64bits(out.data() + begin, out.size() - begin), 8);
    out.insert(out.end(), index_signature, index_signature + sizeof index_signature);
}

bool index_footer_found(const uint8_t* footer) {
    return std::memcmp(footer + footer_signature_at, index_signature, sizeof index_signature) == 0;
}

Status index_footer_parse(const uint8_t* footer, uint64_t archive_size, uint64_t& index_length,
                          const char*& fault) {
    const auto failed = [&](const char* reason) {
        fault = reason;
        return Status::damaged_index;
    };
    fault = nullptr;
    VORB_CHECK(index_footer_found(footer), failed("no index signature"));
    const uint64_t version = get_le(footer + 16, 4);
    VORB_CHECK(version == index_version_1 || version == index_version_2, failed("index of an unknown version"));
    VORB_CHECK(get_le(footer + 20, 4) == 0, failed("reserved footer bits set"));
    index_length = get_le(footer + 8, 8);
    VORB_CHECK(index_length >= index_min_size, failed("index length too small"));
    VORB_CHECK(archive_size >= header_size && index_length <= archive_size - header_size,
               failed("index longer than the archive"));
    return Status::ok;
}

Status index_parse(const uint8_t* bytes, size_t len, uint64_t archive_size, ArchiveIndex& index) {
    index = ArchiveIndex{};
    VORB_CHECK(len >= index_min_size, fail(index, "index too short"));
    const uint8_t* footer = bytes + len - index_footer_size;
    uint64_t length = 0;
    const char* why = nullptr;
    if (index_footer_parse(footer, archive_size, length, why) != Status::ok) return fail(index, why);
    VORB_CHECK(length == len, fail(index, "index length differs from the footer's"));
    VORB_CHECK(XXH3_64bits(bytes, len - index_footer_size + footer_checksum_at) ==
                   get_le(footer + footer_checksum_at, 8),
               fail(index, "index checksum mismatch"));
    index.archive_checksum = get_le(footer, 8);
    index.start = archive_size - len;
    index.version = static_cast<uint32_t>(get_le(footer + 16, 4));  // 1 or 2, checked with the footer
    const size_t record_size = index_block_record_size(index.version);

    index.block_size = static_cast<uint32_t>(get_le(bytes, 4));
    const size_t count = get_le(bytes + 4, 2);
    VORB_CHECK(index.block_size > 0 && index.block_size <= max_block_size, fail(index, "block size out of range"));
    VORB_CHECK(count <= max_members, fail(index, "more entries than an archive holds"));
    VORB_CHECK(get_le(bytes + 6, 2) == 0, fail(index, "reserved index bits set"));

    const size_t end = len - index_footer_size;
    size_t pos = index_head_size;
    uint64_t archive_pos = header_size;  // where the next entry can start at the earliest
    index.entries.resize(count);
    for (IndexEntry& e : index.entries) {
        VORB_CHECK(pos < end, fail(index, "index ends inside its entries"));
        const uint8_t* p = bytes + pos;
        if (p[0] == index_kind_absent) {
            VORB_CHECK(end - pos >= 2, fail(index, "index ends inside a name"));
            VORB_CHECK(p[1] <= max_name_length, fail(index, "name longer than 198 characters"));
            VORB_CHECK(end - pos - 2 >= p[1], fail(index, "index ends inside a name"));
            e.absent_name.assign(reinterpret_cast<const char*>(p + 2), p[1]);
            pos += 2 + p[1];
            archive_pos += 1;  // an absent entry is its presence byte alone
            continue;
        }
        VORB_CHECK(p[0] == index_kind_present, fail(index, "unknown entry kind"));
        VORB_CHECK(end - pos >= index_member_record_size, fail(index, "index ends inside a member record"));
        e.block_count = static_cast<uint32_t>(get_le(p + 56, 4));
        // Bounded by the bytes present before anything is sized by it.
        VORB_CHECK(e.block_count >= 1, fail(index, "member without blocks"));
        VORB_CHECK(e.block_count <= (end - pos - index_member_record_size) / record_size,
                   fail(index, "more blocks than the index holds"));
        e.first_block = static_cast<uint32_t>(index.blocks.size());
        index.blocks.reserve(index.blocks.size() + e.block_count);
        VORB_TRY(parse_member(index, p, archive_pos, e));
        pos += index_member_record_size + size_t{e.block_count} * record_size;
        archive_pos = e.stream_offset + e.stream_length;
    }
    if (index.version != index_version_1) VORB_TRY(index_nodes_parse(bytes, pos, end, index.nodes, index.fault));
    VORB_CHECK(pos == end, fail(index, "bytes after the last index record"));
    VORB_CHECK(archive_pos == index.start, fail(index, "entries do not end where the index starts"));
    return Status::ok;
}
