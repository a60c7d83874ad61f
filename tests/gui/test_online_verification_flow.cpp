// "QALV線上驗證" against a local service, with the progress dialog driven as
// a person would: the answer and the policy's facts written into the page, a
// failure reason that survives as JSON, Cancel before and during the request,
// Cancel refused once the request is done, a second verification, and a
// policy that was never decrypted.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/gui/support/reader_fixture.h"
#include "tests/support/local_server.h"
#include "ui/online_verification_flow.h"
#include "ui/progress_dialog.h"

namespace qalv {
namespace {

using test::Attribute;
using test::Html;
using test::Style;

constexpr char kVerifyPath[] = "/acquvSrv/verify";
constexpr char kEarlierAnswer[] = "an earlier answer";
constexpr char kAccount[] = "測試人壽";
constexpr char kSignTime[] = "2024/01/02 11:04:05";
const QString kTimeFormat = QStringLiteral("yyyy/MM/dd HH:mm:ss");

// What the progress dialog showed at one moment.
struct Sample {
  int position;
  bool cancelEnabled;
  QString title;
};

class OnlineFlowTest : public test::ReaderFixture {
 protected:
  void SetUp() override {
    ReaderFixture::SetUp();
    policy.decryptState = 0;
    policy.s1DigestId = 11;
    const std::string document = "%PDF-1.4 the policy";
    ASSERT_TRUE(policy.pdfData.Assign(reinterpret_cast<const uint8_t*>(document.data()), document.size()));
    policy.pdfLength = static_cast<int32_t>(document.size());
    policy.accountName = kAccount;
    policy.ipkSignTime = kSignTime;
    policy.onlineResponse = kEarlierAnswer;
    policyPath = Write("policy.tpk", std::string("package bytes"));
  }

  // The service answers the n-th request with replies[n] (the last one
  // repeated) after holding it for `holdMs`.
  void Serve(std::vector<std::string> replies, int holdMs = 0, int status = 200) {
    server_.server().Post(kVerifyPath, [this, replies, holdMs, status](const httplib::Request&,
                                                                       httplib::Response& response) {
      const size_t n = static_cast<size_t>(requests_++);
      std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
      response.status = status;
      response.set_content(replies[std::min(n, replies.size() - 1)], "application/json");
      ++answered_;
    });
    server_.Start();
    policy.certChainUrl = server_.Url("/acquvSrv/caChain");
  }

  // Runs the verification; `tick` is called every 5 ms while the progress
  // dialog is up, and every moment of it is sampled.
  bool Verify(std::function<void(CUPDialog&)> tick = {}) {
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<CUPDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || !dialog->isVisible()) return;
      ++dialogTicks_;
      samples_.push_back({Bar(*dialog)->value(), Cancel(*dialog)->isEnabled(), dialog->windowTitle()});
      if (tick) tick(*dialog);
    });
    timer.start();
    return RunOnlineVerification(reader, nullptr);
  }

  static QProgressBar* Bar(CUPDialog& dialog) { return dialog.findChild<QProgressBar*>(QStringLiteral("1018")); }
  static QPushButton* Cancel(CUPDialog& dialog) { return dialog.findChild<QPushButton*>(QStringLiteral("2")); }

  // The page writes of a shown answer, the verification time aside.
  void ExpectAnswerWrites(const QString& answer) {
    ASSERT_EQ(page.writes.size(), 5u);
    EXPECT_EQ(page.writes[0], Attribute("onlineVerifyRet", "value", answer));
    EXPECT_EQ(page.writes[1], Attribute("vinfo_accountName", "value", QString::fromUtf8(kAccount)));
    EXPECT_EQ(page.writes[2], Attribute("s2_signtime", "value", QString::fromUtf8(kSignTime)));
    EXPECT_EQ(page.writes[3].op, test::PageWrite::Op::kText);
    EXPECT_EQ(page.writes[3].id, "verifyTime");
    EXPECT_EQ(page.writes[4], Style("onlineVerify", "display", ""));
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& m : window.messages) texts.push_back(m.caption + "|" + m.text);
    return texts;
  }

  std::atomic<int> requests_{0};
  std::atomic<int> answered_{0};
  int dialogTicks_ = 0;
  std::vector<Sample> samples_;
  test::LocalServer server_;
};

