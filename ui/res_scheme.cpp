#include "ui/res_scheme.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QStringList>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "platform/file_io.h"
#include "platform/secure_buffer.h"
#include "ui/wiped_text.h"

namespace qalv {
namespace {

constexpr char kScheme[] = "res";

// The pictures an opening writes into the work folder, by their fixed names.
const QStringList& PackagePictures() {
  static const QStringList names = {QStringLiteral("TTS"), QStringLiteral("TMS"), QStringLiteral("ITS"),
                                    QStringLiteral("IMS"), QStringLiteral("OTS"), QStringLiteral("OMS"),
                                    QStringLiteral("SNS")};
  return names;
}

// A reply body that overwrites the package's picture once the page has it.
class WipingBuffer : public QBuffer {
 public:
  using QBuffer::QBuffer;
  ~WipingBuffer() override { WipeBytes(buffer()); }
};

struct Path {
  QString type;  // upper case: HTML, JS, CSS, GIF, WEB, PNG, WORK
  QString name;  // without a leading "#"; empty when the path names nothing
};

// Pictures are named by their number alone, so "/GIF/#172", "/GIF/%23172" and
// "/GIF/172" all find 172.svg.
Path Parse(const QUrl& url) {
  QString path = url.path();
  if (!path.startsWith(u'/')) path.prepend(u'/');
  const int slash = path.indexOf(u'/', 1);
  if (slash < 0) return {};
  QString name = path.mid(slash + 1);
  if (name.isEmpty()) name = url.fragment();
  if (name.startsWith(u'#')) name.remove(0, 1);
  if (name.isEmpty() || name.contains(u'/') || name.startsWith(u'.')) return {};
  return {path.mid(1, slash - 1).toUpper(), name};
}

// The compiled-in file behind a res: path, or empty.
QString ResourceFile(const Path& path) {
  if (path.type == u"HTML") return path.name == u"104" ? QStringLiteral(":/res/page/reader.html") : QString();
  if (path.type == u"JS" && path.name == u"qwebchannel.js") return QStringLiteral(":/qtwebchannel/qwebchannel.js");
  if (path.type == u"JS" || path.type == u"CSS") return QStringLiteral(":/res/page/") + path.name;
  const QStringList pictures =
      QDir(QStringLiteral(":/res/pictures")).entryList({path.name + QStringLiteral(".*")});
  return pictures.isEmpty() ? QString() : QStringLiteral(":/res/pictures/") + pictures.first();
}

QByteArray MimeOf(const QString& fileName) {
  if (fileName.endsWith(u".js")) return "text/javascript";
  if (fileName.endsWith(u".html")) return "text/html;charset=utf-8";
  return QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension).name().toUtf8();
}

// A package picture as the raster image it is; anything else (an SVG with its
// scripts and links above all) as bytes no image is drawn from.
QByteArray PictureMime(const QByteArray& bytes) {
  const QString mime = QMimeDatabase().mimeTypeForData(bytes).name();
  static const QStringList kRaster = {QStringLiteral("image/png"), QStringLiteral("image/jpeg"),
                                      QStringLiteral("image/gif"), QStringLiteral("image/bmp"),
                                      QStringLiteral("image/webp")};
  return kRaster.contains(mime) ? mime.toUtf8() : QByteArrayLiteral("application/octet-stream");
}

}  // namespace

void RegisterResScheme() {
  QWebEngineUrlScheme scheme(kScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  // No local access and no exemption from the page's content security policy:
  // the page reaches files only through this handler.
  scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
  QWebEngineUrlScheme::registerScheme(scheme);
}

void ResSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
  const Path path = Parse(job->requestUrl());
  auto* body = new WipingBuffer(job);
  QByteArray mime;
  if (path.type == u"WORK") {
    SecureBuffer bytes;
    if (workFolder_.isEmpty() || !PackagePictures().contains(path.name) ||
        ReadWholeFile((workFolder_ + path.name).toStdString(), bytes) != 0) {
      job->fail(QWebEngineUrlRequestJob::UrlNotFound);
      return;
    }
    body->setData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    mime = PictureMime(body->data());
  } else {
    const QString fileName = path.type.isEmpty() ? QString() : ResourceFile(path);
    QFile file(fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly)) {
      job->fail(QWebEngineUrlRequestJob::UrlNotFound);
      return;
    }
    body->setData(file.readAll());
    mime = MimeOf(fileName);
  }
  job->reply(mime, body);
}

}  // namespace qalv
