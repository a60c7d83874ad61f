#include "tools/qalv-services/services.h"

#include <string>

#include "platform/file_io.h"

namespace qalv::services {

void AddUpdateService(httplib::Server& server, const std::filesystem::path& dataDir) {
  server.Post("/acquvSrv/update", [dataDir](const httplib::Request&, httplib::Response& response) {
    SecureBuffer installer;
    if (ReadWholeFile(dataDir / "update" / "update.exe", installer) != 0) {
      response.status = 404;
      return;
    }
    response.set_content(std::string(installer.data(), installer.data() + installer.size()),
                         "application/octet-stream");
  });
}

}  // namespace qalv::services
