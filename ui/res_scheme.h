// The res: scheme, the only one the reader page loads from: the page's own
// scripts and pictures compiled into the program (res:/HTML/104 is the page,
// res:/GIF/#172 a picture, res:/JS/reader.js a script), and under res:/WORK/
// the seven pictures the last opening wrote into the work folder (res:/WORK/SNS
// is the preview), read afresh for every request.
#pragma once

#include <QString>
#include <QWebEngineUrlSchemeHandler>

namespace qalv {

// Must run before the application object is created.
void RegisterResScheme();

class ResSchemeHandler : public QWebEngineUrlSchemeHandler {
  Q_OBJECT
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

  // The folder res:/WORK/ serves from, ending with "/"; until set, none.
  void SetWorkFolder(const QString& folder) { workFolder_ = folder; }

  void requestStarted(QWebEngineUrlRequestJob* job) override;

 private:
  QString workFolder_;
};

}  // namespace qalv
