#include "ui/res_url.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <algorithm>

namespace qalv {
namespace {

struct Request {
  QString type;  // upper case
  QString name;  // without a leading "#"
};

// "/GIF/#172" reaches the scheme as the path "/GIF/" and the fragment "172";
// "/GIF/%23172" and "/GIF/172" name the same picture. The name is taken fully
// decoded, so that no escaped separator or dot survives the checks below.
bool Split(const QUrl& url, Request& request) {
  // A URL Qt could not parse may still give a scheme and a path: its parts
  // are no address.
  if (!url.isValid() || url.scheme() != u"res" || !url.host().isEmpty()) return false;
  QString path = url.path(QUrl::FullyDecoded);
  if (!path.startsWith(u'/')) path.prepend(u'/');
  const qsizetype slash = path.indexOf(u'/', 1);
  if (slash < 0) return false;
  QString name = path.mid(slash + 1);
  if (name.isEmpty()) name = url.fragment(QUrl::FullyDecoded);
  if (name.startsWith(u'#')) name.remove(0, 1);
  // Every name served is a plain file name of ASCII letters, digits, "_",
  // "-" and dots, none of them first and no two in a row.
  if (name.isEmpty() || name.startsWith(u'.') || name.contains(QStringLiteral(".."))) return false;
  const auto plain = [](QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'.' || c == u'_' || c == u'-';
  };
  if (!std::all_of(name.begin(), name.end(), plain)) return false;
  request = {path.mid(1, slash - 1).toUpper(), name};
  return true;
}

QString PageFile(const QString& name, QStringView extension) {
  if (!name.endsWith(extension)) return {};
  return QStringLiteral(":/res/page/") + name;
}

// A picture by its number: the file of that base name, whatever its format.
// The compiled-in pictures never change, so they are indexed once, not
// listed again for every picture the page asks for.
QString PictureFile(const QString& number) {
  static const QHash<QString, QString> byNumber = [] {
    QHash<QString, QString> index;
    const QDir pictures(QStringLiteral(":/res/pictures"));
    for (const QString& file : pictures.entryList(QDir::Files)) {
      const QString base = QFileInfo(file).completeBaseName();
      if (!index.contains(base)) index.insert(base, pictures.filePath(file));
    }
    return index;
  }();
  return byNumber.value(number);
}

QString ResourceFile(const Request& request) {
  if (request.type == u"HTML") return request.name == u"104" ? QStringLiteral(":/res/page/reader.html") : QString();
  // Qt's own channel script, compiled into its web channel library.
  if (request.type == u"JS" && request.name == u"qwebchannel.js") return QStringLiteral(":/qtwebchannel/qwebchannel.js");
  if (request.type == u"JS") return PageFile(request.name, u".js");
  if (request.type == u"CSS") return PageFile(request.name, u".css");
  if (request.type == u"GIF" || request.type == u"PNG" || request.type == u"WEB") return PictureFile(request.name);
  return {};
}

}  // namespace

const QStringList& WorkPictureNames() {
  static const QStringList names = {QStringLiteral("TTS"), QStringLiteral("TMS"), QStringLiteral("ITS"),
                                    QStringLiteral("IMS"), QStringLiteral("OTS"), QStringLiteral("OMS"),
                                    QStringLiteral("SNS")};
  return names;
}

ResTarget ResolveResUrl(const QUrl& url) {
  Request request;
  if (!Split(url, request)) return {};
  if (request.type == u"WORK") {
    if (!WorkPictureNames().contains(request.name)) return {};
    return {ResTarget::Kind::kWorkPicture, request.name};
  }
  const QString file = ResourceFile(request);
  if (file.isEmpty() || !QFile::exists(file)) return {};
  return {ResTarget::Kind::kResource, file};
}

}  // namespace qalv
