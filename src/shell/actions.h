// Connects the main window's buttons to the actions of each subsystem.
#pragma once

namespace kestrova {

class MainWindow;

/// Connects every button of `window` whose action exists. The window's own
/// code never does this, so a test can build a bare window too.
void connect_actions(MainWindow& window);

} // namespace kestrova
