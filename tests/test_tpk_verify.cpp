// `tpk verify` and `tpk hint` end to end, as a test bench uses them: packages
// from `tpk pack`, the authority's services from `qalv-services` on 127.0.0.1.
#include <gtest/gtest.h>

#include <mbedtls/sha256.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "opening/signer_details.h"
#include "tests/support/fixtures.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"
#include "writer/package_writer.h"
#include "writer/test_pki.h"

namespace qalv {
namespace {

using test::ShellQuote;

constexpr char kPassword[] = "demo-password";

// One PKI, one running qalv-services and one document for the whole suite.
class TpkVerifyTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    const std::string keys = (test::TestDataDir() / "keys-pki").string();
    ASSERT_EQ(test::RunTpk("ca --out " + Quoted("pki") + " --keys " + ShellQuote(keys) +
                           " --services " + Quoted("services"))
                  .exitCode,
              0);
    services_ = new test::BackgroundProcess({test::ServicesPath(), "--data", Path("services"),
                                             "--listen", "127.0.0.1:0"},
                                            Path("services.log"));
    document_ = "%PDF-1.4 a policy document for the test bench";
    test::WriteFile(Path("doc.pdf"), document_);
  }
  static void TearDownTestSuite() {
    delete services_;
    delete dir_;
  }

  static std::string Path(const std::string& name) { return (*dir_ / name).string(); }
  static std::string Quoted(const std::string& name) { return ShellQuote(Path(name)); }
  static std::string ServiceUrl(const std::string& path) { return services_->firstLine() + path; }

  // A package packed with `options`, kept by the services for online checks.
  std::string Pack(const std::string& name, const std::string& options = "",
                   const std::string& chainUrl = ServiceUrl("/acquvSrv/caChain")) {
    const test::TpkAnswer packed = test::RunTpk(
        "pack --out " + Quoted(name) + " --document " + Quoted("doc.pdf") + " --password " +
        kPassword + " --pki " + Quoted("pki") + " --services " + Quoted("services") +
        " --cert-chain-url " + ShellQuote(chainUrl) + " --win-update " +
        ShellQuote(ServiceUrl("/acquvSrv/update")) + " " + options);
    EXPECT_EQ(packed.exitCode, 0) << packed.err;
    return Quoted(name);
  }

  test::TpkAnswer Verify(const std::string& package, const std::string& options,
                         const std::string& work = "work", const std::string& pki = "pki") {
    return test::RunTpk("verify " + package + " --work-dir " + Quoted(work) + " --trust-dir " +
                        Quoted(pki + "/trust") + " " + options);
  }

  static test::TempDir* dir_;
  static test::BackgroundProcess* services_;
  static std::string document_;
};

test::TempDir* TpkVerifyTest::dir_ = nullptr;
test::BackgroundProcess* TpkVerifyTest::services_ = nullptr;
std::string TpkVerifyTest::document_;

std::string Sha256Hex(const std::string& bytes) {
  test::Bytes digest(32);
  mbedtls_sha256_ret(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), digest.data(), 0);
  return test::Hex(digest);
}

TEST_F(TpkVerifyTest, GenuinePackagePassesAndIsConfirmedOnline) {
  const std::string package = Pack("genuine.tpk");
  const test::TpkAnswer answer = Verify(
      package, std::string("--password ") + kPassword + " --online --extract-pdf " + Quoted("out.pdf"));
  ASSERT_EQ(answer.exitCode, 0) << answer.out << answer.err;
  const Json::Value& json = answer.json;
  EXPECT_EQ(json["statusCode"].asInt(), 0);
  for (const char* field : {"parseResult", "s1SignResult", "s2SignResult", "s3SignResult",
                            "s1CertResult", "s2CertResult", "s3CertResult", "decryptState"}) {
    EXPECT_EQ(json[field].asInt(), 0) << field;
  }
  EXPECT_EQ(json["s1DigestId"].asInt(), 11);
  EXPECT_EQ(json["pdfLength"].asUInt64(), document_.size());
  EXPECT_EQ(json["pdfSha256"].asString(), Sha256Hex(document_));
  EXPECT_EQ(json["snapshotPath"].asString(), Path("work") + "/SNS");
  EXPECT_EQ(std::filesystem::status(Path("work")).permissions(), std::filesystem::perms::owner_all)
      << "the work folder is made for its owner alone";
  EXPECT_EQ(json["messages"].size(), 0u);
  const test::Bytes extracted = test::ReadFile(Path("out.pdf"));
  EXPECT_EQ(std::string(extracted.begin(), extracted.end()), document_);

  const Json::Value& online = json["online"];
  EXPECT_EQ(online["result"].asInt(), 0) << online["statusText"].asString();
  EXPECT_NE(online["onlineResponse"].asString().find("\"0000\""), std::string::npos)
      << online["onlineResponse"].asString();
}

