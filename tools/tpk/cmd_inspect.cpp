// tpk inspect FILE: the package reader alone, no password, no network.
#include <memory>
#include <string>

#include "package/tpk_package.h"
#include "platform/code_page.h"
#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"

namespace qalv::tpk {
namespace {

struct TextMember {
  const char* key;
  der::Bytes VersionInfo::*field;
};

struct NumberMember {
  const char* key;
  int32_t VersionInfo::*field;
};

constexpr TextMember kTexts[] = {
    {"version", &VersionInfo::version},
    {"uniqueSerial", &VersionInfo::uniqueSerial},
    {"batchNumber", &VersionInfo::batchNumber},
    {"fileName", &VersionInfo::fileName},
    {"kind", &VersionInfo::kind},
    {"transaction", &VersionInfo::transaction},
    {"memo", &VersionInfo::memo},
    {"accountName", &VersionInfo::accountName},
    {"certChainUrl", &VersionInfo::certChainUrl},
    {"winVersion", &VersionInfo::winVersion},
    {"winUpdate", &VersionInfo::winUpdate},
    {"macVersion", &VersionInfo::macVersion},
    {"macUpdate", &VersionInfo::macUpdate},
    {"iosVersion", &VersionInfo::iosVersion},
    {"iosUpdate", &VersionInfo::iosUpdate},
    {"androidVersion", &VersionInfo::androidVersion},
    {"androidUpdate", &VersionInfo::androidUpdate},
    {"winPhoneVersion", &VersionInfo::winPhoneVersion},
    {"winPhoneUpdate", &VersionInfo::winPhoneUpdate},
};

constexpr NumberMember kSupports[] = {
    {"winSupport", &VersionInfo::winSupport},
    {"macSupport", &VersionInfo::macSupport},
    {"iosSupport", &VersionInfo::iosSupport},
    {"androidSupport", &VersionInfo::androidSupport},
    {"winPhoneSupport", &VersionInfo::winPhoneSupport},
};

constexpr TextMember kSeals[] = {
    {"tpkTrustSeal", &VersionInfo::tpkTrustSeal},
    {"tpkMistrustSeal", &VersionInfo::tpkMistrustSeal},
    {"ipkTrustSeal", &VersionInfo::ipkTrustSeal},
    {"ipkMistrustSeal", &VersionInfo::ipkMistrustSeal},
    {"onlineTrustSeal", &VersionInfo::onlineTrustSeal},
    {"onlineMistrustSeal", &VersionInfo::onlineMistrustSeal},
};

Json::Value VersionInfoToJson(const VersionInfo& info) {
  Json::Value json(Json::objectValue);
  for (const TextMember& member : kTexts) json[member.key] = PackageTextToUtf8(info.*member.field);
  for (const NumberMember& member : kSupports) json[member.key] = info.*member.field;
  Json::Value seals(Json::objectValue);
  for (const TextMember& member : kSeals) {
    seals[member.key] = static_cast<Json::UInt64>((info.*member.field).size());
  }
  json["sealLengths"] = seals;
  return json;
}

Json::Value FirstCertificate(const CertificateList& list) {
  return list.empty() ? Json::Value(Json::objectValue) : CertificateToJson(list.front());
}

Json::Value PackageToJson(const TpkPackage& package) {
  const IpkData& ipk = package.ipkData;
  Json::Value json(Json::objectValue);
  json["parseResult"] = 0;
  json["version"] = package.version;
  json["ipkVersion"] = ipk.version;
  json["versionInfo"] = VersionInfoToJson(package.versionInfo);
  json["tpkSignTime"] = UtcText(package.tpkSignTime);
  json["ipkSignTime"] = UtcText(ipk.ipkSignTime);
  json["tpkPlaintextLength"] = static_cast<Json::UInt64>(package.tpkPlaintext.size());
  json["signedRegionLength"] = static_cast<Json::UInt64>(ipk.signedRegion.size());
  json["cipherLength"] = static_cast<Json::UInt64>(package.cipher.size());
  json["snapshotLength"] = static_cast<Json::UInt64>(package.snapshot.size());
  json["cipherDigest"] = HexText(ipk.cipherDigest.data(), ipk.cipherDigest.size());
  json["snapshotDigest"] = HexText(ipk.snapshotDigest.data(), ipk.snapshotDigest.size());
  Json::Value certificates(Json::objectValue);
  certificates["s1"] = FirstCertificate(ipk.s1Certificate);
  certificates["s2"] = FirstCertificate(ipk.s2Certificate);
  certificates["s3"] = FirstCertificate(package.s3Certificate);
  json["certificates"] = certificates;
  return json;
}

}  // namespace

void AddInspectCommand(CLI::App& app, int& exitCode) {
  CLI::App* command = app.add_subcommand("inspect", "Read a policy package without opening it");
  auto path = std::make_shared<std::string>();
  command->add_option("FILE", *path, "Policy package (.tpk)")->required();
  command->callback([path, &exitCode] {
    // The file goes straight into the reader's own copy: no second copy.
    TpkPackage package;
    if (!ReadInputFile("inspect", *path, package.copy)) {
      exitCode = kExitUsage;
      return;
    }
    const int32_t result = ReadPackage(package, nullptr, 0);
    if (result != 0) {
      Json::Value refused(Json::objectValue);
      refused["parseResult"] = result;
      PrintJson(refused);
      exitCode = kExitFailedCheck;
      return;
    }
    PrintJson(PackageToJson(package));
    exitCode = kExitOk;
  });
}

}  // namespace qalv::tpk
