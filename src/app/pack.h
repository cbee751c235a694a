// Packing: the archive header, then per member file its presence byte, its
// name and its block stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/buffers.h"
#include "app/console.h"
#include "app/run_result.h"

constexpr size_t max_members = 255;  // the member count is one byte

struct PackOptions {
    std::string archive;
    std::vector<std::string> files;
    uint32_t block_size = default_block_size;
    int threads = 1;  // threads that sort blocks; the archive does not depend on it
};

RunResult pack_archive(const PackOptions& opt, const Console& con);
