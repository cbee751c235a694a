// Member names given after the archive: d, t and l then work on the members
// stored under those names only, as tar and unzip do.
#pragma once

#include <string>
#include <vector>

#include "run_result.h"

struct Selection {
    std::vector<std::string> names;  // empty: every member
    std::vector<bool> matched;
};

Selection make_selection(std::vector<std::string> names);

// Whether the member stored as name is selected; marks the names it matches.
bool selected(Selection& s, const std::string& name);

// An error naming the names that matched no member, or success.
RunResult unmatched_names(const Selection& s);
