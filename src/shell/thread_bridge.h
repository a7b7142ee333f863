// Runs work on the UI thread and waits for it.
//
// On the UI thread the work runs directly (a blocking call from the UI thread
// to itself would deadlock). From any other thread it is queued; the UI thread
// runs every queued piece whenever it handles its pending events, and the
// caller waits until its own piece has run. One piece runs at a time, so each
// is atomic with respect to every other.
#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestrova {

class UiThreadBridge : public QObject {
public:
    /// The one bridge of the process. The first call must come from the UI
    /// thread (the window code makes it); it lives until the process ends.
    static UiThreadBridge& instance();

    bool on_ui_thread() const;

    /// Runs `work` on the UI thread and returns its result.
    template <typename Fn> auto call(Fn&& work) -> std::invoke_result_t<Fn&> {
        using Result = std::invoke_result_t<Fn&>;
        if (on_ui_thread())
            return work();
        if constexpr (std::is_void_v<Result>) {
            run_queued([&] { work(); });
        } else {
            std::optional<Result> result;
            run_queued([&] { result.emplace(work()); });
            return std::move(*result);
        }
    }

protected:
    bool event(QEvent* event) override;

private:
    struct Job;
    UiThreadBridge();
    void run_queued(const std::function<void()>& work);
    void run_pending();
    void post_if_pending();

    std::mutex mutex_;
    std::vector<Job*> pending_;
    bool event_posted_ = false;
};

} // namespace kestrova
