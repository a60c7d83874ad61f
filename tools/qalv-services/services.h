// The four services of the reference server, each registered on the server
// from the data folder:
//   chains/<AKI-HEX>   DER PKCS #7 chain per authority key identifier
//   packages/          the packages issued, for online verification
//   hints/<batch>      the password rules (HTML) of a batch
//   update/update.exe  the reader installer
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include <httplib.h>

namespace qalv::services {

// The bytes of upper- or lower-case hex text; false when it is not hex.
bool DecodeHex(std::string_view text, std::vector<uint8_t>& bytes);

void AddChainService(httplib::Server& server, const std::filesystem::path& dataDir);
void AddVerifyService(httplib::Server& server, const std::filesystem::path& dataDir);
void AddHintService(httplib::Server& server, const std::filesystem::path& dataDir);
void AddUpdateService(httplib::Server& server, const std::filesystem::path& dataDir);

}  // namespace qalv::services
