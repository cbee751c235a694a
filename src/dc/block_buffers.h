// The three large working areas of a block: the block buffer (with a zeroed
// guard in front so the sort can read context bytes before the block start as
// 0, and a spare byte after it for the sort's sentinel), the index array and
// the distance array. Allocated once per run and reused by every block.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t default_block_size = 4194304;
// Zero bytes in front of every block, so that context reads before the block
// start need no bounds check; the sort reads at most a few hundred there.
constexpr uint32_t guard_bytes = 4004;
// Largest block the format's numbers can describe: a block length must stay
// below 2^27.
constexpr uint32_t max_block_size = (1u << 27) - 1;

struct BlockBuffers {
    uint32_t block_size = 0;
    uint8_t* block_alloc = nullptr;  // guard_bytes + block_size + 1 bytes
    uint8_t* block_start = nullptr;  // block_alloc + guard_bytes
    int32_t* index = nullptr;        // block_size + 1 entries
    int32_t* distance = nullptr;     // block_size + 1 entries: distances, or the backward links of a decode
};

// Which of the three areas to allocate: a block waiting in line needs its
// bytes only, the links of an inverse transform the two arrays only. A
// block that is never sorted needs no guard: part_unguarded leaves its
// memory untouched until the block is written.
enum BufferParts : unsigned { part_block = 1, part_index = 2, part_distance = 4, part_unguarded = 8 };

// Allocates the parts for block_size (1..max_block_size) and zeroes the guard
// in front of the block start (unless part_unguarded). Returns false, with nothing allocated, when
// memory is short.
[[nodiscard]] bool setup_parts(BlockBuffers& b, uint32_t block_size, unsigned parts);

// The block and the index array, and the distance array when with_distance
// is set (the sorting slots of a pack have no use for it).
[[nodiscard]] inline bool setup_buffers(BlockBuffers& b, uint32_t block_size, bool with_distance) {
    return setup_parts(b, block_size, part_block | part_index | (with_distance ? part_distance : 0u));
}

// Has the block area's pages made ready for writing now, so that the thread
// that fills the block first does not stop to have them cleared.
void prefault_block(BlockBuffers& b);

// The same for the index area's first entries, while another thread may be
// writing them already: only where the kernel can do it without touching
// their bytes. False, with nothing done, where it cannot.
bool prefault_index(const BlockBuffers& b, size_t entries);

// Frees whatever setup_buffers allocated; safe on buffers never set up.
void release_buffers(BlockBuffers& b);

// Address of the byte just in front of position i of a block starting at start
// (i may be 0 or negative: the guard area).
inline const uint8_t* byte_before(const uint8_t* start, int32_t i) { return start + i - 1; }

// How far p lies in front of the block start (positive in front).
inline intptr_t distance_behind_start(const uint8_t* start, const uint8_t* p) { return start - p; }

// Bytes the parts take at one block size.
uint64_t parts_bytes(uint32_t block_size, unsigned parts);
inline uint64_t buffer_bytes(uint32_t block_size, bool with_distance) {
    return parts_bytes(block_size, part_block | part_index | (with_distance ? part_distance : 0u));
}
