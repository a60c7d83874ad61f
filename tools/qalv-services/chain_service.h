// The certificate-chain service: POST auth=<hex>&aki=<hex>; the chain of the
// authority key identifier comes from <data>/chains/<AKI-HEX> (DER PKCS #7).
#pragma once

#include <filesystem>

#include <httplib.h>

namespace qalv::services {

inline constexpr char kChainPath[] = "/acquvSrv/caChain";

void AddChainService(httplib::Server& server, const std::filesystem::path& dataDir);

}  // namespace qalv::services
