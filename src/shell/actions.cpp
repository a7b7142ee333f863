#include "shell/actions.h"

#include "shell/main_window.h"

namespace kestrova {

void connect_actions(MainWindow& window) {
    (void)window;
}

} // namespace kestrova
