#include "selection.h"

#include "console.h"

Selection make_selection(std::vector<std::string> names) {
    Selection s;
    s.matched.assign(names.size(), false);
    s.names = std::move(names);
    return s;
}

bool selected(Selection& s, const std::string& name) {
    bool any = s.names.empty();
    for (size_t i = 0; i < s.names.size(); i++)
        if (s.names[i] == name) any = s.matched[i] = true;
    return any;
}

RunResult unmatched_names(const Selection& s) {
    std::string missing;
    for (size_t i = 0; i < s.names.size(); i++)
        if (!s.matched[i]) missing += "\nNo member named " + printable_name(s.names[i]);
    return missing.empty() ? RunResult{} : run_failed(missing);
}
