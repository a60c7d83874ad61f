// tpk pack: a policy package from a document, a password and the signers'
// keys, with every version-info field settable and sensible defaults for the
// rest, so that a demo package is one command.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include <json/value.h>
#include <json/writer.h>

#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"
#include "writer/files.h"
#include "writer/package_writer.h"

namespace qalv::tpk {
namespace {

struct SealOption {
  const char* option;
  const char* fileName;  // in --seal-dir: the name the reader gives the seal in its work folder
  writer::Bytes writer::VersionInfoSpec::*member;
};

constexpr SealOption kSeals[] = {
    {"--tpk-trust-seal", "TTS", &writer::VersionInfoSpec::tpkTrustSeal},
    {"--tpk-mistrust-seal", "TMS", &writer::VersionInfoSpec::tpkMistrustSeal},
    {"--ipk-trust-seal", "ITS", &writer::VersionInfoSpec::ipkTrustSeal},
    {"--ipk-mistrust-seal", "IMS", &writer::VersionInfoSpec::ipkMistrustSeal},
    {"--online-trust-seal", "OTS", &writer::VersionInfoSpec::onlineTrustSeal},
    {"--online-mistrust-seal", "OMS", &writer::VersionInfoSpec::onlineMistrustSeal}};

struct TextOption {
  const char* option;
  std::string writer::VersionInfoSpec::*member;
  const char* help;
};

constexpr TextOption kTexts[] = {
    {"--info-version", &writer::VersionInfoSpec::version,
     "Version text of the version-info record"},
    {"--unique-serial", &writer::VersionInfoSpec::uniqueSerial,
     "Unique serial number of the policy"},
    {"--batch-number", &writer::VersionInfoSpec::batchNumber,
     "Batch number, sent to the password-hint service"},
    {"--file-name", &writer::VersionInfoSpec::fileName, "File name of the policy document"},
    {"--kind", &writer::VersionInfoSpec::kind, "Kind of policy"},
    {"--transaction", &writer::VersionInfoSpec::transaction, "Transaction identifier"},
    {"--memo", &writer::VersionInfoSpec::memo, "Remarks shown on the page"},
    {"--account-name", &writer::VersionInfoSpec::accountName, "Name of the issuing account"},
    {"--cert-chain-url", &writer::VersionInfoSpec::certChainUrl,
     "Address of the CA-chain service; its scheme, host and port address the other services"}};

struct PlatformOption {
  const char* prefix;
  writer::PlatformInfo writer::VersionInfoSpec::*member;
};

constexpr PlatformOption kPlatforms[] = {{"--win", &writer::VersionInfoSpec::win},
                                         {"--mac", &writer::VersionInfoSpec::mac},
                                         {"--ios", &writer::VersionInfoSpec::ios},
                                         {"--android", &writer::VersionInfoSpec::android},
                                         {"--win-phone", &writer::VersionInfoSpec::winPhone}};

struct SignerPaths {
  std::string key;
  std::string cert;
};

struct PackOptions {
  writer::PackageSpec spec;
  std::string outPath;
  std::string documentPath;
  std::string previewPath;
  std::string sealDir;
  std::string sealPaths[std::size(kSeals)];
  std::string pkiDir;
  SignerPaths insurer;    // s1 and s2
  SignerPaths authority;  // s3
  bool certificatesAsBase64 = false;
  std::string servicesDir;
};

std::string Hex(const writer::Bytes& bytes) { return HexText(bytes.data(), bytes.size()); }

// The key and certificate of one signer: the explicit paths, else the role's
// files in the --pki folder.
writer::Identity LoadSigner(const SignerPaths& paths, const std::string& pkiDir, const char* stem) {
  const std::string base = pkiDir + "/" + stem;
  return writer::LoadIdentity(paths.key.empty() ? base + ".key" : paths.key,
                              paths.cert.empty() ? base + ".crt" : paths.cert);
}

// The certification time as the verification service reports it,
// "YYYY-MM-DD HH:MM:SS" (UTC); a sign time in another form stays as given.
std::string IssueTime(const std::string& utcTime) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char zone = 0;
  if (utcTime.size() != 13 || std::sscanf(utcTime.c_str(), "%2d%2d%2d%2d%2d%2d%c", &year, &month,
                                          &day, &hour, &minute, &second, &zone) != 7 ||
      zone != 'Z') {
    return utcTime;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d",
                year < 90 ? 2000 + year : 1900 + year, month, day, hour, minute, second);
  return text;
}

// Keeps the package for the verification service of a qalv-services data
// folder, named by the SHA-256 of its bytes, with what the service cannot
// learn from the package without the password: the digests of its document
// (and, to answer with, the document's name and the time of issue).
void KeepForServices(const std::string& servicesDir, const writer::PackageSpec& spec,
                     const writer::Bytes& file) {
  const std::filesystem::path packages = std::filesystem::path(servicesDir) / "packages";
  std::filesystem::create_directories(packages);
  const std::string name = Hex(writer::Sha256(file));
  writer::WriteFileBytes((packages / (name + ".tpk")).string(), file);
  Json::Value record(Json::objectValue);
  record["documentSha256"] = Hex(writer::Sha256(spec.document));
  record["documentSha1"] = Hex(writer::DigestOf(writer::Digest::kSha1, spec.document));
  record["name"] = spec.versionInfo.fileName;
  record["issuedAt"] = IssueTime(spec.tpkSignTime);
  writer::WriteFileBytes((packages / (name + ".json")).string(),
                         writer::ToBytes(Json::writeString(Json::StreamWriterBuilder(), record)));
}

// Fills the parts of the PackageSpec that come from files; false (with a message)
// when one cannot be read.
bool LoadInputs(PackOptions& options) {
  writer::PackageSpec& spec = options.spec;
  try {
    spec.document = writer::ReadFileBytes(options.documentPath);
    if (!options.previewPath.empty()) spec.snapshot = writer::ReadFileBytes(options.previewPath);
    for (size_t i = 0; i < std::size(kSeals); ++i) {
      std::string path = options.sealPaths[i];
      if (path.empty() && !options.sealDir.empty()) {
        path = options.sealDir + "/" + kSeals[i].fileName;
      }
      if (!path.empty()) spec.versionInfo.*kSeals[i].member = writer::ReadFileBytes(path);
    }
    const writer::Identity insurer = LoadSigner(options.insurer, options.pkiDir, "insurer");
    spec.s1.signer = insurer;
    spec.s2.signer = insurer;
    spec.s3.signer = LoadSigner(options.authority, options.pkiDir, "authority");
  } catch (const std::exception& e) {
    std::cerr << "tpk pack: " << e.what() << "\n";
    return false;
  }
  for (writer::SignatureSpec* signature : {&spec.s1, &spec.s2, &spec.s3}) {
    signature->certificateAsBase64 = options.certificatesAsBase64;
  }
  return true;
}

int RunPack(PackOptions& options) {
  const bool explicitSigners = !options.insurer.key.empty() && !options.insurer.cert.empty() &&
                               !options.authority.key.empty() && !options.authority.cert.empty();
  if (options.pkiDir.empty() && !explicitSigners) {
    std::cerr << "tpk pack: give --pki, or all of --signer-key, --signer-cert, --ca-key and "
                 "--ca-cert\n";
    return kExitUsage;
  }
  if (!LoadInputs(options)) return kExitUsage;

  const writer::PackageSpec& spec = options.spec;
  writer::DerNode tree;
  writer::Bytes file;
  try {
    tree = writer::BuildPackageTree(spec);
    file = writer::Serialize(tree);
    writer::WriteFileBytes(options.outPath, file);
    if (!options.servicesDir.empty()) KeepForServices(options.servicesDir, spec, file);
  } catch (const std::exception& e) {
    std::cerr << "tpk pack: " << e.what() << "\n";
    return kExitFailedCheck;
  }

  Json::Value answer(Json::objectValue);
  answer["out"] = options.outPath;
  answer["length"] = static_cast<Json::UInt64>(file.size());
  answer["documentLength"] = static_cast<Json::UInt64>(spec.document.size());
  answer["documentSha256"] = Hex(writer::Sha256(spec.document));
  answer["tpkPlaintextLength"] =
      static_cast<Json::UInt64>(writer::Serialize(tree.At("tpk_plaintext")).size());
  answer["signedRegionLength"] =
      static_cast<Json::UInt64>(writer::Serialize(tree.At("signedRegion")).size());
  answer["cipherLength"] =
      static_cast<Json::UInt64>(writer::BitStringValue(tree.At("cipher")).size());
  answer["snapshotLength"] = static_cast<Json::UInt64>(spec.snapshot.size());
  answer["cipherDigest"] = Hex(writer::BitStringValue(tree.At("cipherDigest")));
  answer["snapshotDigest"] = Hex(writer::BitStringValue(tree.At("snapshotDigest")));
  answer["ipkSignTime"] = spec.ipkSignTime;
  answer["tpkSignTime"] = spec.tpkSignTime;
  if (!options.servicesDir.empty()) answer["servicesDir"] = options.servicesDir;
  PrintJson(answer);
  return kExitOk;
}

}  // namespace

void AddPackCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<PackOptions>();
  writer::PackageSpec& spec = options->spec;
  CLI::App* command =
      app.add_subcommand("pack",
                         "Build a policy package from a document, a password and the "
                         "signers' keys and certificates");
  command->add_option("--out", options->outPath, "The package file to write")->required();
  command->add_option("--document", options->documentPath, "The policy document (PDF)")->required();
  command->add_option("--password", spec.password, "The document password")->required();
  command->add_option("--preview", options->previewPath,
                      "Preview image stored as the snapshot (default: a small grey GIF)");
  command->add_option("--seal-dir", options->sealDir,
                      "Folder holding the six seal images named TTS, TMS, ITS, IMS, OTS and OMS");
  for (size_t i = 0; i < std::size(kSeals); ++i) {
    command->add_option(
        kSeals[i].option, options->sealPaths[i],
        std::string("Seal image ") + kSeals[i].fileName + " (overrides --seal-dir)");
  }
  command->add_option("--pki", options->pkiDir,
                      "Folder written by `tpk ca`: insurer.key/.crt sign s1 and s2, "
                      "authority.key/.crt sign s3");
  command->add_option("--signer-key", options->insurer.key, "Private key (PEM) signing s1 and s2");
  command->add_option("--signer-cert", options->insurer.cert, "Certificate of the s1/s2 signer");
  command->add_option("--ca-key", options->authority.key, "Private key (PEM) signing s3");
  command->add_option("--ca-cert", options->authority.cert, "Certificate of the s3 signer");
  const std::pair<const char*, writer::SignatureSpec*> signatures[] = {
      {"s1", &spec.s1}, {"s2", &spec.s2}, {"s3", &spec.s3}};
  for (const auto& [name, signature] : signatures) {
    command
        ->add_option(std::string("--") + name + "-digest", signature->digest,
                     std::string("Digest of the ") + name + " signature")
        ->transform(CLI::CheckedTransformer(writer::DigestsByName()))
        ->option_text(writer::DigestNameList() + "=sha256");
  }
  command->add_option("--services", options->servicesDir,
                      "Also keep the package in this qalv-services data folder for online "
                      "verification");
  command->add_flag("--cert-base64", options->certificatesAsBase64,
                    "Store the three certificates as Base64 text instead of DER");
  command->add_option("--tpk-version", spec.tpkVersion, "Package format version")
      ->capture_default_str();
  command->add_option("--ipk-version", spec.ipkVersion, "Inner package format version")
      ->capture_default_str();
  command->add_option("--ipk-sign-time", spec.ipkSignTime,
                      "Signing time of the inner package, UTCTime YYMMDDHHMMSSZ (default: now)");
  command->add_option("--tpk-sign-time", spec.tpkSignTime,
                      "Signing time of the certified part, UTCTime YYMMDDHHMMSSZ (default: now)");
  for (const TextOption& text : kTexts) {
    command->add_option(text.option, spec.versionInfo.*text.member, text.help)
        ->capture_default_str();
  }
  for (const PlatformOption& platform : kPlatforms) {
    writer::PlatformInfo& info = spec.versionInfo.*platform.member;
    const std::string prefix = platform.prefix;
    command->add_option(prefix + "-support", info.support, "1: the package may be opened there")
        ->capture_default_str();
    command->add_option(prefix + "-version", info.version, "Newest reader version")
        ->capture_default_str();
    command->add_option(prefix + "-update", info.update, "Address of the newest reader")
        ->capture_default_str();
  }
  command->callback([options, &exitCode] { exitCode = RunPack(*options); });
}

}  // namespace qalv::tpk
