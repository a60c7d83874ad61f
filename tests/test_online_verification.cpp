// The online verification request against a local service: the request it
// sends (target, header, body; both authenticators recomputed with OpenSSL),
// the reply kept as text, and every failure with its status text. Then the
// reference services confirm a package that `tpk pack` issued, and refuse a
// changed one.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <json/reader.h>
#include <json/value.h>

#include "net/online_verification.h"
#include "package/tpk_package.h"
#include "platform/trace.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

using test::Bytes;
using test::ShellQuote;

constexpr char kVerifyPath[] = "/acquvSrv/verify";
constexpr char kContentType[] = "application/qalv-acquv-vfytpk";
constexpr int32_t kSha1DigestId = 5;
constexpr int32_t kSha256DigestId = 11;
constexpr int32_t kSha224DigestId = 14;
constexpr char kEarlierReply[] = "an earlier reply";

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

void SetDocument(PolicyState& state, const std::string& document) {
  // The plaintext ends in padding that is not part of the document.
  const std::string plaintext = document + "QALV\x04\x04\x04\x04";
  ASSERT_TRUE(
      state.pdfData.Assign(reinterpret_cast<const uint8_t*>(plaintext.data()), plaintext.size()));
  state.pdfLength = static_cast<int32_t>(document.size());
}

class OnlineVerificationTest : public testing::Test {
 protected:
  void SetUp() override {
    // Longer than one 1024-byte chunk and not a multiple of it, zero bytes included.
    Bytes package(3001);
    for (size_t i = 0; i < package.size(); ++i) package[i] = static_cast<uint8_t>(i * 7 + i / 256);
    test::WriteFile(packagePath_, package);
    state_.decryptState = 0;
    state_.s1DigestId = kSha256DigestId;
    SetDocument(state_, document_);
    state_.statusCode = 0;
    state_.onlineResponse = kEarlierReply;
  }

  // Answers with `reply` and `status`, recording what arrives; with `cut` the
  // connection closes after the first bytes of a longer announced body.
  void Serve(std::string reply, int status = 200, bool cut = false) {
    server_.server().Post(kVerifyPath, [this, reply, status, cut](const httplib::Request& request,
                                                                  httplib::Response& response) {
      ++requests_;
      target_ = request.target;
      contentType_ = request.get_header_value("Content-Type");
      body_ = request.body;
      response.status = status;
      if (!cut) {
        response.set_content(reply, "application/json");
        return;
      }
      response.set_content_provider(1000, "application/json",
                                    [](size_t offset, size_t, httplib::DataSink& sink) {
                                      return offset == 0 && sink.write("{\"code\":", 8);
                                    });
    });
    server_.Start();
    state_.certChainUrl = server_.Url("/acquvSrv/caChain?unused=1");
  }

  int32_t Request() { return RequestOnlineVerification(state_, packagePath_); }

  test::TempDir dir_;
  std::filesystem::path packagePath_ = dir_ / "policy.tpk";
  const std::string document_ = "%PDF-1.4 the policy document";
  PolicyState state_;
  std::atomic<int> requests_{0};
  std::string target_;
  std::string contentType_;
  std::string body_;
  // Last, so the server stops before the fields its handler writes go.
  test::LocalServer server_;
};

struct DigestCase {
  const char* name;
  int32_t s1DigestId;
  const char* opensslDigest;
  size_t hashLength;
};

class OnlineRequestTest : public OnlineVerificationTest,
                          public testing::WithParamInterface<DigestCase> {};

