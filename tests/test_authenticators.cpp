// The request authenticators, recomputed with OpenSSL's command line as the
// services would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/authenticators.h"
#include "session/policy_state.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

using test::Bytes;

Bytes Pattern(size_t length, uint8_t seed) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + seed);
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes OpenSslDigest(const std::string& md, const Bytes& data) {
  return test::OpenSsl("dgst -" + md + " -binary", data);
}

Bytes PrefixBytes() {
  const PolicyState state;
  const std::string_view prefix = AuthPrefixText(state);
  return Bytes(prefix.begin(), prefix.end());
}

TEST(ChainUpdateAuthenticator, IsSha1OfPrefixAndKeyIdentifier) {
  const PolicyState state;
  for (size_t length : {size_t{20}, size_t{1}, size_t{0}, size_t{65}}) {
    const Bytes keyId = Pattern(length, 0xF0);
    ChainUpdateAuthenticator out;
    ASSERT_TRUE(MakeChainUpdateAuthenticator(AuthPrefixText(state), keyId.data(), keyId.size(), out))
        << length;
    EXPECT_EQ(out.auth, test::Hex(OpenSslDigest("sha1", Concat(PrefixBytes(), keyId)))) << length;
    EXPECT_EQ(out.aki, test::Hex(keyId)) << length;
    EXPECT_EQ(out.aki.size(), 2 * length);
  }
}

TEST(ChainUpdateAuthenticator, RefusesIdentifiersBeyondSixtyFiveBytes) {
  const Bytes keyId = Pattern(66, 1);
  ChainUpdateAuthenticator out;
  EXPECT_FALSE(MakeChainUpdateAuthenticator("QUV", keyId.data(), keyId.size(), out));
  EXPECT_FALSE(MakeChainUpdateAuthenticator("QUV", nullptr, 20, out));
}

TEST(OnlineAuthenticator, DigestsDocumentByS1DigestAndFileInChunks) {
  struct Case {
    int32_t s1DigestId;
    std::string md;  // the document digest it must choose
    size_t fileLength;
  };
  // File lengths around the 1024-byte chunk: a tail, an exact multiple, none.
  const std::vector<Case> cases = {
      {11, "sha256", 2500}, {5, "sha1", 2500},  {4, "sha1", 1024},
      {11, "sha256", 0},    {0, "sha1", 3073},
  };
  const Bytes document = Pattern(3000, 7);
  const Bytes prefix = PrefixBytes();
  const PolicyState state;
  test::TempDir dir;
  for (const Case& c : cases) {
    const Bytes file = Pattern(c.fileLength, 0x80);
    test::WriteFile(dir / "policy.tpk", file);
    OnlineAuthenticator out;
    ASSERT_TRUE(MakeOnlineAuthenticator(AuthPrefixText(state), document.data(), document.size(),
                                        c.s1DigestId, dir / "policy.tpk", out));
    const Bytes digest = OpenSslDigest(c.md, document);
    EXPECT_EQ(out.hash, test::Hex(digest)) << c.s1DigestId;
    EXPECT_EQ(out.auth, test::Hex(OpenSslDigest("sha1", Concat(Concat(prefix, digest), file))))
        << c.s1DigestId << " over " << c.fileLength << " bytes";
  }
}

TEST(OnlineAuthenticator, FailsWhenThePackageCannotBeRead) {
  test::TempDir dir;
  const Bytes document = Pattern(10, 0);
  OnlineAuthenticator out;
  EXPECT_FALSE(
      MakeOnlineAuthenticator("QUV", document.data(), document.size(), 11, dir / "gone.tpk", out));
  EXPECT_FALSE(MakeOnlineAuthenticator("QUV", document.data(), document.size(), 11, dir.path(), out))
      << "a folder";
}

}  // namespace
}  // namespace qalv
