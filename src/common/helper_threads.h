// Other threads that can take part in one piece of work: invite asks them to
// run work(arg); dismiss returns when none of them runs it or can still start
// it. With no threads to ask, callers pass no helpers at all.
#pragma once

struct HelperThreads {
    void (*invite)(void* ctx, void (*work)(void*), void* arg);
    void (*dismiss)(void* ctx);
    void* ctx;
};
