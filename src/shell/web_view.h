// The embedded web view: Qt WebEngine when the build has it, else a text
// browser. Either navigates once, at creation, and is never read.
#pragma once

#include <QUrl>

class QWidget;

namespace kestrova {

QWidget* create_web_view(QWidget* parent, const QUrl& page);

/// True when the web view is a real browser engine.
bool web_view_is_browser();

} // namespace kestrova
