#include "shell/actions.h"

#include "harvest/harvest_actions.h"
#include "proxylist/list_editing.h"
#include "proxylist/list_files.h"
#include "shell/control_names.h"
#include "shell/main_window.h"
#include "shell/verification_actions.h"

#include <QAbstractButton>
#include <memory>

namespace kestrova {

namespace {

template <typename Action>
void on_click(MainWindow& window, std::string_view button, Action action) {
    if (QAbstractButton* control = window.button(button))
        QObject::connect(control, &QAbstractButton::clicked, &window, action);
}

// The actions hold the port (it outlives the window) and the dialogs' memory.
void connect_proxy_list(MainWindow& window) {
    std::shared_ptr<QtWindowPort> port = window.port();
    auto dialogs = std::make_shared<ListFileDialogs>();
    on_click(window, controls::add_button, [port] { add_to_list(*port); });
    on_click(window, controls::clear_button, [port] { clear_list(*port); });
    on_click(window, controls::dedup_button, [port] { remove_duplicates(*port); });
    on_click(window, controls::import_button, [port, dialogs] { import_proxies(*port, *dialogs); });
    on_click(window, controls::export_button, [port, dialogs] { export_proxies(*port, *dialogs); });
}

} // namespace

void connect_actions(MainWindow& window) {
    connect_proxy_list(window);
    connect_verification(window);
    connect_harvest_actions(window);
}

} // namespace kestrova
