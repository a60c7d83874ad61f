// The recent-file list as the reader keeps it in its settings file, which
// another reader or the user may have written anything into. The input up to
// its first zero byte is the settings file (INI, as on Linux); the bytes after
// it drive the list: additions, removals, saves, and another reader adding
// and saving in between. After every step the list has at most ten entries,
// none blank and none twice, with no unused slot above a used one; an added
// path is on top, a removed entry is gone with the others in their order, and
// what a save wrote loads back equal into a reader that starts afresh.
#include <QFile>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "ui/shell/recent_file_list.h"

namespace {

using qalv::RecentFileList;

std::vector<QString> Entries(const RecentFileList& list) {
  std::vector<QString> entries;
  for (std::size_t i = 0; i < RecentFileList::kSlots; ++i) entries.push_back(list.Slot(i));
  return entries;
}

void CheckShape(const RecentFileList& list) {
  bool unused = false;
  const std::vector<QString> entries = Entries(list);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].isEmpty()) {
      unused = true;
      continue;
    }
    if (unused || entries[i].trimmed().isEmpty()) __builtin_trap();
    for (std::size_t j = 0; j < i; ++j) {
      if (entries[j] == entries[i]) __builtin_trap();
    }
  }
  if (!list.Slot(RecentFileList::kSlots).isEmpty()) __builtin_trap();
}

// Each input gets files of its own: QSettings keeps what it read of a file
// and takes it to be unchanged while its size and time stamp are.
QString NewFile() {
  static QTemporaryDir dir;
  static unsigned count = 0;
  if (!dir.isValid()) __builtin_trap();
  return dir.filePath(QStringLiteral("%1.ini").arg(++count));
}

// The list a reader starting now would load from a copy of `path`.
std::vector<QString> LoadedAfresh(const QString& path) {
  const QString copy = NewFile();
  if (!QFile::copy(path, copy)) __builtin_trap();
  std::vector<QString> entries;
  {
    QSettings settings(copy, QSettings::IniFormat);
    RecentFileList list;
    list.Load(settings);
    entries = Entries(list);
  }
  QFile::remove(copy);
  return entries;
}

class Steps {
 public:
  explicit Steps(std::string_view bytes) : bytes_(bytes) {}
  bool done() const { return bytes_.empty(); }
  uint8_t Next() {
    const auto byte = static_cast<uint8_t>(bytes_.front());
    bytes_.remove_prefix(1);
    return byte;
  }
  QString Text(std::size_t length) {
    const std::string_view text = bytes_.substr(0, length);
    bytes_.remove_prefix(text.size());
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  }

 private:
  std::string_view bytes_;
};

// A path to add: an entry the list has (moved to the top) or new text.
QString PathToAdd(uint8_t argument, const RecentFileList& list, Steps& steps) {
  if (argument < RecentFileList::kSlots) return list.Slot(argument);
  return steps.Text(argument - RecentFileList::kSlots);
}

void Add(RecentFileList& list, const QString& path) {
  list.Add(path);
  if (!path.trimmed().isEmpty() && list.Slot(0) != path) __builtin_trap();
}

void Remove(RecentFileList& list, std::size_t index) {
  std::vector<QString> expected = Entries(list);
  if (index < expected.size()) {
    expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(index));
    expected.emplace_back();
  }
  list.Remove(index);
  if (Entries(list) != expected) __builtin_trap();
}

void Save(RecentFileList& list, QSettings& settings) {
  list.Save(settings);
  // A format error tells of what was read, and the file is written all the
  // same; only a file that cannot be written is a failed save.
  if (settings.status() == QSettings::AccessError) __builtin_trap();
  if (LoadedAfresh(settings.fileName()) != Entries(list)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t end = input.find('\0');
  const std::string_view stored = input.substr(0, end);
  Steps steps(end == std::string_view::npos ? std::string_view() : input.substr(end + 1));

  const QString path = NewFile();
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(stored.data(), static_cast<qint64>(stored.size())) != static_cast<qint64>(stored.size())) {
      __builtin_trap();
    }
  }
  {
    QSettings settings(path, QSettings::IniFormat);
    RecentFileList list;
    list.Load(settings);
    CheckShape(list);
    while (!steps.done()) {
      const uint8_t step = steps.Next();
      const uint8_t argument = step >> 2;
      switch (step & 3) {
        case 0:
          Add(list, PathToAdd(argument, list, steps));
          break;
        case 1:
          Remove(list, argument % (RecentFileList::kSlots + 2));
          break;
        case 2:
          Save(list, settings);
          break;
        case 3: {
          // Another reader on the same file adds a path and saves first.
          QSettings theirs(path, QSettings::IniFormat);
          RecentFileList other;
          other.Load(theirs);
          Add(other, PathToAdd(argument, other, steps));
          Save(other, theirs);
          CheckShape(other);
          break;
        }
      }
      CheckShape(list);
    }
  }
  QFile::remove(path);
  return 0;
}
