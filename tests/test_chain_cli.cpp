// `tpk chain` and `tpk check-cert` on PKIs made by `tpk ca` and chains
// bundled by OpenSSL, with `tpk cert` and `openssl verify` as the references.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <json/reader.h>
#include <json/value.h>

#include "tests/support/test_support.h"

namespace qalv {
namespace {

using Answer = test::TpkAnswer;
using test::RunTpk;

using test::ShellQuote;

void Must(const std::string& command) {
  const auto result = test::Run(command);
  if (result.exitCode != 0) throw std::runtime_error(command + ": " + result.err);
}

// Two PKIs from the committed keys, one valid for ten years and one whose
// certificates ran out yesterday, and chains bundled from them by OpenSSL.
class Pkis {
 public:
  Pkis() {
    const std::string keys = ShellQuote((test::TestDataDir() / "keys-pki").string());
    const std::string tpk = ShellQuote(test::TpkPath());
    Must(tpk + " ca --keys " + keys + " --out " + Path("pki"));
    Must(tpk + " ca --keys " + keys + " --base64 --out " + Path("pki64"));
    Must(tpk + " ca --keys " + keys + " --days=-1 --out " + Path("old"));
    for (const char* pki : {"pki", "old"}) {
      const std::string p = std::string(pki) + "/";
      for (const char* role : {"root", "intermediate", "insurer"}) {
        Must("openssl x509 -inform DER -in " + Path(p + role + ".crt") + " -out " +
             Path(p + role + ".pem"));
      }
      Bundle(p + "root-only.p7b", {p + "root.pem"});
      Bundle(p + "intermediate-only.p7b", {p + "intermediate.pem"});
      Bundle(p + "reversed.p7b", {p + "intermediate.pem", p + "root.pem"});
    }
  }

  std::filesystem::path File(const std::string& name) const { return dir_ / name; }
  std::string Path(const std::string& name) const { return ShellQuote(File(name).string()); }

 private:
  void Bundle(const std::string& out, std::initializer_list<std::string> pems) const {
    std::string command = "openssl crl2pkcs7 -nocrl -outform DER -out " + Path(out);
    for (const std::string& pem : pems) command += " -certfile " + Path(pem);
    Must(command);
  }

