#include "shell/main_window.h"

#include "shell/qt_text.h"
#include "shell/web_view.h"
#include "ui_main_window.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QHeaderView>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QTableView>

// The resources live in a static library: register them before first use.
static void init_resources() {
    Q_INIT_RESOURCE(kestrova);
}

namespace kestrova {

QUrl about_page_url() {
    return QUrl(QStringLiteral("qrc:/kestrova/about.html"));
}

MainWindow::MainWindow(const MainWindowOptions& options)
    : ui_(std::make_unique<Ui::MainWindow>()), rows_(new ProxyTableModel(this)) {
    init_resources();
    ui_->setupUi(this);
    set_up_frame();
    set_up_proxy_list();
    set_up_web_view(options.web_page);
    set_up_shortcuts();
    port_ = std::make_shared<QtWindowPort>(this, rows_);
}

MainWindow::~MainWindow() = default;

QAbstractButton* MainWindow::button(std::string_view name) const {
    return findChild<QAbstractButton*>(qs(name));
}

// A closed main window is never shown again: what worker threads still send
// through its port is dropped. The window itself stays until the process
// ends (destroying the web view's engine can take seconds).
void MainWindow::closeEvent(QCloseEvent* event) {
    port_->detach();
    QWidget::closeEvent(event);
}

void MainWindow::show_centred() {
    centre_on_screen(*this);
    show();
}

// A fixed-size window with a minimize button and no maximize button. The
// client area is that of a 641 x 700 window with 3-pixel borders and a
// 23-pixel title bar.
void MainWindow::set_up_frame() {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setWindowIcon(application_icon());
    hide_selection_without_focus(*ui_->编辑框_代理IP);
    hide_selection_without_focus(*ui_->编辑框_输出);
    hide_selection_without_focus(*ui_->编辑框_超时时间);
    hide_selection_without_focus(*ui_->编辑框_验证线程数量);
}

void MainWindow::set_up_proxy_list() {
    QTableView& list = *ui_->超级列表框1;
    list.setModel(rows_);
    list.verticalHeader()->hide();
    list.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list.verticalHeader()->setDefaultSectionSize(list.fontMetrics().height() + 4);
    QHeaderView& header = *list.horizontalHeader();
    header.setSectionsClickable(true);
    header.setHighlightSections(false);
    header.setStretchLastSection(false);
    header.setSortIndicatorShown(false);
    for (int column = 0; column < ProxyRows::column_count; ++column)
        list.setColumnWidth(column, proxy_column_widths[column]);
    hide_selection_without_focus(list);
}

void MainWindow::set_up_web_view(const QUrl& page) {
    QWidget* placeholder = ui_->超文本浏览框1;
    QWidget* view = create_web_view(this, page);
    view->setObjectName(placeholder->objectName());
    view->setGeometry(placeholder->geometry());
    view->setFocusPolicy(Qt::StrongFocus);
    QWidget::setTabOrder(ui_->按钮_暂停验证, view);
    delete placeholder;
    ui_->超文本浏览框1 = view;
}

// Esc closes the window exactly like its close box.
void MainWindow::set_up_shortcuts() {
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void centre_on_screen(QWidget& window) {
    QScreen* screen = window.screen();
    if (!screen)
        return;
    QRect available = screen->availableGeometry();
    QSize size = window.frameGeometry().size();
    window.move(available.center() - QPoint(size.width() / 2, size.height() / 2));
}

void hide_selection_without_focus(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Inactive, QPalette::Base));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Inactive, QPalette::Text));
    widget.setPalette(palette);
}

QIcon application_icon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(32, 96, 160));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    painter.setPen(QPen(QColor(0, 255, 0), 6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(20, 14), QPointF(20, 50));
    painter.drawLine(QPointF(20, 33), QPointF(44, 14));
    painter.drawLine(QPointF(26, 29), QPointF(46, 50));
    painter.end();
    return QIcon(pixmap);
}

} // namespace kestrova