TEST_F(TpkVerifyTest, PasswordFromAFileWithoutItsLineEnd) {
  const std::string package = Pack("sha1.tpk", "--s1-digest sha1");
  test::WriteFile(Path("password.txt"), std::string(kPassword) + "\n");
  const test::TpkAnswer answer = Verify(package, "--password-file " + Quoted("password.txt"));
  EXPECT_EQ(answer.exitCode, 0) << answer.out;
  EXPECT_EQ(answer.json["s1DigestId"].asInt(), 5);
}

TEST_F(TpkVerifyTest, RefusalsEndWithTheirStatus) {
  const std::string package = Pack("plain.tpk");
  const test::TpkAnswer noPassword = Verify(package, "");
  EXPECT_EQ(noPassword.exitCode, 1);
  EXPECT_EQ(noPassword.json["statusCode"].asInt(), 1002);
  for (const char* role : {"s1", "s2", "s3"}) {
    const Json::Value& signer = noPassword.json["signers"][role];
    EXPECT_EQ(signer["certResult"].asInt(), -1) << role;
    EXPECT_EQ(signer["reasons"].size(), 0u) << role << ": a check that never ran did not fail";
    EXPECT_EQ(signer["digest"].asString(), "") << role;
  }

  const test::TpkAnswer wrong = Verify(package, "--password wrong");
  EXPECT_EQ(wrong.exitCode, 1);
  EXPECT_GT(wrong.json["statusCode"].asInt(), 2000);
  EXPECT_EQ(wrong.json["decryptState"].asInt(), -1);
  EXPECT_FALSE(wrong.json.isMember("pdfSha256"));

  const test::TpkAnswer missing = Verify(Quoted("missing.tpk"), "--password x");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.json["statusCode"].asInt(), 1003);
  EXPECT_EQ(missing.json["statusText"].asString(), "讀取電子保單資料錯誤");
  EXPECT_EQ(missing.json["signers"], Json::Value(Json::objectValue)) << "no certificate was read";

  const std::string other = Pack("other-platform.tpk", "--win-support 0");
  const test::TpkAnswer platform = Verify(other, std::string("--password ") + kPassword);
  EXPECT_EQ(platform.json["statusCode"].asInt(), 1001);
  ASSERT_EQ(platform.json["messages"].size(), 1u);
  EXPECT_EQ(platform.json["messages"][0]["caption"].asString(), "資訊");
  EXPECT_EQ(platform.json["messages"][0]["text"].asString(), "此檔案不支援在windows平台開啟");
  EXPECT_EQ(platform.json["messages"][0]["answer"].asString(), "ok");
}

