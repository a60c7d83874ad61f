#include "ui/shell/saved_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
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

int SaveSettings(QSettings& settings) {
  errno = 0;
  settings.sync();
  if (settings.status() != QSettings::NoError) return errno != 0 ? errno : EIO;
  // QSettings takes its new file even when flushing it to the disk failed;
  // flushing it once more is how that failure comes to light.
  const int fd = open(QFile::encodeName(settings.fileName()).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  const bool synced = fsync(fd) == 0;
  const int reason = errno;
  close(fd);
  return synced ? 0 : reason;
}

}  // namespace qalv