TEST_P(OnlineRequestTest, SendsThePackageWithBothAuthenticators) {
  const DigestCase& c = GetParam();
  state_.s1DigestId = c.s1DigestId;
  Serve(R"({"code":"0000","msg":"ok"})");
  EXPECT_EQ(Request(), 0);
  EXPECT_EQ(state_.statusText, "");
  EXPECT_EQ(state_.statusCode, -1) << "success leaves the code set at the start";
  EXPECT_EQ(state_.onlineResponse, R"({"code":"0000","msg":"ok"})");

  const Bytes file = test::ReadFile(packagePath_);
  const Bytes documentDigest =
      test::OpenSsl(std::string("dgst -") + c.opensslDigest + " -binary", BytesOf(document_));
  Bytes authInput = BytesOf("QUV");
  authInput.insert(authInput.end(), documentDigest.begin(), documentDigest.end());
  authInput.insert(authInput.end(), file.begin(), file.end());
  const std::string auth = test::Hex(test::OpenSsl("dgst -sha1 -binary", authInput));
  const std::string hash = test::Hex(documentDigest);
  ASSERT_EQ(hash.size(), c.hashLength);

  EXPECT_EQ(requests_, 1);
  EXPECT_EQ(target_, std::string(kVerifyPath) + "?auth=" + auth + "&hash=" + hash);
  EXPECT_EQ(contentType_, kContentType);
  EXPECT_TRUE(body_ == std::string(file.begin(), file.end())) << "the package as it is on disk";
}

