// --salvage d: every member of a damaged archive unpacked as far as the
// damage allows, with each lost range listed as member, offset and length.
// Files are placed and replaced as d places them; a damaged member never
// replaces a file that holds more bytes than were saved of it.
#pragma once

#include "console.h"
#include "run_result.h"
#include "unpack.h"

RunResult salvage_archive(const UnpackOptions& opt, const Console& con);
