// Two readers and two `tpk verify` processes open two packages of one
// authority key in one empty work folder at the same moment, 50 times: the
// chain service holds the requests of a round until all four have come (or a
// while has passed), so they fetch and store the chain together. Every verdict is right, the folder holds
// one chain file that unseals to what the service sent, every seal and preview
// file is whole, and nothing else (no temporary file) is left there.
#include <gtest/gtest.h>

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/trace.h"
#include "tests/gui/support/reader_driver.h"
#include "tests/support/fixtures.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"
#include "writer/package_writer.h"
#include "writer/test_pki.h"

namespace qalv {
namespace {

constexpr int kRounds = 50;
constexpr int kProcesses = 4;

// The chain service of the shared PKI, holding each request of a round until
// every process has asked (or a while has passed, for a process that found
// the chain already stored and never asks).
class PairingChainService {
 public:
  PairingChainService() {
    const writer::Bytes chain = writer::ChainFile(test::SharedPki());
    chainText_ = QByteArray(reinterpret_cast<const char*>(chain.data()), static_cast<qsizetype>(chain.size()))
                     .toBase64()
                     .toStdString();
    server_.server().Post("/acquvSrv/caChain", [this](const httplib::Request&, httplib::Response& response) {
      std::unique_lock lock(mutex_);
      ++arrived_;
      changed_.notify_all();
      changed_.wait_for(lock, std::chrono::seconds(3), [this] { return arrived_ >= kProcesses; });
      response.set_content("{\"code\": \"0000\", \"chain\": \"" + chainText_ + "\"}", "application/json");
    });
    server_.Start();
  }

  std::string Url() const { return server_.Url("/acquvSrv/caChain"); }
  const std::string& ChainText() const { return chainText_; }
  // The requests of the last round; a new round starts.
  int NewRound() {
    const std::lock_guard lock(mutex_);
    return std::exchange(arrived_, 0);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int arrived_ = 0;
  std::string chainText_;
  test::LocalServer server_;  // last: stops before what its handler uses
};

std::string Self() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

// One reader, in a process of its own started by the test below: opens the
// package given on its command line with the password and passes when the
// page shows the passed verdict.
TEST(TwoAtOnce, Child) {
  if (qEnvironmentVariableIsEmpty("QALV_TWO_AT_ONCE_PACKAGE")) GTEST_SKIP() << "run by TwoReadersAndTwoTools";
  trace::SetLogSink({});
  test::ModalAnswers answers;
  answers.Password(QStringLiteral("test-password"));
  test::ReaderDriver driver(qEnvironmentVariable("HOME").toStdString(),
                            qEnvironmentVariable("QALV_TWO_AT_ONCE_PACKAGE"));
  ASSERT_TRUE(driver.WaitUntilReady());
  EXPECT_TRUE(driver.Shown("status").startsWith(QStringLiteral("本保單已通過"))) << driver.Shown("status").toStdString();
}

TEST(TwoAtOnce, TwoReadersAndTwoToolsShareOneWorkFolder) {
  PairingChainService service;
  test::TempDir files;
  std::vector<std::string> packages;
  for (const char* name : {"first.tpk", "second.tpk"}) {
    writer::PackageSpec spec = test::SharedPackageSpec();
    spec.versionInfo.certChainUrl = service.Url();
    spec.versionInfo.uniqueSerial = name;
    packages.push_back((files.path() / name).string());
    test::WriteFile(packages.back(), writer::BuildPackage(spec));
  }
  const writer::PackageSpec& spec = test::SharedPackageSpec();
  const std::vector<std::pair<std::string, writer::Bytes>> whole = {
      {"TTS", spec.versionInfo.tpkTrustSeal},      {"TMS", spec.versionInfo.tpkMistrustSeal},
      {"ITS", spec.versionInfo.ipkTrustSeal},      {"IMS", spec.versionInfo.ipkMistrustSeal},
      {"OTS", spec.versionInfo.onlineTrustSeal},   {"OMS", spec.versionInfo.onlineMistrustSeal},
      {"SNS", spec.snapshot}};
  const std::string chainName = test::Hex(test::SharedPki().intermediate.key->KeyIdentifier());
  const std::set<std::string> allowed = {"TTS", "TMS", "ITS", "IMS", "OTS", "OMS", "SNS",
                                         "webPdf.htm", "index.bundle.js", chainName};

  std::map<int, int> roundsByFetches;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    test::TempDir home;
    const std::filesystem::path work = home.path() / "qalvquv";
    std::filesystem::create_directory(work);
    const std::string environment = "HOME=" + test::ShellQuote(home.path().string()) +
                                    " QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1"
                                    " QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu ";
    std::vector<std::future<test::CommandResult>> runs;
    for (const std::string& package : packages) {
      runs.push_back(std::async(std::launch::async, [&, package] {
        return test::Run(environment + "QALV_TWO_AT_ONCE_PACKAGE=" + test::ShellQuote(package) + " " +
                         Self() + " --gtest_filter=TwoAtOnce.Child 2>&1");
      }));
      runs.push_back(std::async(std::launch::async, [&, package] {
        return test::Run(test::ShellQuote(test::TpkPath()) + " verify " + test::ShellQuote(package) +
                         " --password test-password --work-dir " + test::ShellQuote(work.string()));
      }));
    }
    for (size_t i = 0; i < runs.size(); ++i) {
      const test::CommandResult run = runs[i].get();
      EXPECT_EQ(run.exitCode, 0) << run.out;
      if (i % 2 == 0) {
        EXPECT_NE(run.out.find("[  PASSED  ] 1 test"), std::string::npos) << run.out;
      } else {
        EXPECT_NE(run.out.find("\"statusCode\":0"), std::string::npos) << run.out;
      }
    }

    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(work)) names.insert(entry.path().filename());
    for (const std::string& name : names) EXPECT_TRUE(allowed.contains(name)) << "left in the work folder: " << name;
    for (const auto& [name, bytes] : whole) EXPECT_EQ(test::ReadFile(work / name), bytes) << name;
    const test::TpkAnswer chain = test::RunTpk("unseal " + test::ShellQuote((work / chainName).string()) +
                                               " --out " + test::ShellQuote((home.path() / "chain").string()));
    EXPECT_EQ(chain.json["result"].asInt(), 0);
    const writer::Bytes unsealed = test::ReadFile(home.path() / "chain");
    EXPECT_EQ(std::string(unsealed.begin(), unsealed.end()), service.ChainText());
    // The two tools start together and find no chain: at least they fetch
    // at the same moment.
    const int fetches = service.NewRound();
    EXPECT_GE(fetches, 2);
    ++roundsByFetches[fetches];
    if (testing::Test::HasFailure()) break;
  }
  std::string summary;
  for (const auto& [fetches, rounds] : roundsByFetches) {
    summary += std::to_string(rounds) + " rounds with " + std::to_string(fetches) + " fetches at once; ";
  }
  RecordProperty("fetches", summary);
  std::cout << summary << '\n';
}

}  // namespace
}  // namespace qalv
