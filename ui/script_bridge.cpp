#include "ui/script_bridge.h"

#include <QTimer>

namespace qalv {

ScriptBridge::ScriptBridge(BridgeTarget& target, WebPageWriter& page, QObject* parent)
    : QObject(parent), target_(target), page_(page) {}

void ScriptBridge::JsShowPdf(int token) {
  Queue(token, false, [this] { return target_.JsShowPdf(), false; });
}

void ScriptBridge::JsInit(int token) {
  Queue(token, true, [this] { return target_.JsInit(), false; });
}

void ScriptBridge::JsOpenTpk(int token) {
  Queue(token, true, [this] { return target_.JsOpenTpk(), false; });
}

void ScriptBridge::JsOpenRecently(int token, const QString& path) {
  Queue(token, true, [this, path] { return target_.JsOpenRecently(path), false; });
}

void ScriptBridge::JsCopyTpk(int token) {
  Queue(token, false, [this] { return target_.JsCopyTpk(), false; });
}

void ScriptBridge::JsOnlineVerify(int token) {
  Queue(token, false, [this] { return target_.JsOnlineVerify(); });
}

void ScriptBridge::SetProperty(const QString& name, const QString& value) {
  if (name != u"m_b64Data" && name != u"m_dataPin") return;
  target_.SetBridgeProperty(name, value);
}

void ScriptBridge::Queue(int token, bool opens, std::function<bool()> work) {
  calls_.push_back({token, opens, std::move(work)});
  if (!running_) QTimer::singleShot(0, this, &ScriptBridge::RunNext);
}

void ScriptBridge::RunNext() {
  if (running_ || calls_.empty()) return;
  running_ = true;
  Call call = std::move(calls_.front());
  calls_.pop_front();
  const bool result = call.work();

  // The page keeps its own copies of the two properties; only an opening
  // changes them. No copy is kept here, so the window can wipe the old text.
  if (call.opens) {
    page_.Call("setProperties", {target_.BridgeProperty(QStringLiteral("m_b64Data")),
                                 target_.BridgeProperty(QStringLiteral("m_dataPin"))});
  }
  const int token = call.token;
  page_.Call("resolve", {token, result}, [this, token] { emit CallFinished(token); });
  running_ = false;
  if (!calls_.empty()) QTimer::singleShot(0, this, &ScriptBridge::RunNext);
}

}  // namespace qalv
