// tpk ca: a test PKI (root, intermediate, insurer and authority signers), its
// trust folder, and the CA chain file that the reader looks up by the
// signers' authority key identifier.
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include <json/value.h>

#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"
#include "writer/files.h"
#include "writer/test_pki.h"

namespace qalv::tpk {
namespace {

struct CaOptions {
  std::string outDir;
  std::string keyDir;
  unsigned bits = 2048;
  int days = 3650;
  writer::Digest digest = writer::Digest::kSha256;
  bool base64 = false;
  std::string servicesDir;
};

std::string Hex(const writer::Bytes& bytes) { return HexText(bytes.data(), bytes.size()); }

// The password rules of the writer's default batch, and a stand-in installer,
// so a demo can exercise every service.
void WriteDemoServiceData(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir / "hints");
  std::filesystem::create_directories(dir / "update");
  writer::WriteFileBytes((dir / "hints" / "BATCH-0001").string(),
                         writer::ToBytes("密碼為被保險人身分證字號後四碼<br>加出生月日四碼"));
  writer::WriteFileBytes((dir / "update" / "update.exe").string(),
                         writer::ToBytes("MZ placeholder installer"));
}

int RunCa(const CaOptions& options) {
  writer::PkiOptions pkiOptions;
  pkiOptions.keyDir = options.keyDir;
  pkiOptions.bits = options.bits;
  pkiOptions.days = options.days;
  pkiOptions.digest = options.digest;

  try {
    std::filesystem::create_directories(options.outDir);
    const writer::TestPki pki = writer::MakeTestPki(pkiOptions);
    writer::SavePki(pki, options.outDir);
    writer::SaveTrustFolder(pki, options.outDir + "/trust");
    const writer::Bytes chain = writer::ChainFile(pki);
    const std::string chainPath = options.outDir + "/chain.p7b";
    writer::WriteFileBytes(chainPath,
                           options.base64 ? writer::ToBytes(writer::Base64Text(chain)) : chain);

    Json::Value answer(Json::objectValue);
    answer["dir"] = options.outDir;
    Json::Value& certificates = answer["certificates"] = Json::Value(Json::objectValue);
    for (const writer::PkiRole& role : writer::kPkiRoles) {
      const writer::Identity& identity = pki.*role.identity;
      const std::string stem = options.outDir + "/" + role.stem;
      Json::Value& entry = certificates[role.stem];
      entry["key"] = stem + ".key";
      entry["cert"] = stem + ".crt";
      entry["subject"] = identity.subject;
      entry["subjectKeyId"] = Hex(identity.key->KeyIdentifier());
      entry["authorityKeyId"] = Hex((pki.*role.issuer).key->KeyIdentifier());
    }
    answer["chain"] = chainPath;
    answer["trustDir"] = options.outDir + "/trust";
    answer["chainFormat"] = options.base64 ? "base64" : "der";
    // The chain is stored and served under the key identifier that the
    // signers' certificates name as their authority: the intermediate's.
    const std::string chainKeyId = Hex(pki.intermediate.key->KeyIdentifier());
    answer["chainKeyId"] = chainKeyId;
    if (!options.servicesDir.empty()) {
      const std::filesystem::path chains = std::filesystem::path(options.servicesDir) / "chains";
      std::filesystem::create_directories(chains);
      writer::WriteFileBytes((chains / chainKeyId).string(), chain);
      WriteDemoServiceData(options.servicesDir);
      answer["servicesDir"] = options.servicesDir;
    }
    PrintJson(answer);
    return kExitOk;
  } catch (const std::exception& e) {
    std::cerr << "tpk ca: " << e.what() << "\n";
    return kExitUsage;
  }
}

}  // namespace

void AddCaCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<CaOptions>();
  CLI::App* command = app.add_subcommand(
      "ca",
      "Make a test PKI: root, intermediate, insurer and authority certificates, its trust "
      "folder and the CA chain file");
  command->add_option("--out", options->outDir, "Folder to write into (created when missing)")
      ->required();
  command->add_option("--keys", options->keyDir,
                      "Folder holding root.key, intermediate.key, insurer.key and authority.key "
                      "(PEM) to use instead of new keys");
  command->add_option("--bits", options->bits, "Size of new RSA keys")
      ->capture_default_str()
      ->check(CLI::Range(1024u, 8192u));
  command->add_option("--days", options->days, "Validity of the certificates from yesterday")
      ->capture_default_str();
  command->add_option("--digest", options->digest, "Digest of the certificate signatures")
      ->transform(CLI::CheckedTransformer(writer::DigestsByName()))
      ->option_text(writer::DigestNameList() + "=sha256");
  command->add_flag("--base64", options->base64,
                    "Write the chain file as Base64 text instead of DER");
  command->add_option("--services", options->servicesDir,
                      "Also write a data folder for qalv-services serving the chain");
  command->callback([options, &exitCode] { exitCode = RunCa(*options); });
}

}  // namespace qalv::tpk
