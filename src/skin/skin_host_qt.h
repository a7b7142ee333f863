// The skin step on the real application: the style sheet that the skin
// engine hands to the host library is applied to the QApplication.
#pragma once

#include "skin/memory_module.h"
#include "skin/skin_step.h"

#include <cstdint>
#include <span>

namespace kestrova::skin {

/// The start routine's skin step: serves the host library's style sheet
/// routine for this application, loads `engine_image` into `skin_module` and
/// attaches the embedded skin. Silent; on any failure Qt's own look stays.
/// Runs on the UI thread before the main window exists.
void run_skin_step(MemoryModule& skin_module,
                   std::span<const std::byte> engine_image = skin_engine_image());

/// Told of every style sheet the application took from the engine: its
/// guest address and length. For tests; nullptr for none.
using StyleSheetObserver = void (*)(Address sheet, std::uint32_t length);
void set_style_sheet_observer(StyleSheetObserver observer);

} // namespace kestrova::skin
