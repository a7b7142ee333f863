#include "shell/verification_actions.h"

#include "shell/control_names.h"
#include "shell/main_window.h"

#include <QAbstractButton>

namespace kestrova {

std::shared_ptr<Verifier> connect_verification(MainWindow& window, VerifierOptions options) {
    auto verifier = Verifier::create(window.port(), std::move(options));
    QObject::connect(window.button(controls::start_button), &QAbstractButton::clicked, &window,
                     [verifier] { verifier->click_start_button(); });
    QObject::connect(window.button(controls::pause_button), &QAbstractButton::clicked, &window,
                     [verifier] { verifier->click_pause_button(); });
    return verifier;
}

} // namespace kestrova
