// Process entry: start-up in its fixed order, the message loop, and shutdown.
#pragma once

#include <functional>
#include <memory>

namespace kestrova {

class MainWindow;

struct ApplicationOptions {
    /// Makes the main window; throwing or returning nullptr means it could
    /// not be created. Tests replace it.
    std::function<std::unique_ptr<MainWindow>()> make_main_window;
    /// Runs on the UI thread right after the main window is shown (tests).
    std::function<void(MainWindow&)> after_show;
    /// Called by the exit clean-up after its work (tests count the runs).
    void (*after_exit_cleanup)() = nullptr;
};

/// What the platform needs before the application object exists: the web
/// view's shared GL contexts, and its sandbox off when running as root
/// (Chromium refuses to start sandboxed as root).
void prepare_platform();

/// Runs the program and ends the process: exit code 0 once the last window
/// has closed, 1 when the main window cannot be created. Worker threads are
/// not waited for.
[[noreturn]] void run_application(int argc, char** argv, const ApplicationOptions& options = {});

} // namespace kestrova
