#include "harvest/harvest_actions.h"

#include "harvest/harvest_window.h"
#include "shell/control_names.h"
#include "shell/main_window.h"

#include <QAbstractButton>
#include <QPointer>

namespace kestrova {

namespace {

// The one harvest window of the process while it is open (UI thread only).
QPointer<HarvestWindow>& open_window() {
    static QPointer<HarvestWindow> window;
    return window;
}

void bring_to_front(HarvestWindow& window) {
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

HarvestWindow* create_harvest_window(std::shared_ptr<WindowPort> main_window,
                                     const harvest::HarvestSettings& settings) {
    auto* window = new HarvestWindow();
    window->setAttribute(Qt::WA_DeleteOnClose);
    std::shared_ptr<WindowPort> own_port = window->port();
    QObject::connect(window->start_button(), &QAbstractButton::clicked, window,
                     [main_window, own_port, settings] {
                         harvest::start_harvest(main_window, own_port, settings);
                     });
    return window;
}

} // namespace

HarvestWindow& open_harvest_window(std::shared_ptr<WindowPort> main_window,
                                   const harvest::HarvestSettings& settings) {
    QPointer<HarvestWindow>& window = open_window();
    if (window) {
        bring_to_front(*window);
        return *window;
    }
    window = create_harvest_window(std::move(main_window), settings);
    window->show_centred();
    return *window;
}

HarvestWindow* current_harvest_window() {
    return open_window().data();
}

void connect_harvest_actions(MainWindow& window) {
    QAbstractButton* button = window.button(controls::harvest_button);
    if (!button)
        return;
    std::shared_ptr<WindowPort> port = window.port();
    QObject::connect(button, &QAbstractButton::clicked, &window,
                     [port] { open_harvest_window(port); });
}

} // namespace kestrova
