#include "ui/web_browser2.h"

#include <QByteArray>
#include <QChildEvent>
#include <QEvent>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include "ui/request_filter.h"

namespace qalv {
namespace {

// Chromium's limit on an address, which setHtml's data: address must meet.
constexpr qsizetype kMaxDataAddress = 2 * 1024 * 1024;
constexpr qsizetype kDataAddressHead = sizeof("data:text/html;charset=UTF-8,") - 1;

// Lets through only the loads the pane itself starts: its written documents
// (setHtml's data: addresses) and about:blank. Links, forms, refreshes and
// frames of the server's HTML go nowhere; a refresh that fires while the
// document still loads is reported as typed, so the type alone cannot tell.
class HintPage : public QWebEnginePage {
 public:
  using QWebEnginePage::QWebEnginePage;

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
    const bool ownDocument = url.scheme() == u"data" || url == QUrl(QStringLiteral("about:blank"));
    return isMainFrame && type == NavigationTypeTyped && ownDocument;
  }
};

}  // namespace

CWebBrowser2::CWebBrowser2(QWidget* parent)
    : QWebEngineView(parent), profile_(new QWebEngineProfile(this)), page_(nullptr) {
  // The written document travels as a data: address; nothing else may load.
  profile_->setUrlRequestInterceptor(new RequestFilter({QStringLiteral("data")}, profile_));
  page_ = new HintPage(profile_, this);
  QWebEngineSettings* settings = page_->settings();
  settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  settings->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
  setPage(page_);
  setContextMenuPolicy(Qt::NoContextMenu);
  setFocusPolicy(Qt::NoFocus);
}

// The page must go before its profile.
CWebBrowser2::~CWebBrowser2() { delete page_; }

void CWebBrowser2::Navigate(const QUrl& address) { load(address); }

void CWebBrowser2::WriteHtml(const QString& text) {
  QString html = m_htmlPrefix + text + m_htmlSuffix;
  // A document past the limit fails to load and would leave the previous hint
  // on show.
  if (kDataAddressHead + html.toUtf8().toPercentEncoding().size() > kMaxDataAddress) {
    html = m_htmlPrefix + m_htmlSuffix;
  }
  // No base address: relative links in the text resolve to nothing.
  setHtml(html, QUrl());
}

bool CWebBrowser2::event(QEvent* event) {
  // The view draws through a child widget that takes Tab focus of its own;
  // the pane must stay out of the dialog's tab order.
  if (event->type() == QEvent::ChildPolished) {
    if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child())) {
      child->setFocusPolicy(Qt::ClickFocus);
    }
  }
  return QWebEngineView::event(event);
}

}  // namespace qalv
