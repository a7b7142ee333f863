// The real main window on the offscreen platform.
#include "shell/application.h"
#include "shell/control_names.h"
#include "shell/main_window.h"
#include "shell/qt_text.h"
#include "shell/web_view.h"
#include "text/codepage.h"

#include <QAbstractButton>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace kestrova;

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    template <typename T> T* find(MainWindow& window, const char* name) {
        auto* widget = window.findChild<T*>(qs(name));
        if (!widget)
            qWarning("missing control %s", name);
        return widget;
    }

private Q_SLOTS:
    void controlsSitAtTheirPlaces_data();
    void controlsSitAtTheirPlaces();
    void startsWithItsInitialState();
    void proxyListHasItsColumnsAndSettings();
    void windowIsFixedAndTitled();
    void activityLogIsGreenOnBlackWithoutScrollBars();
    void escapeClosesTheWindow();
    void enterBreaksLinesOnlyInMultiLineBoxes();
    void appendLandsAtTheEndWhileTextIsSelected();
    void webViewShowsTheAboutPage();
    void closedWindowDropsWhatWorkersSend();
    void chineseFontIsAvailable();
};

void MainWindowTest::controlsSitAtTheirPlaces_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("place");
    const struct {
        const char* name;
        const char* kind;
        const char* parent;
        QRect place;
    } controls[] = {
        {"分组框1", "QGroupBox", "MainWindow", {8, 8, 352, 373}},
        {"超级列表框1", "QTableView", "分组框1", {3, 18, 344, 352}},
        {"分组框13", "QGroupBox", "MainWindow", {361, 14, 266, 367}},
        {"编辑框_代理IP", "QPlainTextEdit", "分组框13", {7, 11, 250, 151}},
        {"按钮_截取代理", "QPushButton", "分组框13", {6, 170, 118, 36}},
        {"按钮_添加到列表", "QPushButton", "分组框13", {139, 170, 118, 36}},
        {"按钮_导入代理", "QPushButton", "分组框13", {6, 214, 68, 32}},
        {"按钮_导出代理", "QPushButton", "分组框13", {6, 252, 68, 32}},
        {"按钮_删除重复", "QPushButton", "分组框13", {6, 289, 68, 32}},
        {"按钮_清空代理", "QPushButton", "分组框13", {6, 327, 68, 32}},
        {"分组框14", "QGroupBox", "分组框13", {85, 236, 82, 60}},
        {"编辑框_超时时间", "QLineEdit", "分组框14", {5, 23, 71, 28}},
        {"分组框15", "QGroupBox", "分组框13", {174, 236, 82, 60}},
        {"编辑框_验证线程数量", "QLineEdit", "分组框15", {5, 24, 71, 28}},
        {"按钮_开始验证", "QPushButton", "分组框13", {86, 317, 78, 36}},
        {"按钮_暂停验证", "QPushButton", "分组框13", {175, 317, 78, 36}},
        {"进度条1", "QProgressBar", "MainWindow", {8, 392, 618, 21}},
        {"编辑框_输出", "QPlainTextEdit", "MainWindow", {7, 424, 622, 120}},
        {"超文本浏览框1", "QWidget", "MainWindow", {16, 560, 600, 96}},
    };
    for (const auto& c : controls)
        QTest::newRow(c.name) << qs(c.name) << qs(c.kind) << qs(c.parent) << c.place;
}

void MainWindowTest::controlsSitAtTheirPlaces() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QRect, place);
    MainWindow window;
    auto* control = window.findChild<QWidget*>(name);
    QVERIFY(control);
    QVERIFY(control->inherits(kind.toLatin1().constData()));
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QCOMPARE(control->geometry(), place);
}

