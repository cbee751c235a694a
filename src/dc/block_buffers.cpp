#include "dc/block_buffers.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace {

// The sort and the inverse transform jump all over these areas; on 2 MiB
// pages their accesses stop missing the TLB.
void* alloc_large(size_t bytes) {
    constexpr size_t huge = size_t{2} << 20;
    if (bytes < huge) return std::malloc(bytes);
    void* p = nullptr;
    if (posix_memalign(&p, huge, bytes) != 0) return nullptr;
#ifdef MADV_HUGEPAGE
    // Only whole huge pages: a few bytes past the last one stay on small pages
    // instead of costing another 2 MiB.
    madvise(p, bytes & ~(huge - 1), MADV_HUGEPAGE);
#endif
    return p;
}

// Has the kernel map [p, p + len) for writing, keeping whatever is there.
bool populate_for_writing(const void* p, size_t len) {
#ifdef MADV_POPULATE_WRITE
    const size_t page = 4096;
    const auto from = reinterpret_cast<uintptr_t>(p) & ~(page - 1);
    return madvise(reinterpret_cast<void*>(from), reinterpret_cast<uintptr_t>(p) + len - from,
                   MADV_POPULATE_WRITE) == 0;
#else
    (void)p;
    (void)len;
    return false;
#endif
}

}  // namespace

bool setup_parts(BlockBuffers& b, uint32_t block_size, unsigned parts) {
    release_buffers(b);
    if (block_size == 0 || block_size > max_block_size) return false;
    const size_t entries = static_cast<size_t>(block_size) + 1;
    if (parts & part_block) b.block_alloc = static_cast<uint8_t*>(alloc_large(guard_bytes + entries));
    if (parts & part_index) b.index = static_cast<int32_t*>(alloc_large(entries * sizeof(int32_t)));
    if (parts & part_distance) b.distance = static_cast<int32_t*>(alloc_large(entries * sizeof(int32_t)));
    if (((parts & part_block) && !b.block_alloc) || ((parts & part_index) && !b.index) ||
        ((parts & part_distance) && !b.distance)) {
        release_buffers(b);
        return false;
    }
    b.block_size = block_size;
    if (!(parts & part_block)) return true;
    b.block_start = b.block_alloc + guard_bytes;
    if (parts & part_unguarded) return true;
    // The whole guard is zeroed whatever the block size: the sort reads up to
    // a few hundred bytes in front of any block, however small.
    std::memset(b.block_alloc, 0, guard_bytes);
    return true;
}

void prefault_block(BlockBuffers& b) {
    if (populate_for_writing(b.block_start, b.block_size)) return;
    // Older kernels: the block's bytes are free to overwrite.
    std::memset(b.block_start, 0, b.block_size);
}

bool prefault_index(const BlockBuffers& b, size_t entries) {
    assert(entries <= static_cast<size_t>(b.block_size) + 1);
    return entries > 0 && populate_for_writing(b.index, entries * sizeof(int32_t));
}

void release_buffers(BlockBuffers& b) {
    std::free(b.index);
    std::free(b.distance);
    std::free(b.block_alloc);
    b = BlockBuffers{};
}

uint64_t parts_bytes(uint32_t block_size, unsigned parts) {
    const uint64_t entries = static_cast<uint64_t>(block_size) + 1;
    return ((parts & part_block) ? guard_bytes + entries : 0) + ((parts & part_index) ? entries * 4 : 0) +
           ((parts & part_distance) ? entries * 4 : 0);
}
