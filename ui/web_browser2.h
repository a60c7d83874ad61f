// The password prompt's hint pane: a web view whose whole document is written
// from a string. The HTML comes from the hint server, so the pane runs no
// scripts, follows no links and opens no windows.
#pragma once

#include <QString>
#include <QUrl>
#include <QWebEngineView>

class QEvent;

namespace qalv {

class CWebBrowser2 : public QWebEngineView {
  Q_OBJECT
 public:
  explicit CWebBrowser2(QWidget* parent = nullptr);

  // Loads an address; the pane lets through about:blank only.
  void Navigate(const QUrl& address);
  // Replaces the document with m_htmlPrefix + text + m_htmlSuffix.
  void WriteHtml(const QString& text);

  QString m_htmlPrefix;
  QString m_htmlSuffix;

 protected:
  bool event(QEvent* event) override;
};

}  // namespace qalv
