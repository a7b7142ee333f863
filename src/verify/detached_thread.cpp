#include "verify/detached_thread.h"

#include <memory>
#include <pthread.h>

namespace kestrova {

namespace {
void* run_work(void* argument) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(argument));
    (*work)();
    return nullptr;
}
} // namespace

bool start_detached_thread(std::function<void()> work, std::size_t stack_size) {
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stack_size > 0)
        pthread_attr_setstacksize(&attributes, stack_size);
    pthread_t thread;
    int error = pthread_create(&thread, &attributes, run_work, owned.get());
    pthread_attr_destroy(&attributes);
    if (error != 0)
        return false;
    owned.release(); // the thread owns it now
    return true;
}

} // namespace kestrova
