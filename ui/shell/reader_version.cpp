#include "ui/shell/reader_version.h"

#include <QList>
#include <array>

namespace qalv {

QString FormatReaderVersion(QStringView versionText) {
  const QList<QStringView> fields = versionText.split(u'.');
  if (fields.size() != 4) return {};
  std::array<unsigned, 4> numbers{};
  auto number = numbers.begin();
  for (const QStringView field : fields) {
    // toUInt alone would take a sign and surrounding blanks.
    if (field.isEmpty()) return {};
    for (const QChar c : field) {
      if (c < u'0' || c > u'9') return {};
    }
    bool ok = false;
    *number = field.toUInt(&ok);
    if (!ok || *number > 0xFFFF) return {};
    ++number;
  }
  return QString::asprintf("%u.%u.%u.%u", numbers[0], numbers[1], numbers[2], numbers[3]);
}

QString GetReaderVersion() { return FormatReaderVersion(QStringLiteral(QALV_VERSION)); }

}  // namespace qalv
