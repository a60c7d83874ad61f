#include "ui/shell/registration.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QStringView>
#include <optional>

#include "ui/shell/saved_file.h"

namespace qalv {
namespace {

constexpr char kDesktopId[] = "qalv-quv-reader.desktop";
constexpr char kPdfType[] = "application/pdf";
constexpr char kPackageType[] = "application/x-qalv-tpk";
constexpr char kAddedAssociations[] = "[Added Associations]";

// The desktop entry and the MIME type that a package installs; registration
// writes the same files for one user, the entry running this very executable.
constexpr char kDesktopEntryResource[] = ":/res/app/qalv-quv-reader.desktop";
constexpr char kMimeTypeResource[] = ":/res/app/qalv-tpk.xml";

struct Locations {
  QString applicationsFolder;
  QString mimeFolder;
  QString desktopFile;
  QString iconFile;
  QString mimeTypeFile;
  QString mimeAppsList;
};

// A relative value is invalid by the base-directory rules and is ignored.
QString XdgFolder(const char* variable, const char* defaultUnderHome) {
  const QString value = qEnvironmentVariable(variable);
  if (QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
  return QDir::homePath() + u'/' + QLatin1String(defaultUnderHome);
}

Locations FindLocations() {
  const QString data = XdgFolder("XDG_DATA_HOME", ".local/share");
  const QString config = XdgFolder("XDG_CONFIG_HOME", ".config");
  return {data + QStringLiteral("/applications"),
          data + QStringLiteral("/mime"),
          data + QStringLiteral("/applications/") + QLatin1String(kDesktopId),
          data + QStringLiteral("/icons/hicolor/scalable/apps/qalv-quv-reader.svg"),
          data + QStringLiteral("/mime/packages/qalv-tpk.xml"),
          config + QStringLiteral("/mimeapps.list")};
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes) {
  if (!QDir().mkpath(QFileInfo(path).path())) return false;
  return SaveFile(path, bytes) == 0;
}

// A missing file reads as empty; false when it exists but cannot be read.
bool ReadUnlessMissing(const QString& path, QByteArray& bytes) {
  QFile file(path);
  bytes.clear();
  if (!file.exists()) return true;
  if (!file.open(QIODevice::ReadOnly)) return false;
  bytes = file.readAll();
  return file.error() == QFileDevice::NoError;
}

bool RemoveIfPresent(const QString& path) { return !QFile::exists(path) || QFile::remove(path); }

// The path as one quoted Exec argument: inside the quotes ", `, $ and \ are
// escaped, and "%" is doubled so that it is not taken for a field code.
QString QuotedExecArgument(const QString& text) {
  QString quoted(u'"');
  for (const QChar c : text) {
    if (c == u'%') {
      quoted += QStringLiteral("%%");
      continue;
    }
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
    quoted += c;
  }
  return quoted + u'"';
}

// The escapes every string value of a desktop entry takes, applied on top of
// the Exec quoting.
QString EscapedDesktopString(const QString& text) {
  QString escaped;
  for (const QChar c : text) {
    switch (c.unicode()) {
      case u'\\':
        escaped += QStringLiteral("\\\\");
        break;
      case u'\n':
        escaped += QStringLiteral("\\n");
        break;
      case u'\t':
        escaped += QStringLiteral("\\t");
        break;
      case u'\r':
        escaped += QStringLiteral("\\r");
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::optional<QByteArray> ReadResource(const char* name) {
  QFile file(QString::fromLatin1(name));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.readAll();
}

// The installed entry with its Exec line running `executablePath`, and the
// reader offered for PDF files too: registration adds it to their Open-with
// list as well.
std::optional<QByteArray> DesktopEntry(const QString& executablePath) {
  std::optional<QByteArray> entry = ReadResource(kDesktopEntryResource);
  if (!entry) return std::nullopt;
  const QString exec =
      QuotedExecArgument(QFileInfo(executablePath).absoluteFilePath()) + QStringLiteral(" %f");
  QList<QByteArray> lines = entry->split('\n');
  for (QByteArray& line : lines) {
    if (line.startsWith("Exec=")) line = "Exec=" + EscapedDesktopString(exec).toUtf8();
    if (line.startsWith("MimeType=")) line = QByteArray("MimeType=") + kPackageType + ';' + kPdfType + ';';
  }
  return lines.join('\n');
}

// mimeapps.list is edited as its lines split at "\n", so that joining them
// gives back the same bytes: a final line break leaves an empty last element,
// and a file without one keeps lacking it.
using Lines = QList<QByteArray>;

QByteArray Content(const QByteArray& line) { return line.endsWith('\r') ? line.chopped(1) : line; }
bool IsBlank(const QByteArray& line) { return line.trimmed().isEmpty(); }
bool IsGroupHeader(const QByteArray& line) {
  const QByteArray text = line.trimmed();
  return text.startsWith('[') && text.endsWith(']');
}
bool IsAddedAssociations(const QByteArray& line) { return line.trimmed() == kAddedAssociations; }

// Where lines go at the end of the text: before the empty element of a final
// line break.
qsizetype EndOfText(const Lines& lines) {
  return !lines.isEmpty() && lines.last().isEmpty() ? lines.size() - 1 : lines.size();
}

qsizetype GroupEnd(const Lines& lines, qsizetype header) {
  qsizetype end = header + 1;
  while (end < EndOfText(lines) && !IsGroupHeader(lines[end])) ++end;
  return end;
}

struct KeyLine {
  QByteArray key;
  qsizetype valueStart = 0;
  qsizetype valueEnd = 0;  // before a carriage return
  QByteArray Value(const QByteArray& line) const { return line.mid(valueStart, valueEnd - valueStart); }
  QByteArray WithValue(const QByteArray& line, const QByteArray& value) const {
    return line.left(valueStart) + value + line.mid(valueEnd);
  }
};

std::optional<KeyLine> ParseKeyLine(const QByteArray& line) {
  const QByteArray content = Content(line);
  const qsizetype equals = content.indexOf('=');
  if (equals < 0) return std::nullopt;
  qsizetype valueStart = equals + 1;
  while (valueStart < content.size() && (content[valueStart] == ' ' || content[valueStart] == '\t')) {
    ++valueStart;
  }
  return KeyLine{content.left(equals).trimmed(), valueStart, content.size()};
}

bool HoldsOurEntry(const QByteArray& value) {
  for (const QByteArray& entry : value.split(';')) {
    if (entry.trimmed() == kDesktopId) return true;
  }
  return false;
}

// Placed so that WithoutOurEntry gives back `value` byte for byte.
QByteArray WithOurEntry(const QByteArray& value, bool preferred) {
  const QByteArray entry(kDesktopId);
  if (preferred) return entry + ';' + value;
  if (value.isEmpty() || value.endsWith(';')) return value + entry + ';';
  return value + ';' + entry;
}

QByteArray WithoutOurEntry(QByteArray value) {
  for (qsizetype start = 0; start <= value.size();) {
    qsizetype end = value.indexOf(';', start);
    if (end < 0) end = value.size();
    if (value.mid(start, end - start).trimmed() != kDesktopId) {
      start = end + 1;
    } else if (end < value.size()) {
      value.remove(start, end + 1 - start);
    } else {
      const qsizetype from = start > 0 ? start - 1 : 0;
      value.truncate(from);
    }
  }
  return value;
}

// Listed last the entry is offered without being preferred over the user's
// programs; listed first it is the type's program when no default is set.
void ListOurEntry(Lines& lines, const char* type, bool preferred) {
  qsizetype header = 0;
  while (header < EndOfText(lines) && !IsAddedAssociations(lines[header])) ++header;
  if (header == EndOfText(lines)) {
    qsizetype at = header;
    if (at > 0 && !IsBlank(lines[at - 1])) lines.insert(at++, QByteArray());
    lines.insert(at++, kAddedAssociations);
    lines.insert(at, type + QByteArray("=") + WithOurEntry({}, preferred));
    return;
  }
  const qsizetype end = GroupEnd(lines, header);
  qsizetype lastFilled = header;
  for (qsizetype i = header + 1; i < end; ++i) {
    const std::optional<KeyLine> keyLine = ParseKeyLine(lines[i]);
    if (keyLine && keyLine->key == type) {
      const QByteArray value = keyLine->Value(lines[i]);
      if (!HoldsOurEntry(value)) lines[i] = keyLine->WithValue(lines[i], WithOurEntry(value, preferred));
      return;
    }
    if (!IsBlank(lines[i])) lastFilled = i;
  }
  lines.insert(lastFilled + 1, type + QByteArray("=") + WithOurEntry({}, preferred));
}

// Takes our entry out of the two types' lines; a key left without programs
// goes, and so does a group left without keys. True when anything changed.
bool UnlistOurEntry(Lines& lines) {
  bool changed = false;
  for (qsizetype header = 0; header < EndOfText(lines); ++header) {
    if (!IsAddedAssociations(lines[header])) continue;
    qsizetype end = GroupEnd(lines, header);
    bool touched = false;
    for (qsizetype i = header + 1; i < end;) {
      const std::optional<KeyLine> keyLine = ParseKeyLine(lines[i]);
      if (keyLine && (keyLine->key == kPdfType || keyLine->key == kPackageType)) {
        const QByteArray value = keyLine->Value(lines[i]);
        const QByteArray rest = WithoutOurEntry(value);
        if (rest != value) {
          touched = true;
          if (rest.trimmed().isEmpty()) {
            lines.removeAt(i);
            --end;
            continue;
          }
          lines[i] = keyLine->WithValue(lines[i], rest);
        }
      }
      ++i;
    }
    changed = changed || touched;
    bool empty = touched;
    for (qsizetype i = header + 1; empty && i < end; ++i) empty = IsBlank(lines[i]);
    if (!empty) continue;
    // At the end of the text the blank lines before the group separated it
    // from the rest; elsewhere its own blank lines separate the next group.
    qsizetype first = header;
    if (end == EndOfText(lines)) {
      while (first > 0 && IsBlank(lines[first - 1])) --first;
    }
    lines.remove(first, end - first);
    header = first - 1;
  }
  return changed;
}

bool ListInMimeApps(const QString& mimeAppsList) {
  QByteArray bytes;
  if (!ReadUnlessMissing(mimeAppsList, bytes)) return false;
  Lines lines = bytes.split('\n');
  ListOurEntry(lines, kPdfType, false);
  ListOurEntry(lines, kPackageType, true);
  const QByteArray updated = lines.join('\n');
  return updated == bytes || WriteFileAtomically(mimeAppsList, updated);
}

bool UnlistFromMimeApps(const QString& mimeAppsList) {
  QByteArray bytes;
  if (!ReadUnlessMissing(mimeAppsList, bytes)) return false;
  Lines lines = bytes.split('\n');
  if (!UnlistOurEntry(lines)) return true;
  const QByteArray updated = lines.join('\n');
  if (updated.isEmpty()) return QFile::remove(mimeAppsList);
  return WriteFileAtomically(mimeAppsList, updated);
}

// The desktop's caches are rebuilt by its own tools; without them the files
// are still found, only later.
void RefreshCaches(const Locations& where) {
  if (QFileInfo::exists(where.mimeFolder)) {
    QProcess::execute(QStringLiteral("update-mime-database"), {where.mimeFolder});
  }
  if (QFileInfo::exists(where.applicationsFolder)) {
    QProcess::execute(QStringLiteral("update-desktop-database"), {where.applicationsFolder});
  }
}

}  // namespace

RegistrationSwitch ParseRegistrationSwitch(const QStringList& arguments) {
  static const QStringList kRegister{QStringLiteral("Register"), QStringLiteral("Regserver"),
                                     QStringLiteral("RegisterPerUser"), QStringLiteral("RegserverPerUser")};
  static const QStringList kUnregister{QStringLiteral("Unregister"), QStringLiteral("Unregserver"),
                                       QStringLiteral("UnregisterPerUser"),
                                       QStringLiteral("UnregserverPerUser")};
  RegistrationSwitch found = RegistrationSwitch::None;
  for (const QString& argument : arguments) {
    QStringView name(argument);
    if (name.startsWith(u"--")) {
      name = name.mid(2);
    } else if (name.startsWith(u'/') || name.startsWith(u'-')) {
      name = name.mid(1);
    } else {
      continue;
    }
    if (kRegister.contains(name, Qt::CaseInsensitive)) found = RegistrationSwitch::Register;
    if (kUnregister.contains(name, Qt::CaseInsensitive)) found = RegistrationSwitch::Unregister;
  }
  return found;
}

int RegisterReader(const QString& executablePath) {
  const Locations where = FindLocations();
  const std::optional<QByteArray> icon = ReadResource(kReaderIconResource);
  const std::optional<QByteArray> mimeType = ReadResource(kMimeTypeResource);
  const std::optional<QByteArray> entry = DesktopEntry(executablePath);
  if (!icon || !mimeType || !entry) return -1;
  const bool written = WriteFileAtomically(where.iconFile, *icon) &&
                       WriteFileAtomically(where.mimeTypeFile, *mimeType) &&
                       WriteFileAtomically(where.desktopFile, *entry) &&
                       ListInMimeApps(where.mimeAppsList);
  if (!written) return -1;
  RefreshCaches(where);
  return 0;
}

int UnregisterReader() {
  const Locations where = FindLocations();
  // Everything is attempted, so one stuck file leaves no more behind than it.
  bool removed = UnlistFromMimeApps(where.mimeAppsList);
  removed = RemoveIfPresent(where.desktopFile) && removed;
  removed = RemoveIfPresent(where.iconFile) && removed;
  removed = RemoveIfPresent(where.mimeTypeFile) && removed;
  RefreshCaches(where);
  return removed ? 0 : -1;
}

}  // namespace qalv
