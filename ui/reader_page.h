// The web page that hosts the reader page: it stays on the reader page, and
// a link the page opens in a new window goes to the desktop's browser.
#pragma once

#include <QWebEnginePage>

namespace qalv {

class ReaderPage : public QWebEnginePage {
  Q_OBJECT
 public:
  static const QUrl& Address();  // res:/HTML/104

  ReaderPage(QWebEngineProfile* profile, QObject* parent);

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
};

}  // namespace qalv
