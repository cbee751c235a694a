#include "dc/block_buffers.h"

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

}  // namespace

bool setup_buffers(BlockBuffers& b, uint32_t block_size, bool with_distance) {
    release_buffers(b);
    if (block_size == 0 || block_size > max_block_size) return false;
    const size_t entries = static_cast<size_t>(block_size) + 1;
    b.block_alloc = static_cast<uint8_t*>(alloc_large(guard_bytes + entries));
    b.index = static_cast<int32_t*>(alloc_large(entries * sizeof(int32_t)));
    if (with_distance) b.distance = static_cast<int32_t*>(alloc_large(entries * sizeof(int32_t)));
    if (!b.block_alloc || !b.index || (with_distance && !b.distance)) {
        release_buffers(b);
        return false;
    }
    b.block_size = block_size;
    b.block_start = b.block_alloc + guard_bytes;
    // The whole guard is zeroed whatever the block size: the sort reads up to
    // a few hundred bytes in front of any block, however small.
    std::memset(b.block_alloc, 0, guard_bytes);
    return true;
}

void release_buffers(BlockBuffers& b) {
    std::free(b.index);
    std::free(b.distance);
    std::free(b.block_alloc);
    b = BlockBuffers{};
}

uint64_t buffer_bytes(uint32_t block_size, bool with_distance) {
    const uint64_t entries = static_cast<uint64_t>(block_size) + 1;
    return guard_bytes + entries + entries * 4 * (with_distance ? 2 : 1);
}
