// Page writes over the web view: each becomes a call of the page's qalvHost
// helpers through runJavaScript, which runs snippets in the order given.
#pragma once

#include <QPointer>
#include <QWebEnginePage>
#include <functional>

#include "ui/element_writer.h"

namespace qalv {

class WebPageWriter : public ElementWriter {
 public:
  explicit WebPageWriter(QWebEnginePage* page) : page_(page) {}

  void SetElementAttribute(const QString& id, const QString& name, const QString& value) override;
  void SetElementInnerHtml(const QString& id, const QString& html) override;
  void SetElementText(const QString& id, const QString& text) override;
  void SetMenuItems(const QString& id, const QStringList& items) override;
  void SetElementStyle(const QString& id, const QString& property, const QString& value) override;

  // Runs `function` of qalvHost with the arguments after every earlier write;
  // `done` runs once the page has applied it.
  void Call(const char* function, const QVariantList& arguments,
            const std::function<void()>& done = nullptr);

 private:
  QPointer<QWebEnginePage> page_;
};

}  // namespace qalv
