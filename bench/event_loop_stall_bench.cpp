// How frozen the window is while an opening waits on the network: a package
// whose authority chain is not yet stored, served by a chain service that
// answers after 3 s. A timer that expects to fire every 10 ms measures the
// longest gap of the window's event loop from the press of "開啟電子保單" to
// the verdict. Prints the longest stall of each run and their median.
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench/window_bench_app.h"
#include "tests/gui/support/reader_driver.h"
#include "tests/support/fixtures.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"
#include "writer/test_pki.h"

namespace {

constexpr auto kServiceDelay = std::chrono::seconds(3);
constexpr int kRuns = 3;

// The longest time between two ticks of a 10 ms timer while it runs.
class StallMeter {
 public:
  StallMeter() {
    timer_.setInterval(10);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      longestMs_ = std::max(longestMs_, static_cast<double>(sinceTick_.nsecsElapsed()) / 1e6);
      sinceTick_.restart();
    });
    sinceTick_.start();
    timer_.start();
  }
  double LongestMs() const { return longestMs_; }

 private:
  QTimer timer_;
  QElapsedTimer sinceTick_;
  double longestMs_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const qalv::bench::WindowBenchApp application(argc, argv);

  const qalv::writer::Bytes chain = qalv::writer::ChainFile(qalv::test::SharedPki());
  const QByteArray encoded =
      QByteArray(reinterpret_cast<const char*>(chain.data()), static_cast<qsizetype>(chain.size())).toBase64();
  const std::string reply = "{\"code\": \"0000\", \"chain\": \"" + encoded.toStdString() + "\"}";
  qalv::test::LocalServer service;
  service.server().Post("/acquvSrv/caChain", [&reply](const httplib::Request&, httplib::Response& response) {
    std::this_thread::sleep_for(kServiceDelay);
    response.set_content(reply, "application/json");
  });
  service.Start();

  qalv::test::TempDir files;
  qalv::writer::PackageSpec spec = qalv::test::SharedPackageSpec();
  spec.versionInfo.certChainUrl = service.Url("/acquvSrv/caChain");
  const std::filesystem::path package = files.path() / "policy.tpk";
  qalv::test::WriteFile(package, qalv::writer::BuildPackage(spec));
  const QString path = QString::fromStdString(package.string());

  std::vector<double> stalls;
  for (int run = 0; run < kRuns; ++run) {
    // A new home each run: the chain is never stored before the opening.
    qalv::test::TempDir home;
    qalv::test::ReaderDriver driver(home.path());
    if (!driver.WaitUntilReady()) return std::fputs("the page did not load\n", stderr), 1;
    driver.window->SetFileChoosers([&] { return path; }, [](const QString&) { return QString(); });
    qalv::test::ModalAnswers answers;
    answers.Password(QStringLiteral("test-password"));
    double longest = 0;
    {
      StallMeter meter;
      if (!driver.CallPage(QStringLiteral("openTpk()"))) return std::fputs("no verdict\n", stderr), 1;
      longest = meter.LongestMs();
    }
    if (!driver.Shown(QStringLiteral("status")).startsWith(QStringLiteral("本保單已通過"))) {
      return std::fputs("the package did not pass\n", stderr), 1;
    }
    std::printf("run %d: longest stall %7.1f ms\n", run + 1, longest);
    stalls.push_back(longest);
  }
  std::sort(stalls.begin(), stalls.end());
  std::printf("longest event-loop stall, chain service answering after 3 s: %7.1f ms (median of %d, goal 50)\n",
              stalls[stalls.size() / 2], kRuns);
  return 0;
}
