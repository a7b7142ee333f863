// A copy of the program's start-up with a test scenario on top, run as a
// child process by startup_test.
//   workers  50 threads call the window port without pause; the window is
//            closed 300 ms after it appeared ("closing" on stdout then).
//   sleepers 50 threads sleep for a minute; the window is closed at once.
//   no-window the main window cannot be created.
#include "shell/application.h"
#include "shell/control_names.h"
#include "shell/main_window.h"

#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

using namespace kestrova;

namespace {
void start_port_callers(std::shared_ptr<QtWindowPort> port) {
    for (int i = 0; i < 50; ++i)
        std::thread([port, i] {
            for (int n = 0; n < 1'000'000; ++n) {
                std::size_t row = port->append_row();
                port->write_cell(row, column::address, std::to_string(i));
                port->append_to_box(controls::activity_log, "line\r\n");
                port->step_progress(controls::progress_bar, 1);
            }
        }).detach();
}

void start_sleepers() {
    for (int i = 0; i < 50; ++i)
        std::thread([] { std::this_thread::sleep_for(std::chrono::seconds(60)); }).detach();
}

void close_after(MainWindow& window, int ms) {
    QTimer::singleShot(ms, &window, [&window] {
        std::printf("closing\n");
        std::fflush(stdout);
        window.close();
    });
}
} // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    ApplicationOptions options;
    options.after_exit_cleanup = [] {
        std::printf("exit clean-up\n");
        std::fflush(stdout);
    };
    if (std::strcmp(mode, "no-window") == 0) {
        options.make_main_window = []() -> std::unique_ptr<MainWindow> {
            throw std::runtime_error("no display for the window");
        };
    } else if (std::strcmp(mode, "workers") == 0) {
        options.after_show = [](MainWindow& window) {
            start_port_callers(window.port());
            close_after(window, 300);
        };
    } else if (std::strcmp(mode, "sleepers") == 0) {
        options.after_show = [](MainWindow& window) {
            start_sleepers();
            close_after(window, 0);
        };
    } else {
        std::fprintf(stderr, "usage: exit_helper workers|sleepers|no-window\n");
        return 2;
    }
    run_application(argc, argv, options);
}
