#include "tools/tpk/trust.h"

#include <filesystem>

namespace qalv::tpk {
namespace {

std::optional<std::string>& TrustDir() {
  static std::optional<std::string> trustDir;
  return trustDir;
}

// The installed trust folder is found beside the program's own prefix.
std::filesystem::path ProgramFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path();
}

}  // namespace

void AddTrustOption(CLI::App& app) {
  app.add_option("--trust-dir", TrustDir(),
                 "Trust folder (anchors/, authority/) instead of QALV_TRUST_DIR or the per-user "
                 "and installed ones");
}

std::shared_ptr<const TrustAnchors> LoadTrust() {
  std::optional<std::filesystem::path> explicitFolder;
  if (TrustDir()) explicitFolder = *TrustDir();
  return std::make_shared<const TrustAnchors>(
      LoadTrustAnchors(TrustFolders(explicitFolder, ProgramFolder())));
}

}  // namespace qalv::tpk
