#include "shell/application.h"

#include "shell/actions.h"
#include "shell/main_window.h"
#include "skin/memory_module.h"
#include "skin/skin_host_qt.h"
#include "verify/open_file_limit.h"

#include <QApplication>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <unistd.h>

namespace kestrova {

namespace {
// The global object of the skin step, created empty before the start routine.
skin::MemoryModule* skin_module = nullptr;
std::atomic<bool> exit_cleanup_done{false};
void (*exit_cleanup_observer)() = nullptr;

// Destroys skin_module without unloading the skin engine or telling it to
// detach. Runs once, however the process ends.
void exit_cleanup() {
    if (exit_cleanup_done.exchange(true))
        return;
    delete skin_module;
    skin_module = nullptr;
    if (exit_cleanup_observer)
        exit_cleanup_observer();
}

void register_exit_cleanup() {
    std::at_quick_exit(exit_cleanup);
    std::atexit(exit_cleanup);
}

// The start routine: the skin step, and nothing else. A failed skin step
// leaves Qt's own look and says nothing.
void start_routine() {
    skin::run_skin_step(*skin_module);
}

std::unique_ptr<MainWindow> create_main_window(const ApplicationOptions& options) {
    try {
        if (options.make_main_window)
            return options.make_main_window();
        return std::make_unique<MainWindow>();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrova: the main window could not be created: %s\n", error.what());
        return nullptr;
    }
}

// Ends the process without waiting for worker threads and without running
// destructors under their feet; the exit clean-up runs through quick_exit.
[[noreturn]] void end_process(int code) {
    std::fflush(nullptr);
    std::quick_exit(code);
}
} // namespace

void prepare_platform() {
    raise_open_file_limit();
    if (geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void run_application(int argc, char** argv, const ApplicationOptions& options) {
    prepare_platform();
    QApplication app(argc, argv);
    skin_module = new skin::MemoryModule();
    exit_cleanup_observer = options.after_exit_cleanup;
    register_exit_cleanup();
    start_routine();

    std::unique_ptr<MainWindow> created = create_main_window(options);
    if (!created) {
        std::fprintf(stderr, "kestrova: cannot start without its main window\n");
        end_process(1);
    }
    // Closing the window detaches its port, so what worker threads still send
    // is dropped while another window keeps the process alive. The window is
    // not destroyed before the process ends: tearing down the web view's
    // engine can take seconds, and nothing of it needs releasing.
    MainWindow* window = created.release();
    connect_actions(*window);
    window->show_centred();
    if (options.after_show)
        options.after_show(*window);

    // The loop ends when the last window of the system has closed.
    app.exec();
    end_process(0);
}

} // namespace kestrova
