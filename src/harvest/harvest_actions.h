// The actions of harvesting on the window side: opening the harvest window
// from the main window and starting runs from it.
#pragma once

#include "harvest/harvest_run.h"

#include <memory>

namespace kestrova {

class HarvestWindow;
class MainWindow;
class WindowPort;

/// Click handler of 按钮_截取代理: opens the harvest window, not modal and
/// without owner, and returns at once; when it is open already, brings it to
/// the front, restored first when minimised. Its 按钮1 starts a harvest run
/// that logs to and fills `main_window`. The window is deleted when closed;
/// runs still going on drop their writes to it.
HarvestWindow& open_harvest_window(std::shared_ptr<WindowPort> main_window,
                                   const harvest::HarvestSettings& settings = {});

/// The harvest window while it is open, else nullptr.
HarvestWindow* current_harvest_window();

/// Connects 按钮_截取代理 of `window` to open_harvest_window.
void connect_harvest_actions(MainWindow& window);

} // namespace kestrova
