// The object the page reaches as window.external, published over the web
// channel as "bridge". A slot only queues its call: the work runs later, on
// the window's thread but outside Chromium's task, because a modal dialog
// opened inside the task would stall the page. Calls run one at a time, in
// order; each ends by resolving the page's Promise for its token, after the
// page has applied every write the call made.
#pragma once

#include <QObject>
#include <QString>
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
  virtual void JsOpenRecently(const QString& path) = 0;
  virtual void JsCopyTpk() = 0;
  virtual bool JsOnlineVerify() = 0;
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
  void JsOpenRecently(int token, const QString& path);
  void JsCopyTpk(int token);
  void JsOnlineVerify(int token);
  void SetProperty(const QString& name, const QString& value);

 signals:
  // A call's work is done and the page has applied its writes.
  void CallFinished(int token);

 private:
  // `opens`: the call may open a document and so change the two properties.
  void Queue(int token, bool opens, std::function<bool()> work);
  void RunNext();

  struct Call {
    int token;
    bool opens;
    std::function<bool()> work;
  };
  BridgeTarget& target_;
  WebPageWriter& page_;
  std::deque<Call> calls_;
  bool running_ = false;
};

}  // namespace qalv
