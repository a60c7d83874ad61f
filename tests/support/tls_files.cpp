#include "tests/support/tls_files.h"

#include <mutex>
#include <stdexcept>

namespace qalv::test {
namespace {

void MakeTls(TlsFiles& files) {
  const auto path = [&](const char* name) { return ShellQuote((files.dir / name).string()); };
  const std::string newKey = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -noenc";
  WriteFile(files.dir / "server.ext",
            "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
            "extendedKeyUsage=serverAuth\n");
  const std::string commands[] = {
      "openssl req -x509" + newKey + " -keyout " + path("ca.key") + " -out " + path("ca.pem") +
          " -days 2 -subj /CN=Exchange-Test-CA",
      "openssl req -x509" + newKey + " -keyout " + path("other.key") + " -out " +
          path("other.pem") + " -days 2 -subj /CN=Exchange-Test-CA",
      "openssl req" + newKey + " -keyout " + path("server.key") + " -out " + path("server.csr") +
          " -subj /CN=127.0.0.1",
      "openssl x509 -req -in " + path("server.csr") + " -CA " + path("ca.pem") + " -CAkey " +
          path("ca.key") + " -CAcreateserial -days 2 -extfile " + path("server.ext") + " -out " +
          path("server.pem"),
      "openssl verify -CAfile " + path("ca.pem") + " " + path("server.pem"),
  };
  for (const std::string& command : commands) {
    const CommandResult run = Run(command);
    if (run.exitCode != 0) throw std::runtime_error(command + ": " + run.err);
  }
  files.ca = (files.dir / "ca.pem").string();
  files.otherCa = (files.dir / "other.pem").string();
  files.cert = (files.dir / "server.pem").string();
  files.key = (files.dir / "server.key").string();
}

}  // namespace

const TlsFiles& Tls() {
  static TlsFiles files;
  static std::once_flag made;
  std::call_once(made, MakeTls, files);
  return files;
}

}  // namespace qalv::test
