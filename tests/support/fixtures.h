// Writer-made fixtures shared by the test programs: one test PKI from the
// committed keys, and the default PackageSpec signed by it.
#pragma once

#include <filesystem>
#include <memory>

#include "writer/package_writer.h"
#include "writer/test_pki.h"
#include "x509/trust_anchors.h"

namespace qalv::test {

const writer::TestPki& SharedPki();
const writer::PackageSpec& SharedPackageSpec();

// The trust folder of the shared PKI (made by the build), and its contents
// as the reader loads them.
std::filesystem::path SharedTrustDir();
std::shared_ptr<const TrustAnchors> SharedTrust();

// Stores `chain` in the work folder (made when missing) sealed under
// `issuerKey`'s identifier, as a first opening would have fetched it; by
// default the shared PKI's chain.
void StoreSealedChain(const std::filesystem::path& workFolder, const writer::RsaKey& issuerKey,
                      const writer::Bytes& chain);
void StoreSealedChain(const std::filesystem::path& workFolder);

}  // namespace qalv::test