INSTANTIATE_TEST_SUITE_P(Digests, OnlineRequestTest,
                         testing::Values(DigestCase{"Sha256", kSha256DigestId, "sha256", 64},
                                         DigestCase{"Sha1", kSha1DigestId, "sha1", 40},
                                         DigestCase{"OtherThanSha256", kSha224DigestId, "sha1",
                                                    40}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReplyCase {
  const char* name;
  std::string reply;
  std::string kept;
};

class OnlineReplyTest : public OnlineVerificationTest,
                        public testing::WithParamInterface<ReplyCase> {};

TEST_P(OnlineReplyTest, KeepsTheReplyAsText) {
  const ReplyCase& c = GetParam();
  Serve(c.reply);
  EXPECT_EQ(Request(), 0);
  EXPECT_EQ(state_.statusText, "");
  EXPECT_EQ(state_.onlineResponse, c.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, OnlineReplyTest,
    testing::Values(ReplyCase{"Utf8Json", R"({"code":"0000","msg":"驗證成功"})",
                              R"({"code":"0000","msg":"驗證成功"})"},
                    ReplyCase{"CutAtZeroByte",
                              std::string("{\"code\":\"0000\"}\0{\"code\":\"9\"}", 29),
                              R"({"code":"0000"})"},
                    ReplyCase{"NotJson", "<html>Service Unavailable</html>",
                              "<html>Service Unavailable</html>"},
                    ReplyCase{"IllFormedUtf8", "ok\xFF\xE9\x77ok", "ok\xEF\xBF\xBD\xEF\xBF\xBDwok"},
                    ReplyCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  std::function<void(PolicyState&)> change;
  int status;
  std::string statusText;
  bool reachesService;
};

class OnlineFailureTest : public OnlineVerificationTest,
                          public testing::WithParamInterface<FailureCase> {};

TEST_P(OnlineFailureTest, SaysWhyAndKeepsTheEarlierReply) {
  const FailureCase& c = GetParam();
  Serve(R"({"code":"0000"})", c.status);
  c.change(state_);
  EXPECT_EQ(Request(), -1);
  EXPECT_EQ(state_.statusText, c.statusText);
  EXPECT_EQ(state_.statusCode, -1);
  EXPECT_EQ(state_.onlineResponse, kEarlierReply);
  EXPECT_EQ(requests_, c.reachesService ? 1 : 0);
}

const auto kUnchanged = [](PolicyState&) {};

INSTANTIATE_TEST_SUITE_P(
    Failures, OnlineFailureTest,
    testing::Values(
        FailureCase{"DecryptionFailed", [](PolicyState& s) { s.decryptState = 2; }, 200,
                    "保單未正確開啟", false},
        FailureCase{"NeverDecrypted", [](PolicyState& s) { s.decryptState = -1; }, 200,
                    "保單未正確開啟", false},
        FailureCase{
            "DocumentLongerThanItsBuffer",
            [](PolicyState& s) { s.pdfLength = static_cast<int32_t>(s.pdfData.size()) + 1; }, 200,
            "保單未正確開啟", false},
        FailureCase{"NegativeDocumentLength", [](PolicyState& s) { s.pdfLength = -1; }, 200,
                    "保單未正確開啟", false},
        FailureCase{"UrlWithoutScheme", [](PolicyState& s) { s.certChainUrl = "acquvSrv/caChain"; },
                    200, "驗證網址有誤：acquvSrv/caChain", false},
        FailureCase{"UrlOfAnotherScheme",
                    [](PolicyState& s) { s.certChainUrl = "ftp://127.0.0.1/acquvSrv/caChain"; },
                    200, "驗證網址有誤：ftp://127.0.0.1/acquvSrv/caChain", false},
        FailureCase{"NotFound", kUnchanged, 404, "連線失敗,無法驗證", true},
        FailureCase{"ServerError", kUnchanged, 500, "連線失敗,無法驗證", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OnlineVerificationTest, UnreachableServiceFailsToConnect) {
  Serve("{}");
  server_.Stop();
  EXPECT_EQ(Request(), -1);
  EXPECT_EQ(state_.statusText, "連線失敗,無法驗證");
  EXPECT_EQ(state_.onlineResponse, kEarlierReply);
}

TEST_F(OnlineVerificationTest, ReplyCutShortIsAReceiveFailure) {
  Serve("", 200, /*cut=*/true);
  EXPECT_EQ(Request(), -1);
  // libcurl's code for a body that ended before its announced length: 18.
  EXPECT_EQ(state_.statusText, "接收資料失敗(0x12)");
  EXPECT_EQ(state_.onlineResponse, kEarlierReply);
}

TEST_F(OnlineVerificationTest, PathsAreShownWithForwardSlashes) {
  // A backslash is a name character here: the file is read by its own name,
  // and only the message writes the path with slashes.
  packagePath_ = dir_ / "C:\\a\\b.tpk";
  test::WriteFile(packagePath_, std::string("package bytes"));
  Serve("{}");
  EXPECT_EQ(Request(), 0);
  EXPECT_EQ(body_, "package bytes");

  std::filesystem::remove(packagePath_);
  EXPECT_EQ(Request(), -1);
  EXPECT_EQ(state_.statusText, dir_.path().string() + "/C:/a/b.tpk讀取失敗");
  EXPECT_EQ(requests_, 1);
}

TEST_F(OnlineVerificationTest, PackageUnreadableWholeIsAReadFailure) {
  // A device streams (as no bytes) into the authenticator but has no size to
  // be read whole as the body.
  packagePath_ = dir_ / "device.tpk";
  std::filesystem::create_symlink("/dev/null", packagePath_);
  Serve("{}");
  EXPECT_EQ(Request(), -1);
  EXPECT_EQ(state_.statusText, packagePath_.string() + "讀取失敗");
  EXPECT_EQ(requests_, 0);
}

// The reference services with a package that `tpk pack` issued into their
// data folder.
class ReferenceVerifyServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    trace::SetLogSink({});
    const std::string keys = ShellQuote((test::TestDataDir() / "keys-pki").string());
    const std::string services = ShellQuote((dir_ / "services").string());
    ASSERT_EQ(test::RunTpk("ca --out " + ShellQuote((dir_ / "pki").string()) + " --keys " + keys +
                           " --services " + services)
                  .exitCode,
              0);
    process_.emplace(
        std::vector<std::string>{test::ServicesPath(), "--data", (dir_ / "services").string(),
                                 "--listen", "127.0.0.1:0"},
        dir_ / "services.log");
    ASSERT_EQ(process_->firstLine().rfind("http://127.0.0.1:", 0), 0u) << process_->firstLine();

    test::WriteFile(dir_ / "doc.pdf", document_);
    const test::TpkAnswer packed = test::RunTpk(
        "pack --out " + ShellQuote(packagePath_.string()) + " --document " +
        ShellQuote((dir_ / "doc.pdf").string()) + " --password pw --pki " +
        ShellQuote((dir_ / "pki").string()) + " --file-name " + ShellQuote("保單A.pdf") +
        " --tpk-sign-time 240102030405Z --cert-chain-url " +
        ShellQuote(process_->firstLine() + "/acquvSrv/caChain") + " --services " + services);
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
  }

  // The state an opening of `path` leaves: the document decrypted, the
  // service address from the package.
  void Open(PolicyState& state, const std::filesystem::path& path, int32_t s1DigestId) {
    const Bytes file = test::ReadFile(path);
    TpkPackage package;
    ASSERT_EQ(ReadPackage(package, file.data(), file.size()), 0);
    state.certChainUrl.assign(package.versionInfo.certChainUrl.begin(),
                              package.versionInfo.certChainUrl.end());
    state.decryptState = 0;
    state.s1DigestId = s1DigestId;
    SetDocument(state, document_);
  }

  static Json::Value Parsed(const std::string& text) {
    Json::Value value;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, nullptr)) << text;
    return value;
  }

  test::TempDir dir_;
  const std::filesystem::path packagePath_ = dir_ / "issued.tpk";
  const std::string document_ = "%PDF-1.4 an issued policy";
  std::optional<test::BackgroundProcess> process_;
};

TEST_F(ReferenceVerifyServiceTest, ConfirmsTheIssuedPackageByEitherDigest) {
  for (const int32_t digestId : {kSha256DigestId, kSha1DigestId}) {
    SCOPED_TRACE(digestId);
    PolicyState state;
    Open(state, packagePath_, digestId);
    ASSERT_EQ(RequestOnlineVerification(state, packagePath_), 0) << state.statusText;
    const Json::Value reply = Parsed(state.onlineResponse);
    EXPECT_EQ(reply["code"].asString(), "0000") << state.onlineResponse;
    EXPECT_EQ(reply["chk"]["code"].asString(), "00");
    EXPECT_EQ(reply["chk"]["name"].asString(), "保單A.pdf");
    EXPECT_EQ(reply["chk"]["time"].asString(), "2024-01-02 03:04:05");
  }
}

TEST_F(ReferenceVerifyServiceTest, RefusesWhatItDidNotIssue) {
  const std::filesystem::path changed = dir_ / "changed.tpk";
  Bytes bytes = test::ReadFile(packagePath_);
  bytes.back() ^= 0x01;  // the preview's last byte
  test::WriteFile(changed, bytes);

  struct Case {
    const char* name;
    std::filesystem::path package;
    std::function<void(PolicyState&)> change;
    const char* code;
  };
  const Case cases[] = {
      {"ChangedPackage", changed, [](PolicyState&) {}, "1001"},
      {"OtherPrefix", packagePath_, [](PolicyState& s) { s.authPrefix[2] = 'W'; }, "1002"},
      {"OtherDocument", packagePath_, [](PolicyState& s) { SetDocument(s, "%PDF-1.4 forged"); },
       "1003"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PolicyState state;
    Open(state, c.package, kSha256DigestId);
    c.change(state);
    ASSERT_EQ(RequestOnlineVerification(state, c.package), 0) << state.statusText;
    const Json::Value reply = Parsed(state.onlineResponse);
    EXPECT_EQ(reply["code"].asString(), c.code) << state.onlineResponse;
    EXPECT_FALSE(reply.isMember("chk"));
  }
}

TEST_F(ReferenceVerifyServiceTest, RefusesMalformedRequests) {
  const Bytes package = test::ReadFile(packagePath_);
  const std::string body(package.begin(), package.end());
  const std::string hash(64, 'A');
  const std::string auth(40, 'B');
  const std::pair<std::string, std::string> requests[] = {
      {"/acquvSrv/verify?hash=" + hash, body},
      {"/acquvSrv/verify?auth=" + auth.substr(1) + "&hash=" + hash, body},
      {"/acquvSrv/verify?auth=" + auth + "&hash=" + hash.substr(2), body},
      {"/acquvSrv/verify?auth=" + auth + "&hash=" + std::string(64, 'G'), body},
      {"/acquvSrv/verify?auth=" + auth + "&hash=" + hash, ""},
  };
  httplib::Client client(process_->firstLine());
  for (const auto& [target, requestBody] : requests) {
    SCOPED_TRACE(target);
    const httplib::Result result = client.Post(target, requestBody, kContentType);
    ASSERT_TRUE(result);
    EXPECT_EQ(Parsed(result->body)["code"].asString(), "1000") << result->body;
  }
}

}  // namespace
}  // namespace qalv