// Runs the event loop until `until` holds or `timeoutMs` passes.
bool WaitFor(const std::function<bool()>& until, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!until()) {
    if (clock.elapsed() > timeoutMs) return false;
    QTest::qWait(5);
  }
  return true;
}

// The verification time shown, read back as a local time.
QDateTime ShownTime(const QString& html) {
  const QString prefix = QStringLiteral("驗證時間：");
  if (!html.startsWith(prefix)) return {};
  return QDateTime::fromString(html.mid(prefix.size()), kTimeFormat);
}

QDateTime NowToTheSecond() {
  QDateTime now = QDateTime::currentDateTime();
  return now.addMSecs(-now.time().msec());
}

TEST_F(OnlineFlowTest, AnswerAndPolicyFactsReachThePage) {
  const std::string answer = R"({"code":"0000","msg":"驗證成功","chk":{"code":"00","name":"保單A.pdf"}})";
  Serve({answer});
  const QDateTime before = NowToTheSecond();
  ASSERT_TRUE(Verify());
  const QDateTime after = QDateTime::currentDateTime();

  ExpectAnswerWrites(QString::fromStdString(answer));
  const QDateTime shown = ShownTime(page.writes[3].value);
  ASSERT_TRUE(shown.isValid()) << page.writes[3].value.toStdString();
  EXPECT_GE(shown, before);
  EXPECT_LE(shown, after);
  EXPECT_EQ(policy.onlineResponse, answer);
  EXPECT_EQ(requests_, 1);
  EXPECT_TRUE(window.messages.empty());

  // The dialog showed the worker's title and paced progress that only grows.
  ASSERT_FALSE(samples_.empty());
  EXPECT_EQ(samples_.back().title, QStringLiteral("處理中.."));
  for (size_t i = 1; i < samples_.size(); ++i) EXPECT_LE(samples_[i - 1].position, samples_[i].position);
}

