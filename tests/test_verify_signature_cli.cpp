// `tpk verify-signature` on signatures made by OpenSSL's command line with a
// key and self-signed certificate made by OpenSSL too.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>

#include <json/reader.h>
#include <json/value.h>

#include "tests/support/test_support.h"
#include "x509/certificate.h"
#include "x509/signature.h"

namespace qalv {
namespace {

using Answer = test::TpkAnswer;

Answer RunTpk(const std::string& args) { return test::RunTpk("verify-signature " + args); }

using test::Bytes;
using test::ShellQuote;

// One key, its certificate and the signed data for the whole suite.
class Signer {
 public:
  Signer() {
    Must("openssl genrsa -out " + Path("key.pem") + " 2048");
    Must("openssl req -x509 -new -key " + Path("key.pem") +
         " -subj /CN=Policy\\ Signer -days 30 -sha256 -outform DER -out " + Path("cert.der"));
    Must("openssl base64 -A -in " + Path("cert.der") + " -out " + Path("cert.b64"));
    test::WriteFile(dir_ / "data", std::string("an insured's policy document, signed"));
  }

  std::string Path(const std::string& name) const { return ShellQuote((dir_ / name).string()); }
  std::filesystem::path File(const std::string& name) const { return dir_ / name; }

  // Signs `data` with OpenSSL's PKCS #1 v1.5 signature and the digest `md`.
  std::string Sign(const std::string& md) const {
    const std::string sig = "sig." + md;
    Must("openssl dgst -" + md + " -sign " + Path("key.pem") + " -out " + Path(sig) + " " +
         Path("data"));
    return sig;
  }

 private:
  static void Must(const std::string& command) {
    const auto result = test::Run(command);
    if (result.exitCode != 0) throw std::runtime_error(command + ": " + result.err);
  }

  test::TempDir dir_;
};

const Signer& TheSigner() {
  static const Signer signer;
  return signer;
}

std::string Args(const std::string& cert, const std::string& data, const std::string& sig) {
  const Signer& s = TheSigner();
  return "--cert " + s.Path(cert) + " --data " + s.Path(data) + " --sig " + s.Path(sig);
}

struct DigestCase {
  const char* md;
  int32_t result;
  int32_t digestId;
};

class OpenSslSignatureTest : public testing::TestWithParam<DigestCase> {};

TEST_P(OpenSslSignatureTest, VerifiesOrRefusesTheDigest) {
  const DigestCase& c = GetParam();
  const std::string sig = TheSigner().Sign(c.md);
  for (const char* cert : {"cert.der", "cert.b64"}) {
    SCOPED_TRACE(cert);
    const Answer got = RunTpk(Args(cert, "data", sig));
    EXPECT_EQ(got.json["result"].asInt(), c.result) << got.err;
    EXPECT_EQ(got.json["digestId"].asInt(), c.digestId);
    EXPECT_EQ(got.exitCode, c.result == 0 ? 0 : 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Digests, OpenSslSignatureTest,
    testing::Values(DigestCase{"md5", 0, digest_id::kMd5}, DigestCase{"sha1", 0, digest_id::kSha1},
                    DigestCase{"sha224", 0, digest_id::kSha224},
                    DigestCase{"sha256", 0, digest_id::kSha256},
                    DigestCase{"sha384", signature::kRefusedDigest, digest_id::kSha384},
                    DigestCase{"sha512", signature::kRefusedDigest, digest_id::kSha512}),
    [](const testing::TestParamInfo<DigestCase>& info) { return std::string(info.param.md); });

TEST(VerifySignatureCliTest, ChangedDataIsADigestMismatch) {
  const Signer& s = TheSigner();
  const std::string sig = s.Sign("sha256");
  Bytes data = test::ReadFile(s.File("data"));
  data[7] ^= 0x01;
  test::WriteFile(s.File("changed"), data);

  const Answer got = RunTpk(Args("cert.der", "changed", sig));
  EXPECT_EQ(got.json["result"].asInt(), signature::kDigestMismatch);
  EXPECT_EQ(got.json["digestId"].asInt(), digest_id::kSha256);
  EXPECT_EQ(got.exitCode, 1);
}

TEST(VerifySignatureCliTest, RefusedCertificateReportsTheReadersCode) {
  const Signer& s = TheSigner();
  Bytes cert = test::ReadFile(s.File("cert.der"));
  cert.resize(cert.size() / 2);
  test::WriteFile(s.File("cut.der"), cert);
  CertificateList list;
  const int32_t readerCode = ParseCertificate(list, cert.data(), cert.size());
  ASSERT_NE(readerCode, 0);

  const Answer got = RunTpk(Args("cut.der", "data", s.Sign("sha256")));
  EXPECT_EQ(got.json["result"].asInt(), readerCode);
  EXPECT_EQ(got.json["digestId"].asInt(), -1);
  EXPECT_EQ(got.exitCode, 1);
  EXPECT_NE(got.err, "");
}

TEST(VerifySignatureCliTest, UnreadableInputOrMissingOptionIsAUsageError) {
  const std::string sig = TheSigner().Sign("sha256");
  for (const std::string& args : {Args("cert.der", "no-such-file", sig),
                                  Args("no-such-cert", "data", sig),
                                  Args("cert.der", "data", "no-such-sig"),
                                  "--cert " + TheSigner().Path("cert.der") + " --data " +
                                      TheSigner().Path("data")}) {
    SCOPED_TRACE(args);
    const Answer got = RunTpk(args);
    EXPECT_EQ(got.exitCode, 2);
    EXPECT_TRUE(got.json.isNull()) << "nothing on standard output";
    EXPECT_NE(got.err, "");
  }
}

TEST(VerifySignatureCliTest, TraceGoesToStandardError) {
  const Signer& s = TheSigner();
  const auto run = test::Run(ShellQuote(test::TpkPath()) + " --trace verify-signature " +
                             Args("cert.der", "data", s.Sign("sha256")));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.err.find("calc hash"), std::string::npos) << run.err;
  Json::Value json;
  std::istringstream in(run.out);
  std::string errors;
  EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &json, &errors))
      << "standard output holds only the answer: " << run.out;
}

}  // namespace
}  // namespace qalv