void MainWindowTest::startsWithItsInitialState() {
    MainWindow window;
    window.show_centred();
    QCOMPARE(find<QGroupBox>(window, "分组框1")->title(), qs("代理(0)"));
    QCOMPARE(find<QGroupBox>(window, "分组框13")->title(), QString());
    QCOMPARE(find<QGroupBox>(window, "分组框14")->title(), qs("设置超时时间"));
    QCOMPARE(find<QGroupBox>(window, "分组框15")->title(), qs("验证线程数量"));
    QCOMPARE(find<QLineEdit>(window, "编辑框_超时时间")->text(), qs("2000"));
    QCOMPARE(find<QLineEdit>(window, "编辑框_验证线程数量")->text(), qs("30"));
    QCOMPARE(find<QLineEdit>(window, "编辑框_超时时间")->alignment(), Qt::AlignCenter);
    QVERIFY(find<QPlainTextEdit>(window, "编辑框_代理IP")->toPlainText().isEmpty());
    QVERIFY(find<QPlainTextEdit>(window, "编辑框_输出")->toPlainText().isEmpty());
    auto* bar = find<QProgressBar>(window, "进度条1");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(window.rows().rowCount(), 0);

    const std::pair<const char*, const char*> buttons[] = {
        {"按钮_截取代理", "截取代理"}, {"按钮_添加到列表", "添加到列表"},
        {"按钮_导入代理", "导入代理"}, {"按钮_导出代理", "导出代理"},
        {"按钮_删除重复", "删除重复"}, {"按钮_清空代理", "清空代理"},
        {"按钮_开始验证", "开始验证"}, {"按钮_暂停验证", "暂停验证"},
    };
    for (const auto& [name, caption] : buttons) {
        auto* button = find<QPushButton>(window, name);
        QVERIFY(button);
        QCOMPARE(button->text(), qs(caption));
        QVERIFY(button->isEnabled());
        QVERIFY(!button->autoDefault());
        QVERIFY(!button->isDefault());
    }
}

void MainWindowTest::proxyListHasItsColumnsAndSettings() {
    MainWindow window;
    auto* list = find<QTableView>(window, "超级列表框1");
    const char* titles[] = {"序号", "代理IP", "验证状态"};
    const int widths[] = {50, 182, 88};
    QCOMPARE(list->model()->columnCount(), 3);
    for (int column = 0; column < 3; ++column) {
        QCOMPARE(list->model()->headerData(column, Qt::Horizontal).toString(), qs(titles[column]));
        QCOMPARE(list->columnWidth(column), widths[column]);
    }
    QCOMPARE(
        list->model()->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
            Qt::AlignHorizontal_Mask,
        Qt::AlignLeft);
    QCOMPARE(
        list->model()->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
            Qt::AlignHorizontal_Mask,
        Qt::AlignHCenter);
    QVERIFY(list->showGrid());
    QVERIFY(!list->isSortingEnabled());
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(list->horizontalHeader()->isVisible() || !window.isVisible());
    QVERIFY(list->horizontalHeader()->sectionsClickable());

    // Cells hold code page 936 bytes and show as text; no cell is editable.
    std::size_t row = window.rows().append_row();
    window.rows().write_cell(row, 1, text::gbk("代理:80"));
    window.rows().announce_rows();
    QModelIndex cell = list->model()->index(0, 1);
    QCOMPARE(cell.data().toString(), qs("代理:80"));
    QVERIFY(!(cell.flags() & Qt::ItemIsEditable));
}

void MainWindowTest::windowIsFixedAndTitled() {
    MainWindow window;
    window.show_centred();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(window.windowTitle().startsWith(qs("Kestrova By：")));
    QVERIFY(!window.windowIcon().isNull());
    // Centred on the screen.
    QRect screen = window.screen()->availableGeometry();
    QVERIFY(qAbs(window.frameGeometry().center().x() - screen.center().x()) <= 2);
    QVERIFY(qAbs(window.frameGeometry().center().y() - screen.center().y()) <= 2);
}

