// tpk verify FILE: the whole opening, as the desktop reader does it, with a
// headless owner window; optionally the online verification after it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <mbedtls/sha256.h>

#include "net/online_verification.h"
#include "opening/open_policy.h"
#include "opening/signer_details.h"
#include "platform/file_io.h"
#include "platform/system_error.h"
#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"
#include "tools/tpk/headless_window.h"
#include "tools/tpk/trust.h"

namespace qalv::tpk {
namespace {

struct VerifyOptions {
  std::string file;
  std::optional<std::string> password;
  std::optional<std::string> passwordFile;
  std::optional<std::string> workDir;
  bool acceptUpdate = false;
  bool online = false;
  std::optional<std::string> extractPdf;
};

std::string DefaultWorkFolder() {
  const char* home = std::getenv("HOME");
  return std::string(home ? home : ".") + "/qalvquv";
}

// The password file's contents without a trailing line end.
bool ReadPasswordFile(const std::string& path, std::string& password) {
  SecureBuffer bytes;
  if (!ReadInputFile("verify", path, bytes)) return false;
  password.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) {
    password.pop_back();
  }
  return true;
}

Json::Value StateToJson(const PolicyState& state) {
  Json::Value json(Json::objectValue);
  const struct {
    const char* key;
    int32_t PolicyState::*field;
  } numbers[] = {
      {"statusCode", &PolicyState::statusCode},       {"parseResult", &PolicyState::parseResult},
      {"s1SignResult", &PolicyState::s1SignResult},   {"s2SignResult", &PolicyState::s2SignResult},
      {"s3SignResult", &PolicyState::s3SignResult},   {"s1CertResult", &PolicyState::s1CertResult},
      {"s2CertResult", &PolicyState::s2CertResult},   {"s3CertResult", &PolicyState::s3CertResult},
      {"decryptState", &PolicyState::decryptState},   {"s1DigestId", &PolicyState::s1DigestId},
      {"pdfLength", &PolicyState::pdfLength},         {"winSupport", &PolicyState::winSupport},
      {"macSupport", &PolicyState::macSupport},       {"iosSupport", &PolicyState::iosSupport},
      {"androidSupport", &PolicyState::androidSupport},
      {"winPhoneSupport", &PolicyState::winPhoneSupport},
  };
  for (const auto& n : numbers) json[n.key] = state.*n.field;
  const struct {
    const char* key;
    std::string PolicyState::*field;
  } texts[] = {
      {"statusText", &PolicyState::statusText},
      {"uniqueSerial", &PolicyState::uniqueSerial},
      {"batchNumber", &PolicyState::batchNumber},
      {"fileName", &PolicyState::fileName},
      {"kind", &PolicyState::kind},
      {"transaction", &PolicyState::transaction},
      {"memo", &PolicyState::memo},
      {"accountName", &PolicyState::accountName},
      {"certChainUrl", &PolicyState::certChainUrl},
      {"winVersion", &PolicyState::winVersion},
      {"winUpdate", &PolicyState::winUpdate},
      {"macVersion", &PolicyState::macVersion},
      {"macUpdate", &PolicyState::macUpdate},
      {"iosVersion", &PolicyState::iosVersion},
      {"iosUpdate", &PolicyState::iosUpdate},
      {"androidVersion", &PolicyState::androidVersion},
      {"androidUpdate", &PolicyState::androidUpdate},
      {"winPhoneVersion", &PolicyState::winPhoneVersion},
      {"winPhoneUpdate", &PolicyState::winPhoneUpdate},
      {"ipkSignTime", &PolicyState::ipkSignTime},
      {"tpkSignTime", &PolicyState::tpkSignTime},
      {"s1CertNotAfter", &PolicyState::s1CertNotAfter},
      {"s2CertNotAfter", &PolicyState::s2CertNotAfter},
      {"s3CertNotAfter", &PolicyState::s3CertNotAfter},
      {"tpkTrustSealPath", &PolicyState::tpkTrustSealPath},
      {"tpkMistrustSealPath", &PolicyState::tpkMistrustSealPath},
      {"ipkTrustSealPath", &PolicyState::ipkTrustSealPath},
      {"ipkMistrustSealPath", &PolicyState::ipkMistrustSealPath},
      {"onlineTrustSealPath", &PolicyState::onlineTrustSealPath},
      {"onlineMistrustSealPath", &PolicyState::onlineMistrustSealPath},
      {"snapshotPath", &PolicyState::snapshotPath},
  };
  for (const auto& t : texts) json[t.key] = state.*t.field;
  if (state.decryptState == 0) {
    uint8_t digest[32];
    if (mbedtls_sha256_ret(state.pdfData.data(), static_cast<size_t>(state.pdfLength), digest, 0) == 0) {
      json["pdfSha256"] = HexText(digest, sizeof digest);
    }
  }
  return json;
}

Json::Value PathToJson(const std::vector<PathStep>& path) {
  Json::Value steps(Json::arrayValue);
  for (const PathStep& step : path) {
    Json::Value json(Json::objectValue);
    json["subject"] = NameToJson(step.certificate.subject);
    json["sha256Fingerprint"] = step.certificate.sha256Fingerprint;
    json["anchor"] = step.anchor;
    steps.append(json);
  }
  return steps;
}

Json::Value SignerToJson(const SignerDetails& signer) {
  Json::Value json = SummaryToJson(signer.certificate);
  json["sha256Fingerprint"] = signer.certificate.sha256Fingerprint;
  json["certResult"] = signer.certResult;
  json["signResult"] = signer.signResult;
  json["digest"] = signer.digest;
  json["path"] = PathToJson(signer.path);
  Json::Value reasons(Json::arrayValue);
  for (const std::string& reason : signer.reasons) reasons.append(reason);
  json["reasons"] = reasons;
  return json;
}

// Only the signers whose certificates the package reader read.
Json::Value SignersToJson(const PolicySigners& signers) {
  Json::Value json(Json::objectValue);
  const struct {
    const char* key;
    std::optional<SignerDetails> PolicySigners::*signer;
  } roles[] = {{"s1", &PolicySigners::s1}, {"s2", &PolicySigners::s2}, {"s3", &PolicySigners::s3}};
  for (const auto& role : roles) {
    if (const auto& signer = signers.*role.signer) json[role.key] = SignerToJson(*signer);
  }
  return json;
}

int RunVerify(const VerifyOptions& options) {
  std::optional<std::string> password = options.password;
  if (options.passwordFile) {
    password.emplace();
    if (!ReadPasswordFile(*options.passwordFile, *password)) return kExitUsage;
  }
  const std::string workDir = options.workDir.value_or(DefaultWorkFolder());
  std::error_code error;
  if (CreatePrivateFolder(workDir, error) != 0) {
    std::cerr << "tpk verify: cannot create " << workDir << ": " << error.message() << "\n";
    return kExitUsage;
  }

  HeadlessWindow window(password, options.acceptUpdate);
  PolicyState state;
  state.ownerWindow = &window;
  state.workFolder = workDir + (workDir.ends_with('/') ? "" : "/");
  state.readerVersion = QALV_VERSION;
  state.trust = LoadTrust();

  const int32_t status = OpenPolicy(state, options.file);
  Json::Value answer = StateToJson(state);
  answer["signers"] = SignersToJson(DescribeSigners(state));

  // A document asked for and not written is not a success, whatever the
  // opening's verdict: a script would go on to read an old or missing file.
  const bool extractFailed =
      options.extractPdf && state.decryptState == 0 &&
      WriteWholeFile(*options.extractPdf, state.pdfData.data(),
                     static_cast<size_t>(state.pdfLength)) != 0;
  if (extractFailed) {
    std::cerr << "tpk verify: cannot write " << *options.extractPdf << ": " << SystemErrorText(errno)
              << "\n";
  }
  if (options.online) {
    Json::Value online(Json::objectValue);
    online["result"] = RequestOnlineVerification(state, options.file);
    online["statusText"] = state.statusText;
    online["onlineResponse"] = state.onlineResponse;
    answer["online"] = online;
  }
  answer["messages"] = window.messages();
  PrintJson(answer);
  if (extractFailed) return kExitUsage;
  return status == 0 ? kExitOk : kExitFailedCheck;
}

}  // namespace

void AddVerifyCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<VerifyOptions>();
  CLI::App* command =
      app.add_subcommand("verify", "Open a policy package as the reader does, and judge it");
  command->add_option("FILE", options->file, "Policy package (.tpk)")->required();
  CLI::Option* password =
      command->add_option("--password", options->password, "The document password");
  command->add_option("--password-file", options->passwordFile,
                      "A file holding the document password")
      ->excludes(password);
  command->add_option("--work-dir", options->workDir,
                      "Work folder for seals, preview and CA chains (default ~/qalvquv)");
  command->add_flag("--accept-update", options->acceptUpdate,
                    "Answer the update question with OK");
  command->add_flag("--online", options->online, "Confirm the policy online after opening it");
  command->add_option("--extract-pdf", options->extractPdf,
                      "Write the decrypted document here");
  command->callback([options, &exitCode] { exitCode = RunVerify(*options); });
}

}  // namespace qalv::tpk
