// Writer-made fixtures shared by the test programs: one test PKI from the
// committed keys, and the default PackageSpec signed by it.
#pragma once

#include "tools/writer/package_writer.h"
#include "tools/writer/test_pki.h"

namespace qalv::test {

const writer::TestPki& SharedPki();
const writer::PackageSpec& SharedPackageSpec();

}  // namespace qalv::test
