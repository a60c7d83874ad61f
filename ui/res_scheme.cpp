#include "ui/res_scheme.h"

#include <QBuffer>
#include <QFile>
#include <QMimeDatabase>
#include <QStringList>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "platform/file_io.h"
#include "platform/secure_buffer.h"
#include "ui/res_url.h"
#include "ui/wiped_text.h"

namespace qalv {
namespace {

constexpr char kScheme[] = "res";

// A reply body that overwrites the package's picture once the page has it.
class WipingBuffer : public QBuffer {
 public:
  using QBuffer::QBuffer;
  ~WipingBuffer() override { WipeBytes(buffer()); }
};

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
  const ResTarget target = ResolveResUrl(job->requestUrl());
  auto* body = new WipingBuffer(job);
  QByteArray mime;
  if (target.kind == ResTarget::Kind::kWorkPicture) {
    SecureBuffer bytes;
    if (workFolder_.isEmpty() || ReadWholeFile((workFolder_ + target.name).toStdString(), bytes) != 0) {
      job->fail(QWebEngineUrlRequestJob::UrlNotFound);
      return;
    }
    body->setData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    mime = PictureMime(body->data());
  } else {
    QFile file(target.name);
    if (target.kind != ResTarget::Kind::kResource || !file.open(QIODevice::ReadOnly)) {
      job->fail(QWebEngineUrlRequestJob::UrlNotFound);
      return;
    }
    body->setData(file.readAll());
    mime = MimeOf(target.name);
  }
  job->reply(mime, body);
}

}  // namespace qalv
