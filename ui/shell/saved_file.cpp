#include "ui/shell/saved_file.h"

#include <unistd.h>

#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

namespace qalv {

bool CommitToDisk(QSaveFile& file) {
  errno = 0;
  if (!file.flush() || fsync(file.handle()) != 0) {
    const int reason = errno;
    file.cancelWriting();
    static_cast<void>(file.commit());
    errno = reason;
    return false;
  }
  return file.commit();
}

int SaveFile(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  // errno is cleared before each call, so an older error is never blamed.
  errno = 0;
  const bool saved = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
                     file.write(bytes) == bytes.size() && CommitToDisk(file);
  if (saved) return 0;
  if (errno != 0) return errno;
  return QFileInfo(path).isDir() ? EISDIR : EIO;
}

}  // namespace qalv
