#include "ui/web_page_writer.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace qalv {

void WebPageWriter::SetElementAttribute(const QString& id, const QString& name, const QString& value) {
  Call("setAttribute", {id, name, value});
}

void WebPageWriter::SetElementInnerHtml(const QString& id, const QString& html) {
  Call("setInnerHtml", {id, html});
}

void WebPageWriter::SetElementText(const QString& id, const QString& text) {
  Call("setText", {id, text});
}

void WebPageWriter::SetMenuItems(const QString& id, const QStringList& items) {
  Call("setMenuItems", {id, items});
}

void WebPageWriter::SetElementStyle(const QString& id, const QString& property, const QString& value) {
  Call("setStyle", {id, property, value});
}

void WebPageWriter::Call(const char* function, const QVariantList& arguments,
                         const std::function<void()>& done) {
  if (page_ == nullptr) return;
  // The arguments travel as a JSON array literal, which is also a valid script
  // expression, so no text can break out of it.
  const QByteArray list = QJsonDocument(QJsonArray::fromVariantList(arguments)).toJson(QJsonDocument::Compact);
  const QString script = QStringLiteral("window.qalvHost && qalvHost.%1.apply(qalvHost, %2);")
                             .arg(QLatin1String(function), QString::fromUtf8(list));
  if (done) {
    page_->runJavaScript(script, [done](const QVariant&) { done(); });
  } else {
    page_->runJavaScript(script);
  }
}

}  // namespace qalv
