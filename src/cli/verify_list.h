// Looking into an archive without unpacking it: t decodes every member to
// nowhere, l decodes only the numbers to report sizes.
#pragma once

#include <string>

#include "console.h"
#include "run_result.h"

RunResult test_archive(const std::string& archive, const Console& con);
RunResult list_archive(const std::string& archive, const Console& con);
