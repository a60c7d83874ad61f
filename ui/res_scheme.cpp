#include "ui/res_scheme.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace qalv {
namespace {

constexpr char kScheme[] = "res";

// The resource file behind a res: path, or empty. Pictures are named by their
// number alone, so "/GIF/#172", "/GIF/%23172" and "/GIF/172" all find 172.svg.
QString ResourceFile(const QUrl& url) {
  QString path = url.path();
  if (!path.startsWith(u'/')) path.prepend(u'/');
  const int slash = path.indexOf(u'/', 1);
  if (slash < 0) return {};
  const QString type = path.mid(1, slash - 1).toUpper();
  QString name = path.mid(slash + 1);
  if (name.isEmpty()) name = url.fragment();
  if (name.startsWith(u'#')) name.remove(0, 1);
  if (name.isEmpty() || name.contains(u'/') || name.startsWith(u'.')) return {};

  if (type == u"HTML") return name == u"104" ? QStringLiteral(":/res/page/reader.html") : QString();
  if (type == u"JS" && name == u"qwebchannel.js") return QStringLiteral(":/qtwebchannel/qwebchannel.js");
  if (type == u"JS" || type == u"CSS") return QStringLiteral(":/res/page/") + name;
  const QStringList pictures = QDir(QStringLiteral(":/res/pictures")).entryList({name + QStringLiteral(".*")});
  return pictures.isEmpty() ? QString() : QStringLiteral(":/res/pictures/") + pictures.first();
}

}  // namespace

void RegisterResScheme() {
  QWebEngineUrlScheme scheme(kScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  // The page shows the seal and preview files of the work folder.
  scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed |
                  QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
  QWebEngineUrlScheme::registerScheme(scheme);
}

void ResSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
  const QString fileName = ResourceFile(job->requestUrl());
  QFile file(fileName);
  if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly)) {
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  QByteArray mime = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension).name().toUtf8();
  if (fileName.endsWith(u".js")) mime = "text/javascript";
  if (fileName.endsWith(u".html")) mime = "text/html;charset=utf-8";
  auto* body = new QBuffer(job);
  body->setData(file.readAll());
  job->reply(mime, body);
}

}  // namespace qalv
