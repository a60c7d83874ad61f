// Saving a file the user keeps (a backup, a report, a certificate, a desktop
// entry) through Qt's QSaveFile, which replaces the target only once the new
// content is complete.
#pragma once

#include <QByteArray>
#include <QString>

class QSaveFile;
class QSettings;

namespace qalv {

// Commits the file once its bytes are on the disk: QSaveFile's own commit
// ignores a failed flush to the disk, and a file renamed into place whose
// blocks never got there may be empty after a crash. On false errno tells
// why (0 when Qt failed without a system call), the target is as it was and
// the temporary file is gone.
[[nodiscard]] bool CommitToDisk(QSaveFile& file);

// Replaces the file at `path` with `bytes` as above: 0, or the errno of the
// step that failed (EISDIR for a folder, which Qt refuses by itself).
[[nodiscard]] int SaveFile(const QString& path, const QByteArray& bytes);

// Writes out what was set in `settings` (QSettings, too, replaces its file
// only with a complete one): 0, or the errno of the failed step (EIO when
// none is known). A failed flush to the disk is reported though the new file
// has taken the name by then.
[[nodiscard]] int SaveSettings(QSettings& settings);

}  // namespace qalv
