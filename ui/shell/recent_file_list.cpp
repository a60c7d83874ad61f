#include "ui/shell/recent_file_list.h"

#include <QSettings>
#include <algorithm>

namespace qalv {
namespace {

constexpr char kSection[] = "Recent File List";

QString ValueName(std::size_t index) { return QStringLiteral("File%1").arg(index + 1); }

}  // namespace

void RecentFileList::Add(const QString& path) {
  // A blank entry would end the menu at the top and hide every older entry.
  if (path.trimmed().isEmpty()) return;
  auto same = std::find_if(slots_.begin(), slots_.end() - 1, [&](const QString& slot) {
    return QString::compare(slot, path, Qt::CaseInsensitive) == 0;
  });
  // Without a match `same` is the last slot, which drops off.
  std::move_backward(slots_.begin(), same, same + 1);
  slots_.front() = path;
}

void RecentFileList::Remove(std::size_t index) {
  if (index >= kSlots) return;
  std::move(slots_.begin() + index + 1, slots_.end(), slots_.begin() + index);
  slots_.back().clear();
}

const QString& RecentFileList::Slot(std::size_t index) const {
  static const QString kEmpty;
  return index < kSlots ? slots_[index] : kEmpty;
}

void RecentFileList::Load(QSettings& settings) {
  settings.beginGroup(kSection);
  for (std::size_t i = 0; i < kSlots; ++i) slots_[i] = settings.value(ValueName(i)).toString();
  settings.endGroup();
}

void RecentFileList::Save(QSettings& settings) const {
  settings.beginGroup(kSection);
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (slots_[i].isEmpty()) {
      settings.remove(ValueName(i));
    } else {
      settings.setValue(ValueName(i), slots_[i]);
    }
  }
  settings.endGroup();
}

}  // namespace qalv
