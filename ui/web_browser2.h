// The password prompt's hint pane: a web view whose whole document is written
// from a string. The HTML comes from the hint server, so the pane runs no
// scripts, follows no links, opens no windows and loads nothing: its own
// profile lets through only the written document.
#pragma once

#include <QString>
#include <QUrl>
#include <QWebEngineView>

class QEvent;
class QWebEnginePage;
class QWebEngineProfile;

namespace qalv {

class CWebBrowser2 : public QWebEngineView {
  Q_OBJECT
 public:
  explicit CWebBrowser2(QWidget* parent = nullptr);
  ~CWebBrowser2() override;

  // Loads an address; the pane lets through about:blank only.
  void Navigate(const QUrl& address);
  // Replaces the document with m_htmlPrefix + text + m_htmlSuffix.
  void WriteHtml(const QString& text);

  QString m_htmlPrefix;
  QString m_htmlSuffix;

 protected:
  bool event(QEvent* event) override;

 private:
  QWebEngineProfile* profile_;
  QWebEnginePage* page_;
};

}  // namespace qalv
