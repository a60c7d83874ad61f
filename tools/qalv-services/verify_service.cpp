// Online verification. The service keeps every package it issued under the
// SHA-256 of its bytes, with the digests of its document beside it, as
// `tpk pack --services` leaves them:
//   packages/<SHA-256 of the package>.tpk
//   packages/<SHA-256 of the package>.json  {"documentSha256": HEX, "documentSha1": HEX,
//                                            "name": TEXT, "issuedAt": "YYYY-MM-DD HH:MM:SS"}
// A request is confirmed when its body is such a package, its hash one of
// the recorded digests, and its auth the SHA-1 over the prefix, that digest
// and the body.
#include "tools/qalv-services/services.h"

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>
#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>

#include "platform/file_io.h"
#include "platform/sealed_storage.h"
#include "session/policy_state.h"

namespace qalv::services {
namespace {

constexpr char kVerifyPath[] = "/acquvSrv/verify";
constexpr size_t kSha1Length = 20;
constexpr size_t kSha256Length = 32;

Json::Value Answer(const char* code, const char* msg) {
  Json::Value answer(Json::objectValue);
  answer["code"] = code;
  answer["msg"] = msg;
  return answer;
}

void Send(httplib::Response& response, const Json::Value& answer) {
  Json::StreamWriterBuilder builder;
  builder["emitUTF8"] = true;
  builder["indentation"] = "";
  response.set_content(Json::writeString(builder, answer), "application/json; charset=utf-8");
}

std::string Hex(const uint8_t* bytes, size_t count) {
  char text[2 * kSha256Length + 2];
  if (count > kSha256Length || HexUpper(bytes, count, text) != 0) return {};
  return text;
}

std::string Sha256Hex(const std::string& data) {
  uint8_t digest[kSha256Length];
  if (mbedtls_sha256_ret(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest,
                         0) != 0) {
    return {};
  }
  return Hex(digest, sizeof digest);
}

// SHA-1 over the shared prefix, the document digest and the package.
std::string AuthFor(const std::vector<uint8_t>& documentDigest, const std::string& package) {
  uint8_t digest[kSha1Length];
  mbedtls_sha1_context ctx;
  mbedtls_sha1_init(&ctx);
  const bool ok =
      mbedtls_sha1_starts_ret(&ctx) == 0 &&
      mbedtls_sha1_update_ret(&ctx, reinterpret_cast<const unsigned char*>(kAuthPrefix),
                              sizeof kAuthPrefix - 1) == 0 &&
      mbedtls_sha1_update_ret(&ctx, documentDigest.data(), documentDigest.size()) == 0 &&
      mbedtls_sha1_update_ret(&ctx, reinterpret_cast<const unsigned char*>(package.data()),
                              package.size()) == 0 &&
      mbedtls_sha1_finish_ret(&ctx, digest) == 0;
  mbedtls_sha1_free(&ctx);
  return ok ? Hex(digest, sizeof digest) : std::string();
}

// The record of the issued package that equals `body` byte for byte; false
// when there is none.
bool FindIssued(const std::filesystem::path& dataDir, const std::string& body,
                Json::Value& record) {
  const std::string name = Sha256Hex(body);
  if (name.empty()) return false;
  const std::filesystem::path kept = dataDir / "packages" / name;
  SecureBuffer package;
  SecureBuffer recordText;
  if (ReadWholeFile(std::filesystem::path(kept).concat(".tpk"), package) != 0 ||
      package.size() != body.size() || std::memcmp(package.data(), body.data(), body.size()) != 0 ||
      ReadWholeFile(std::filesystem::path(kept).concat(".json"), recordText) != 0) {
    return false;
  }
  const auto* text = reinterpret_cast<const char*>(recordText.data());
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  return reader->parse(text, text + recordText.size(), &record, nullptr) && record.isObject();
}

// The insurer's status part: the document's name and the time the package
// was issued, as recorded when it was.
Json::Value StatusQuery(const Json::Value& record) {
  Json::Value chk(Json::objectValue);
  chk["code"] = "00";
  chk["name"] = record.get("name", "");
  chk["time"] = record.get("issuedAt", "");
  chk["text"] = "保單有效";
  return chk;
}

Json::Value Verify(const std::filesystem::path& dataDir, const httplib::Request& request) {
  const std::string auth = request.get_param_value("auth");
  const std::string hash = request.get_param_value("hash");
  std::vector<uint8_t> documentDigest;
  std::vector<uint8_t> authBytes;
  if (auth.size() != 2 * kSha1Length || !DecodeHex(auth, authBytes) ||
      !DecodeHex(hash, documentDigest) || (documentDigest.size() != kSha1Length && documentDigest.size() != kSha256Length) ||
      request.body.empty()) {
    return Answer("1000", "驗證要求格式錯誤");
  }
  Json::Value record;
  if (!FindIssued(dataDir, request.body, record)) return Answer("1001", "查無此保單");
  const char* recorded = documentDigest.size() == kSha256Length ? "documentSha256" : "documentSha1";
  const Json::Value& digest = record.get(recorded, Json::Value());
  if (!digest.isString() || digest.asString() != hash) return Answer("1003", "保單文件摘要不符");
  if (AuthFor(documentDigest, request.body) != auth) return Answer("1002", "驗證碼錯誤");

  Json::Value answer = Answer("0000", "驗證成功");
  answer["chk"] = StatusQuery(record);
  return answer;
}

}  // namespace

void AddVerifyService(Routes& routes, const std::filesystem::path& dataDir) {
  routes.Post(kVerifyPath, [dataDir](const httplib::Request& request, httplib::Response& response) {
    Send(response, Verify(dataDir, request));
  });
}

}  // namespace qalv::services
