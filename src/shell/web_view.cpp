#include "shell/web_view.h"

#include <QTextBrowser>

#ifdef KESTROVA_HAVE_WEBENGINE
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

namespace kestrova {

#ifdef KESTROVA_HAVE_WEBENGINE
namespace {
// Script errors stay silent.
class QuietPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override {}
};
} // namespace

QWidget* create_web_view(QWidget* parent, const QUrl& page) {
    auto* view = new QWebEngineView(parent);
    view->setPage(new QuietPage(view));
    view->setContextMenuPolicy(Qt::NoContextMenu);
    view->load(page);
    return view;
}

bool web_view_is_browser() {
    return true;
}
#else
QWidget* create_web_view(QWidget* parent, const QUrl& page) {
    auto* view = new QTextBrowser(parent);
    view->setOpenLinks(false);
    view->setSource(page);
    return view;
}

bool web_view_is_browser() {
    return false;
}
#endif

} // namespace kestrova
