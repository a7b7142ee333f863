#include "skin/skin_host_qt.h"

#include <QApplication>
#include <QString>
#include <QThread>
#include <atomic>

namespace kestrova::skin {

namespace {

std::atomic<StyleSheetObserver> style_sheet_observer{nullptr};

// The host routine behind "SetApplicationStyleSheet": UTF-8 text, applied
// to the application on its own thread only.
bool apply_to_application(std::string_view sheet, Address address) {
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!application || QThread::currentThread() != application->thread())
        return false;
    application->setStyleSheet(
        QString::fromUtf8(sheet.data(), static_cast<qsizetype>(sheet.size())));
    if (StyleSheetObserver observer = style_sheet_observer.load())
        observer(address, static_cast<std::uint32_t>(sheet.size()));
    return true;
}

} // namespace

void run_skin_step(MemoryModule& skin_module, std::span<const std::byte> engine_image) {
    serve_style_sheet_routine(apply_to_application);
    skin_step(skin_module, engine_image);
}

void set_style_sheet_observer(StyleSheetObserver observer) {
    style_sheet_observer.store(observer);
}

} // namespace kestrova::skin
