// Stored member names: written as given and read back with bounds.
#pragma once

#include <string>

#include "coder/byte_stream.h"
#include "common/status.h"

// The unpacker's name buffer holds "_", the stored name and a NUL in 200
// bytes, so a stored name has at most 198 characters.
constexpr size_t max_name_length = 198;

void write_name(ByteOut& archive, const std::string& name);

// Reads a NUL-ended name: ok, truncated, or name_too_long, when the name was
// read to its NUL all the same (so the archive position stays right) and only
// its first max_name_length characters kept.
Status read_name(ByteIn& archive, std::string& name);
