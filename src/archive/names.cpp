#include "archive/names.h"

void write_name(ByteOut& archive, const std::string& name) {
    for (const char ch : name) put_byte(archive, static_cast<uint8_t>(ch));
    put_byte(archive, 0);
}

Status read_name(ByteIn& archive, std::string& name) {
    name.clear();
    bool too_long = false;
    for (;;) {
        const int c = get_byte(archive);
        VORB_CHECK(!archive.read_error, Status::read_failed);
        VORB_CHECK(c >= 0, Status::truncated);
        if (c == 0) break;
        if (name.size() < max_name_length)
            name.push_back(static_cast<char>(c));
        else
            too_long = true;
    }
    return too_long ? Status::name_too_long : Status::ok;
}
