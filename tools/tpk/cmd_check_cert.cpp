// tpk check-cert CERT CHAIN: the CA chain store's certificate check against
// an unsealed chain file and the trust anchors in force, today's date in UTC.
#include <iostream>
#include <memory>
#include <string>

#include <json/value.h>

#include "opening/ca_chain_store.h"
#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"
#include "tools/tpk/trust.h"

namespace qalv::tpk {
namespace {

struct CheckCertOptions {
  std::string certPath;
  std::string chainPath;
};

// A certificate or chain that the readers refuse leaves the check unmade:
// "result" is then the reader's code, which never coincides with the
// store's results, and "flags" is absent.
int RunCheckCert(const CheckCertOptions& options) {
  SecureBuffer certBytes;
  SecureBuffer chainBytes;
  if (!ReadInputFile("check-cert", options.certPath, certBytes) ||
      !ReadInputFile("check-cert", options.chainPath, chainBytes)) {
    return kExitUsage;
  }

  Json::Value answer(Json::objectValue);
  CertificateList own;
  SignedDataRecord chain;
  if (const int32_t code = ParseCertificate(own, certBytes.data(), certBytes.size())) {
    std::cerr << "tpk check-cert: certificate refused by the reader with code " << code << "\n";
    answer["result"] = code;
  } else if (const int32_t chainCode =
                 ParseSignedData(chain, chainBytes.data(), chainBytes.size())) {
    std::cerr << "tpk check-cert: chain refused by the reader with code " << chainCode << "\n";
    answer["result"] = chainCode;
  } else {
    const int32_t flags = CheckCertificate(own, chain.certificates, LoadTrust()->anchors);
    answer["flags"] = flags;
    answer["result"] = StoreResult(flags);
  }
  PrintJson(answer);
  return answer["result"].asInt() == 0 ? kExitOk : kExitFailedCheck;
}

}  // namespace

void AddCheckCertCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<CheckCertOptions>();
  CLI::App* command = app.add_subcommand(
      "check-cert", "Check a certificate against the certificates of a CA chain file (unsealed)");
  command->add_option("CERT", options->certPath, "Certificate file (DER or Base64 text)")
      ->required();
  command->add_option("CHAIN", options->chainPath, "Chain file (PKCS #7, DER or Base64 text)")
      ->required();
  command->callback([options, &exitCode] { exitCode = RunCheckCert(*options); });
}

}  // namespace qalv::tpk
