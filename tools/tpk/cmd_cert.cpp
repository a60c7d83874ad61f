// tpk cert FILE: the X.509 certificate reader on one certificate.
#include <iostream>
#include <memory>
#include <string>

#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"

namespace qalv::tpk {

void AddCertCommand(CLI::App& app, int& exitCode) {
  CLI::App* command =
      app.add_subcommand("cert", "Read one X.509 certificate (DER, or the Base64 text of the DER)");
  auto path = std::make_shared<std::string>();
  command->add_option("FILE", *path, "Certificate file")->required();
  command->callback([path, &exitCode] {
    SecureBuffer bytes;
    if (!ReadInputFile("cert", *path, bytes)) {
      exitCode = kExitUsage;
      return;
    }
    CertificateList list;
    const int32_t result = ParseCertificate(list, bytes.data(), bytes.size());
    Json::Value answer = result == 0 ? CertificateToJson(list.front()) : Json::Value();
    answer["result"] = result;
    PrintJson(answer);
    FreeCertificateList(list);
    exitCode = result == 0 ? kExitOk : kExitFailedCheck;
  });
}

}  // namespace qalv::tpk
