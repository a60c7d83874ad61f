// The reader's only ways of writing into its page. The window implements them
// over the web view; tests record them.
#pragma once

#include <QString>

namespace qalv {

class ElementWriter {
 public:
  virtual ~ElementWriter() = default;

  // Sets the element's attribute to the value (src of images, value of inputs).
  virtual void SetElementAttribute(const QString& id, const QString& name, const QString& value) = 0;
  // Replaces the element's inner HTML; the page sanitizes the markup first.
  virtual void SetElementInnerHtml(const QString& id, const QString& html) = 0;
  // Sets one style property (display, color).
  virtual void SetElementStyle(const QString& id, const QString& property, const QString& value) = 0;
};

}  // namespace qalv
