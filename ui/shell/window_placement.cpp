#include "ui/shell/window_placement.h"

#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace qalv {
namespace {

const QString kGroup = QStringLiteral("Window");

// The frame around the inner area: the title bar the window manager adds,
// known only once shown, so taken from the style before.
QSize Decoration(const QWidget& window) {
  const QSize shown = window.frameGeometry().size() - window.geometry().size();
  if (window.isVisible() && !shown.isEmpty()) return shown;
  return QSize(0, window.style()->pixelMetric(QStyle::PM_TitleBarHeight));
}

}  // namespace

QRect FitFrame(const QRect& wanted, QSize designed, QSize minimum, const QRect& available) {
  QRect frame = wanted.isValid() ? wanted : QRect(QPoint(), designed);
  const QSize floor = minimum.boundedTo(available.size());
  frame.setSize(frame.size().boundedTo(available.size()).expandedTo(floor));
  if (!wanted.isValid()) frame.moveCenter(available.center());
  frame.moveLeft(std::clamp(frame.left(), available.left(), available.right() - frame.width() + 1));
  frame.moveTop(std::clamp(frame.top(), available.top(), available.bottom() - frame.height() + 1));
  return frame;
}

QRect StoredFrame(QSettings& settings) {
  settings.beginGroup(kGroup);
  const QRect stored(settings.value(QStringLiteral("Left"), 0).toInt(), settings.value(QStringLiteral("Top"), 0).toInt(),
                     settings.value(QStringLiteral("Width"), 0).toInt(),
                     settings.value(QStringLiteral("Height"), 0).toInt());
  settings.endGroup();
  return stored;
}

void PlaceWindow(QWidget& window, const QRect& stored, QSize designed) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) {
    window.resize(designed);
    return;
  }
  const QSize decoration = Decoration(window);
  const QRect frame = FitFrame(stored, designed + decoration, window.minimumSize() + decoration,
                               screen->availableGeometry());
  window.resize(frame.size() - decoration);
  window.move(frame.topLeft());
}

void SavePlacement(const QWidget& window, QSettings& settings) {
  const QRect frame = window.isMaximized() || window.isMinimized()
                          ? QRect(window.normalGeometry().topLeft(), window.normalGeometry().size() + Decoration(window))
                          : window.frameGeometry();
  settings.beginGroup(kGroup);
  settings.setValue(QStringLiteral("Left"), frame.left());
  settings.setValue(QStringLiteral("Top"), frame.top());
  settings.setValue(QStringLiteral("Width"), frame.width());
  settings.setValue(QStringLiteral("Height"), frame.height());
  settings.endGroup();
}

}  // namespace qalv
