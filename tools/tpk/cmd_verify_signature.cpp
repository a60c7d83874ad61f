// tpk verify-signature: the signature verifier with a certificate's key.
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

#include <json/value.h>

#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"
#include "verify/signature.h"
#include "verify/x509_certificate.h"

namespace qalv::tpk {
namespace {

struct VerifySignatureOptions {
  std::string certPath;
  std::string dataPath;
  std::string sigPath;
};

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

bool ReadOrComplain(const std::string& path, std::string& bytes) {
  if (ReadInputFile(path, bytes)) return true;
  std::cerr << "tpk verify-signature: cannot read " << path << "\n";
  return false;
}

int RunVerifySignature(const VerifySignatureOptions& options) {
  std::string certBytes;
  std::string data;
  std::string sig;
  if (!ReadOrComplain(options.certPath, certBytes) || !ReadOrComplain(options.dataPath, data) ||
      !ReadOrComplain(options.sigPath, sig)) {
    return kExitUsage;
  }

  // "Not written" shows as -1, and stays so when the certificate is refused:
  // the verifier never ran. The reader's codes never coincide with the
  // verifier's, so "result" still says which of the two refused.
  int32_t digestId = -1;
  CertificateList certs;
  int32_t result = ParseCertificate(certs, Bytes(certBytes), certBytes.size());
  if (result != 0) {
    std::cerr << "tpk verify-signature: certificate refused by the reader with code " << result
              << "\n";
  } else {
    result = VerifySignature(certs.front().publicKey, digestId, Bytes(data), data.size(), Bytes(sig),
                             sig.size());
  }

  Json::Value answer(Json::objectValue);
  answer["result"] = result;
  answer["digestId"] = digestId;
  PrintJson(answer);
  return result == 0 ? kExitOk : kExitFailedCheck;
}

}  // namespace

void AddVerifySignatureCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<VerifySignatureOptions>();
  CLI::App* command = app.add_subcommand(
      "verify-signature", "Verify an RSA PKCS #1 v1.5 signature with a certificate's public key");
  command->add_option("--cert", options->certPath, "Signer certificate (DER or Base64 text)")
      ->required();
  command->add_option("--data", options->dataPath, "The signed bytes")->required();
  command->add_option("--sig", options->sigPath, "The signature bytes")->required();
  command->callback([options, &exitCode] { exitCode = RunVerifySignature(*options); });
}

}  // namespace qalv::tpk