  test::TempDir dir_;
};

const Pkis& ThePkis() {
  static const Pkis pkis;
  return pkis;
}

Json::Value CertWithoutResult(const std::string& file) {
  Answer cert = RunTpk("cert " + ThePkis().Path(file));
  EXPECT_EQ(cert.exitCode, 0) << cert.out;
  cert.json.removeMember("result");
  return cert.json;
}

TEST(TpkChain, ListsTheCertificatesAsTpkCertReadsThem) {
  const struct {
    const char* chain;
    std::vector<const char*> certificates;
  } rows[] = {
      {"pki/chain.p7b", {"pki/root.crt", "pki/intermediate.crt"}},
      {"pki64/chain.p7b", {"pki64/root.crt", "pki64/intermediate.crt"}},
      {"pki/reversed.p7b", {"pki/intermediate.crt", "pki/root.crt"}},
      {"pki/root-only.p7b", {"pki/root.crt"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.chain);
    const Answer chain = RunTpk("chain " + ThePkis().Path(row.chain));
    EXPECT_EQ(chain.exitCode, 0);
    EXPECT_EQ(chain.json["result"], 0);
    ASSERT_EQ(chain.json["certificates"].size(), row.certificates.size()) << chain.out;
    for (Json::ArrayIndex i = 0; i < row.certificates.size(); ++i) {
      EXPECT_EQ(chain.json["certificates"][i], CertWithoutResult(row.certificates[i]));
    }
  }
}

TEST(TpkChain, RefusalsAndUnreadableFiles) {
  test::TempDir dir;
  test::WriteFile(dir / "message", std::string("service unavailable"));
  test::WriteFile(dir / "escaped", std::string("MIIB\\/w=="));

  const Answer text = RunTpk("chain " + ShellQuote((dir / "message").string()));
  EXPECT_EQ(text.exitCode, 1);
  EXPECT_EQ(text.json["result"], 22);
  EXPECT_FALSE(text.json.isMember("certificates"));

  const Answer base64 = RunTpk("chain " + ShellQuote((dir / "escaped").string()));
  EXPECT_EQ(base64.exitCode, 1);
  EXPECT_EQ(base64.json["result"], 0x52);

  const Answer missing = RunTpk("chain " + ShellQuote((dir / "absent").string()));
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_TRUE(missing.out.empty());
}

// Whether OpenSSL accepts the certificate with the chain's certificates as
// its only trust.
bool OpenSslVerifies(const std::string& cert, const std::string& chain) {
  const Pkis& p = ThePkis();
  test::TempDir dir;
  const std::string bundle = ShellQuote((dir / "bundle.pem").string());
  // A Base64 chain is one line of text, which OpenSSL reads only decoded.
  const bool base64 = test::ReadFile(p.File(chain)).front() == 'M';
  Must((base64 ? "openssl base64 -d -A -in " + p.Path(chain) + " | " : std::string()) +
       "openssl pkcs7 -inform DER -print_certs" + (base64 ? "" : " -in " + p.Path(chain)) +
       " -out " + bundle);
  return test::Run("openssl verify -CAfile " + bundle + " " + p.Path(cert)).exitCode == 0;
}

TEST(TpkCheckCert, FlagsAndResultOfEachChain) {
  const struct {
    const char* cert;  // .crt (DER) for tpk, .pem for OpenSSL
    const char* chain;
    int flags;
    int result;
    const char* trust = "pki/trust";  // "": a trust folder without anchors
  } rows[] = {
      {"pki/insurer", "pki/chain.p7b", 0, 0},
      {"pki/insurer", "pki64/chain.p7b", 0, 0},
      {"pki/insurer", "pki/reversed.p7b", 0, 0},
      {"pki/root", "pki/root-only.p7b", 0, 0},
      {"pki/insurer", "pki/root-only.p7b", 6, 6},
      {"pki/insurer", "pki/intermediate-only.p7b", 4, 4},
      {"old/insurer", "old/chain.p7b", 1, 0},
      {"old/insurer", "old/root-only.p7b", 7, 7},
      {"old/insurer", "old/intermediate-only.p7b", 5, 5},
      // Only the configured anchors root a path, whatever is self-signed.
      {"pki/insurer", "pki/chain.p7b", 4, 4, ""},
      {"old/insurer", "old/chain.p7b", 5, 5, ""},
      {"old/insurer", "old/chain.p7b", 1, 0, "old/trust"},
  };
  test::TempDir noAnchors;
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.cert) + " " + row.chain + " " + row.trust);
    const std::string trust = *row.trust ? ThePkis().Path(row.trust)
                                         : ShellQuote(noAnchors.path().string());
    const Answer check = RunTpk("check-cert " + ThePkis().Path(std::string(row.cert) + ".crt") +
                                " " + ThePkis().Path(row.chain) + " --trust-dir " + trust);
    EXPECT_EQ(check.json["flags"], row.flags) << check.out;
    EXPECT_EQ(check.json["result"], row.result);
    EXPECT_EQ(check.exitCode, row.result == 0 ? 0 : 1);
    // OpenSSL refuses expired certificates; on the others it must agree.
    if ((row.flags & 1) == 0 && *row.trust) {
      EXPECT_EQ(OpenSslVerifies(std::string(row.cert) + ".pem", row.chain), row.result == 0);
    }
  }
}

TEST(TpkCheckCert, RefusedInputsLeaveTheCheckUnmade) {
  test::TempDir dir;
  test::WriteFile(dir / "text", std::string("not a certificate"));
  const std::string text = ShellQuote((dir / "text").string());
  const std::string cert = ThePkis().Path("pki/insurer.crt");
  const std::string chain = ThePkis().Path("pki/chain.p7b");

  const Answer badCert = RunTpk("check-cert " + text + " " + chain);
  EXPECT_EQ(badCert.exitCode, 1);
  EXPECT_EQ(badCert.json["result"], 0x60);
  EXPECT_FALSE(badCert.json.isMember("flags"));

  const Answer badChain = RunTpk("check-cert " + cert + " " + text);
  EXPECT_EQ(badChain.exitCode, 1);
  EXPECT_EQ(badChain.json["result"], 0x16);
  EXPECT_FALSE(badChain.json.isMember("flags"));

  EXPECT_EQ(RunTpk("check-cert " + cert + " " + ShellQuote((dir / "absent").string())).exitCode, 2);
  EXPECT_EQ(RunTpk("check-cert " + cert).exitCode, 2);
}

}  // namespace
}  // namespace qalv
