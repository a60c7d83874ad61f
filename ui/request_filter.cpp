#include "ui/request_filter.h"

#include <QUrl>
#include <QWebEngineUrlRequestInfo>

#include "platform/trace.h"

namespace qalv {

RequestFilter::RequestFilter(QStringList allowedSchemes, QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent), allowedSchemes_(std::move(allowedSchemes)) {}

void RequestFilter::interceptRequest(QWebEngineUrlRequestInfo& info) {
  const QUrl url = info.requestUrl();
  if (allowedSchemes_.contains(url.scheme(), Qt::CaseInsensitive)) return;
  info.block(true);
  // Without the query: it may carry what a page tried to send away.
  const QByteArray shown = url.toString(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
                               .left(200)
                               .toUtf8();
  trace::Log("page: blocked request to %s\n", shown.constData());
}

}  // namespace qalv
