// tpk unseal FILE: reads back a sealed file of the work folder.
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <json/value.h>
#include <mbedtls/sha256.h>

#include "platform/file_io.h"
#include "platform/sealed_storage.h"
#include "platform/system_error.h"
#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"

namespace qalv::tpk {
namespace {

struct UnsealOptions {
  std::string path;
  std::optional<std::string> key;
  std::string out;
};

int RunUnseal(const UnsealOptions& options) {
  SecureBuffer sealed;
  if (!ReadInputFile("unseal", options.path, sealed)) return kExitUsage;
  // The CA chain store names each sealed file by its own key text.
  const std::string key =
      options.key.value_or(std::filesystem::path(options.path).filename().string());

  SecureBuffer plain;
  size_t length = sealed.size();
  int32_t result = seal::kNoMemory;
  if (plain.Allocate(sealed.size())) {
    result = UnsealBuffer(sealed.data(), sealed.size(), key.c_str(), plain.data(), length);
  }

  Json::Value answer(Json::objectValue);
  answer["result"] = result;
  answer["length"] = Json::UInt64{result == 0 ? length : 0};
  answer["sha256"] = "";
  if (result == 0) {
    uint8_t digest[32];
    if (mbedtls_sha256_ret(plain.data(), length, digest, 0) == 0) {
      answer["sha256"] = HexText(digest, sizeof digest);
    }
  }
  PrintJson(answer);
  if (result != 0) return kExitFailedCheck;
  if (!options.out.empty() && WriteWholeFile(options.out, plain.data(), length) != 0) {
    std::cerr << "tpk unseal: cannot write " << options.out << ": " << SystemErrorText(errno) << '\n';
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace

void AddUnsealCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<UnsealOptions>();
  CLI::App* command = app.add_subcommand("unseal", "Unseal a sealed file of the work folder");
  command->add_option("FILE", options->path, "Sealed file")->required();
  command->add_option("--key", options->key, "Key text (default: the file's own name)");
  command->add_option("--out", options->out, "Write the plaintext here");
  command->callback([options, &exitCode] { exitCode = RunUnseal(*options); });
}

}  // namespace qalv::tpk
