// Keeps a web view's requests to the schemes it was given. The reader page
// loads from its own res: scheme only and the hint pane from its written
// document only, so markup a package or a service wrote into either can reach
// no server and no file. Each refused request is logged.
#pragma once

#include <QStringList>
#include <QWebEngineUrlRequestInterceptor>

namespace qalv {

class RequestFilter : public QWebEngineUrlRequestInterceptor {
  Q_OBJECT
 public:
  RequestFilter(QStringList allowedSchemes, QObject* parent);

  void interceptRequest(QWebEngineUrlRequestInfo& info) override;

 private:
  const QStringList allowedSchemes_;
};

}  // namespace qalv
