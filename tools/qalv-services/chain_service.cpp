#include "tools/qalv-services/services.h"

#include <charconv>
#include <string>
#include <vector>

#include <mbedtls/base64.h>

#include "net/authenticators.h"
#include "platform/file_io.h"
#include "session/policy_state.h"

namespace qalv::services {
namespace {

constexpr char kChainPath[] = "/acquvSrv/caChain";

// The reader reads the reply by position: the result code must be the first
// member and the chain (or the message) the second.
std::string Reply(const std::string& code, const std::string& name, const std::string& value) {
  return "{\"code\": \"" + code + "\", \"" + name + "\": \"" + value + "\"}";
}

std::string Base64(const SecureBuffer& bytes) {
  size_t needed = 0;
  mbedtls_base64_encode(nullptr, 0, &needed, bytes.data(), bytes.size());
  std::string text(needed, '\0');
  if (mbedtls_base64_encode(reinterpret_cast<unsigned char*>(text.data()), text.size(), &needed,
                            bytes.data(), bytes.size()) != 0) {
    return {};
  }
  text.resize(needed);
  return text;
}

void ServeChain(const std::filesystem::path& dataDir, const httplib::Request& request,
                httplib::Response& response) {
  response.set_header("Content-Type", "application/json");
  const std::string auth = request.get_param_value("auth");
  const std::string aki = request.get_param_value("aki");
  std::vector<uint8_t> keyId;
  if (auth.empty() || !DecodeHex(aki, keyId) || keyId.empty()) {
    response.set_content(Reply("9001", "msg", "bad request"), "application/json");
    return;
  }
  ChainUpdateAuthenticator expected;
  if (!MakeChainUpdateAuthenticator(kAuthPrefix, keyId.data(), keyId.size(), expected) ||
      expected.auth != auth) {
    response.set_content(Reply("9002", "msg", "authenticator refused"), "application/json");
    return;
  }
  SecureBuffer chain;
  if (ReadWholeFile(dataDir / "chains" / aki, chain) != 0) {
    response.set_content(Reply("9003", "msg", "no chain for this key identifier"),
                         "application/json");
    return;
  }
  response.set_content(Reply("0000", "chain", Base64(chain)), "application/json");
}

}  // namespace

bool DecodeHex(std::string_view text, std::vector<uint8_t>& bytes) {
  if (text.size() % 2 != 0) return false;
  std::vector<uint8_t> decoded(text.size() / 2);
  for (size_t i = 0; i < decoded.size(); ++i) {
    const char* pair = text.data() + 2 * i;
    const auto [end, error] = std::from_chars(pair, pair + 2, decoded[i], 16);
    if (error != std::errc() || end != pair + 2) return false;
  }
  bytes = std::move(decoded);
  return true;
}

void AddChainService(Routes& routes, const std::filesystem::path& dataDir) {
  routes.Post(kChainPath, [dataDir](const httplib::Request& request, httplib::Response& response) {
    ServeChain(dataDir, request, response);
  });
}

}  // namespace qalv::services
