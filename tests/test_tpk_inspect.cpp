// `tpk inspect` end to end: the JSON a test bench reads, the exit statuses,
// code page 950 texts, and standard output kept clean under --trace.
#include <gtest/gtest.h>

#include <json/reader.h>
#include <json/value.h>

#include <memory>
#include <string>

#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "writer/der_writer.h"
#include "writer/package_writer.h"
#include "writer/test_pki.h"

namespace qalv {
namespace {

using test::Hex;

using test::ShellQuote;
using writer::Bytes;
using writer::DerNode;

Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors))
      << errors << "\n" << text;
  return value;
}

struct Inspected {
  int exitCode;
  Json::Value json;
  std::string out;
  std::string err;
};

Inspected Inspect(const Bytes& file, const std::string& options = "") {
  test::TempDir dir;
  test::WriteFile(dir / "p.tpk", file);
  const test::CommandResult result = test::Run(ShellQuote(test::TpkPath()) + " inspect " +
                                               options + " " + ShellQuote((dir / "p.tpk").string()));
  return {result.exitCode, result.out.empty() ? Json::Value() : ParseJson(result.out), result.out,
          result.err};
}

TEST(TpkInspect, ReportsThePackageAsWritten) {
  const writer::PackageSpec& spec = test::SharedPackageSpec();
  const DerNode tree = writer::BuildPackageTree(spec);
  const Inspected result = Inspect(writer::Serialize(tree));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const Json::Value& json = result.json;

  EXPECT_EQ(json["parseResult"].asInt(), 0);
  EXPECT_EQ(json["version"].asInt64(), spec.tpkVersion);
  EXPECT_EQ(json["ipkVersion"].asInt64(), spec.ipkVersion);
  const Json::Value& info = json["versionInfo"];
  const writer::VersionInfoSpec& v = spec.versionInfo;
  EXPECT_EQ(info["uniqueSerial"].asString(), v.uniqueSerial);
  EXPECT_EQ(info["kind"].asString(), v.kind);
  EXPECT_EQ(info["memo"].asString(), v.memo);
  EXPECT_EQ(info["accountName"].asString(), v.accountName);
  EXPECT_EQ(info["certChainUrl"].asString(), v.certChainUrl);
  EXPECT_EQ(info["winSupport"].asInt64(), v.win.support);
  EXPECT_EQ(info["winVersion"].asString(), v.win.version);
  EXPECT_EQ(info["winUpdate"].asString(), v.win.update);
  EXPECT_EQ(info["macSupport"].asInt64(), v.mac.support);
  EXPECT_EQ(info["winPhoneUpdate"].asString(), v.winPhone.update);
  EXPECT_EQ(info["sealLengths"]["tpkTrustSeal"].asUInt64(), v.tpkTrustSeal.size());
  EXPECT_EQ(info["sealLengths"]["onlineMistrustSeal"].asUInt64(), v.onlineMistrustSeal.size());

  const std::string t = spec.tpkSignTime;  // YYMMDDHHMMSSZ
  EXPECT_EQ(json["tpkSignTime"].asString(), "20" + t.substr(0, 2) + "-" + t.substr(2, 2) + "-" +
                                                t.substr(4, 2) + "T" + t.substr(6, 2) + ":" +
                                                t.substr(8, 2) + ":" + t.substr(10, 2) + "Z");
  EXPECT_EQ(json["tpkPlaintextLength"].asUInt64(), writer::Serialize(tree.At("tpk_plaintext")).size());
  EXPECT_EQ(json["signedRegionLength"].asUInt64(), writer::Serialize(tree.At("signedRegion")).size());
  EXPECT_EQ(json["cipherLength"].asUInt64(), writer::BitStringValue(tree.At("cipher")).size());
  EXPECT_EQ(json["snapshotLength"].asUInt64(), spec.snapshot.size());
  EXPECT_EQ(json["cipherDigest"].asString(),
            Hex(writer::Sha256(writer::BitStringValue(tree.At("cipher")))));
  EXPECT_EQ(json["snapshotDigest"].asString(), Hex(writer::Sha256(spec.snapshot)));
  for (const char* signer : {"s1", "s2", "s3"}) {
    EXPECT_EQ(json["certificates"][signer]["version"].asInt(), 3) << signer;
  }
  EXPECT_NE(json["certificates"]["s3"]["subject"].toStyledString().find("Certification Authority"),
            std::string::npos);
}

TEST(TpkInspect, DecodesCodePage950Texts) {
  DerNode tree = writer::BuildPackageTree(test::SharedPackageSpec());
  tree.At("memo").content = {0xB4, 0xFA, 0xB8, 0xD5};  // "測試" in code page 950
  const Inspected result = Inspect(writer::Serialize(tree));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.json["versionInfo"]["memo"].asString(), "測試");
}

TEST(TpkInspect, RefusedPackageGivesItsCodeAndExitOne) {
  Bytes file = writer::BuildPackage(test::SharedPackageSpec());
  file.push_back(0);
  const Inspected result = Inspect(file);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.json["parseResult"].asInt(), 26);
  EXPECT_EQ(result.json.size(), 1u);
}

TEST(TpkInspect, UnreadableFileIsAUsageError) {
  const test::CommandResult result =
      test::Run(ShellQuote(test::TpkPath()) + " inspect /nonexistent/p.tpk");
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out, "");
}

TEST(TpkInspect, TraceGoesToStandardErrorOnly) {
  const Inspected result = Inspect(writer::BuildPackage(test::SharedPackageSpec()), "--trace");
  ASSERT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.json["parseResult"].asInt(), 0) << "standard output is one JSON object";
  EXPECT_NE(result.err.find("---TPK parse start\n"), std::string::npos);
  EXPECT_NE(result.err.find("---TPK parse end\n"), std::string::npos);
  EXPECT_EQ(result.out.find("parse start"), std::string::npos);
}

}  // namespace
}  // namespace qalv
