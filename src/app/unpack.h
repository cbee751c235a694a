// Unpacking: every present member of an archive becomes "_" + its stored
// name, written only once it has decoded completely.
#pragma once

#include <string>

#include "app/console.h"
#include "app/run_result.h"

struct UnpackOptions {
    std::string archive;
    std::string directory;  // where the members go; empty: the current directory
};

RunResult unpack_archive(const UnpackOptions& opt, const Console& con);