TEST_F(TpkVerifyTest, UpdateOfferIsRecordedAndNeverStartsAProgram) {
  const std::string package = Pack("newer.tpk", "--win-version 1.2.9.0");
  const test::TpkAnswer declined = Verify(package, std::string("--password ") + kPassword);
  EXPECT_EQ(declined.json["statusCode"].asInt(), 0);
  ASSERT_EQ(declined.json["messages"].size(), 1u);
  EXPECT_EQ(declined.json["messages"][0]["caption"].asString(), "更新資訊");
  EXPECT_EQ(declined.json["messages"][0]["answer"].asString(), "cancel");

  const test::TpkAnswer accepted =
      Verify(package, std::string("--password ") + kPassword + " --accept-update");
  EXPECT_EQ(accepted.json["statusCode"].asInt(), 0) << "the installer is fetched, not started";
  ASSERT_EQ(accepted.json["messages"].size(), 2u) << accepted.out;
  EXPECT_EQ(accepted.json["messages"][1]["caption"].asString(), "更新資訊");
  EXPECT_NE(accepted.json["messages"][1]["text"].asString().find(Path("work") + "/update.exe"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(Path("work") + "/update.exe"));

  const std::string older = Pack("older-numbering.tpk", "--win-version 1.2.10.0");
  EXPECT_EQ(Verify(older, std::string("--password ") + kPassword).json["messages"].size(), 0u);
}

// What anyone can make with tpk ca, tpk pack and qalv-services: a PKI of
// one's own behind the package's own chain address, and an insurer's key
// signing s3. Neither is certified, and neither opens the update offer.
TEST_F(TpkVerifyTest, PackagesAnyoneCanMakeAreNotCertified) {
  ASSERT_EQ(test::RunTpk("ca --bits 1024 --out " + Quoted("forged") + " --services " +
                         Quoted("forged-services"))
                .exitCode,
            0);
  const test::BackgroundProcess forgedServices(
      {test::ServicesPath(), "--data", Path("forged-services"), "--listen", "127.0.0.1:0"},
      Path("forged-services.log"));
  const std::string forgedChain = forgedServices.firstLine() + "/acquvSrv/caChain";
  const std::string forged = test::RunTpk(
      "pack --out " + Quoted("forged.tpk") + " --document " + Quoted("doc.pdf") + " --password " +
      kPassword + " --pki " + Quoted("forged") + " --cert-chain-url " + ShellQuote(forgedChain) +
      " --win-version 1.2.9.0").exitCode == 0 ? Quoted("forged.tpk") : "";
  ASSERT_FALSE(forged.empty());
  const std::string insurerAsAuthority =
      Pack("insurer-s3.tpk", "--ca-key " + Quoted("pki/insurer.key") + " --ca-cert " +
                                 Quoted("pki/insurer.crt") + " --win-version 1.2.9.0");

  const struct {
    const char* name;
    std::string package;
    int s3, s2, s1;
    std::vector<std::string> captions;
    size_t chainFiles;
  } rows[] = {
      {"self-made PKI behind its own chain address", forged, -1, -1, -1, {"憑證鏈更新錯誤"}, 0},
      {"the insurer's key as the authority", insurerAsAuthority, 8, 0, 0, {}, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string work = std::string("work-") + row.name;
    const test::TpkAnswer answer =
        Verify(row.package, std::string("--password ") + kPassword + " --accept-update", work);
    const Json::Value& json = answer.json;
    EXPECT_EQ(answer.exitCode, 1);
    EXPECT_EQ(json["statusCode"].asInt(), 1016) << answer.out;
    EXPECT_EQ(json["statusText"].asString(), "憑證驗證不合格");
    EXPECT_EQ(json["s3CertResult"].asInt(), row.s3);
    EXPECT_EQ(json["s2CertResult"].asInt(), row.s2);
    EXPECT_EQ(json["s1CertResult"].asInt(), row.s1);
    std::vector<std::string> captions;
    for (const Json::Value& message : json["messages"]) {
      captions.push_back(message["caption"].asString());
      if (message["caption"].asString() == "憑證鏈更新錯誤") {
        EXPECT_EQ(message["text"].asString(), "憑證鏈無法連結至信任的根憑證");
      }
    }
    EXPECT_EQ(captions, row.captions) << "no update question, one box per refused chain";
    // Besides the seals and the preview (three-letter names), only a
    // chain that leads to an anchor is kept.
    size_t chainFiles = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Path(work))) {
      if (entry.path().filename().string().size() != 3) ++chainFiles;
    }
    EXPECT_EQ(chainFiles, row.chainFiles);
  }
}

