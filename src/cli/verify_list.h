// Looking into an archive without unpacking it: t decodes every member to
// nowhere, l decodes only the numbers to report sizes.
#pragma once

#include <string>
#include <vector>

#include "console.h"
#include "run_result.h"

// names: the members to look at; empty: every one. With an index, t checks
// every member's and the archive's checksums and l decodes nothing.
RunResult test_archive(const std::string& archive, const std::vector<std::string>& names, int threads,
                       const Console& con);
RunResult list_archive(const std::string& archive, const std::vector<std::string>& names, const Console& con);
