#include "cli/interrupts.h"

#include <csignal>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace kestrova::cli {

namespace {

struct Watch {
    std::mutex mutex;
    std::function<void(int)> handler;
    int exit_at = 1;
    int count = 0;
};

// Never destroyed: the watcher thread outlives every static destructor.
Watch& watch() {
    static Watch* instance = new Watch;
    return *instance;
}

void take_interrupts(sigset_t signals) {
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            continue;
        std::function<void(int)> handler;
        int count = 0;
        {
            std::lock_guard lock(watch().mutex);
            count = ++watch().count;
            if (watch().handler && count < watch().exit_at)
                handler = watch().handler;
        }
        if (!handler)
            std::_Exit(interrupted_exit_code);
        handler(count);
    }
}

} // namespace

void watch_interrupts() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(take_interrupts, signals).detach();
}

void set_interrupt_handler(std::function<void(int count)> handler, int exit_at) {
    std::lock_guard lock(watch().mutex);
    watch().handler = std::move(handler);
    watch().exit_at = exit_at;
}

} // namespace kestrova::cli
