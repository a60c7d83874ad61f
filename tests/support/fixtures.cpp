#include "tests/support/fixtures.h"

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

}  // namespace qalv::test
