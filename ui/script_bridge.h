// The object the page reaches as window.external, published over the web
// channel as "bridge". A slot only queues its call: the work runs later, on
// the window's thread but outside Chromium's task, because a modal dialog
// opened inside the task would stall the page. Calls run one at a time, in
// order; each ends by resolving the page's Promise for its token, after the
// page has applied every write the call made. The two properties stay with
// the window: the page gets one only by reading it.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <deque>
#include <functional>

#include "ui/web_page_writer.h"

namespace qalv {

// What the bridge calls: the main window.
class BridgeTarget {
 public:
  virtual ~BridgeTarget() = default;
  virtual void JsShowPdf() = 0;
  virtual void JsInit() = 0;
  virtual void JsOpenTpk() = 0;
  // `index`: the chosen entry's position in the recent-documents menu.
  virtual void JsOpenRecently(int index) = 0;
  virtual void JsCopyTpk() = 0;
  virtual bool JsOnlineVerify() = 0;
  // `signer`: "s1", "s2" or "s3".
  virtual void JsShowSignerDetails(const QString& signer) = 0;
  // m_b64Data and m_dataPin.
  virtual QString BridgeProperty(const QString& name) const = 0;
  virtual void SetBridgeProperty(const QString& name, const QString& value) = 0;
};

class ScriptBridge : public QObject {
  Q_OBJECT
 public:
  ScriptBridge(BridgeTarget& target, WebPageWriter& page, QObject* parent = nullptr);

 public slots:
  void JsShowPdf(int token);
  void JsInit(int token);
  void JsOpenTpk(int token);
  void JsOpenRecently(int token, int index);
  void JsCopyTpk(int token);
  void JsOnlineVerify(int token);
  void JsShowSignerDetails(int token, const QString& signer);
  // Resolves with the property's text; null for any other name.
  void ReadProperty(int token, const QString& name);
  void SetProperty(const QString& name, const QString& value);

 signals:
  // A call's work is done and the page has applied its writes.
  void CallFinished(int token);

 private:
  // `work` gives what the page's Promise resolves with.
  void Queue(int token, std::function<QVariant()> work);
  void RunNext();

  struct Call {
    int token;
    std::function<QVariant()> work;
  };
  BridgeTarget& target_;
  WebPageWriter& page_;
  std::deque<Call> calls_;
  bool running_ = false;
};

}  // namespace qalv
