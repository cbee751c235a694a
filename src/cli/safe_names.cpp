#include "safe_names.h"

const char* unsafe_name_reason(const std::string& name) {
    // The first component gets the "_" in front, so only later ones can climb.
    size_t start = name.find('/');
    while (start != std::string::npos) {
        const size_t end = name.find('/', start + 1);
        const std::string part = name.substr(start + 1, end == std::string::npos ? end : end - start - 1);
        if (part == "..") return "name leads out of the unpack directory";
        start = end;
    }
    return nullptr;
}
