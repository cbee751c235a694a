// What the deeper layers report while they work, as events: the library
// hands them to its caller, and only the program chooses how they look.
// Tests capture them through a sink of their own.
#pragma once

#include <cstdint>

enum class ProgressEvent : uint8_t {
    sort_started,   // a block's sort began
    sort_ended,     // that block's sort is done
    block_decoded,  // a block's symbols are decoded
};

struct ProgressSink {
    void (*put)(void* ctx, ProgressEvent e) = nullptr;  // null: progress is dropped
    void* ctx = nullptr;
};

inline void progress_put(const ProgressSink& p, ProgressEvent e) {
    if (p.put) p.put(p.ctx, e);
}
