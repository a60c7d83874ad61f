// qalv-services --data DIR --listen HOST:PORT [--max-body BYTES]
// Serves the certification authority's services for tests and the demo. Port 0
// lets the system pick one; the address served is printed on standard output.
#include <cstddef>
#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>
#include <httplib.h>

#include "tools/qalv-services/services.h"

int main(int argc, char** argv) {
  CLI::App app{"Reference services of the certification authority", "qalv-services"};
  std::string dataDir;
  std::string listen = "127.0.0.1:0";
  size_t maxBody = 64 * 1024 * 1024;  // a package for online verification fits many times over
  app.add_option("--data", dataDir, "Data folder (see services.h for its layout)")
      ->required()
      ->check(CLI::ExistingDirectory);
  app.add_option("--listen", listen, "Address to listen on, HOST:PORT (port 0: any free port)");
  app.add_option("--max-body", maxBody, "Longest request body taken; a longer one gets 413")
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  const size_t colon = listen.rfind(':');
  int port = -1;
  if (colon != std::string::npos) {
    try {
      port = std::stoi(listen.substr(colon + 1));
    } catch (const std::exception&) {
      port = -1;
    }
  }
  if (colon == std::string::npos || port < 0 || port > 65535) {
    std::cerr << "qalv-services: --listen wants HOST:PORT\n";
    return 2;
  }
  const std::string host = listen.substr(0, colon);

  httplib::Server server;
  qalv::services::Routes routes(server, maxBody);
  qalv::services::AddChainService(routes, dataDir);
  qalv::services::AddVerifyService(routes, dataDir);
  qalv::services::AddHintService(routes, dataDir);
  qalv::services::AddUpdateService(routes, dataDir);
  routes.RefuseTheRest();
  server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
    std::cerr << request.method << " " << request.path << " " << response.status << "\n";
  });

  const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound < 0) {
    std::cerr << "qalv-services: cannot listen on " << listen << "\n";
    return 1;
  }
  std::cout << "http://" << host << ":" << bound << std::endl;
  return server.listen_after_bind() ? 0 : 1;
}
