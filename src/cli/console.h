// Console output: the banner, member lines, progress characters and times go
// to standard output, unbuffered so progress shows while a block is worked
// on; to standard error instead when standard output carries an archive or
// a member's bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include <vorb.h>

struct Console {
    bool quiet = false;    // no banner, progress or times; errors still shown
    FILE* out = stdout;    // where the text goes
};

extern const char* const banner_text;
extern const char* const usage_text;

// Makes both streams unbuffered.
void console_init();
void print_banner(const Console& c);

// Text that is shown only when not quiet.
void say(const Console& c, const char* text);
// "\n>NAME: " with control characters in the name shown as '?'.
void say_member(const Console& c, const std::string& name);
// "\tNms".
void say_time(const Console& c, uint64_t ms);
// Always shown, even when quiet.
void say_error(const Console& c, const std::string& text);

// The library's progress callback, with the Console as its context: 'D' when
// a block's sort starts, '\b' 'W' when it ends, 'H' per block decoded. Null
// when quiet (nothing shown).
vorb_progress_fn console_progress(const Console& c);
void* progress_context(const Console& c);

// Milliseconds on a monotonic clock.
uint64_t clock_ms();

// Prints message, waits for one character when standard input is a
// terminal, ends the process.
[[noreturn]] void fatal_error(const Console& c, const char* message, int status);

// Name made safe to print: control characters become '?'.
std::string printable_name(const std::string& name);
