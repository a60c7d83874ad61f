// The reader page's res: addresses: the input is the address text the page
// asks for. Whatever it asks, the scheme serves a compiled-in file of the
// page that exists, or one of the seven pictures under its plain name in the
// work folder, or nothing; and it decides the same for the address the page
// would send again after reading it back.
#include <QDirIterator>
#include <QFile>
#include <QSet>
#include <QString>
#include <QUrl>
#include <cstddef>
#include <cstdint>

#include "ui/res_url.h"

namespace {

// Every file the program compiles in for the page, listed by Qt's own
// resource tree rather than by the decision under test.
const QSet<QString>& PageResources() {
  static const QSet<QString> files = [] {
    QSet<QString> found;
    QDirIterator it(QStringLiteral(":/res"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) found.insert(it.next());
    if (found.isEmpty()) __builtin_trap();
    return found;
  }();
  return files;
}

// Qt's channel script lives in its web channel library, which the reader
// links and this target does not: it is the one file served from outside the
// page's own tree.
bool IsChannelScript(const QString& name) { return name == u":/qtwebchannel/qwebchannel.js"; }

bool Acceptable(const qalv::ResTarget& target) {
  using Kind = qalv::ResTarget::Kind;
  switch (target.kind) {
    case Kind::kNone:
      return target.name.isEmpty();
    case Kind::kResource:
      return (PageResources().contains(target.name) && QFile(target.name).open(QIODevice::ReadOnly)) ||
             IsChannelScript(target.name);
    case Kind::kWorkPicture: {
      static const QStringList kSeven = {QStringLiteral("TTS"), QStringLiteral("TMS"), QStringLiteral("ITS"),
                                         QStringLiteral("IMS"), QStringLiteral("OTS"), QStringLiteral("OMS"),
                                         QStringLiteral("SNS")};
      return kSeven.contains(target.name);
    }
  }
  return false;
}

// Addresses the page and the reader use, in each form the scheme receives
// them, with what each must give: checked once, so that a decision that
// refuses the page's own files fails at once.
void CheckPageAddresses() {
  using Kind = qalv::ResTarget::Kind;
  static const bool checked = [] {
    const struct {
      const char* url;
      Kind kind;
      const char* name;
    } kUsed[] = {
        {"res:/HTML/104", Kind::kResource, ":/res/page/reader.html"},
        {"res:/CSS/reader.css", Kind::kResource, ":/res/page/reader.css"},
        {"res:/JS/online_answer.js", Kind::kResource, ":/res/page/online_answer.js"},
        {"res:/JS/json5.js", Kind::kResource, ":/res/page/json5.js"},
        {"res:/GIF/#172", Kind::kResource, ":/res/pictures/172.svg"},
        {"res:/GIF/%23172", Kind::kResource, ":/res/pictures/172.svg"},
        {"res:/WEB/139", Kind::kResource, ":/res/pictures/139.svg"},
        {"res:/PNG/#181", Kind::kResource, ":/res/pictures/181.svg"},
        {"res:/WORK/SNS?n=12", Kind::kWorkPicture, "SNS"},
        {"res:/WORK/ITS", Kind::kWorkPicture, "ITS"},
    };
    for (const auto& used : kUsed) {
      if (qalv::ResolveResUrl(QUrl(QString::fromUtf8(used.url))) !=
          qalv::ResTarget{used.kind, QString::fromUtf8(used.name)}) {
        __builtin_trap();
      }
    }
    return true;
  }();
  (void)checked;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckPageAddresses();
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QUrl url(text);
  const qalv::ResTarget target = qalv::ResolveResUrl(url);
  if (!Acceptable(target)) __builtin_trap();
  if (target.kind != qalv::ResTarget::Kind::kNone && !url.isValid()) __builtin_trap();
  // The address as Chromium hands it back: fully encoded, parsed anew.
  if (qalv::ResolveResUrl(QUrl(url.toString(QUrl::FullyEncoded))) != target) __builtin_trap();
  return 0;
}
