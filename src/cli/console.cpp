#include "console.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

const char* const banner_text = "Vorb v" VORB_VERSION_STRING "\tblock-sorting file archiver";
const char* const usage_text = "\nCall format:\nvorb [e|d] <arch> [<file1> ...]\nDefault block size = 4Mb";

void console_init() { std::setvbuf(stdout, nullptr, _IONBF, 0); }

void print_banner(const Console& c) { say(c, banner_text); }

void say(const Console& c, const char* text) {
    if (!c.quiet) std::fputs(text, stdout);
}

std::string printable_name(const std::string& name) {
    std::string s = name;
    for (char& ch : s) {
        const unsigned char u = static_cast<unsigned char>(ch);
        if (u < 0x20 || u == 0x7F) ch = '?';
    }
    return s;
}

void say_member(const Console& c, const std::string& name) {
    if (c.quiet) return;
    std::printf("\n>%s: ", printable_name(name).c_str());
}

void say_time(const Console& c, uint64_t ms) {
    if (!c.quiet) std::printf("\t%lums", static_cast<unsigned long>(ms));
}

void say_error(const char* text) { std::fputs(text, stdout); }

namespace {
void show_progress(void*, vorb_event ev) {
    switch (ev) {
    case VORB_EVENT_SORT_STARTED: std::putchar('D'); break;
    case VORB_EVENT_SORT_ENDED: std::fputs("\bW", stdout); break;
    case VORB_EVENT_BLOCK_DECODED: std::putchar('H'); break;
    }
}
}  // namespace

vorb_progress_fn console_progress(const Console& c) { return c.quiet ? nullptr : show_progress; }

uint64_t clock_ms() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void fatal_error(const char* message, int status) {
    std::fputs(message, stdout);
    std::fflush(stdout);
    (void)std::getchar();
    std::exit(status);
}
