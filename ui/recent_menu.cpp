#include "ui/recent_menu.h"

#include <QFileInfo>
#include <optional>

#include "ui/render_policy.h"

namespace qalv {
namespace {

constexpr char kItemStart[] =
    R"item(<div onclick="openRecently(this)" onmouseover="itemOver(this)" onmouseout="itemOut(this)">)item";

// Longest reference we decode, "#x10FFFF".
constexpr qsizetype kLongestReference = 8;

std::optional<QString> DecodeReference(QStringView name) {
  static const struct {
    QStringView name;
    char16_t character;
  } kNamed[] = {
      {u"amp", u'&'}, {u"lt", u'<'}, {u"gt", u'>'}, {u"quot", u'"'}, {u"nbsp", u'\u00A0'}};
  for (const auto& named : kNamed) {
    if (name == named.name) return QString(QChar(named.character));
  }
  if (!name.startsWith(u'#')) return std::nullopt;
  QStringView digits = name.sliced(1);
  int base = 10;
  if (digits.startsWith(u'x') || digits.startsWith(u'X')) {
    digits = digits.sliced(1);
    base = 16;
  }
  bool ok = false;
  const char32_t code = digits.toUInt(&ok, base);
  if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return std::nullopt;
  }
  return QString::fromUcs4(&code, 1);
}

// The text of an item's inner HTML as a browser serialises it: the entities
// it writes for a text node (&amp; &lt; &gt; &nbsp;), &quot; and numeric
// references. Anything else stays as written.
QString UnescapeHtml(const QString& html) {
  QString text;
  text.reserve(html.size());
  for (qsizetype i = 0; i < html.size();) {
    if (html[i] == u'&') {
      const QStringView window = QStringView(html).sliced(i + 1).left(kLongestReference + 1);
      const qsizetype end = window.indexOf(u';');
      if (end > 0) {
        if (const std::optional<QString> decoded = DecodeReference(window.left(end))) {
          text += *decoded;
          i += end + 2;
          continue;
        }
      }
    }
    text += html[i];
    ++i;
  }
  return text;
}

}  // namespace

void RefreshRecentMenu(ElementWriter& page, const RecentFileList& recent) {
  QString items;
  for (std::size_t i = 0; i < RecentFileList::kSlots; ++i) {
    const QString& path = recent.Slot(i);
    if (path.trimmed().isEmpty()) break;
    // Escaped so that the path comes back whole through the item's inner HTML.
    items += QLatin1StringView(kItemStart) + path.toHtmlEscaped() + QLatin1StringView("</div>");
  }
  page.SetElementInnerHtml("menuPad", items);
}

void OpenRecently(ReaderContext& reader, const QString& itemHtml) {
  const QString path = UnescapeHtml(itemHtml);
  if (QFileInfo::exists(path)) {
    reader.policyPath = path;
    RenderPolicy(reader);
  } else {
    reader.policy.ownerWindow->ShowMessage(
        {"資訊", (path + QString::fromUtf8("不存在或無法存取。")).toStdString(),
         OwnerWindow::Icon::kInformation, OwnerWindow::Buttons::kOk});
    for (std::size_t i = 0; i < RecentFileList::kSlots; ++i) {
      if (reader.recent.Slot(i) == path) {
        reader.recent.Remove(i);
        break;
      }
    }
  }
  RefreshRecentMenu(reader.page, reader.recent);
}

}  // namespace qalv
