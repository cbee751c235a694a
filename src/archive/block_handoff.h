// How a block's coding passes from its worker to the ordered pass when
// packing on threads. The worker records the block's steps and shows the
// record as it grows, for the caller to replay on its range coder in stream
// order. Once the caller has coded every block before and replayed all that
// was shown, it offers the range coder itself; the worker takes it at its
// next showing (or before it starts recording) and codes the rest at once,
// which spares recording and replaying most blocks. The handed coder writes
// into the caller's output buffer, and the caller drains that buffer when
// the worker asks, so the output's drain always runs on the caller's thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/worker_pool.h"
#include "coder/range_coder.h"
#include "coder/step_record.h"
#include "dc/block_code.h"

struct BlockHandoff {
    WorkerPool* pool = nullptr;
    // Every field below is written under the pool's lock. A side reads one
    // without it only where the other cannot be writing it: the worker its
    // own showings, the caller the coder once coded and a drain request
    // while the worker waits for the answer.
    StepRecord shown;  // the record as far as shown
    uint64_t shows = 0;
    bool record_ended = false;
    enum class Holder : uint8_t { caller, offered, worker } holder = Holder::caller;
    RangeCoder coder;  // the handed coder, writing to coder_out
    ByteOut coder_out;
    const uint8_t* drain_data = nullptr;  // what the worker asks the caller to drain
    size_t drain_len = 0;
    bool drain_asked = false;
    bool drain_ok = false;
    bool coded = false;  // the worker has coded the whole block
};

// Readies the handoff for the slot's next block (no worker runs on it).
void handoff_reset(BlockHandoff& h);

// Worker: codes a prepared block (steps_prepare's work area of work_entries
// entries) at once when the coder is already offered; else records it,
// showing the record every chunk_words words, and codes the rest at once
// if the coder is offered on the way. show is handoff_show but for tests.
void handoff_work(BlockHandoff& h, BlockSteps& b, int32_t* work, size_t work_entries, size_t chunk_words,
                  bool (*show)(void* ctx, const StepRecord& r, bool ended));

// Worker, as a record progress callback (ctx: the handoff): shows the record
// to the caller, or takes the offered coder instead; true when it took it.
bool handoff_show(void* ctx, const StepRecord& r, bool ended);

// Worker: the block's sort failed; nothing is coded.
void handoff_failed(BlockHandoff& h);

// Caller: codes the block on rc, whose output is in memory it owns: replays
// what the worker shows and, with lend, offers rc as soon as it has caught
// up; once the worker holds it, drains the output when asked, then takes rc
// back. Returns when the block is coded or its sort has failed.
void handoff_code(BlockHandoff& h, RangeCoder& rc, bool lend);