// What a signer shares with its certificate file, as OpenSSL's command line
// reads the file: the members of `signers` under their names there.
Json::Value OpenSslView(const std::string& certificatePath) {
  const test::Bytes out = test::OpenSsl(
      "x509 -inform DER -noout -fingerprint -sha256 -serial -dateopt iso_8601 -startdate "
      "-enddate -subject -issuer -nameopt sep_multiline,oid",
      test::ReadFile(certificatePath));
  Json::Value view(Json::objectValue);
  Json::Value* name = nullptr;
  std::istringstream lines(std::string(out.begin(), out.end()));
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find('=');
    const std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    if (key.starts_with("    ") && name != nullptr) {  // one attribute of the name above
      Json::Value attribute(Json::arrayValue);
      attribute.append(key.substr(4));
      attribute.append(value);
      name->append(attribute);
    } else if (key == "subject" || key == "issuer") {
      name = &(view[key] = Json::Value(Json::arrayValue));
    } else if (key == "sha256 Fingerprint") {
      std::erase(value, ':');
      view["sha256Fingerprint"] = value;
    } else if (key == "notBefore" || key == "notAfter") {
      value[10] = 'T';  // "YYYY-MM-DD HH:MM:SSZ"
      view[key] = value;
    } else {
      view[key] = value;
    }
  }
  return view;
}

TEST_F(TpkVerifyTest, SignersAreDescribedAsOpenSslReadsTheirCertificates) {
  const test::TpkAnswer answer = Verify(Pack("described.tpk"), std::string("--password ") + kPassword);
  ASSERT_EQ(answer.exitCode, 0) << answer.out;
  const writer::TestPki& keys = test::SharedPki();
  const struct {
    const char* role;
    const char* certificate;
    const writer::Identity writer::TestPki::*identity;
  } rows[] = {{"s1", "insurer", &writer::TestPki::insurer},
              {"s2", "insurer", &writer::TestPki::insurer},
              {"s3", "authority", &writer::TestPki::authority}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.role);
    const Json::Value& signer = answer.json["signers"][row.role];
    const Json::Value expected = OpenSslView(Path("pki/") + row.certificate + ".crt");
    for (const char* member : {"sha256Fingerprint", "notBefore", "notAfter", "subject", "issuer"}) {
      EXPECT_EQ(signer[member], expected[member]) << member;
    }
    // OpenSSL leaves out the zero byte that keeps a serial positive.
    std::string serial = signer["serial"].asString();
    if (serial.starts_with("00")) serial.erase(0, 2);
    EXPECT_EQ(serial, expected["serial"].asString());
    EXPECT_EQ(signer["keyBits"].asUInt(), (keys.*row.identity).key->Bits());
    EXPECT_EQ(signer["digest"].asString(), "SHA-256");

    const char* walked[] = {row.certificate, "intermediate", "root"};
    const Json::Value& path = signer["path"];
    ASSERT_EQ(path.size(), std::size(walked));
    for (Json::ArrayIndex i = 0; i < path.size(); ++i) {
      const Json::Value step = OpenSslView(Path("pki/") + walked[i] + ".crt");
      EXPECT_EQ(path[i]["sha256Fingerprint"], step["sha256Fingerprint"]) << walked[i];
      EXPECT_EQ(path[i]["subject"], step["subject"]) << walked[i];
      EXPECT_EQ(path[i]["anchor"].asBool(), i + 1 == path.size()) << "only the root is an anchor";
    }
  }
}

