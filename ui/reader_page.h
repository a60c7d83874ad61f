// The web page that hosts the reader page: it stays on the reader page, a
// link the page opens in a new window goes to the desktop's browser, and what
// the engine reports from the page (the loads its content security policy
// refused above all) goes to the trace.
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
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                const QString& source) override;
};

}  // namespace qalv