// A failure reason becomes the answer's msg, whatever characters it holds.
TEST_F(OnlineFlowTest, FailureReasonSurvivesAsJson) {
  struct Case {
    const char* name;
    std::function<void()> change;
    std::function<std::string()> reason;
  };
  const std::filesystem::path vanished = dir / "a\"b.tpk";
  const Case cases[] = {
      {"QuotesBackslashesAndControls", [this] { policy.certChainUrl = "say \"hi\"\\there\t\x01\n"; },
       [] { return std::string("驗證網址有誤：say \"hi\"\\there\t\x01\n"); }},
      {"VanishedFileWithAQuoteInItsName", [&] { policyPath = QString::fromStdString(vanished.string()); },
       [&] { return vanished.string() + "讀取失敗"; }},
      {"ServiceError", [] {}, [] { return std::string("連線失敗,無法驗證"); }},
  };
  Serve({"{}"}, 0, 500);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string url = policy.certChainUrl;
    const QString path = policyPath;
    c.change();
    page.writes.clear();
    ASSERT_TRUE(Verify());
    const std::string reason = c.reason();
    ExpectAnswerWrites(QString::fromStdString(policy.onlineResponse));
    EXPECT_EQ(policy.statusText, reason);

    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(QByteArray::fromStdString(policy.onlineResponse), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << policy.onlineResponse;
    EXPECT_EQ(parsed.object().value("code").toString(), "-1");
    EXPECT_EQ(parsed.object().value("msg").toString(), QString::fromStdString(reason));
    EXPECT_EQ(policy.onlineResponse.rfind(R"({"code":"-1", "msg":")", 0), 0u) << policy.onlineResponse;
    policy.certChainUrl = url;
    policyPath = path;
  }
}

TEST_F(OnlineFlowTest, CancelBeforeTheRequestLeavesThePage) {
  Serve({R"({"code":"0000"})"});
  bool clicked = false;
  EXPECT_FALSE(Verify([&](CUPDialog& dialog) {
    if (clicked || Bar(dialog)->value() < 10) return;
    clicked = true;
    QTest::mouseClick(Cancel(dialog), Qt::LeftButton);
  }));
  EXPECT_TRUE(clicked);
  EXPECT_EQ(Messages(), std::vector<std::string>{"資訊|取消作業"});
  EXPECT_TRUE(page.writes.empty());
  EXPECT_EQ(policy.onlineResponse, kEarlierAnswer);
  EXPECT_EQ(requests_, 1) << "the request is made even after the stop";
}

// A request still running after the grace periods: the dialog ends without
// it, and its late answer never reaches the window's state.
TEST_F(OnlineFlowTest, CancelDuringASlowRequestDropsItsAnswer) {
  Serve({R"({"code":"0000","msg":"too late"})"}, 2500);
  bool clicked = false;
  EXPECT_FALSE(Verify([&](CUPDialog& dialog) {
    if (clicked || requests_ == 0) return;
    clicked = true;
    EXPECT_TRUE(Cancel(dialog)->isEnabled()) << "cancel is allowed while the request runs";
    QTest::mouseClick(Cancel(dialog), Qt::LeftButton);
  }));
  EXPECT_EQ(answered_, 0) << "the dialog did not wait for the request";
  EXPECT_EQ(Messages(), std::vector<std::string>{"資訊|取消作業"});
  ASSERT_TRUE(WaitFor([&] { return answered_ == 1; }, 10000));
  QTest::qWait(300);
  EXPECT_TRUE(page.writes.empty());
  EXPECT_EQ(policy.onlineResponse, kEarlierAnswer);
  EXPECT_EQ(policy.statusText, "");
}

TEST_F(OnlineFlowTest, CancelIsRefusedOncePastFiftyNine) {
  const std::string answer = R"({"code":"0000"})";
  Serve({answer}, 300);
  bool clicked = false;
  ASSERT_TRUE(Verify([&](CUPDialog& dialog) {
    if (clicked || Bar(dialog)->value() <= 59) return;
    clicked = true;
    QTest::mouseClick(Cancel(dialog), Qt::LeftButton);
    dialog.close();
  }));
  EXPECT_TRUE(clicked);
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(policy.onlineResponse, answer);
  bool heldAt59 = false;
  for (const Sample& s : samples_) {
    if (s.position > 59) {
      EXPECT_FALSE(s.cancelEnabled) << "enabled at " << s.position;
    }
    if (s.position == 59 && s.cancelEnabled) heldAt59 = true;
  }
  EXPECT_TRUE(heldAt59) << "cancel stays allowed while the request runs at 59";
}

TEST_F(OnlineFlowTest, SecondVerificationReplacesTheFirst) {
  const std::string first = R"({"code":"0000","msg":"first"})";
  const std::string second = R"({"code":"1001","msg":"second"})";
  Serve({first, second});
  ASSERT_TRUE(Verify());
  const QDateTime firstTime = ShownTime(*page.LastText("verifyTime"));
  QTest::qWait(1100);  // a later second on the clock
  ASSERT_TRUE(Verify());
  EXPECT_EQ(page.LastAttribute("onlineVerifyRet", "value"), QString::fromStdString(second));
  EXPECT_GT(ShownTime(*page.LastText("verifyTime")), firstTime);
  EXPECT_EQ(policy.onlineResponse, second);
  EXPECT_EQ(requests_, 2);
}

TEST_F(OnlineFlowTest, UndecryptedPolicyIsNotSent) {
  Serve({R"({"code":"0000"})"});
  for (const int32_t decryptState : {-1, 2}) {
    SCOPED_TRACE(decryptState);
    window.messages.clear();
    policy.decryptState = decryptState;
    EXPECT_FALSE(Verify());
    EXPECT_EQ(Messages(), std::vector<std::string>{"資訊|保單需解密成功才可進行線上驗證"});
  }
  EXPECT_EQ(dialogTicks_, 0) << "no progress dialog";
  EXPECT_EQ(requests_, 0);
  EXPECT_TRUE(page.writes.empty());
  EXPECT_EQ(policy.onlineResponse, kEarlierAnswer);
}

}  // namespace
}  // namespace qalv
