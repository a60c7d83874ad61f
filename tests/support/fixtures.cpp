#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include "platform/sealed_storage.h"
#include "tests/support/test_support.h"

namespace qalv::test {

const writer::TestPki& SharedPki() {
  static const writer::TestPki pki =
      writer::MakeTestPki({.keyDir = (TestDataDir() / "keys-pki").string()});
  return pki;
}

const writer::PackageSpec& SharedPackageSpec() {
  static const writer::PackageSpec spec = writer::DefaultPackageSpec(SharedPki());
  return spec;
}

std::filesystem::path SharedTrustDir() { return QALV_TEST_TRUST_DIR; }

std::shared_ptr<const TrustAnchors> SharedTrust() {
  static const auto trust =
      std::make_shared<const TrustAnchors>(LoadTrustAnchors({SharedTrustDir()}));
  return trust;
}

void StoreSealedChain(const std::filesystem::path& workFolder, const writer::RsaKey& issuerKey,
                      const writer::Bytes& chain) {
  std::filesystem::create_directories(workFolder);
  const std::string name = Hex(issuerKey.KeyIdentifier());
  Bytes sealed(chain.size() + seal::kOverhead);
  size_t length = sealed.size();
  ASSERT_EQ(SealBuffer(chain.data(), chain.size(), name.c_str(), sealed.data(), length), 0);
  WriteFile(workFolder / name, sealed);
}

void StoreSealedChain(const std::filesystem::path& workFolder) {
  StoreSealedChain(workFolder, *SharedPki().intermediate.key, writer::ChainFile(SharedPki()));
}

}  // namespace qalv::test
