// The large tables a block's inverse needs, lent to one job at a time, and
// the slots that hold the blocks in flight between decoding and writing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "archive/worker_pool.h"
#include "coder/model.h"
#include "common/status.h"
#include "dc/block_buffers.h"
#include "dc/block_symbols.h"
#include "dc/block_resume.h"
#include "inverse/invert_block.h"

struct InverseSlot;

// What a block needs only while a job decodes and inverts it: one set for
// each job that can run at once, taken when the job starts, so a block
// waiting in line holds nothing but its bytes.
struct WorkSet {
    BlockBuffers links;  // the index and distance arrays
    int32_t bucket_start[256];
    // An indexed member's block is decoded from its recorded state here too.
    BlockDecoder bd;
    NumberCoder nc;
    // The block this set last decoded, inverted while the set's next job
    // decodes (held), and whether a job or the writer has the set now.
    PendingInverse pending;
    InverseSlot* held = nullptr;
    bool busy = false;
    // The other workers' share of this set's walks: a job for each, queued
    // below every block, so that only a worker with no block to start helps.
    WorkerPool* pool = nullptr;
    std::vector<Job> helper_jobs;
    ~WorkSet() { release_buffers(links); }
};

struct WorkSets {
    std::vector<std::unique_ptr<WorkSet>> all;
    std::mutex mutex;  // guards busy, held, begun and the slots' ready and holder
    std::condition_variable changed;
    uint64_t begun = 0;  // inverses invert_slot has begun
};

struct InverseSlot {
    BlockBuffers buffers;  // the block only: the transformed bytes, then the block's
    WorkSets* work = nullptr;
    int32_t n = 0;
    int32_t primary = 0;
    // How often each value occurs in the block, as its decoder counted the
    // runs: the inverse then needs no pass of its own to count them.
    int32_t counts[256] = {};
    Status status = Status::ok;
    // False from submission until the block's bytes are whole; meanwhile a
    // set may hold its inverse.
    bool ready = true;
    WorkSet* holder = nullptr;
    Job job;
    bool touched = false;  // the block area's pages are in memory
    // A block of an indexed member: its stream bytes, four past the next
    // block's start, and the coder's state at its start and end.
    std::vector<uint8_t> packed;
    CoderState start;
    CoderState end;
    ~InverseSlot() { release_buffers(buffers); }
};

// A set no one has, one holding a block first: the job's decoding then
// overlaps that block's walks. Waits while every set is busy.
WorkSet& take_work(WorkSets& w);
// The same without waiting: nullptr while every set is busy.
WorkSet* try_take_work(WorkSets& w);
void give_back(WorkSets& w, WorkSet& set);

// The helpers that join the walks of w's inverse, when it has any.
HelperThreads helpers_of(WorkSet& w);

// Begins the inverse of s's block in w's tables, its values counted in counts.
void begin_inverse(PendingInverse& p, const int32_t* counts, WorkSet& w, InverseSlot& s);

// A slot's job: inverts its block in a set of its own, then marks it ready.
void invert_slot(void* ctx);

// Ends the inverse of the block w holds; the block is then ready.
void end_held(WorkSets& sets, WorkSet& w);

// Waits until the block of a retired job is whole. A block still held by a
// set that no job has is inverted here, with idle workers helping.
void wait_ready(InverseSlot& s);
