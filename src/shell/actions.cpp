#include "shell/actions.h"

#include "harvest/harvest_actions.h"
#include "shell/control_names.h"
#include "shell/main_window.h"
#include "shell/verification_actions.h"


namespace kestrova {

void connect_actions(MainWindow& window) {
    connect_verification(window);
    connect_harvest_actions(window);
}

} // namespace kestrova