void MainWindowTest::activityLogIsGreenOnBlackWithoutScrollBars() {
    MainWindow window;
    window.show();
    auto* log = find<QPlainTextEdit>(window, "编辑框_输出");
    log->ensurePolished();
    QCOMPARE(log->palette().color(QPalette::Text), QColor(0, 255, 0));
    QCOMPARE(log->palette().color(QPalette::Base), QColor(0, 0, 0));
    QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(log->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    auto* input = find<QPlainTextEdit>(window, "编辑框_代理IP");
    QCOMPARE(input->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(input->lineWrapMode(), QPlainTextEdit::WidgetWidth);
}

void MainWindowTest::escapeClosesTheWindow() {
    for (const char* focus : {"编辑框_超时时间", "编辑框_代理IP", "按钮_开始验证"}) {
        MainWindow window;
        window.show_centred();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* control = find<QWidget>(window, focus);
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Escape);
        QTRY_VERIFY2(!window.isVisible(), focus);
    }
}

void MainWindowTest::enterBreaksLinesOnlyInMultiLineBoxes() {
    MainWindow window;
    window.show_centred();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    int clicks = 0;
    for (QPushButton* button : window.findChildren<QPushButton*>())
        connect(button, &QPushButton::clicked, this, [&] { ++clicks; });

    for (const char* name : {"编辑框_代理IP", "编辑框_输出"}) {
        auto* box = find<QPlainTextEdit>(window, name);
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("a"));
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClicks(box, QStringLiteral("b"));
        QCOMPARE(box->toPlainText(), QStringLiteral("a\nb"));
    }
    auto* timeout = find<QLineEdit>(window, "编辑框_超时时间");
    timeout->setFocus();
    QTest::keyClick(timeout, Qt::Key_Return);
    auto* start = find<QPushButton>(window, "按钮_开始验证");
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Return);
    QTest::keyClick(start, Qt::Key_Enter);
    QCOMPARE(timeout->text(), qs("2000"));
    QCOMPARE(clicks, 0);
    QVERIFY(window.isVisible());
}

void MainWindowTest::appendLandsAtTheEndWhileTextIsSelected() {
    MainWindow window;
    window.show_centred();
    auto port = window.port();
    port->append_to_box(controls::activity_log, "first line\r\nsecond line\r\n");
    auto* log = find<QPlainTextEdit>(window, "编辑框_输出");
    QTextCursor cursor = log->textCursor();
    cursor.setPosition(2);
    cursor.setPosition(8, QTextCursor::KeepAnchor);
    log->setTextCursor(cursor);
    QVERIFY(log->textCursor().hasSelection());

    port->append_to_box(controls::activity_log, text::gbk("[2026-01-01 00:00:00]新的\r\n"));
    QCOMPARE(log->toPlainText(), qs("first line\nsecond line\n[2026-01-01 00:00:00]新的\n"));
    QVERIFY(!log->textCursor().hasSelection());
    QCOMPARE(log->textCursor().position(), log->toPlainText().size());
}

void MainWindowTest::webViewShowsTheAboutPage() {
    MainWindow window;
    auto* view = find<QWidget>(window, "超文本浏览框1");
    QVERIFY(view);
    QCOMPARE(view->geometry(), QRect(16, 560, 600, 96));
    QCOMPARE(about_page_url(), QUrl(QStringLiteral("qrc:/kestrova/about.html")));
    QFile page(QStringLiteral(":/kestrova/about.html"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    QVERIFY(page.readAll().contains("Kestrova"));
    if (!web_view_is_browser())
        QCOMPARE(view->property("source").toUrl(), about_page_url());
}

void MainWindowTest::closedWindowDropsWhatWorkersSend() {
    MainWindow window;
    window.show_centred();
    auto port = window.port();
    port->append_row();
    window.close();
    QVERIFY(!window.isVisible());
    port->append_row();
    port->append_to_box(controls::activity_log, "late\r\n");
    QCOMPARE(port->row_count(), std::size_t{0});
    QCOMPARE(window.rows().rows().size(), std::size_t{1});
    QVERIFY(!find<QPlainTextEdit>(window, "编辑框_输出")->toPlainText().contains(qs("late")));
}

void MainWindowTest::chineseFontIsAvailable() {
    QVERIFY(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    prepare_platform();
    QApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "main_window_test.moc"
