// The program's start-up with the harvest window on top, run as a child
// process by harvest_lifetime_test. Lines on stdout mark what happened.
//   main-first     the main window closes first; the harvest window later
//   harvest-first  the harvest window closes first; the main window later
//   run-main-gone  a harvest run goes on after the main window has closed;
//                  the harvest window closes when the run has finished
#include "harvest/harvest_actions.h"
#include "harvest/harvest_control_names.h"
#include "harvest/harvest_window.h"
#include "page_server.h"
#include "shell/application.h"
#include "shell/main_window.h"

#include <QAbstractButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace kestrova;
namespace names = controls::harvest;

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void later(int ms, QObject* context, std::function<void()> work) {
    QTimer::singleShot(ms, context, std::move(work));
}

void main_first(MainWindow& main) {
    QPointer<HarvestWindow> harvest = &open_harvest_window(main.port());
    later(100, harvest, [&main] {
        say("main closed");
        main.close();
    });
    later(600, harvest, [harvest] {
        say("alive");
        say("closing");
        harvest->close();
    });
}

void harvest_first(MainWindow& main) {
    QPointer<HarvestWindow> harvest = &open_harvest_window(main.port());
    later(100, &main, [harvest] {
        say("harvest closed");
        harvest->close();
    });
    later(600, &main, [&main] {
        say("alive");
        say("closing");
        main.close();
    });
}

// Three slow pages; the main window closes while they load.
void run_main_gone(MainWindow& main) {
    using test_support::Reply;
    Reply slow = Reply::text("1.2.3.4:80");
    slow.delay = std::chrono::milliseconds(200);
    static test_support::LoopbackServer server(harvest_test::pages({{"/", slow}}));
    QPointer<HarvestWindow> harvest = &open_harvest_window(main.port());
    const std::string url = server.url("/");
    harvest->port()->set_box_text(names::source_list, url + "\r\n" + url + "\r\n" + url);
    harvest->start_button()->click();
    main.close();
    say("main closed");
    auto* poll = new QTimer(harvest);
    QObject::connect(poll, &QTimer::timeout, harvest, [harvest] {
        if (harvest->port()->progress_position(names::progress_bar) < 3)
            return;
        say("run finished");
        say("closing");
        harvest->close();
    });
    poll->start(20);
}

} // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    ApplicationOptions options;
    options.after_exit_cleanup = [] { say("exit clean-up"); };
    if (std::strcmp(mode, "main-first") == 0)
        options.after_show = main_first;
    else if (std::strcmp(mode, "harvest-first") == 0)
        options.after_show = harvest_first;
    else if (std::strcmp(mode, "run-main-gone") == 0)
        options.after_show = run_main_gone;
    else {
        std::fprintf(stderr, "usage: harvest_exit_helper main-first|harvest-first|run-main-gone\n");
        return 2;
    }
    run_application(argc, argv, options);
}
