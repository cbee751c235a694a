// Whether a stored member name may become a path on disk.
#pragma once

#include <string>

// Why a stored name must not become a file, or nullptr when it is safe:
// "_" + name stays below the unpack directory unless a later component is "..".
const char* unsafe_name_reason(const std::string& name);
