#include "ui/backup_copy.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/secure_buffer.h"

namespace qalv {
namespace {

constexpr qint64 kChunk = 1 << 20;

void Tell(ReaderContext& reader, const char* caption, OwnerWindow::Icon icon, const QString& text) {
  reader.policy.ownerWindow->ShowMessage(
      {caption, text.toStdString(), icon, OwnerWindow::Buttons::kOk});
}

// Copies through a temporary file beside the target that replaces it only when
// complete: a failure leaves an existing target as it was and no partial
// file, and a file copied onto itself survives. "" on success, else the
// system's text for the failure.
QString CopyFile(const QString& source, const QString& target) {
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) return in.errorString();
  QSaveFile out(target);
  // Unbuffered: a buffered write that fails only when flushed at commit goes
  // unnoticed here, and a truncated copy would replace the target.
  if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return out.errorString();
  SecureBuffer chunk;
  if (!chunk.Allocate(kChunk)) return QString::fromLocal8Bit(std::strerror(ENOMEM));
  char* bytes = reinterpret_cast<char*>(chunk.data());
  for (;;) {
    const qint64 read = in.read(bytes, kChunk);
    if (read < 0) return in.errorString();
    if (read == 0) break;
    // A short write is retried: the retry fails with the system's reason.
    for (qint64 done = 0; done < read;) {
      const qint64 written = out.write(bytes + done, read - done);
      if (written <= 0) return out.errorString();
      done += written;
    }
  }
  in.close();
  if (!out.commit()) return out.errorString();
  return {};
}

}  // namespace

QString BackupProposal(const QString& policyPath) {
  const qsizetype separator = std::max(policyPath.lastIndexOf(u'/'), policyPath.lastIndexOf(u'\\'));
  return QStringLiteral("backup_") + policyPath.mid(separator + 1);
}

void CopyTpk(ReaderContext& reader,
             const std::function<QString(const QString& proposedName)>& chooseTarget) {
  const QString source = reader.policyPath;
  if (source.isEmpty()) {
    Tell(reader, "資訊", OwnerWindow::Icon::kInformation, QString::fromUtf8("請先開啟電子保單"));
    return;
  }
  if (!QFileInfo::exists(source)) {
    Tell(reader, "資訊", OwnerWindow::Icon::kInformation,
         QString::fromUtf8("原始保單檔案不存在，無法備份"));
    return;
  }
  const QString target = chooseTarget(BackupProposal(source));
  if (target.isEmpty()) return;
  const QString failure = CopyFile(source, target);
  if (failure.isEmpty()) {
    Tell(reader, "資訊", OwnerWindow::Icon::kInformation, QString::fromUtf8("已備份至") + target);
  } else {
    Tell(reader, "錯誤", OwnerWindow::Icon::kError, QString::fromUtf8("備份失敗：") + failure);
  }
}

}  // namespace qalv
