// Reading an archive front to back: the header, each entry's presence byte
// and name, and each present member's block stream. Shared by unpack, test
// and list, and usable on any byte source (a file, memory).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/buffers.h"
#include "app/names.h"
#include "coder/byte_stream.h"
#include "coder/progress.h"
#include "coder/status.h"
#include "inverse/decode_block.h"

enum class HeaderRead { ok, bad_signature, truncated, bad_block_size };

struct ArchiveHeader {
    uint32_t block_size = 0;
    int member_count = 0;
};

HeaderRead read_header(ByteIn& in, ArchiveHeader& h);

struct ArchiveEntry {
    bool present = false;
    std::string name;  // stored name, at most max_name_length characters kept
    NameRead name_read = NameRead::ok;
};

// Reads one entry's presence byte and name; false when the archive ends first.
[[nodiscard]] bool read_entry(ByteIn& in, ArchiveEntry& e);

// The state that decodes members: buffers of the archive's block size, the
// block decoder and the range decoder reading from the archive.
struct MemberDecoder {
    BlockBuffers buffers;
    std::unique_ptr<BlockDecoder> bd = std::make_unique<BlockDecoder>();
    std::unique_ptr<NumberCoder> nc = std::make_unique<NumberCoder>();
    ByteIn* in = nullptr;
    MemberDecoder() = default;
    MemberDecoder(const MemberDecoder&) = delete;
    MemberDecoder& operator=(const MemberDecoder&) = delete;
    ~MemberDecoder() { release_buffers(buffers); }
};

// False when the buffers for block_size cannot be allocated.
[[nodiscard]] bool member_decoder_init(MemberDecoder& d, ByteIn& in, uint32_t block_size);

struct MemberStats {
    uint64_t unpacked = 0;  // bytes of the member
    uint64_t packed = 0;    // bytes of its block stream
    uint32_t blocks = 0;
};

// Decodes one member's stream to its end marker, writing its bytes to out.
// With invert = false the transform is not undone and nothing is written
// (sizes only). A stream that needs bytes past the end of the archive is
// reported as truncated.
[[nodiscard]] Status decode_member(MemberDecoder& d, ByteOut& out, ProgressSink progress, bool invert,
                                   MemberStats& stats);
