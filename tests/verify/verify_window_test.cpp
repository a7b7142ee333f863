// Verification on the real main window (offscreen), driven by its buttons.
#include "shell/application.h"
#include "shell/main_window.h"
#include "shell/qt_text.h"
#include "shell/verification_actions.h"
#include "support/loopback_server.h"
#include "text/codepage.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace kestrova;
using namespace kestrova::test_support;

class VerifyWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runOverTwentyLocalProxies();
    void stopAndPauseButtons();

private:
    std::string add_proxy(ServerLoop& loop, int n, bool good) {
        std::string address = "127.0.1." + std::to_string(n + 1);
        Reply reply = Reply::text(good ? "<p>百度一下</p>" : "<p>nothing</p>");
        reply.delay = std::chrono::milliseconds(50 + 10 * n);
        std::uint16_t port = loop.listen(
            address, 0, simulated_proxy([reply](const ReceivedRequest&) { return reply; }));
        return address + ":" + std::to_string(port);
    }
    void fill(MainWindow& window, const std::vector<std::string>& addresses) {
        auto port = window.port();
        for (const std::string& address : addresses) {
            std::size_t row = port->append_row();
            port->write_cell(row, column::number, std::to_string(row + 1));
            port->write_cell(row, column::address, address);
        }
    }
    // Proxies on loopback in the list, and the buttons connected to a
    // verifier whose probe page the proxies serve.
    std::shared_ptr<Verifier> prepare(MainWindow& window, ServerLoop& loop, int proxies,
                                      bool (*good)(int), const char* thread_limit) {
        window.show_centred();
        std::vector<std::string> addresses;
        for (int n = 0; n < proxies; ++n)
            addresses.push_back(add_proxy(loop, n, good(n)));
        fill(window, addresses);
        VerifierOptions options;
        options.probe_url = "http://probe.kestrova.test/";
        auto verifier = connect_verification(window, options);
        window.findChild<QLineEdit*>(qs("编辑框_验证线程数量"))->setText(qs(thread_limit));
        return verifier;
    }
    QPushButton* button(MainWindow& window, const char* name) {
        return window.findChild<QPushButton*>(qs(name));
    }
};

void VerifyWindowTest::runOverTwentyLocalProxies() {
    ServerLoop loop;
    MainWindow window;
    auto verifier = prepare(
        window, loop, 20, [](int n) { return n % 4 != 0; }, "8");

    QPushButton* start = button(window, "按钮_开始验证");
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(start->text(), qs("停止验证"));
    QTRY_COMPARE_WITH_TIMEOUT(start->text(), qs("开始验证"), 20000);

    // Five unusable rows purged, fifteen usable renumbered.
    QCOMPARE(window.rows().rows().size(), std::size_t{15});
    for (std::size_t row = 0; row < 15; ++row) {
        QCOMPARE(window.rows().rows().read(row, column::status), text::gbk("可以用"));
        QCOMPARE(window.rows().rows().read(row, column::number), std::to_string(row + 1));
    }
    QString log = window.findChild<QPlainTextEdit*>(qs("编辑框_输出"))->toPlainText();
    QCOMPARE(log.count(qs("] 可以用")), 15);
    QCOMPARE(log.count(qs("] 不可用")), 5);
    QVERIFY(log.contains(qs(" - 代理验证完毕！有效代理：15 个 失效代理：5 个\n")));
    QVERIFY(log.contains(qs(" - 失效代理已清除！共清除 5 个 失效代理\n")));
    auto* bar = window.findChild<QProgressBar*>(qs("进度条1"));
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(bar->maximum(), 20);
    QCOMPARE(window.findChild<QGroupBox*>(qs("分组框1"))->title(), qs("代理(15)"));
    QTRY_COMPARE(verifier->running_count(), 0);
}

void VerifyWindowTest::stopAndPauseButtons() {
    ServerLoop loop;
    MainWindow window;
    auto verifier = prepare(
        window, loop, 6, [](int) { return true; }, "1");

    QPushButton* start = button(window, "按钮_开始验证");
    QPushButton* pause = button(window, "按钮_暂停验证");
    QTest::mouseClick(start, Qt::LeftButton);
    QTest::mouseClick(pause, Qt::LeftButton);
    QCOMPARE(pause->text(), qs("恢复验证"));
    QTest::mouseClick(pause, Qt::LeftButton);
    QCOMPARE(pause->text(), qs("暂停验证"));
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(start->text(), qs("开始验证"));
    QCOMPARE(pause->text(), qs("暂停验证"));
    QVERIFY(!pause->isEnabled());
    QTRY_COMPARE(verifier->running_count(), 0);
    // A stopped run neither purges nor logs a summary.
    QString log = window.findChild<QPlainTextEdit*>(qs("编辑框_输出"))->toPlainText();
    QVERIFY(!log.contains(qs("代理验证完毕")));
    QCOMPARE(window.rows().rows().size(), std::size_t{6});
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(pause->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(start->text(), qs("开始验证"), 20000);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    prepare_platform();
    QApplication app(argc, argv);
    VerifyWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "verify_window_test.moc"
