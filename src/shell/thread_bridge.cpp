#include "shell/thread_bridge.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <chrono>
#include <condition_variable>

namespace kestrova {

namespace {
const QEvent::Type run_jobs_event = static_cast<QEvent::Type>(QEvent::registerEventType());
}

// The caller sleeps on a condition variable (a futex), never spinning: with
// hundreds of callers waiting at once, spinning would take the CPU from the
// UI thread that serves them.
struct UiThreadBridge::Job {
    const std::function<void()>* work = nullptr;
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;

    void finish() {
        std::lock_guard lock(mutex);
        done = true;
        cv.notify_one();
    }
    void wait() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [this] { return done; });
    }
};

UiThreadBridge& UiThreadBridge::instance() {
    // Never destroyed: worker threads may still wait on it while the process ends.
    static auto* bridge = new UiThreadBridge;
    return *bridge;
}

UiThreadBridge::UiThreadBridge() {
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

bool UiThreadBridge::on_ui_thread() const {
    return QThread::currentThread() == thread();
}

void UiThreadBridge::run_queued(const std::function<void()>& work) {
    Job job;
    job.work = &work;
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(&job);
        post = !event_posted_;
        event_posted_ = true;
    }
    // One posted event serves every job queued until the UI thread gets to it.
    if (post)
        QCoreApplication::postEvent(this, new QEvent(run_jobs_event));
    job.wait();
}

bool UiThreadBridge::event(QEvent* event) {
    if (event->type() != run_jobs_event)
        return QObject::event(event);
    run_pending();
    return true;
}

void UiThreadBridge::run_pending() {
    {
        std::lock_guard lock(mutex_);
        event_posted_ = false;
    }
    // Jobs queued while these run are served in the same pass (their callers
    // post one more event, which then finds nothing), for at most a few
    // milliseconds so paint and input events are not held up. A job may open
    // a modal dialog and so handle events again; jobs queued meanwhile are
    // served by the event their caller posted.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
    for (;;) {
        std::vector<Job*> jobs;
        {
            std::lock_guard lock(mutex_);
            jobs.swap(pending_);
        }
        if (jobs.empty())
            return;
        for (Job* job : jobs) {
            (*job->work)();
            job->finish();
        }
        if (std::chrono::steady_clock::now() >= until) {
            post_if_pending();
            return;
        }
    }
}

void UiThreadBridge::post_if_pending() {
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        post = !pending_.empty() && !event_posted_;
        event_posted_ = event_posted_ || post;
    }
    if (post)
        QCoreApplication::postEvent(this, new QEvent(run_jobs_event));
}

} // namespace kestrova
