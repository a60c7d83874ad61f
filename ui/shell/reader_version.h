// The reader's own version: the project version compiled into the program,
// in the four-field form that the update offer compares and the title shows.
#pragma once

#include <QString>
#include <QStringView>

namespace qalv {

// "%d.%d.%d.%d" from four dot-separated fields of decimal digits, each at most
// 65535 (a version resource's 16-bit halves); empty for any other text.
QString FormatReaderVersion(QStringView versionText);

// The compiled-in version (QALV_VERSION) in that form.
QString GetReaderVersion();

}  // namespace qalv
