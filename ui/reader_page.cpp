#include "ui/reader_page.h"

#include <QDesktopServices>
#include <QWebEngineNewWindowRequest>

#include "platform/trace.h"

namespace qalv {

const QUrl& ReaderPage::Address() {
  static const QUrl address(QStringLiteral("res:/HTML/104"));
  return address;
}

ReaderPage::ReaderPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {
  connect(this, &QWebEnginePage::newWindowRequested, this, [](QWebEngineNewWindowRequest& request) {
    const QUrl url = request.requestedUrl();
    if (url.scheme() == u"https" || url.scheme() == u"http") QDesktopServices::openUrl(url);
  });
}

bool ReaderPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) {
  // The page holds the bridge: nothing may replace it, not even a reload.
  return !isMainFrame || url == Address();
}

void ReaderPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                          const QString&) {
  trace::Log("page: %s\n", message.left(500).toUtf8().constData());
}

}  // namespace qalv
