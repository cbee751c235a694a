// Files with a recovery record, in memory, through the library's calls.
#pragma once

#include <cstdint>
#include <vector>

#include <vorb.h>

using Bytes = std::vector<uint8_t>;

// data followed by its record at percent.
Bytes with_record(const Bytes& data, unsigned percent);
// The record's layout for data_size bytes.
vorb_recovery_layout layout_for(uint64_t data_size, unsigned percent);
vorb_recovery_report check_file(const Bytes& file);
// The repaired file; st gets the call's status (file untouched: empty).
Bytes repair_file(const Bytes& file, vorb_status& st);
