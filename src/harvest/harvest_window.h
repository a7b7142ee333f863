// The harvest window: the source list, the pattern, the start button and the
// progress bar of a harvest run. It only shows controls; open_harvest_window
// (harvest_actions.h) connects its button.
#pragma once

#include "shell/qt_window_port.h"

#include <QWidget>
#include <memory>

class QAbstractButton;

namespace Ui {
class HarvestWindow;
}

namespace kestrova {

class HarvestWindow : public QWidget {
public:
    /// A top-level window without owner.
    HarvestWindow();
    ~HarvestWindow() override;

    /// The window port over this window. It outlives the window: a run may
    /// keep it, and once the window is gone it does nothing.
    std::shared_ptr<QtWindowPort> port() const { return port_; }
    QAbstractButton* start_button() const;

    /// Shows the window centred on its screen.
    void show_centred();

private:
    void set_up_frame();
    void set_up_shortcuts();

    std::unique_ptr<Ui::HarvestWindow> ui_;
    std::shared_ptr<QtWindowPort> port_;
};

} // namespace kestrova
