// The application's list of recently opened policy files: ten slots, most
// recent first, kept for the whole run and saved between runs.
#pragma once

#include <QString>
#include <array>
#include <cstddef>

class QSettings;

namespace qalv {

class RecentFileList {
 public:
  static constexpr std::size_t kSlots = 10;

  // Moves an entry naming the same file (letter case ignored) to the top, or
  // puts the path on top and drops the tenth entry.
  void Add(const QString& path);
  // Removes the entry at `index`; later entries move up.
  void Remove(std::size_t index);
  // The slot's text; empty for an unused slot or an index past the end.
  const QString& Slot(std::size_t index) const;

  // Section "Recent File List", values "File1".."File10".
  void Load(QSettings& settings);
  void Save(QSettings& settings) const;

 private:
  std::array<QString, kSlots> slots_;
};

}  // namespace qalv
