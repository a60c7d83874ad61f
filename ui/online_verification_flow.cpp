#include "ui/online_verification_flow.h"

#include <QDateTime>
#include <QString>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "net/online_verification.h"
#include "ui/progress_dialog.h"

namespace qalv {
namespace {

constexpr uint32_t kTerminationDelayMs = 500;

// What the worker works on: its own copy of what the request reads, so that a
// worker abandoned after Cancel never touches the window's state. The window
// takes the answer back only when the dialog ended with the worker's success.
struct OnlineVerifyJob {
  PolicyState policy;
  std::filesystem::path packagePath;
};

// `text` as the inside of a JSON string literal.
std::string JsonEscaped(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '"': escaped += "\\\""; break;
      case '\\': escaped += "\\\\"; break;
      case '\b': escaped += "\\b"; break;
      case '\f': escaped += "\\f"; break;
      case '\n': escaped += "\\n"; break;
      case '\r': escaped += "\\r"; break;
      case '\t': escaped += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
          escaped += code;
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

// The answer the page gets when the request failed: the service's shape with
// code "-1" and the reason.
std::string FailureAnswer(const std::string& reason) {
  return "{\"code\":\"-1\", \"msg\":\"" + JsonEscaped(reason) + "\"}";
}

// Progress is paced, not measured: about 0.6 s up to 59, a pause there while
// the request runs, then about 0.8 s up to 99.
bool OnlineVerifyWorker(ProgressThreadData& data) {
  OnlineVerifyJob& job = *static_cast<OnlineVerifyJob*>(data.userParam.get());
  ProgressChannel& dialog = *data.hwnd;
  dialog.SetTitle(QString::fromUtf8("處理中.."));
  dialog.SetText(QString::fromUtf8("進度.."));
  dialog.SetPos(0);

  int i = 0;
  const auto advance = [&](int below, std::chrono::milliseconds pause) {
    for (; i < below && !dialog.StopRequested(); ++i) {
      dialog.SetText(QString::fromUtf8("進度..%1").arg(i));
      dialog.SetPos(i);
      std::this_thread::sleep_for(pause);
    }
  };
  advance(60, std::chrono::milliseconds(10));
  // Made even after a stop request: the request cannot be interrupted, and
  // the dialog waits for it within its grace periods.
  if (RequestOnlineVerification(job.policy, job.packagePath) != 0) {
    job.policy.onlineResponse = FailureAnswer(job.policy.statusText);
  }
  if (!dialog.StopRequested()) dialog.DisableCancel();
  advance(100, std::chrono::milliseconds(20));
  dialog.SetText(QString::fromUtf8("完成"));
  dialog.SetPos(100);
  return true;
}

void ShowOnlineResult(ReaderContext& reader) {
  ElementWriter& page = reader.page;
  const PolicyState& policy = reader.policy;
  page.SetElementAttribute("onlineVerifyRet", "value", QString::fromStdString(policy.onlineResponse));
  page.SetElementAttribute("vinfo_accountName", "value", QString::fromStdString(policy.accountName));
  page.SetElementAttribute("s2_signtime", "value", QString::fromStdString(policy.ipkSignTime));
  page.SetElementText("verifyTime",
                           QString::fromUtf8("驗證時間：") +
                               QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
  page.SetElementStyle("onlineVerify", "display", "");
}

void Tell(ReaderContext& reader, const char* text) {
  reader.policy.ownerWindow->ShowMessage({"資訊", text, OwnerWindow::Icon::kInformation});
}

}  // namespace

bool RunOnlineVerification(ReaderContext& reader, QWidget* owner) {
  PolicyState& policy = reader.policy;
  if (policy.decryptState != 0) {
    Tell(reader, "保單需解密成功才可進行線上驗證");
    return false;
  }

  // Exactly the fields the request reads. The document stays in a wiping buffer.
  auto job = std::make_shared<OnlineVerifyJob>();
  job->policy.decryptState = policy.decryptState;
  if (!job->policy.pdfData.Assign(policy.pdfData.data(), policy.pdfData.size())) return false;
  job->policy.pdfLength = policy.pdfLength;
  job->policy.s1DigestId = policy.s1DigestId;
  job->policy.authPrefix = policy.authPrefix;
  job->policy.certChainUrl = policy.certChainUrl;
  job->packagePath = std::filesystem::path(reader.policyPath.toStdString());

  CUPDialog dialog(owner);
  dialog.m_terminationDelay = kTerminationDelayMs;
  dialog.m_allowCancel = true;
  dialog.m_caption = QStringLiteral("Please Wait..");
  dialog.m_threadData.userParam = job;
  dialog.m_threadData.workerProc = OnlineVerifyWorker;
  const int result = dialog.DoModal();
  // After a success the worker has returned: the clean-up joins it.
  dialog.CleanUp();

  if (result == CUPDialog::kWorkerSucceeded) {
    policy.statusCode = job->policy.statusCode;
    policy.statusText = job->policy.statusText;
    policy.onlineResponse = job->policy.onlineResponse;
    ShowOnlineResult(reader);
    return true;
  }
  if ((result >> 16) == 1) Tell(reader, "取消作業");
  return false;
}

}  // namespace qalv
