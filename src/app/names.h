// Stored member names: written as given, read back with bounds, and checked
// before they become a path on disk.
#pragma once

#include <string>

#include "coder/byte_stream.h"

// The unpacker's name buffer holds "_", the stored name and a NUL in 200
// bytes, so a stored name has at most 198 characters.
constexpr size_t max_name_length = 198;

void write_name(ByteOut& archive, const std::string& name);

enum class NameRead { ok, too_long, truncated };

// Reads a NUL-ended name. A name longer than max_name_length is read to its
// NUL all the same (so the archive position stays right) and reported.
NameRead read_name(ByteIn& archive, std::string& name);

// Why a stored name must not become a file, or nullptr when it is safe:
// "_" + name stays below the unpack directory unless a later component is "..".
const char* unsafe_name_reason(const std::string& name);
