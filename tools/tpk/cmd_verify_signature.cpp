// tpk verify-signature: the signature verifier with a certificate's key.
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

#include <json/value.h>

#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"
#include "x509/certificate.h"
#include "x509/signature.h"

namespace qalv::tpk {
namespace {

struct VerifySignatureOptions {
  std::string certPath;
  std::string dataPath;
  std::string sigPath;
};

int RunVerifySignature(const VerifySignatureOptions& options) {
  SecureBuffer certBytes;
  SecureBuffer data;
  SecureBuffer sig;
  if (!ReadInputFile("verify-signature", options.certPath, certBytes) ||
      !ReadInputFile("verify-signature", options.dataPath, data) ||
      !ReadInputFile("verify-signature", options.sigPath, sig)) {
    return kExitUsage;
  }

  // "Not written" shows as -1, and stays so when the certificate is refused:
  // the verifier never ran. The reader's codes never coincide with the
  // verifier's, so "result" still says which of the two refused.
  int32_t digestId = -1;
  CertificateList certs;
  int32_t result = ParseCertificate(certs, certBytes.data(), certBytes.size());
  if (result != 0) {
    std::cerr << "tpk verify-signature: certificate refused by the reader with code " << result
              << "\n";
  } else {
    result = VerifySignature(certs.front().publicKey, digestId, data.data(), data.size(), sig.data(),
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
