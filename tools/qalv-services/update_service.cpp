#include "tools/qalv-services/services.h"

#include <string>

#include "platform/file_io.h"

namespace qalv::services {

void AddUpdateService(Routes& routes, const std::filesystem::path& dataDir) {
  routes.Post("/acquvSrv/update", [dataDir](const httplib::Request&, httplib::Response& response) {
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
