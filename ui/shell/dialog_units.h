// Dialog layouts are kept in dialog units, as the original dialog templates
// were: a quarter of the font's average character width across, an eighth of
// its height down, so they scale with the dialog's font.
#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QSize>

namespace qalv {

class DialogUnits {
 public:
  explicit DialogUnits(const QFontMetrics& metrics)
      : across_(metrics.averageCharWidth()), down_(metrics.height()) {}

  QRect Rect(int x, int y, int width, int height) const {
    return QRect(Across(x), Down(y), Across(width), Down(height));
  }
  QSize Size(int width, int height) const { return QSize(Across(width), Down(height)); }

 private:
  int Across(int units) const { return (units * across_ + 2) / 4; }
  int Down(int units) const { return (units * down_ + 4) / 8; }

  int across_;
  int down_;
};

}  // namespace qalv
