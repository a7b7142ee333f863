// The main window: the proxy list, the input box, every button, the two
// verification settings, the progress bar, the activity log and the web view.
// It only shows controls; the actions are connected by their subsystems.
#pragma once

#include "shell/proxy_table_model.h"
#include "shell/qt_window_port.h"

#include <QUrl>
#include <QWidget>
#include <memory>
#include <string_view>

class QAbstractButton;

namespace Ui {
class MainWindow;
}

namespace kestrova {

/// The page the embedded web view opens: the about page carried inside the
/// program, so it works offline.
QUrl about_page_url();

struct MainWindowOptions {
    QUrl web_page = about_page_url();
};

class MainWindow : public QWidget {
public:
    explicit MainWindow(const MainWindowOptions& options = {});
    ~MainWindow() override;

    /// The window port over this window. It outlives the window: worker
    /// threads may keep it, and once the window is gone it does nothing.
    std::shared_ptr<QtWindowPort> port() const { return port_; }
    ProxyTableModel& rows() { return *rows_; }
    /// A button by its object name (nullptr when there is none).
    QAbstractButton* button(std::string_view name) const;

    /// Shows the window centred on its screen.
    void show_centred();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void set_up_frame();
    void set_up_proxy_list();
    void set_up_web_view(const QUrl& page);
    void set_up_shortcuts();

    std::unique_ptr<Ui::MainWindow> ui_;
    ProxyTableModel* rows_;
    std::shared_ptr<QtWindowPort> port_;
};

/// Moves a top-level window to the centre of its screen.
void centre_on_screen(QWidget& window);

/// Keeps the selection of a list or edit box hidden while it has no focus.
void hide_selection_without_focus(QWidget& widget);

/// The program's icon, drawn at run time.
QIcon application_icon();

} // namespace kestrova
