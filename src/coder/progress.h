// Where the deeper layers send their progress characters, so that only app/
// touches the console and tests can capture what would be shown.
#pragma once

struct ProgressSink {
    void (*put)(void* ctx, char c) = nullptr;  // null: progress is dropped
    void* ctx = nullptr;
};

inline void progress_put(const ProgressSink& p, char c) {
    if (p.put) p.put(p.ctx, c);
}
