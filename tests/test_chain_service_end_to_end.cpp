// A package made by `tpk pack` and a chain served by `qalv-services`: the three
// signer certificates check out through the fetched chain, the work folder
// keeps one sealed chain file, and later checks make no request.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <iterator>
#include <memory>
#include <string>

#include "opening/ca_chain_store.h"
#include "package/tpk_package.h"
#include "platform/trace.h"
#include "tests/support/recording_owner_window.h"
#include "tests/support/test_support.h"
#include "x509/trust_anchors.h"

namespace qalv {
namespace {

using test::ShellQuote;

int CountRequests(const std::filesystem::path& log) {
  // The server logs a request once its answer is sent: give the line a moment.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::ifstream in(log);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int count = 0;
  for (size_t at = text.find("POST "); at != std::string::npos; at = text.find("POST ", at + 1)) {
    ++count;
  }
  return count;
}

TEST(ChainServiceEndToEnd, SignersCheckThroughTheServedChain) {
  trace::SetLogSink({});
  test::TempDir dir;
  const std::string tpk = ShellQuote(test::TpkPath());
  const auto keys = test::TestDataDir() / "keys-pki";
  ASSERT_EQ(test::Run(tpk + " ca --out " + ShellQuote((dir / "pki").string()) + " --keys " +
                      ShellQuote(keys.string()) + " --services " +
                      ShellQuote((dir / "services").string()))
                .exitCode,
            0);

  const auto serverLog = dir / "services.log";
  test::BackgroundProcess services(
      {test::ServicesPath(), "--data", (dir / "services").string(), "--listen", "127.0.0.1:0"},
      serverLog);
  ASSERT_EQ(services.firstLine().rfind("http://127.0.0.1:", 0), 0u) << services.firstLine();
  const std::string chainUrl = services.firstLine() + "/acquvSrv/caChain";

  test::WriteFile(dir / "doc.pdf", std::string("%PDF-1.4 policy"));
  ASSERT_EQ(test::Run(tpk + " pack --out " + ShellQuote((dir / "p.tpk").string()) +
                      " --document " + ShellQuote((dir / "doc.pdf").string()) +
                      " --password pw --pki " + ShellQuote((dir / "pki").string()) +
                      " --cert-chain-url " + ShellQuote(chainUrl))
                .exitCode,
            0);

  TpkPackage package;
  const test::Bytes file = test::ReadFile(dir / "p.tpk");
  ASSERT_EQ(ReadPackage(package, file.data(), file.size()), 0);

  std::filesystem::create_directories(dir / "work");
  test::RecordingOwnerWindow window;
  PolicyState state;
  state.ownerWindow = &window;
  state.workFolder = (dir / "work").string() + "/";
  state.trust = std::make_shared<const TrustAnchors>(LoadTrustAnchors({dir / "pki" / "trust"}));
  state.certChainUrl = std::string(package.versionInfo.certChainUrl.begin(),
                                    package.versionInfo.certChainUrl.end());

  for (const CertificateList* list : {&package.s3Certificate, &package.ipkData.s2Certificate,
                                      &package.ipkData.s1Certificate}) {
    const X509Certificate& cert = list->front();
    EXPECT_EQ(CheckAgainstCaChain(state, *list, cert.authorityKeyId),
              0);
  }
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(CountRequests(serverLog), 1) << "one fetch serves all three certificates";

  // One sealed chain file, of the served chain text's length + 48.
  std::vector<std::filesystem::path> stored;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "work")) {
    stored.push_back(entry.path());
  }
  ASSERT_EQ(stored.size(), 1u);
  const auto chainDer = test::ReadFile(dir / "pki" / "chain.p7b");
  const size_t base64Length = (chainDer.size() + 2) / 3 * 4;
  EXPECT_EQ(std::filesystem::file_size(stored[0]), base64Length + 48);

  const X509Certificate& s1 = package.ipkData.s1Certificate.front();
  EXPECT_EQ(CheckAgainstCaChain(state, package.ipkData.s1Certificate, s1.authorityKeyId),
            0);
  EXPECT_EQ(CountRequests(serverLog), 1) << "a stored chain is not fetched again";
}

}  // namespace
}  // namespace qalv
