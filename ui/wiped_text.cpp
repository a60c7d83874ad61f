#include "ui/wiped_text.h"

#include <mbedtls/platform_util.h>

namespace qalv {

void WipeText(QString& text) {
  if (text.isDetached() && !text.isEmpty()) {
    mbedtls_platform_zeroize(text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
  }
  text = QString();
}

void WipeBytes(QByteArray& bytes) {
  if (bytes.isDetached() && !bytes.isEmpty()) {
    mbedtls_platform_zeroize(bytes.data(), static_cast<size_t>(bytes.size()));
  }
  bytes = QByteArray();
}

}  // namespace qalv
