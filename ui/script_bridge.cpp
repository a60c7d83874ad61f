#include "ui/script_bridge.h"

#include <QTimer>

namespace qalv {
namespace {

bool IsProperty(const QString& name) { return name == u"m_b64Data" || name == u"m_dataPin"; }

}  // namespace

ScriptBridge::ScriptBridge(BridgeTarget& target, WebPageWriter& page, QObject* parent)
    : QObject(parent), target_(target), page_(page) {}

void ScriptBridge::JsShowPdf(int token) {
  Queue(token, [this] { return target_.JsShowPdf(), QVariant(false); });
}

void ScriptBridge::JsInit(int token) {
  Queue(token, [this] { return target_.JsInit(), QVariant(false); });
}

void ScriptBridge::JsOpenTpk(int token) {
  Queue(token, [this] { return target_.JsOpenTpk(), QVariant(false); });
}

void ScriptBridge::JsOpenRecently(int token, int index) {
  Queue(token, [this, index] { return target_.JsOpenRecently(index), QVariant(false); });
}

void ScriptBridge::JsCopyTpk(int token) {
  Queue(token, [this] { return target_.JsCopyTpk(), QVariant(false); });
}

void ScriptBridge::JsOnlineVerify(int token) {
  Queue(token, [this] { return QVariant(target_.JsOnlineVerify()); });
}

void ScriptBridge::JsShowSignerDetails(int token, const QString& signer) {
  Queue(token, [this, signer] { return target_.JsShowSignerDetails(signer), QVariant(false); });
}

void ScriptBridge::ReadProperty(int token, const QString& name) {
  Queue(token, [this, name] { return IsProperty(name) ? QVariant(target_.BridgeProperty(name)) : QVariant(); });
}

void ScriptBridge::SetProperty(const QString& name, const QString& value) {
  if (IsProperty(name)) target_.SetBridgeProperty(name, value);
}

void ScriptBridge::Queue(int token, std::function<QVariant()> work) {
  calls_.push_back({token, std::move(work)});
  if (!running_) QTimer::singleShot(0, this, &ScriptBridge::RunNext);
}

void ScriptBridge::RunNext() {
  if (running_ || calls_.empty()) return;
  running_ = true;
  Call call = std::move(calls_.front());
  calls_.pop_front();
  const QVariant result = call.work();
  const int token = call.token;
  page_.Call("resolve", {token, result}, [this, token] { emit CallFinished(token); });
  running_ = false;
  if (!calls_.empty()) QTimer::singleShot(0, this, &ScriptBridge::RunNext);
}

}  // namespace qalv