// One row per way a signer's checks fail, and the sentences that say so.
TEST_F(TpkVerifyTest, SignersSayWhyTheirChecksFailed) {
  const writer::TestPki& keys = test::SharedPki();
  const std::time_t now = std::time(nullptr);
  const auto spec = [now](const std::string& subject, std::time_t notAfter, bool isCa) {
    writer::CertificateSpec certificate;
    certificate.subject = subject;
    certificate.isCa = isCa;
    certificate.notBefore = writer::CertTimeText(now - 400 * 86400);
    certificate.notAfter = writer::CertTimeText(notAfter);
    return certificate;
  };
  const std::string insurerName = writer::kPkiRoles[2].subject;
  const std::string insurerKey = " --signer-key " + Quoted("pki/insurer.key");

  // The insurer's key, certified by the intermediate until yesterday.
  test::WriteFile(Path("expired.crt"),
                  writer::IssueCertificate(spec(insurerName, now - 86400, false), keys.insurer.key,
                                           &keys.intermediate).certificate);
  // Signed with the intermediate's key, in a name that no chain holds.
  const writer::Identity unnamedIssuer{keys.intermediate.key, "CN=QALV Unknown CA,C=TW", {}};
  test::WriteFile(Path("unknown-issuer.crt"),
                  writer::IssueCertificate(spec(insurerName, now + 30 * 86400, false),
                                           keys.insurer.key, &unnamedIssuer).certificate);
  // A second PKI, whose trust folder trusts none of the first.
  ASSERT_EQ(test::RunTpk("ca --bits 1024 --out " + Quoted("other")).exitCode, 0);
  // A chain that leads to the trusted root, but whose first certificate
  // cross-certifies the intermediate's key under a root of someone else's:
  // the signers' walk takes that one.
  const writer::Identity otherRoot =
      writer::IssueCertificate(spec("CN=QALV Other Root CA,C=TW", now + 30 * 86400, true),
                               std::make_shared<writer::RsaKey>(writer::RsaKey::Generate(1024)),
                               nullptr);
  const writer::Identity crossCertified =
      writer::IssueCertificate(spec(writer::kPkiRoles[1].subject, now + 30 * 86400, true),
                               keys.intermediate.key, &otherRoot);
  const writer::Bytes crossChain = writer::ChainFile(
      {crossCertified.certificate, otherRoot.certificate,
       test::ReadFile(Path("pki/intermediate.crt")), test::ReadFile(Path("pki/root.crt"))});
  // s1's signature damaged, s2 and s3 made again over it.
  writer::PackageSpec damaged = writer::DefaultPackageSpec(keys);
  damaged.password = kPassword;
  damaged.versionInfo.certChainUrl = ServiceUrl("/acquvSrv/caChain");
  writer::DerNode tree = writer::BuildPackageTree(damaged);
  writer::Bytes s1Signature = writer::BitStringValue(tree.At("s1Signature"));
  s1Signature[s1Signature.size() / 2] ^= 0x01;
  writer::SetBitStringValue(tree.At("s1Signature"), s1Signature);
  writer::Resign(tree, damaged);
  test::WriteFile(Path("damaged-s1.tpk"), writer::Serialize(tree));

  struct Signer {
    std::vector<std::string> reasons;
    std::vector<bool> anchors;  // of the walk, signer first
    std::string digest = "SHA-256";
  };
  namespace reason = signer_reason;
  const Signer passes{{}, {false, false, true}};
  const Signer expired{{reason::kExpired}, {false, false, true}};
  const Signer unknownIssuer{{reason::kIssuerUnverified, reason::kNoTrustedRoot}, {false}};
  const Signer noChain{{reason::kNoChain}, {}};
  const Signer untrustedRoot{{reason::kNoTrustedRoot}, {false, false, false}};
  const struct {
    const char* name;
    std::string package;
    std::string pki;  // whose trust folder
    writer::Bytes storedChain;
    int status;
    Signer s1, s2, s3;
  } rows[] = {
      {"genuine", Pack("why-genuine.tpk"), "pki", {}, 0, passes, passes, passes},
      {"expired insurer",
       Pack("why-expired.tpk", insurerKey + " --signer-cert " + Quoted("expired.crt")), "pki", {},
       0, expired, expired, passes},
      {"issuer the chain does not hold",
       Pack("why-unknown-issuer.tpk", insurerKey + " --signer-cert " + Quoted("unknown-issuer.crt")),
       "pki", {}, 1016, unknownIssuer, unknownIssuer, passes},
      {"signers under a root that is not trusted", Pack("why-other-root.tpk"), "other", {}, 1016,
       noChain, noChain, noChain},
      {"walk ending at a root that is not trusted", Pack("why-cross.tpk"), "pki", crossChain, 1016,
       untrustedRoot, untrustedRoot, untrustedRoot},
      // Checked before the password for the update offer, which it closes.
      {"insurer's certificate as s3",
       Pack("why-insurer-s3.tpk", "--ca-key " + Quoted("pki/insurer.key") + " --ca-cert " +
                                      Quoted("pki/insurer.crt") + " --win-version 1.2.9.0"),
       "pki", {}, 1016, passes, passes, {{reason::kNotAuthority}, {false, false, true}}},
      {"damaged s1 signature", Quoted("damaged-s1.tpk"), "pki", {}, 1009,
       {{reason::kSignatureMismatch}, {false, false, true}, ""}, passes, passes},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string work = std::string("why-") + row.name;
    if (!row.storedChain.empty()) {
      test::StoreSealedChain(Path(work), *keys.intermediate.key, row.storedChain);
    }
    const test::TpkAnswer answer =
        Verify(row.package, std::string("--password ") + kPassword, work, row.pki);
    EXPECT_EQ(answer.json["statusCode"].asInt(), row.status) << answer.out;
    const struct {
      std::string role;
      const Signer& expected;
    } signers[] = {{"s1", row.s1}, {"s2", row.s2}, {"s3", row.s3}};
    for (const auto& [role, expected] : signers) {
      SCOPED_TRACE(role);
      const Json::Value& signer = answer.json["signers"][role];
      std::vector<std::string> reasons;
      for (const Json::Value& reason : signer["reasons"]) reasons.push_back(reason.asString());
      EXPECT_EQ(reasons, expected.reasons);
      std::vector<bool> anchors;
      for (const Json::Value& step : signer["path"]) anchors.push_back(step["anchor"].asBool());
      EXPECT_EQ(anchors, expected.anchors);
      EXPECT_EQ(signer["digest"].asString(), expected.digest);
      EXPECT_EQ(signer["certResult"], answer.json[role + "CertResult"]);
      EXPECT_EQ(signer["signResult"], answer.json[role + "SignResult"]);
    }
  }
}

