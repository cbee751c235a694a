// Looking into an archive without unpacking it: t decodes every member to
// nowhere, l decodes only the numbers to report sizes.
#pragma once

#include <string>

#include "console.h"
#include "run_result.h"
#include "unpack.h"

RunResult test_archive(const ReadOptions& opt, const Console& con);
RunResult list_archive(const ReadOptions& opt, const Console& con);
