#include "app/names.h"

void write_name(ByteOut& archive, const std::string& name) {
    for (const char ch : name) put_byte(archive, static_cast<uint8_t>(ch));
    put_byte(archive, 0);
}

NameRead read_name(ByteIn& archive, std::string& name) {
    name.clear();
    bool too_long = false;
    for (;;) {
        const int c = get_byte(archive);
        if (c < 0) return NameRead::truncated;
        if (c == 0) break;
        if (name.size() < max_name_length)
            name.push_back(static_cast<char>(c));
        else
            too_long = true;
    }
    return too_long ? NameRead::too_long : NameRead::ok;
}

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
