// Looking into an archive without unpacking it: t decodes every member to
// nowhere, l decodes only the numbers to report sizes. opt.names: the members
// to look at; empty: every one. With an index, t checks every member's and
// the archive's checksums and l decodes nothing.
#pragma once

#include <string>

#include "console.h"
#include "run_result.h"
#include "unpack.h"

RunResult test_archive(const ReadOptions& opt, const Console& con);
RunResult list_archive(const ReadOptions& opt, const Console& con);
