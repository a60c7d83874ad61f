// The reader's only ways of writing into its page. The window implements them
// over the web view; tests record them.
#pragma once

#include <QString>
#include <QStringList>

namespace qalv {

class ElementWriter {
 public:
  virtual ~ElementWriter() = default;

  // Sets the element's attribute to the value (src of images, value of inputs).
  virtual void SetElementAttribute(const QString& id, const QString& name, const QString& value) = 0;
  // Replaces the element's inner HTML; the page sanitizes the markup first.
  // For texts a package or a service wrote.
  virtual void SetElementInnerHtml(const QString& id, const QString& html) = 0;
  // Replaces the element's content with the text as it is, never parsed: for
  // the reader's own words.
  virtual void SetElementText(const QString& id, const QString& text) = 0;
  // Replaces the element's children with one text item per entry, in order.
  virtual void SetMenuItems(const QString& id, const QStringList& items) = 0;
  // Sets one style property (display, color).
  virtual void SetElementStyle(const QString& id, const QString& property, const QString& value) = 0;
};

}  // namespace qalv
