// The password-hint query against a local service: the request it sends, the
// text it returns for every kind of reply and failure, and the reference
// service's answers per batch number.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/password_hint.h"
#include "tests/support/local_server.h"
#include "tests/support/recording_owner_window.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

constexpr char kPath[] = "/acquvSrv/hint.htm";
const std::string kHeading = "密碼提示原則如下：<div style='height:59px; overflow:auto'>";
const std::string kNoNetwork = "目前偵測不到網路，請在網路連線狀態下再次嘗試。";
const std::string kInvalidAddress = "目前系統無法提供密碼提示服務。無效的服務網址：";
const std::string kUnparsable = "目前系統無法提供密碼提示服務。無法解析回傳資料：";

class PasswordHintTest : public testing::Test {
 protected:
  // Serves `reply` with `status` at the hint path and records what arrives.
  void Serve(std::string reply, int status = 200) {
    server_.server().Post(kPath, [this, reply, status](const httplib::Request& request,
                                                       httplib::Response& response) {
      ++requests_;
      body_ = request.body;
      target_ = request.target;
      contentType_ = request.get_header_value("Content-Type");
      response.status = status;
      response.set_content(reply, "application/json");
    });
    server_.Start();
  }

  std::string Query(const std::string& address, const std::string& batch = "B-1") {
    return QueryPasswordHint(address, batch, &window_);
  }

  test::RecordingOwnerWindow window_;
  std::atomic<int> requests_{0};
  std::string body_;
  std::string target_;
  std::string contentType_;
  std::atomic<bool> release_{false};  // lets a stalled handler answer
  // Last, so the server stops before the fields its handler writes go.
  test::LocalServer server_;
};

struct ReplyCase {
  const char* name;
  std::string reply;
  int status;
  std::string text;
};

class PasswordHintReplyTest : public PasswordHintTest,
                              public testing::WithParamInterface<ReplyCase> {};

TEST_P(PasswordHintReplyTest, ReturnsItsTextWithoutABox) {
  const ReplyCase& c = GetParam();
  Serve(c.reply, c.status);
  EXPECT_EQ(Query(server_.Url(kPath)), c.text);
  EXPECT_EQ(requests_, 1);
  EXPECT_TRUE(window_.messages.empty());
}

std::string Deep(int levels) { return std::string(levels, '[') + std::string(levels, ']'); }

INSTANTIATE_TEST_SUITE_P(
    Replies, PasswordHintReplyTest,
    testing::Values(
        ReplyCase{"RulesOnTwoLines",
                  R"({"code": "0", "msg": "", "vfyhint": "身分證字號後四碼<br>加生日月日"})", 200,
                  kHeading + "身分證字號後四碼<br>加生日月日</div>"},
        ReplyCase{"IntegerZeroCode", R"({"code": 0, "vfyhint": "rules"})", 200,
                  kHeading + "rules</div>"},
        ReplyCase{"ZeroCodeWithoutRules", R"({"code": "0", "msg": "unused"})", 200,
                  kHeading + "</div>"},
        ReplyCase{"EscapedTextIsDecoded", R"({"code": "0", "vfyhint": "\u751f\u65e5 &amp; \"x\""})",
                  200, kHeading + "生日 &amp; \"x\"</div>"},
        ReplyCase{"OtherCodeShowsMsg", R"({"code": "E12", "msg": "查無此批次", "vfyhint": "x"})",
                  200, "查無此批次"},
        ReplyCase{"TwoZeros", R"({"code": "00", "msg": "refused", "vfyhint": "x"})", 200,
                  "refused"},
        ReplyCase{"SpaceBeforeZero", R"({"code": " 0", "vfyhint": "x"})", 200, ""},
        ReplyCase{"MissingCode", R"({"msg": "no code", "vfyhint": "x"})", 200, "no code"},
        ReplyCase{"RealZero", R"({"code": 0.0, "msg": "real", "vfyhint": "x"})", 200, "real"},
        ReplyCase{"BooleanCode", R"({"code": false, "msg": "bool", "vfyhint": "x"})", 200,
                  "bool"},
        ReplyCase{"IntegerMsg", R"({"code": 7, "msg": -12})", 200, "-12"},
        ReplyCase{"BadUtf8InMsg", "{\"code\": \"1\", \"msg\": \"a\xff" "b\"}", 200,
                  "a\xEF\xBF\xBD" "b"},
        ReplyCase{"ZeroByteEndsTheReply", std::string("{\"code\":\"1\",\"msg\":\"m\0\"}", 23),
                  200, kUnparsable + "{\"code\":\"1\",\"msg\":\"m"},
        ReplyCase{"EmptyReply", "", 200, "目前系統無法提供密碼提示服務。無回傳資料。"},
        ReplyCase{"NotJson", "<html>busy</html>", 200, kUnparsable + "<html>busy</html>"},
        ReplyCase{"Unfinished", R"({"code": "0", "vfyhint": "x)", 200,
                  kUnparsable + R"({"code": "0", "vfyhint": "x)"},
        ReplyCase{"TopLevelArray", R"(["0", "", "rules"])", 200,
                  kUnparsable + R"(["0", "", "rules"])"},
        ReplyCase{"TopLevelText", R"("0")", 200, kUnparsable + R"("0")"},
        ReplyCase{"TopLevelNull", "null", 200, kUnparsable + "null"},
        ReplyCase{"CodeIsObject", R"({"code": {"v": "0"}, "msg": "m"})", 200,
                  kUnparsable + R"({"code": {"v": "0"}, "msg": "m"})"},
        ReplyCase{"RulesAreArray", R"({"code": "0", "vfyhint": ["a"]})", 200,
                  kUnparsable + R"({"code": "0", "vfyhint": ["a"]})"},
        ReplyCase{"UnusedMsgIsObject", R"({"code": "0", "msg": {}, "vfyhint": "a"})", 200,
                  kUnparsable + R"({"code": "0", "msg": {}, "vfyhint": "a"})"},
        ReplyCase{"NestedPastTheReadersLimit", Deep(5000), 200, kUnparsable + Deep(5000)},
        ReplyCase{"BadUtf8NotJson", "\xC3(", 200, kUnparsable + "\xEF\xBF\xBD("},
        ReplyCase{"Status404", R"({"code": "0", "vfyhint": "x"})", 404,
                  kNoNetwork + "連線失敗(StatusCode=404)"},
        ReplyCase{"Status500", "", 500, kNoNetwork + "連線失敗(StatusCode=500)"}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST_F(PasswordHintTest, PostsTheBatchAsItStandsToTheFixedPathOfTheServiceHost) {
  Serve(R"({"code": "1", "msg": "m"})");
  // Only scheme, host and port of the chain service's address are used.
  const std::string batch = "保單&批次=1+2%20 #";
  EXPECT_EQ(Query(server_.Url("/acquvSrv/caChain?aki=01#top"), batch), "m");
  EXPECT_EQ(target_, kPath);
  EXPECT_EQ(body_, "batchid=" + batch);
  EXPECT_EQ(contentType_, "application/x-www-form-urlencoded");
}

