// The res: scheme through which the page reaches its own scripts and pictures,
// compiled into the program: res:/HTML/104 is the page, res:/GIF/#172 a
// picture, res:/JS/reader.js a script.
#pragma once

#include <QWebEngineUrlSchemeHandler>

namespace qalv {

// Must run before the application object is created.
void RegisterResScheme();

class ResSchemeHandler : public QWebEngineUrlSchemeHandler {
  Q_OBJECT
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
  void requestStarted(QWebEngineUrlRequestJob* job) override;
};

}  // namespace qalv
