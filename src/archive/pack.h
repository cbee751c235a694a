// Packing one member: its bytes, read block by block, become its block
// stream. Blocks sort on the ordered pipeline (on worker threads when there
// are several) and are coded here in file order, so the stream is the same
// for any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "archive/checksum.h"
#include "archive/index_format.h"
#include "archive/member_stats.h"
#include "archive/member_decode.h"
#include "archive/ordered_pipeline.h"
#include "coder/byte_stream.h"
#include "common/progress.h"
#include "common/status.h"
#include "dc/dc_encode.h"

// Where a member's bytes come from: read returns the bytes read (fewer than
// len is fine), 0 at the end, negative on an error.
struct MemberInput {
    ptrdiff_t (*read)(void* ctx, void* buf, size_t len) = nullptr;
    void* ctx = nullptr;
};

struct PackSlot;

// What an index keeps of a member, gathered while it is packed.
struct MemberRecord {
    std::vector<IndexBlock> blocks;  // the coder before every block, the end marker's included
    Checksum checksum;               // of the member's bytes
};

struct Packer {
    std::vector<std::unique_ptr<PackSlot>> slots;
    std::unique_ptr<DistanceCoder> dc = std::make_unique<DistanceCoder>();
    std::unique_ptr<NumberCoder> nc = std::make_unique<NumberCoder>();
    OrderedPipeline pipe;
    uint32_t block_size = 0;
    Packer();
    Packer(const Packer&) = delete;
    Packer& operator=(const Packer&) = delete;
    ~Packer();
};

// Buffers and sorters for block_size (1..max_block_size), one set per block
// in flight: one on one thread, threads + 1 on several.
// Fails with bad_parameter or out_of_memory.
[[nodiscard]] Status packer_init(Packer& p, uint32_t block_size, int threads);

// Bytes packer_init allocates, with the working tables one block sort adds.
uint64_t packer_memory(uint32_t block_size, int threads);

// Members packed back to back, each asked for when its turn to be read
// comes: the first blocks of one sort while the last of the one before are
// still being coded, so members shorter than a block keep every worker busy.
// Every function runs on the caller's thread.
struct MemberFeed {
    void* ctx = nullptr;
    // Entry i's input; present false for an absent entry (nothing to read).
    Status (*open)(void* ctx, unsigned i, MemberInput& in, bool& present) = nullptr;
    // Entry i's input is read no more: at its end, or after a failure.
    void (*close)(void* ctx, unsigned i) = nullptr;
    // Entry i is next in the archive; a present one's block stream follows.
    Status (*begin)(void* ctx, unsigned i, bool present) = nullptr;
    // Entry i's stream has ended; record is null unless records are kept.
    Status (*end)(void* ctx, unsigned i, const MemberStats& stats, MemberRecord* record) = nullptr;
    ProgressSink progress;
};

// Packs entries 0..count-1 of the feed in order, each present one's block
// stream written to out between its begin and end. Fails with read_failed
// (nothing more is read or coded), out_of_memory (a sort could not allocate
// its tables), what a feed function returned, or write_failed (out failed;
// no entry after the one being read is opened, and the members in flight
// are coded to their ends all the same). keep_records: each member's block
// records and checksum go to end.
[[nodiscard]] Status pack_members(Packer& p, unsigned count, MemberFeed& feed, ByteOut& out, bool keep_records);

// One member alone: reads it to its end and writes its block stream to out,
// as pack_members does; stats.packed counts the bytes put to out.
[[nodiscard]] Status pack_member(Packer& p, MemberInput in, ByteOut& out, ProgressSink progress, MemberStats& stats);
