// The real harvest window on the offscreen platform.
#include "harvest/harvest_actions.h"
#include "harvest/harvest_control_names.h"
#include "harvest/harvest_window.h"
#include "page_server.h"
#include "shell/application.h"
#include "shell/control_names.h"
#include "shell/main_window.h"
#include "shell/memory_window_port.h"
#include "shell/qt_text.h"
#include "shell/timestamp.h"
#include "text/codepage.h"
#include "text/text.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace kestrova;
using namespace std::chrono_literals;
using harvest_test::pages;
using harvest_test::Reply;
using test_support::LoopbackServer;
namespace names = controls::harvest;

class HarvestWindowTest : public QObject {
    Q_OBJECT

private:
    /// Opens the harvest window for an in-memory main window.
    HarvestWindow& open() {
        HarvestWindow& window = open_harvest_window(memory_main_);
        if (!QTest::qWaitForWindowExposed(&window))
            qWarning("harvest window not exposed");
        return window;
    }
    template <typename T> T* find(QWidget& window, const char* name) {
        auto* widget = window.findChild<T*>(qs(name));
        if (!widget)
            qWarning("missing control %s", name);
        return widget;
    }
    static std::string entry(const std::string& address, int count) {
        return text::gbk("[2026-05-01 12:00:00]探测到地址：[") + address +
               text::gbk("]\r\n共有代理数量：") + std::to_string(count) + "\r\n";
    }
    static int harvest_windows_on_screen() {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            count += widget->objectName() == qs(names::window) && widget->isVisible();
        return count;
    }

    std::shared_ptr<MemoryWindowPort> memory_main_ = MemoryWindowPort::main_window();

private Q_SLOTS:
    void init() {
        set_clock([] { return LocalTime{2026, 5, 1, 12, 0, 0}; });
    }
    void cleanup() {
        if (HarvestWindow* window = current_harvest_window())
            delete window;
        set_clock({});
    }

    void controlsSitAtTheirPlaces_data();
    void controlsSitAtTheirPlaces();
    void startsWithItsInitialState();
    void windowIsFixedUntitledOwnerlessAndCentred();
    void escapeClosesAndDeletesTheWindow();
    void enterBreaksLinesOnlyInTheSourceList();
    void secondClickBringsTheOpenWindowToTheFront();
    void harvestFillsTheMainWindow();
    void closingTheWindowMidRunLetsTheRunFinish();
};

void HarvestWindowTest::controlsSitAtTheirPlaces_data() {
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
        {"分组框1", "QGroupBox", "HarvestWindow", {8, 8, 392, 184}},
        {"编辑框1", "QPlainTextEdit", "分组框1", {8, 16, 376, 152}},
        {"分组框2", "QGroupBox", "HarvestWindow", {8, 192, 392, 65}},
        {"编辑框2", "QLineEdit", "分组框2", {8, 19, 296, 36}},
        {"按钮1", "QPushButton", "分组框2", {312, 18, 72, 36}},
        {"进度条1", "QProgressBar", "HarvestWindow", {408, 15, 32, 241}},
    };
    for (const auto& c : controls)
        QTest::newRow(c.name) << qs(c.name) << qs(c.kind) << qs(c.parent) << c.place;
}

void HarvestWindowTest::controlsSitAtTheirPlaces() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QRect, place);
    HarvestWindow window;
    auto* control = window.findChild<QWidget*>(name);
    QVERIFY(control);
    QVERIFY(control->inherits(kind.toLatin1().constData()));
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QCOMPARE(control->geometry(), place);
}

void HarvestWindowTest::startsWithItsInitialState() {
    HarvestWindow& window = open();
    QCOMPARE(find<QGroupBox>(window, "分组框1")->title(), qs("获取地址（一行一个）"));
    QCOMPARE(find<QGroupBox>(window, "分组框2")->title(), qs("正则表达式"));

    // Five page addresses, CR LF between them and none after the last.
    const std::string sources = window.port()->box_text(names::source_list);
    const std::vector<std::string> lines = text::split(sources, text::crlf);
    QCOMPARE(lines.size(), std::size_t{5});
    QVERIFY(!sources.ends_with("\r\n"));
    for (const std::string& line : lines)
        QVERIFY2(line.starts_with("https://") && line.ends_with(".txt"), line.c_str());
    auto* source_list = find<QPlainTextEdit>(window, "编辑框1");
    QCOMPARE(source_list->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    QCOMPARE(window.port()->box_text(names::pattern), std::string(R"(\d+\.\d+\.\d+\.\d+\:\d+)"));
    auto* button = find<QPushButton>(window, "按钮1");
    QCOMPARE(button->text(), qs("开始获取"));
    QVERIFY(button->isEnabled());
    QVERIFY(!button->autoDefault());
    QVERIFY(!button->isDefault());

    auto* bar = find<QProgressBar>(window, "进度条1");
    QCOMPARE(bar->orientation(), Qt::Vertical);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isTextVisible());
}

void HarvestWindowTest::windowIsFixedUntitledOwnerlessAndCentred() {
    HarvestWindow& window = open();
    QVERIFY(window.isWindow());
    QVERIFY(!window.parentWidget());
    QCOMPARE(window.windowModality(), Qt::NonModal);
    QVERIFY(window.windowTitle().isEmpty());
    QCOMPARE(window.size(), QSize(451, 259));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QRect screen = window.screen()->availableGeometry();
    QVERIFY(qAbs(window.frameGeometry().center().x() - screen.center().x()) <= 2);
    QVERIFY(qAbs(window.frameGeometry().center().y() - screen.center().y()) <= 2);
}

