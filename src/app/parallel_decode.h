// Unpacking on several threads: the range decoder's state runs on across a
// member's blocks, so the numbers of each block are decoded here in order,
// while the inverse transforms of earlier blocks run on worker threads and
// their bytes are written out in block order.
#pragma once

#include <memory>
#include <vector>

#include "app/archive_reader.h"
#include "app/worker_pool.h"

struct InverseSlot;

struct ParallelDecoder {
    std::vector<std::unique_ptr<InverseSlot>> slots;
    std::unique_ptr<BlockDecoder> bd = std::make_unique<BlockDecoder>();
    std::unique_ptr<NumberCoder> nc = std::make_unique<NumberCoder>();
    ByteIn* in = nullptr;
    uint32_t block_size = 0;
    WorkerPool pool;
    ParallelDecoder();
    ParallelDecoder(const ParallelDecoder&) = delete;
    ParallelDecoder& operator=(const ParallelDecoder&) = delete;
    ~ParallelDecoder();
};

// threads >= 2 workers. False when the buffers cannot be allocated.
[[nodiscard]] bool parallel_decoder_init(ParallelDecoder& d, ByteIn& in, uint32_t block_size, int threads);

// Same contract as decode_member with invert = true.
[[nodiscard]] Status decode_member_parallel(ParallelDecoder& d, ByteOut& out, ProgressSink progress,
                                            MemberStats& stats);
