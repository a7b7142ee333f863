// Connects the verification buttons of the main window to a Verifier.
#pragma once

#include "verify/verifier.h"

#include <memory>

namespace kestrova {

class MainWindow;

/// Connects 按钮_开始验证 and 按钮_暂停验证 to a new Verifier over the
/// window's port and returns it (it lives as long as its threads need it).
std::shared_ptr<Verifier> connect_verification(MainWindow& window, VerifierOptions options = {});

} // namespace kestrova
