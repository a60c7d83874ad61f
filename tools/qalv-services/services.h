// The four services of the reference server, each registered on the server
// from the data folder:
//   chains/<AKI-HEX>   DER PKCS #7 chain per authority key identifier
//   packages/          the packages issued, for online verification
//   hints/<batch>      the password rules (HTML) of a batch
//   update/update.exe  the reader installer
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <httplib.h>

namespace qalv::services {

// The bytes of upper- or lower-case hex text; false when it is not hex.
bool DecodeHex(std::string_view text, std::vector<uint8_t>& bytes);

// The server's routes with a cap on request bodies, whatever their framing:
// a handler sees the body only when it holds at most `maxBody` bytes; a
// longer one is read on and dropped as it arrives and answered 413, so it is
// never held whole. (The library's own payload cap sees only announced
// lengths; a chunked body passes it.)
class Routes {
 public:
  Routes(httplib::Server& server, size_t maxBody);

  void Post(const std::string& pattern, httplib::Server::Handler handler);
  // Every other request that may carry a body, on any path, is read the same
  // way and answered 404. Registered after the services, as routes match in
  // the order they were added.
  void RefuseTheRest();

 private:
  httplib::Server::HandlerWithContentReader Bounded(httplib::Server::Handler handler) const;

  httplib::Server& server_;
  size_t maxBody_;
};

void AddChainService(Routes& routes, const std::filesystem::path& dataDir);
void AddVerifyService(Routes& routes, const std::filesystem::path& dataDir);
void AddHintService(Routes& routes, const std::filesystem::path& dataDir);
void AddUpdateService(Routes& routes, const std::filesystem::path& dataDir);

}  // namespace qalv::services
