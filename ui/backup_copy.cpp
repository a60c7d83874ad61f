#include "ui/backup_copy.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

#include "platform/secure_buffer.h"
#include "platform/system_error.h"
#include "ui/shell/saved_file.h"

namespace qalv {
namespace {

constexpr qint64 kChunk = 1 << 20;

void Tell(ReaderContext& reader, const char* caption, OwnerWindow::Icon icon, const QString& text) {
  reader.policy.ownerWindow->ShowMessage(
      {caption, text.toStdString(), icon, OwnerWindow::Buttons::kOk});
}

// The errno behind a Qt file call that just failed. errno is cleared before
// each call, so an older error is never blamed; Qt refuses a folder at either
// end by itself, with no failing system call, and that is the one refusal
// that leaves errno clear.
int FailedCallError() { return errno != 0 ? errno : EISDIR; }

// Copies through a temporary file beside the target that replaces it only when
// complete: a failure leaves an existing target as it was and no partial
// file, and a file copied onto itself survives. 0 on success, else the errno
// of the step that failed.
int CopyFile(const QString& source, const QString& target) {
  QFile in(source);
  errno = 0;
  if (!in.open(QIODevice::ReadOnly)) return FailedCallError();
  QSaveFile out(target);
  // Unbuffered: a buffered write that fails only when flushed at commit goes
  // unnoticed here, and a truncated copy would replace the target.
  errno = 0;
  if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return FailedCallError();
  SecureBuffer chunk;
  if (!chunk.Allocate(kChunk)) return ENOMEM;
  char* bytes = reinterpret_cast<char*>(chunk.data());
  for (;;) {
    errno = 0;
    const qint64 read = in.read(bytes, kChunk);
    if (read < 0) return FailedCallError();
    if (read == 0) break;
    // A short write is retried: the retry fails with the system's reason.
    for (qint64 done = 0; done < read;) {
      errno = 0;
      const qint64 written = out.write(bytes + done, read - done);
      if (written <= 0) return FailedCallError();
      done += written;
    }
  }
  in.close();
  errno = 0;
  if (!CommitToDisk(out)) return FailedCallError();
  return 0;
}

}  // namespace

QString BackupProposal(const QString& policyPath) {
  return QStringLiteral("backup_") + policyPath.mid(policyPath.lastIndexOf(u'/') + 1);
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
  const int failure = CopyFile(source, target);
  if (failure == 0) {
    Tell(reader, "資訊", OwnerWindow::Icon::kInformation, QString::fromUtf8("已備份至") + target);
  } else {
    Tell(reader, "錯誤", OwnerWindow::Icon::kError,
         QString::fromUtf8("備份失敗：") + QString::fromStdString(SystemErrorText(failure)));
  }
}

}  // namespace qalv