TEST_F(PasswordHintTest, AddressesThatCannotBeSplitAreNamedInTheText) {
  for (const std::string address : {"", "not a url", "ftp://127.0.0.1/x", "http://"}) {
    EXPECT_EQ(Query(address), kInvalidAddress + address) << address;
  }
  EXPECT_TRUE(window_.messages.empty());
}

TEST_F(PasswordHintTest, UnreachableServiceGivesTheNoNetworkTextAndTheSystemText) {
  Serve("");
  const std::string address = server_.Url("/");
  server_.Stop();
  const std::string text = Query(address);
  ASSERT_TRUE(text.starts_with(kNoNetwork)) << text;
  EXPECT_GT(text.size(), kNoNetwork.size());
  EXPECT_EQ(text.find("StatusCode"), std::string::npos);
  EXPECT_TRUE(window_.messages.empty());
}

TEST_F(PasswordHintTest, SilentServiceEndsAfterTheReceiveTimeOut) {
  server_.server().Post(kPath, [this](const httplib::Request&, httplib::Response& response) {
    for (int i = 0; i < 2000 && !release_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    response.set_content(R"({"code": "0", "vfyhint": "late"})", "application/json");
  });
  server_.Start();
  const auto start = std::chrono::steady_clock::now();
  const std::string text = Query(server_.Url(kPath));
  const auto waited = std::chrono::steady_clock::now() - start;
  release_ = true;
  EXPECT_EQ(text, kNoNetwork + "連線失敗(StatusCode=0)");
  EXPECT_GE(waited, std::chrono::milliseconds(4900));
  EXPECT_LT(waited, std::chrono::milliseconds(8000));
}

TEST_F(PasswordHintTest, WorksWithoutAnOwnerWindow) {
  Serve(R"({"code": "0", "vfyhint": "r"})");
  EXPECT_EQ(QueryPasswordHint(server_.Url(kPath), "B", nullptr), kHeading + "r</div>");
}

// The reference service, as the reader meets it.
class HintServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "data" / "hints");
    test::WriteFile(dir_ / "data" / "secret", std::string("outside the hints"));
    services_.emplace(std::vector<std::string>{test::ServicesPath(), "--data",
                                               (dir_ / "data").string(), "--listen",
                                               "127.0.0.1:0"},
                      dir_ / "services.log");
    ASSERT_TRUE(services_->firstLine().starts_with("http://127.0.0.1:")) << services_->firstLine();
  }

  void AddRules(const std::string& batch, const std::string& rules) {
    test::WriteFile(dir_ / "data" / "hints" / batch, rules);
  }

  std::string Query(const std::string& batch) {
    // The reader is given the chain service's address and keeps its host only.
    return QueryPasswordHint(services_->firstLine() + "/acquvSrv/caChain", batch, &window_);
  }

  test::TempDir dir_;
  test::RecordingOwnerWindow window_;
  std::optional<test::BackgroundProcess> services_;
};

TEST_F(HintServiceTest, AnswersTheRulesOfEachBatch) {
  AddRules("BATCH-0001", "密碼為<b>身分證字號</b>後四碼<br>加生日");
  AddRules("甲&乙+1%", "rules \"quoted\" \\ of an odd name");
  EXPECT_EQ(Query("BATCH-0001"), kHeading + "密碼為<b>身分證字號</b>後四碼<br>加生日</div>");
  EXPECT_EQ(Query("甲&乙+1%"), kHeading + "rules \"quoted\" \\ of an odd name</div>");
  EXPECT_TRUE(window_.messages.empty());
}

TEST_F(HintServiceTest, RefusesUnknownBatchesAndNamesOutsideItsFolder) {
  AddRules("BATCH-0001", "rules");
  EXPECT_EQ(Query("BATCH-0002"), "查無此批次的密碼提示");
  for (const std::string batch : {"", ".", "..", "../secret", "x/../../secret", "..\\secret"}) {
    EXPECT_EQ(Query(batch), "批次號碼格式錯誤") << batch;
  }
  EXPECT_TRUE(window_.messages.empty());
}

}  // namespace
}  // namespace qalv
