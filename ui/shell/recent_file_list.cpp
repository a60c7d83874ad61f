#include "ui/shell/recent_file_list.h"

#include <QSettings>
#include <QVariant>
#include <algorithm>

namespace qalv {
namespace {

using Slots = std::array<QString, RecentFileList::kSlots>;

constexpr char kSection[] = "Recent File List";

QString ValueName(std::size_t index) { return QStringLiteral("File%1").arg(index + 1); }

// The stored entries in their order, each once. Another program or the user
// may have written the file: a value that is no single path (missing, blank,
// a list read from an unquoted comma) takes no slot, so that the entries
// after it move up instead of hiding behind an unused slot.
Slots Stored(QSettings& settings) {
  Slots entries;
  auto used = entries.begin();
  settings.beginGroup(kSection);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const QVariant value = settings.value(ValueName(i));
    if (value.typeId() != QMetaType::QString) continue;
    QString path = value.toString();
    if (path.trimmed().isEmpty() || std::find(entries.begin(), used, path) != used) continue;
    *used++ = std::move(path);
  }
  settings.endGroup();
  return entries;
}

void MoveToTop(Slots& entries, const QString& path) {
  auto same = std::find(entries.begin(), entries.end(), path);
  // Without a match the last slot drops off.
  if (same == entries.end()) --same;
  std::move_backward(entries.begin(), same, same + 1);
  entries.front() = path;
}

// Later entries move up.
void RemoveAt(Slots& entries, Slots::iterator entry) {
  std::move(entry + 1, entries.end(), entry);
  entries.back().clear();
}

}  // namespace

void RecentFileList::Add(const QString& path) {
  // A blank entry would end the menu at the top and hide every older entry.
  if (path.trimmed().isEmpty()) return;
  MoveToTop(slots_, path);
  changes_.push_back({true, path});
}

void RecentFileList::Remove(std::size_t index) {
  if (index >= kSlots) return;
  changes_.push_back({false, slots_[index]});
  RemoveAt(slots_, slots_.begin() + index);
}

const QString& RecentFileList::Slot(std::size_t index) const {
  static const QString kEmpty;
  return index < kSlots ? slots_[index] : kEmpty;
}

void RecentFileList::Load(QSettings& settings) {
  slots_ = Stored(settings);
  changes_.clear();
}

void RecentFileList::Save(QSettings& settings) {
  // sync() takes in what another reader wrote to the file since this one read
  // it; the second sync() writes the merged list at once, so that the time in
  // which a third writer could be missed stays short. QSettings replaces the
  // file atomically. A run that changed nothing writes nothing.
  settings.sync();
  Slots merged = Stored(settings);
  if (!changes_.empty()) {
    for (const Change& change : changes_) {
      if (change.added) {
        MoveToTop(merged, change.path);
      } else if (const auto entry = std::find(merged.begin(), merged.end(), change.path);
                 entry != merged.end()) {
        RemoveAt(merged, entry);
      }
    }
    settings.beginGroup(kSection);
    for (std::size_t i = 0; i < kSlots; ++i) {
      if (merged[i].isEmpty()) {
        settings.remove(ValueName(i));
      } else {
        settings.setValue(ValueName(i), merged[i]);
      }
    }
    settings.endGroup();
    settings.sync();
  }
  slots_ = std::move(merged);
  changes_.clear();
}

}  // namespace qalv
