// A page for tests: records every write in order and answers what an element
// was last given.
#pragma once

#include <QString>
#include <optional>
#include <ostream>
#include <vector>

#include "tests/gui/support/qt_print.h"
#include "ui/element_writer.h"

namespace qalv::test {

struct PageWrite {
  enum class Op { kAttribute, kHtml, kStyle };
  Op op;
  QString id;
  QString name;  // attribute or style property; empty for inner HTML
  QString value;

  bool operator==(const PageWrite&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const PageWrite& w) {
  static const char* const kOps[] = {"attribute", "html", "style"};
  return out << kOps[static_cast<int>(w.op)] << "(" << w.id.toStdString() << ", "
             << w.name.toStdString() << ", \"" << w.value.toStdString() << "\")";
}

inline PageWrite Attribute(const QString& id, const QString& name, const QString& value) {
  return {PageWrite::Op::kAttribute, id, name, value};
}
inline PageWrite Html(const QString& id, const QString& value) {
  return {PageWrite::Op::kHtml, id, {}, value};
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
  std::optional<QString> LastStyle(const QString& id, const QString& property) const {
    return Last(PageWrite::Op::kStyle, id, property);
  }

  std::vector<PageWrite> writes;

 private:
  std::optional<QString> Last(PageWrite::Op op, const QString& id, const QString& name) const {
    for (auto w = writes.rbegin(); w != writes.rend(); ++w) {
      if (w->op == op && w->id == id && w->name == name) return w->value;
    }
    return std::nullopt;
  }
};

}  // namespace qalv::test
