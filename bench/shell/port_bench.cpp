// Window port throughput on the real main window (offscreen):
//  - operations per second from 30 and from 1,000 worker threads calling at
//    once while the UI thread is otherwise idle (goal >= 100,000/s);
//  - appending 1,000,000 rows with two cell writes each from the UI thread
//    (goal <= 1 s).
#include "../support/machine.h"
#include "shell/application.h"
#include "shell/control_names.h"
#include "shell/main_window.h"

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace kestrova;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Every worker calls the port in a loop (a mix of reads and writes) until the
// time is up; the UI thread runs its event loop meanwhile.
void measure_worker_calls(QApplication& app, WindowPort& port, int threads) {
    constexpr double duration = 3.0;
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::atomic<int> running{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i)
        workers.emplace_back([&] {
            ++running;
            long mine = 0;
            while (!stop.load(std::memory_order_relaxed)) {
                port.row_count();
                port.box_text(controls::threads_box);
                port.step_progress(controls::progress_bar, 1);
                mine += 3;
            }
            calls += mine;
            --running;
        });
    auto start = Clock::now();
    QTimer::singleShot(static_cast<int>(duration * 1000), &app, [&] {
        stop = true;
        app.quit();
    });
    app.exec();
    double elapsed = seconds_since(start);
    // Let the last waiting calls be served, then collect the workers.
    while (running.load() > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    for (std::thread& worker : workers)
        worker.join();
    std::printf("%5d worker threads: %10.0f port calls/s (%ld calls in %.2f s)\n", threads,
                calls.load() / elapsed, calls.load(), elapsed);
}

void measure_row_appends(WindowPort& port) {
    constexpr int rows = 1'000'000;
    auto start = Clock::now();
    for (int i = 0; i < rows; ++i) {
        std::size_t row = port.append_row();
        port.write_cell(row, column::number, std::to_string(i + 1));
        port.write_cell(row, column::address, "192.168.100.200:8080");
    }
    double appended = seconds_since(start);
    QCoreApplication::processEvents();
    double shown = seconds_since(start);
    std::printf("1,000,000 rows with two cell writes each: %.3f s (%.3f s until the list "
                "view shows them); VmRSS %ld MB\n",
                appended, shown, bench::process_status_value("VmRSS") / 1024);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    prepare_platform();
    QApplication app(argc, argv);
    bench::print_machine("window port benchmark (Qt main window, offscreen)");
    MainWindow window;
    window.show_centred();
    QCoreApplication::processEvents();
    WindowPort& port = *window.port();
    port.set_progress_maximum(controls::progress_bar, 1'000'000'000);
    measure_worker_calls(app, port, 30);
    measure_worker_calls(app, port, 1000);
    measure_row_appends(port);
    std::fflush(nullptr);
    std::quick_exit(0);
}
