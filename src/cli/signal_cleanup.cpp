#include "signal_cleanup.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One temporary per output in progress: the archive, or one member (several
// when members are written side by side); a few spare.
constexpr int max_temporaries = 8;

enum SlotState : int { slot_free, slot_filling, slot_ready };

struct TempSlot {
    std::atomic<int> state{slot_free};
    int dir_fd = -1;
    char name[NAME_MAX + 1] = {};
};

// The handler can reach nothing but file-scope state; it only reads slots
// marked ready, and they are filled without allocation beforehand.
TempSlot temporaries[max_temporaries];

const int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

void remove_temporaries(int sig) {
    const int saved_errno = errno;
    for (TempSlot& s : temporaries) {
        int expected = slot_ready;
        // Claiming the slot keeps a second signal on another thread from
        // removing the same name twice.
        if (s.state.compare_exchange_strong(expected, slot_filling)) ::unlinkat(s.dir_fd, s.name, 0);
    }
    errno = saved_errno;
    // SA_RESETHAND restored the default action: the raised signal ends the
    // process once this handler returns and unblocks it.
    ::raise(sig);
}

// Keeps the three signals off this thread while a slot changes.
struct SignalsHeld {
    sigset_t old;
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : cleanup_signals) sigaddset(&set, sig);
        pthread_sigmask(SIG_BLOCK, &set, &old);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
};

}  // namespace

void signal_cleanup_install() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = remove_temporaries;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int sig : cleanup_signals) sigaddset(&sa.sa_mask, sig);
    for (int sig : cleanup_signals) {
        struct sigaction old;
        // A signal ignored by whoever started us (nohup) stays ignored.
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &sa, nullptr);
    }
}

int signal_cleanup_remember(int dir_fd, const char* name) {
    const size_t len = std::strlen(name);
    if (len > NAME_MAX) return -1;
    SignalsHeld held;
    for (int i = 0; i < max_temporaries; i++) {
        TempSlot& s = temporaries[i];
        int expected = slot_free;
        if (!s.state.compare_exchange_strong(expected, slot_filling)) continue;
        s.dir_fd = dir_fd;
        std::memcpy(s.name, name, len + 1);
        s.state.store(slot_ready);
        return i;
    }
    return -1;
}

void signal_cleanup_forget(int slot) {
    if (slot < 0 || slot >= max_temporaries) return;
    SignalsHeld held;
    // Only a ready slot is freed: one claimed by a handler is on its way out.
    int expected = slot_ready;
    temporaries[slot].state.compare_exchange_strong(expected, slot_free);
}
