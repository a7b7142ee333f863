// kestrova-screenshot OUT.png [DELAY_MS]: opens the main window as the
// program does and writes a picture of it, so anyone can look at it.
#include "shell/application.h"
#include "shell/main_window.h"
#include "skin/skin_host_qt.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestrova-screenshot OUT.png [DELAY_MS]\n");
        return 2;
    }
    kestrova::prepare_platform();
    QApplication app(argc, argv);
    kestrova::skin::MemoryModule skin_module;
    kestrova::skin::run_skin_step(skin_module);
    kestrova::MainWindow window;
    window.show_centred();
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int delay_ms = argc > 2 ? std::atoi(argv[2]) : 3000;
    int status = 1;
    QTimer::singleShot(delay_ms, &app, [&] {
        status = window.grab().save(out) ? 0 : 1;
        if (status != 0)
            std::fprintf(stderr, "kestrova-screenshot: cannot write %s\n", argv[1]);
        app.quit();
    });
    app.exec();
    std::fflush(nullptr);
    std::quick_exit(status);
}