void HarvestWindowTest::escapeClosesAndDeletesTheWindow() {
    for (const char* focus : {"编辑框1", "编辑框2", "按钮1"}) {
        QPointer<HarvestWindow> window = &open();
        auto* control = find<QWidget>(*window, focus);
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Escape);
        QTRY_VERIFY2(window.isNull(), focus);
        QVERIFY(!current_harvest_window());
    }
}

void HarvestWindowTest::enterBreaksLinesOnlyInTheSourceList() {
    HarvestWindow& window = open();
    QSignalSpy clicks(window.start_button(), &QAbstractButton::clicked);
    auto* sources = find<QPlainTextEdit>(window, "编辑框1");
    sources->clear();
    sources->setFocus();
    QTest::keyClicks(sources, QStringLiteral("a"));
    QTest::keyClick(sources, Qt::Key_Return);
    QTest::keyClicks(sources, QStringLiteral("b"));
    QCOMPARE(sources->toPlainText(), QStringLiteral("a\nb"));

    auto* pattern = find<QLineEdit>(window, "编辑框2");
    pattern->setFocus();
    QTest::keyClick(pattern, Qt::Key_Return);
    window.start_button()->setFocus();
    QTest::keyClick(window.start_button(), Qt::Key_Return);
    QTest::keyClick(window.start_button(), Qt::Key_Enter);
    QCOMPARE(pattern->text(), QStringLiteral(R"(\d+\.\d+\.\d+\.\d+\:\d+)"));
    QCOMPARE(clicks.count(), 0);
    QVERIFY(window.isVisible());
}

void HarvestWindowTest::secondClickBringsTheOpenWindowToTheFront() {
    MainWindow main;
    connect_harvest_actions(main);
    main.show_centred();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QAbstractButton* harvest_button = main.button(controls::harvest_button);

    harvest_button->click();
    QPointer<HarvestWindow> harvest = current_harvest_window();
    QVERIFY(harvest);
    QVERIFY(QTest::qWaitForWindowExposed(harvest));
    harvest->showMinimized();
    QTRY_VERIFY(harvest->isMinimized());
    main.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(&main));

    harvest_button->click();
    QCOMPARE(current_harvest_window(), harvest.data());
    QVERIFY(!harvest->isMinimized());
    QVERIFY(harvest->isVisible());
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(harvest.data()));
    QCOMPARE(harvest_windows_on_screen(), 1);

    // Once closed, the next click opens a new window with the initial texts.
    harvest->port()->set_box_text(names::pattern, "typed");
    harvest->close();
    QTRY_VERIFY(harvest.isNull());
    harvest_button->click();
    QVERIFY(current_harvest_window());
    QCOMPARE(current_harvest_window()->port()->box_text(names::pattern),
             std::string(R"(\d+\.\d+\.\d+\.\d+\:\d+)"));
}

void HarvestWindowTest::harvestFillsTheMainWindow() {
    LoopbackServer server(pages(
        {{"/a", Reply::text("1.2.3.4:80 x 5.6.7.8:8080")}, {"/b", Reply::text("9.9.9.9:99")}}));
    MainWindow main;
    connect_harvest_actions(main);
    main.show_centred();
    main.button(controls::harvest_button)->click();
    HarvestWindow* harvest = current_harvest_window();
    QVERIFY(harvest);
    auto port = harvest->port();
    port->set_box_text(names::source_list, server.url("/a") + "\r\n" + server.url("/b"));

    harvest->start_button()->click();

    QTRY_COMPARE_WITH_TIMEOUT(port->progress_position(names::progress_bar), 2, 20000);
    QCOMPARE(port->progress_maximum(names::progress_bar), 2);
    QCOMPARE(main.port()->box_text(controls::activity_log),
             entry(server.url("/a"), 2) + entry(server.url("/b"), 1));
    QCOMPARE(main.port()->box_text(controls::proxy_input),
             std::string("1.2.3.4:80\r\n5.6.7.8:8080\r\n9.9.9.9:99\r\n"));
}

void HarvestWindowTest::closingTheWindowMidRunLetsTheRunFinish() {
    Reply slow = Reply::text("1.2.3.4:80");
    slow.delay = 300ms;
    LoopbackServer server(pages({{"/", slow}}));
    MainWindow main;
    main.show_centred();
    QPointer<HarvestWindow> harvest = &open_harvest_window(main.port());
    const std::string url = server.url("/");
    harvest->port()->set_box_text(names::source_list, url + "\r\n" + url + "\r\n" + url);

    harvest->start_button()->click();
    auto log = [&] { return main.port()->box_text(controls::activity_log); };
    QTRY_COMPARE_WITH_TIMEOUT(log(), entry(url, 1), 20000);
    harvest->close();
    QTRY_VERIFY(harvest.isNull());

    QTRY_COMPARE_WITH_TIMEOUT(log(), entry(url, 1) + entry(url, 1) + entry(url, 1), 20000);
    QTRY_COMPARE(main.port()->box_text(controls::proxy_input),
                 std::string("1.2.3.4:80\r\n1.2.3.4:80\r\n1.2.3.4:80\r\n"));
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    prepare_platform();
    QApplication app(argc, argv);
    HarvestWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "harvest_window_test.moc"
