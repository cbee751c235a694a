// Decoding members. The range decoder's state runs on across a member's
// blocks, so a plain member's numbers are decoded in order on one thread,
// while the inverse transforms run beside them (on other workers when there
// are several) and the bytes are written out in block order. An indexed
// member's blocks decode at once, each from its recorded coder state.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "archive/member_stats.h"
#include "archive/index_format.h"
#include "archive/ordered_pipeline.h"
#include "coder/byte_stream.h"
#include "common/progress.h"
#include "common/status.h"
#include "dc/block_buffers.h"
#include "dc/block_symbols.h"

struct InverseSlot;
struct WorkSets;

struct MemberDecoder {
    std::vector<std::unique_ptr<InverseSlot>> slots;
    std::unique_ptr<WorkSets> work;  // what each running job borrows
    std::unique_ptr<BlockDecoder> bd = std::make_unique<BlockDecoder>();
    std::unique_ptr<NumberCoder> nc = std::make_unique<NumberCoder>();
    ByteIn* in = nullptr;
    uint32_t block_size = 0;
    uint32_t failed_block = 0;  // after decode_member_indexed failed: the block it failed in
    OrderedPipeline pipe;
    MemberDecoder();
    MemberDecoder(const MemberDecoder&) = delete;
    MemberDecoder& operator=(const MemberDecoder&) = delete;
    ~MemberDecoder();
};

// Buffers for block_size, reading from in; threads >= 2 inverts on that many
// workers. With memory_limit (bytes; 0: none) fewer blocks are kept in
// flight to stay within it. Fails with out_of_memory, also when one block
// does not fit the limit.
[[nodiscard]] Status member_decoder_init(MemberDecoder& d, ByteIn& in, uint32_t block_size, int threads = 1,
                                         uint64_t memory_limit = 0);

// Bytes member_decoder_init allocates for these arguments.
uint64_t member_decoder_memory(uint32_t block_size, int threads);

// Decodes one member's stream to its end marker, writing its bytes to out.
// With invert = false the transform is not undone and nothing is written
// (sizes only). A stream that needs bytes past the end of the archive is
// reported as truncated; a failed read of the archive as read_failed, a
// failed write as write_failed. The output does not depend on the threads.
[[nodiscard]] Status decode_member(MemberDecoder& d, ByteOut& out, ProgressSink progress, bool invert,
                                   MemberStats& stats);

// Decodes the member an index describes: block k from its recorded coder
// state, on the workers when there are several, each block's end checked
// against the next block's recorded start, the blocks written in order and
// their bytes checked against the member's checksum. d.in must stand on the
// member's first stream byte; it is left on the byte after the stream.
// With a version 2 index each block's bytes are checked against the block's
// checksum before they are written. Fails with bad_block_end,
// block_checksum_mismatch, checksum_mismatch, a damage status of the block,
// truncated, read_failed or write_failed; d.failed_block then says which
// block (the member's end for checksum_mismatch).
[[nodiscard]] Status decode_member_indexed(MemberDecoder& d, const ArchiveIndex& index, const IndexEntry& e,
                                           ByteOut& out, ProgressSink progress, MemberStats& stats);
