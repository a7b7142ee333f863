#include "harvest/harvest_window.h"

#include "shell/main_window.h"
#include "ui_harvest_window.h"

#include <QPushButton>
#include <QShortcut>

namespace kestrova {

HarvestWindow::HarvestWindow() : ui_(std::make_unique<Ui::HarvestWindow>()) {
    ui_->setupUi(this);
    set_up_frame();
    set_up_shortcuts();
    port_ = std::make_shared<QtWindowPort>(this, nullptr);
}

HarvestWindow::~HarvestWindow() = default;

QAbstractButton* HarvestWindow::start_button() const {
    return ui_->按钮1;
}

void HarvestWindow::show_centred() {
    centre_on_screen(*this);
    show();
}

// A fixed-size window with a minimize button and no maximize button; the
// client area is that of a 457 x 288 window with the main window's frame.
void HarvestWindow::set_up_frame() {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setWindowIcon(application_icon());
    hide_selection_without_focus(*ui_->编辑框1);
    hide_selection_without_focus(*ui_->编辑框2);
}

// Esc closes the window exactly like its close box.
void HarvestWindow::set_up_shortcuts() {
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

} // namespace kestrova
