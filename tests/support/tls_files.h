// A CA, a server certificate for 127.0.0.1 issued by it, and an unrelated CA
// of the same name, made once per test program by OpenSSL's command line.
#pragma once

#include <string>

#include "tests/support/test_support.h"

namespace qalv::test {

struct TlsFiles {
  TempDir dir;
  std::string ca, otherCa, cert, key;  // PEM files
};

const TlsFiles& Tls();

}  // namespace qalv::test
