#include "console.h"

#include <chrono>
#include <cstdlib>
#include <unistd.h>

const char* const banner_text = "Vorb v" VORB_VERSION_STRING "\tblock-sorting file archiver";
const char* const usage_text = "\nCall format:\nvorb [e|d] <arch> [<file1> ...]\nDefault block size = 4Mb";

void console_init() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
}

void print_banner(const Console& c) { say(c, banner_text); }

void say(const Console& c, const char* text) {
    if (!c.quiet) std::fputs(text, c.out);
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
    std::fprintf(c.out, "\n>%s: ", printable_name(name).c_str());
}

void say_time(const Console& c, uint64_t ms) {
    if (!c.quiet) std::fprintf(c.out, "\t%lums", static_cast<unsigned long>(ms));
}

void say_error(const Console& c, const std::string& text) { std::fputs(text.c_str(), c.out); }

namespace {
void show_progress(void* ctx, vorb_event ev) {
    FILE* out = static_cast<const Console*>(ctx)->out;
    switch (ev) {
    case VORB_EVENT_SORT_STARTED: std::fputc('D', out); break;
    case VORB_EVENT_SORT_ENDED: std::fputs("\bW", out); break;
    case VORB_EVENT_BLOCK_DECODED: std::fputc('H', out); break;
    }
}
}  // namespace

vorb_progress_fn console_progress(const Console& c) { return c.quiet ? nullptr : show_progress; }
void* progress_context(const Console& c) { return const_cast<Console*>(&c); }

uint64_t clock_ms() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void fatal_error(const Console& c, const char* message, int status) {
    std::fputs(message, c.out);
    std::fflush(c.out);
    // The pause is for a console window that would close at once; a pipe or
    // file on standard input belongs to the caller and is never read.
    if (::isatty(STDIN_FILENO)) (void)std::getchar();
    std::exit(status);
}
