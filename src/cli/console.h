// Console output: the banner, member lines, progress characters and times go
// to standard output, unbuffered so progress shows while a block is worked on.
#pragma once

#include <cstdint>
#include <string>

#include <vorb.h>

struct Console {
    bool quiet = false;  // no banner, progress or times; errors still shown
};

extern const char* const banner_text;
extern const char* const usage_text;

void console_init();
void print_banner(const Console& c);

// Text that is shown only when not quiet.
void say(const Console& c, const char* text);
// "\n>NAME: " with control characters in the name shown as '?'.
void say_member(const Console& c, const std::string& name);
// "\tNms".
void say_time(const Console& c, uint64_t ms);
// Always shown, even when quiet.
void say_error(const char* text);

// The library's progress callback: 'D' when a block's sort starts, '\b' 'W'
// when it ends, 'H' per block decoded. Null when quiet (nothing shown).
vorb_progress_fn console_progress(const Console& c);

// Milliseconds on a monotonic clock.
uint64_t clock_ms();

// Prints message, reads one character from standard input, ends the process.
[[noreturn]] void fatal_error(const char* message, int status);

// Name made safe to print: control characters become '?'.
std::string printable_name(const std::string& name);
