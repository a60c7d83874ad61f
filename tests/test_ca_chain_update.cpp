// The certificate-chain fetch against a local service: the request it sends,
// every reply shape it refuses with its message, and the chain text it hands
// on only for a successful reply (storing it is the chain store's decision).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "net/ca_chain_update.h"
#include "tests/support/local_server.h"
#include "tests/support/recording_owner_window.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

const std::vector<uint8_t> kKeyId = {0x30, 0x1F, 0x3C, 0x5D, 0xA5, 0x06, 0xA7, 0x4C, 0xC9, 0x48,
                                     0x2B, 0x21, 0x52, 0x13, 0x79, 0x77, 0x3B, 0x8E, 0x0F, 0xB2};
constexpr char kKeyIdHex[] = "301F3C5DA506A74CC9482B21521379773B8E0FB2";
constexpr char kPath[] = "/acquvSrv/caChain";

class ChainUpdateTest : public testing::Test {
 protected:
  void SetUp() override {
    state_.ownerWindow = &window_;
    state_.workFolder = dir_.path().string() + "/";
  }

  // Serves `reply` with `status` at kPath and records what arrives.
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

  int32_t Update(const std::string& url) {
    return FetchCaChain(state_, url, kKeyId.data(), kKeyId.size(), chain_);
  }

  std::string FetchedChainText() const {
    return std::string(reinterpret_cast<const char*>(chain_.data()), chain_.size());
  }

  // The fetch itself never writes into the work folder.
  bool Stored() { return !std::filesystem::is_empty(dir_.path()); }

  std::string OnlyMessageText() {
    EXPECT_EQ(window_.messages.size(), 1u);
    return window_.messages.empty() ? "" : window_.messages[0].text;
  }

  test::TempDir dir_;
  test::RecordingOwnerWindow window_;
  PolicyState state_;
  SecureBuffer chain_;
  std::atomic<int> requests_{0};
  std::string body_;
  std::string target_;
  std::string contentType_;
  // Last, so the server stops before the fields its handler writes go.
  test::LocalServer server_;
};

TEST_F(ChainUpdateTest, HandsOnTheChainOfASuccessfulReply) {
  const std::string chain = "MIIBchainTextInBase64+/=";
  Serve("{\"code\": \"0000\", \"chain\": \"" + chain + "\"}");
  EXPECT_EQ(Update(server_.Url(kPath)), 1);
  EXPECT_TRUE(window_.messages.empty());
  EXPECT_EQ(FetchedChainText(), chain);
  EXPECT_FALSE(Stored());

  // The request: exactly auth=<40 hex>&aki=<40 hex>, as a form post.
  EXPECT_EQ(body_.size(), 90u);
  EXPECT_EQ(body_.substr(0, 5), "auth=");
  EXPECT_EQ(body_.substr(45), std::string("&aki=") + kKeyIdHex);
  EXPECT_EQ(contentType_, "application/x-www-form-urlencoded");
}

TEST_F(ChainUpdateTest, NeverSendsTheQueryPartOfTheAddress) {
  Serve("{\"code\": \"0000\", \"chain\": \"MIIB\"}");
  EXPECT_EQ(Update(server_.Url(std::string(kPath) + "?secret=1")), 1);
  EXPECT_EQ(target_, kPath);
}

TEST_F(ChainUpdateTest, KeepsEscapesOfTheChainTextAsTheyStand) {
  Serve(R"({"code": "0000", "chain": "MIIB\/abc"})");
  EXPECT_EQ(Update(server_.Url(kPath)), 1);
  EXPECT_EQ(FetchedChainText(), R"(MIIB\/abc)");
}

struct RefusedReply {
  const char* name;
  std::string reply;
  int status;
  std::string message;
};

class ChainUpdateRefusalTest : public ChainUpdateTest,
                               public testing::WithParamInterface<RefusedReply> {};

TEST_P(ChainUpdateRefusalTest, ShowsItsMessageAndStoresNothing) {
  const RefusedReply& c = GetParam();
  Serve(c.reply, c.status);
  EXPECT_EQ(Update(server_.Url(kPath)), 0);
  EXPECT_FALSE(Stored());
  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].text, c.message);
  EXPECT_EQ(window_.messages[0].caption, "錯誤");
  EXPECT_TRUE(window_.messages[0].owned);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ChainUpdateRefusalTest,
    testing::Values(
        RefusedReply{"SixMembers", R"({"a":"1","b":"2","c":"3","d":"4","e":"5","f":"6"})", 200,
                     "回傳資料格式錯誤(-1)"},
        RefusedReply{"NumberAsFirstValue", R"({"code": 0, "chain": "MIIB"})", 200,
                     "回傳資料型態錯誤(5)"},
        RefusedReply{"NotAnObject", R"(["0000", "MIIB", "x", "y"])", 200, "回傳資料型態錯誤(5)"},
        RefusedReply{"TooFewTokens", R"({"code": "0000"})", 200, "回傳資料格式錯誤(3)"},
        RefusedReply{"EmptyChainText", R"({"code": "0000", "chain": ""})", 200, "回傳資料型態錯誤(5)"},
        RefusedReply{"Unfinished", R"({"code": "0000", "chain": "MII)", 200,
                     "回傳資料格式錯誤(-3)"},
        RefusedReply{"EmptyBody", "", 200, "回傳資料格式錯誤(0)"},
        RefusedReply{"ServiceError", R"({"code": "9003", "msg": "no chain"})", 200,
                     "回傳代碼=9003(5)"},
        RefusedReply{"LongCode", R"({"code": "00000", "chain": "MIIB"})", 200,
                     "回傳代碼=00000(5)"},
        RefusedReply{"Status500", R"({"code": "0000", "chain": "MIIB"})", 500,
                     "連線失敗(StatusCode=500)"},
        RefusedReply{"Status404", "", 404, "連線失敗(StatusCode=404)"}),
    [](const testing::TestParamInfo<RefusedReply>& info) { return std::string(info.param.name); });

TEST_F(ChainUpdateTest, UnreachableServiceShowsTheSystemTextWithoutOwner) {
  Serve("");
  const std::string url = server_.Url(kPath);
  server_.Stop();
  EXPECT_EQ(Update(url), 0);
  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].caption, "憑證鏈更新錯誤");
  EXPECT_FALSE(window_.messages[0].owned);
  EXPECT_FALSE(window_.messages[0].text.empty());
  EXPECT_FALSE(Stored());
}

TEST_F(ChainUpdateTest, UnsplittableAddressIsSilent) {
  EXPECT_EQ(Update("not a url"), 0);
  EXPECT_TRUE(window_.messages.empty());
  EXPECT_FALSE(Stored());
}

TEST_F(ChainUpdateTest, OverlongKeyIdentifierIsRefusedWithoutARequest) {
  Serve("{\"code\": \"0000\", \"chain\": \"MIIB\"}");
  const std::vector<uint8_t> longKeyId(66, 0xAB);
  EXPECT_EQ(
      FetchCaChain(state_, server_.Url(kPath), longKeyId.data(), longKeyId.size(), chain_), 0);
  EXPECT_EQ(requests_, 0);
  const std::vector<uint8_t> longestKeyId(65, 0xAB);
  EXPECT_EQ(
      FetchCaChain(state_, server_.Url(kPath), longestKeyId.data(), longestKeyId.size(), chain_),
      1);
  EXPECT_EQ(requests_, 1);
}

}  // namespace
}  // namespace qalv
