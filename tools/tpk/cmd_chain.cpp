// tpk chain FILE: the CA chain reader on an unsealed chain file.
#include <memory>
#include <string>

#include <json/value.h>

#include "opening/ca_chain_store.h"
#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"

namespace qalv::tpk {

void AddChainCommand(CLI::App& app, int& exitCode) {
  CLI::App* command = app.add_subcommand(
      "chain", "Read a CA chain file (PKCS #7 SignedData, DER or Base64 text, unsealed)");
  auto path = std::make_shared<std::string>();
  command->add_option("FILE", *path, "Chain file")->required();
  command->callback([path, &exitCode] {
    SecureBuffer bytes;
    if (!ReadInputFile("chain", *path, bytes)) {
      exitCode = kExitUsage;
      return;
    }
    SignedDataRecord record;
    const int32_t result = ParseSignedData(record, bytes.data(), bytes.size());
    Json::Value answer(Json::objectValue);
    answer["result"] = result;
    if (result == 0) {
      Json::Value& certificates = answer["certificates"] = Json::Value(Json::arrayValue);
      for (const X509Certificate& cert : record.certificates) {
        certificates.append(CertificateToJson(cert));
      }
    }
    PrintJson(answer);
    exitCode = result == 0 ? kExitOk : kExitFailedCheck;
  });
}

}  // namespace qalv::tpk
