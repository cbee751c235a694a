// Finding an archive's index: from the footer at its very end, through reads
// at given offsets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/index_format.h"

struct IndexSource {
    // Up to len bytes at offset; fewer only at the end, negative on an error.
    ptrdiff_t (*read_at)(void* ctx, void* buf, size_t len, uint64_t offset) = nullptr;
    void* ctx = nullptr;
    uint64_t size = 0;  // of the archive
};

enum class IndexLookup {
    none,     // no index signature (nor one a few bits from it) at the end: a plain archive
    valid,    // index holds it
    damaged,  // it ends like an index but fails a check: index.fault says which
};

// Fails only with read_failed; everything else is the lookup's result.
[[nodiscard]] Status index_load(const IndexSource& src, ArchiveIndex& index, IndexLookup& found);
