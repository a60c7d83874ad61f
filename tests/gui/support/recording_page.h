// A page for tests: records every write in order and answers what an element
// was last given.
#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <ostream>
#include <vector>

#include "tests/gui/support/qt_print.h"
#include "ui/element_writer.h"

namespace qalv::test {

struct PageWrite {
  enum class Op { kAttribute, kHtml, kText, kMenu, kStyle };
  Op op;
  QString id;
  QString name;  // attribute or style property; empty otherwise
  QString value;  // a menu's items joined by newlines

  bool operator==(const PageWrite&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const PageWrite& w) {
  static const char* const kOps[] = {"attribute", "html", "text", "menu", "style"};
  return out << kOps[static_cast<int>(w.op)] << "(" << w.id.toStdString() << ", "
             << w.name.toStdString() << ", \"" << w.value.toStdString() << "\")";
}

inline PageWrite Attribute(const QString& id, const QString& name, const QString& value) {
  return {PageWrite::Op::kAttribute, id, name, value};
}
inline PageWrite Html(const QString& id, const QString& value) {
  return {PageWrite::Op::kHtml, id, {}, value};
}
inline PageWrite Text(const QString& id, const QString& value) {
  return {PageWrite::Op::kText, id, {}, value};
}
inline PageWrite Menu(const QString& id, const QStringList& items) {
  return {PageWrite::Op::kMenu, id, {}, items.join(u'\n')};
}
inline PageWrite Style(const QString& id, const QString& property, const QString& value) {
  return {PageWrite::Op::kStyle, id, property, value};
}

class RecordingPage : public ElementWriter {
 public:
  void SetElementAttribute(const QString& id, const QString& name, const QString& value) override {
    writes.push_back(Attribute(id, name, value));
  }
  void SetElementInnerHtml(const QString& id, const QString& html) override {
    writes.push_back(Html(id, html));
  }
  void SetElementText(const QString& id, const QString& text) override { writes.push_back(Text(id, text)); }
  void SetMenuItems(const QString& id, const QStringList& items) override {
    writes.push_back(Menu(id, items));
    menus[id] = items;
  }
  void SetElementStyle(const QString& id, const QString& property, const QString& value) override {
    writes.push_back(Style(id, property, value));
  }

  // The last value written to the element's attribute, inner HTML or style
  // property; nullopt when it was never written.
  std::optional<QString> LastAttribute(const QString& id, const QString& name) const {
    return Last(PageWrite::Op::kAttribute, id, name);
  }
  std::optional<QString> LastHtml(const QString& id) const {
    return Last(PageWrite::Op::kHtml, id, {});
  }
  std::optional<QString> LastText(const QString& id) const {
    return Last(PageWrite::Op::kText, id, {});
  }
  // The element's last content, written as text or as markup.
  std::optional<QString> LastContent(const QString& id) const {
    for (auto w = writes.rbegin(); w != writes.rend(); ++w) {
      if ((w->op == PageWrite::Op::kText || w->op == PageWrite::Op::kHtml) && w->id == id) return w->value;
    }
    return std::nullopt;
  }
  std::optional<QString> LastStyle(const QString& id, const QString& property) const {
    return Last(PageWrite::Op::kStyle, id, property);
  }

  std::vector<PageWrite> writes;
  std::map<QString, QStringList> menus;  // each menu's items as last written

 private:
  std::optional<QString> Last(PageWrite::Op op, const QString& id, const QString& name) const {
    for (auto w = writes.rbegin(); w != writes.rend(); ++w) {
      if (w->op == op && w->id == id && w->name == name) return w->value;
    }
    return std::nullopt;
  }
};

}  // namespace qalv::test
