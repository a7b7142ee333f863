// The skin step on the real application: the embedded engine is loaded from
// memory, runs in the emulator, and hands the embedded skin's style sheet to
// the host routine, which applies it to the QApplication.
#include "shell/control_names.h"
#include "shell/main_window.h"
#include "shell/qt_text.h"
#include "skin/call.h"
#include "skin/emulated_platform.h"
#include "skin/skin_host_qt.h"
#include "skin/skin_step.h"
#include "test_images.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <vector>

using namespace kestrova;
using namespace kestrova::skin;

namespace {

struct HostCallRecord {
    Address sheet;
    std::uint32_t length;
};
std::vector<HostCallRecord> host_calls;

void record_host_call(Address sheet, std::uint32_t length) {
    host_calls.push_back({sheet, length});
}

QString embedded_style_sheet() {
    std::span<const std::byte> skin = skin_data();
    return QString::fromUtf8(reinterpret_cast<const char*>(skin.data()) + 6,
                             static_cast<qsizetype>(skin.size() - 6));
}

QColor colour(QWidget& widget, QPalette::ColorRole role) {
    widget.ensurePolished();
    return widget.palette().color(role);
}

} // namespace

class SkinStepTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        qApp->setStyleSheet(QString());
        host_calls.clear();
        set_style_sheet_observer(record_host_call);
    }
    void theSkinDataCarriesItsHeaderAndTheStyleSheet();
    void startUpIsSkinnedThroughTheEngine();
    void anEngineThatDoesNotLoadLeavesQtsLook();
    void anEngineWithoutTheExportCallsNothing();
    void theEngineRefusesASkinWithoutItsHeader();
};

void SkinStepTest::theSkinDataCarriesItsHeaderAndTheStyleSheet() {
    std::span<const std::byte> skin = skin_data();
    QVERIFY(skin.size() > 6);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(skin.data()), 6), QByteArray(".SHE\0\3", 6));
    QVERIFY(embedded_style_sheet().contains(QStringLiteral("QPlainTextEdit#编辑框_输出")));
    QCOMPARE(bytes_address(skin),
             static_cast<Address>(reinterpret_cast<std::uintptr_t>(skin.data())));
}

void SkinStepTest::startUpIsSkinnedThroughTheEngine() {
    MemoryModule skin_module;
    run_skin_step(skin_module);
    QVERIFY(skin_module.base != 0);
    QCOMPARE(qApp->styleSheet(), embedded_style_sheet());
    // Called once, with the style sheet that follows the skin's header.
    QCOMPARE(host_calls.size(), std::size_t{1});
    QCOMPARE(host_calls[0].sheet, bytes_address(skin_data()) + 6);
    QCOMPARE(host_calls[0].length, static_cast<std::uint32_t>(skin_data().size() - 6));

    MainWindow window;
    window.show();
    auto* log = window.findChild<QPlainTextEdit*>(qs(controls::activity_log));
    QVERIFY(log);
    QCOMPARE(colour(*log, QPalette::Text), QColor(0, 255, 0));
    QCOMPARE(colour(*log, QPalette::Base), QColor(0, 0, 0));
    auto* start = window.findChild<QPushButton*>(qs(controls::start_button));
    QVERIFY(start);
    QCOMPARE(colour(*start, QPalette::ButtonText), QColor(0x1f, 0x29, 0x33));
    // The engine stays loaded; a second attach returns its result unchanged.
    QCOMPARE(attach_skin(skin_module, skin_data(), "password", 10, 20, 30), 1u);
}

void SkinStepTest::anEngineThatDoesNotLoadLeavesQtsLook() {
    std::vector<std::byte> broken(skin_engine_image().begin(), skin_engine_image().end());
    broken[1] = std::byte{'X'}; // "MX"
    MemoryModule skin_module;
    run_skin_step(skin_module, broken);
    QCOMPARE(skin_module.base, Address{0});
    QCOMPARE(qApp->styleSheet(), QString());
    QVERIFY(host_calls.empty());
    MainWindow window;
    window.show();
    auto* start = window.findChild<QPushButton*>(qs(controls::start_button));
    QVERIFY(start);
    QVERIFY(colour(*start, QPalette::ButtonText) != QColor(0x1f, 0x29, 0x33));
    QVERIFY(window.isVisible());
}

void SkinStepTest::anEngineWithoutTheExportCallsNothing() {
    MemoryModule skin_module;
    run_skin_step(skin_module, skin::testing::fixture("exports"));
    QVERIFY(skin_module.base != 0);
    QCOMPARE(skin_module.find_export("SkinH_AttachRes"), Address{0});
    QCOMPARE(attach_skin(skin_module, skin_data()), 0u);
    QCOMPARE(qApp->styleSheet(), QString());
    QVERIFY(host_calls.empty());
    skin_module.unload();
}

void SkinStepTest::theEngineRefusesASkinWithoutItsHeader() {
    MemoryModule skin_module;
    QVERIFY(skin_module.load(skin_engine_image()));
    serve_style_sheet_routine([](std::string_view, Address) {
        host_calls.push_back({0, 0});
        return true;
    });
    const char bad[] = "XSHE\0\3QWidget { color: red; }";
    std::span<const std::byte> guest =
        emulated_platform().publish(std::as_bytes(std::span(bad, sizeof bad - 1)));
    QCOMPARE(attach_skin(skin_module, guest), 0u);
    QCOMPARE(attach_skin(skin_module, guest.first(5)), 0u);
    QCOMPARE(attach_skin(skin_module, {}), 0u);
    QVERIFY(host_calls.empty());
    QCOMPARE(qApp->styleSheet(), QString());
}

QTEST_MAIN(SkinStepTest)
#include "skin_step_test.moc"
