// The application's list of recently opened policy files: ten slots, most
// recent first, kept for the whole run and saved between runs. Several
// readers may run at once, so saving merges this run's changes into what is
// stored instead of writing over it.
#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <vector>

class QSettings;

namespace qalv {

class RecentFileList {
 public:
  static constexpr std::size_t kSlots = 10;

  // Moves the entry naming exactly this path to the top, or puts the path on
  // top and drops the tenth entry. Paths differing in letter case are
  // different files.
  void Add(const QString& path);
  // Removes the entry at `index`; later entries move up.
  void Remove(std::size_t index);
  // The slot's text; empty for an unused slot or an index past the end.
  const QString& Slot(std::size_t index) const;

  // Section "Recent File List", values "File1".."File10". Loading starts a
  // run: the list becomes the stored one, with no changes of its own.
  void Load(QSettings& settings);
  // Reads the stored list afresh (another reader may have saved since this
  // one loaded), applies this run's additions and removals to it in the
  // order they were made, and writes the result, which becomes this list.
  void Save(QSettings& settings);

 private:
  struct Change {
    bool added;  // else removed
    QString path;
  };

  std::array<QString, kSlots> slots_;
  std::vector<Change> changes_;  // since the last Load or Save
};

}  // namespace qalv