TEST_F(TpkVerifyTest, OnlineFailuresSayWhy) {
  test::LocalServer nothing;  // answers 404 to everything
  nothing.Start();
  const std::string lost = Pack("lost.tpk", "", nothing.Url("/acquvSrv/caChain"));
  const test::TpkAnswer notFound =
      Verify(lost, std::string("--password ") + kPassword + " --online");
  EXPECT_EQ(notFound.json["online"]["result"].asInt(), -1);
  EXPECT_EQ(notFound.json["online"]["statusText"].asString(), "連線失敗,無法驗證");

  const std::string url = nothing.Url("/acquvSrv/caChain");
  nothing.Stop();
  const std::string unreachable = Pack("unreachable.tpk", "", url);
  const test::TpkAnswer down =
      Verify(unreachable, std::string("--password ") + kPassword + " --online");
  EXPECT_EQ(down.json["online"]["statusText"].asString(), "連線失敗,無法驗證");

  const test::TpkAnswer undecrypted = Verify(unreachable, "--online");
  EXPECT_EQ(undecrypted.json["online"]["statusText"].asString(), "保單未正確開啟");
  EXPECT_EQ(undecrypted.json["statusCode"].asInt(), 1002) << "the opening's own status";
}

TEST_F(TpkVerifyTest, HintAsThePromptShowsIt) {
  const test::TpkAnswer rules = test::RunTpk(
      "hint --url " + ShellQuote(ServiceUrl("/acquvSrv/caChain")) + " --batch BATCH-0001");
  EXPECT_EQ(rules.exitCode, 0);
  EXPECT_EQ(rules.json["text"].asString().rfind("密碼提示原則如下：<div style='height:59px; overflow:auto'>", 0),
            0u)
      << rules.out;

  test::LocalServer nothing;
  nothing.Start();
  const test::TpkAnswer notFound =
      test::RunTpk("hint --url " + ShellQuote(nothing.Url("/")) + " --batch B");
  EXPECT_EQ(notFound.json["text"].asString(),
            "目前偵測不到網路，請在網路連線狀態下再次嘗試。連線失敗(StatusCode=404)");
  const std::string url = nothing.Url("/");
  nothing.Stop();
  const test::TpkAnswer down = test::RunTpk("hint --url " + ShellQuote(url) + " --batch B");
  EXPECT_EQ(down.json["text"].asString().rfind("目前偵測不到網路，請在網路連線狀態下再次嘗試。", 0), 0u);
  EXPECT_EQ(down.exitCode, 0);
}

}  // namespace
}  // namespace qalv
