// Whether a long day of use leaves the reader bigger than it found it. One
// process opens packages 1,000 times, in turn: a good package with its
// password, the same package with a wrong password, a damaged copy of it (cut
// short, or with one byte of its cipher flipped, by turns), and so on; after
// every tenth opening it verifies the open policy online against a
// verification service running in this process. The CA chain is stored
// before the first opening, so no opening waits on the network.
//
// It reads the resident memory, the open descriptors and the threads after
// the first 50 openings and at the end (and every 250 openings between), and
// fails when the private resident memory grew by the limit or more between
// the first reading and the last, or when descriptors or threads outside the
// thread pools grew.
//
//   soak_bench window  [--openings N] [--only good|wrong|damaged]
//   soak_bench library [--openings N] [--only good|wrong|damaged]
//
// window: the reader window through its page, as a person uses it: "開啟電子保單"
//   (openTpk()), the password typed into the prompt, "QALV線上驗證"; memory
//   limit 5 MiB. The page's own renderer is a process of its own, outside
//   these readings.
// library: OpenPolicy and RequestOnlineVerification with the headless owner
//   window, a new one and a new policy state for each opening, as
//   `tpk verify --online` calls them; memory limit 1 MiB.
// --only runs one kind of opening alone, to tell which kind a growth follows.
#include <malloc.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/window_bench_app.h"
#include "net/online_verification.h"
#include "opening/open_policy.h"
#include "tests/gui/support/reader_driver.h"
#include "tests/support/fixtures.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"
#include "tools/tpk/headless_window.h"
#include "writer/der_writer.h"
#include "writer/package_writer.h"

namespace qalv::bench {
namespace {

namespace fs = std::filesystem;

constexpr char kPassword[] = "test-password";
constexpr char kVerifyPath[] = "/acquvSrv/verify";
// The verification service's answer for a policy it confirms.
constexpr char kConfirmed[] = R"({"code":"0000","msg":"驗證成功","chk":{"code":"00","name":"保單A.pdf"}})";
constexpr int kOnlineEvery = 10;
constexpr int kFirstReading = 50;
constexpr int kReadingEvery = 250;
// The pause before each reading, for work the last opening set going to end.
constexpr int kSettleMs = 200;

// One kind of opening: the file, the password typed (none when the opening
// must end before the prompt), and what the opening must leave.
struct Opening {
  const char* kind;
  fs::path package;
  std::optional<std::string> password;
  std::string statusText;
  bool decrypted;
};

bool Left(const Opening& opening, const PolicyState& state) {
  return state.statusText == opening.statusText && (state.decryptState == 0) == opening.decrypted;
}

// The packages in `dir`, and the order they are opened in: all kinds in
// turn, or only those of `only` ("good", "wrong" or "damaged").
class Openings {
 public:
  Openings(const fs::path& dir, const std::string& serviceUrl, const std::string& only) {
    writer::PackageSpec spec = test::SharedPackageSpec();
    spec.password = kPassword;
    spec.versionInfo.certChainUrl = serviceUrl;
    writer::DerNode tree = writer::BuildPackageTree(spec);
    const writer::Bytes package = writer::Serialize(tree);
    writer::Bytes cut(package.begin(), package.begin() + static_cast<std::ptrdiff_t>(package.size() / 2));
    writer::Bytes cipher = writer::BitStringValue(tree.At("cipher"));
    cipher[cipher.size() / 2] ^= 0x01;
    writer::SetBitStringValue(tree.At("cipher"), cipher);

    good_ = {"good", dir / "good.tpk", kPassword, "", true};
    wrong_ = {"wrong password", good_.package, "not-the-password", "解密驗證錯誤", false};
    cut_ = {"cut short", dir / "cut.tpk", std::nullopt, "電子保單資料格式錯誤", false};
    flipped_ = {"cipher flipped", dir / "flipped.tpk", kPassword, "密文被修改", false};
    test::WriteFile(good_.package, package);
    test::WriteFile(cut_.package, cut);
    test::WriteFile(flipped_.package, writer::Serialize(tree));

    if (only.empty()) {
      turn_ = {&good_, &wrong_, &cut_, &good_, &wrong_, &flipped_};
    } else if (only == "good") {
      turn_ = {&good_};
    } else if (only == "wrong") {
      turn_ = {&wrong_};
    } else {
      turn_ = {&cut_, &flipped_};
    }
  }

  const Opening& operator[](int index) const { return *turn_[static_cast<size_t>(index) % turn_.size()]; }

 private:
  Opening good_;
  Opening wrong_;
  Opening cut_;
  Opening flipped_;
  std::vector<const Opening*> turn_;
};

// The verification service: confirms every policy sent to it.
class VerificationService {
 public:
  VerificationService() {
    // One worker: each new worker thread would bring its own malloc arena,
    // which the readings would count as the reader's growth.
    server_.server().new_task_queue = [] { return new httplib::ThreadPool(1); };
    server_.server().Post(kVerifyPath, [this](const httplib::Request&, httplib::Response& response) {
      ++requests_;
      response.set_content(kConfirmed, "application/json");
    });
    server_.Start();
  }
  // The address the packages name: the verification path is made from it.
  std::string ChainUrl() const { return server_.Url("/acquvSrv/caChain"); }
  int Requests() const { return requests_; }

 private:
  test::LocalServer server_;
  std::atomic<int> requests_{0};
};

// ---- readings ----------------------------------------------------------------

struct Reading {
  int openings = 0;
  long rssKiB = 0;
  long sharedKiB = 0;  // of the resident memory, shared memory (RssShmem)
  long descriptors = 0;
  long threads = 0;
  long pooled = 0;  // of the threads, workers of Chromium's and Qt's thread pools
  double seconds = 0;
};

// A figure in kB from /proc/self/status, -1 when it is missing.
long StatusKiB(std::string_view field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(field)) return std::strtol(line.c_str() + field.size(), nullptr, 10);
  }
  return -1;
}

// The entries of a /proc folder; for /proc/self/fd that includes the one the
// listing itself holds open, the same in every reading.
long Entries(const char* folder) {
  return static_cast<long>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// The threads that Chromium's thread pool and Qt's global pool start when
// work queues up, up to a fixed number, and end after some 30 s idle: how
// many there are at a moment says how busy the last seconds were, not what
// the process holds on to.
long PooledThreads() {
  long pooled = 0;
  for (const fs::directory_entry& task : fs::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name.starts_with("ThreadPoolForeg") || name.starts_with("ThreadPoolBackg") || name == "Thread (pooled)") {
      ++pooled;
    }
  }
  return pooled;
}

Reading Read(int openings, const QElapsedTimer& clock) {
  // Freed heap stays in the process until the allocator trims it: without
  // the trim, memory given back would still count as resident.
  malloc_trim(0);
  return {openings,
          StatusKiB("VmRSS:"),
          StatusKiB("RssShmem:"),
          Entries("/proc/self/fd"),
          Entries("/proc/self/task"),
          PooledThreads(),
          static_cast<double>(clock.elapsed()) / 1e3};
}

double MiB(long kib) { return static_cast<double>(kib) / 1024.0; }

void PrintReading(const Reading& reading) {
  std::printf("%9d %10.1f %11.1f %12.1f %12ld %8ld %7ld %10.1f\n", reading.openings, MiB(reading.rssKiB),
              MiB(reading.sharedKiB), MiB(reading.rssKiB - reading.sharedKiB), reading.descriptors, reading.threads,
              reading.pooled, reading.seconds);
  std::fflush(stdout);
}

// ---- the soak ----------------------------------------------------------------

struct Options {
  std::string mode;
  int openings = 1000;
  std::string only;
};

// What one mode supplies: an opening, the online verification after it, and
// a pause for work still settling before a reading.
struct Driver {
  std::function<bool(const Opening&)> open;
  std::function<bool(const Opening&)> verifyOnline;
  std::function<void()> settle;
};

int Soak(const Options& options, const Openings& openings, const Driver& driver, double limitMiB) {
  std::printf("%s, %d openings%s%s\n", options.mode.c_str(), options.openings, options.only.empty() ? "" : ", only ",
              options.only.c_str());
  std::printf("%9s %10s %11s %12s %12s %8s %7s %10s\n", "openings", "VmRSS MiB", "shared MiB", "private MiB",
              "descriptors", "threads", "pooled", "seconds");
  QElapsedTimer clock;
  clock.start();
  std::vector<Reading> readings;
  for (int done = 0; done < options.openings;) {
    const Opening& opening = openings[done];
    if (!driver.open(opening)) {
      std::printf("opening %d (%s) did not end as it must\n", done + 1, opening.kind);
      return 2;
    }
    ++done;
    if (done % kOnlineEvery == 0 && !driver.verifyOnline(opening)) {
      std::printf("the online verification after opening %d (%s) did not end as it must\n", done, opening.kind);
      return 2;
    }
    if (done == kFirstReading || done % kReadingEvery == 0 || done == options.openings) {
      driver.settle();
      readings.push_back(Read(done, clock));
      PrintReading(readings.back());
    }
  }

  const Reading& first = readings.front();
  const Reading& last = readings.back();
  // Judged without the shared memory: that is Chromium's, shared with the
  // page's renderer (the frames it draws, the pictures it decodes), and
  // Chromium sizes it as it sees fit; it swings by several MiB from one
  // reading to the next at any number of openings.
  const double grownMiB = MiB((last.rssKiB - last.sharedKiB) - (first.rssKiB - first.sharedKiB));
  std::printf("private resident memory from opening %d to %d: %+.2f MiB (limit %.0f MiB); VmRSS %+.2f MiB\n",
              first.openings, last.openings, grownMiB, limitMiB, MiB(last.rssKiB - first.rssKiB));
  const long firstOwn = first.threads - first.pooled;
  const long lastOwn = last.threads - last.pooled;
  std::printf("descriptors %ld -> %ld, threads outside the pools %ld -> %ld; %.1f s in all\n", first.descriptors,
              last.descriptors, firstOwn, lastOwn, last.seconds);
  bool passed = true;
  const auto check = [&passed](bool holds, const char* complaint) {
    if (!holds) std::fputs(complaint, stdout);
    passed = passed && holds;
  };
  check(grownMiB < limitMiB, "resident memory grew by the limit or more\n");
  check(last.descriptors <= first.descriptors, "descriptors grew\n");
  check(lastOwn <= firstOwn, "threads grew\n");
  return passed ? 0 : 1;
}

// ---- the reader window ----------------------------------------------------------

void Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

int SoakWindow(int& argc, char** argv, const Options& options) {
  const WindowBenchApp application(argc, argv);
  VerificationService service;
  test::TempDir files;
  const Openings openings(files.path(), service.ChainUrl(), options.only);
  test::TempDir home;
  test::StoreSealedChain(home.path() / "qalvquv");

  test::ReaderDriver page(home.path());
  if (!page.WaitUntilReady()) return std::puts("the page did not load"), 2;
  QString chosen;
  page.window->SetFileChoosers([&chosen] { return chosen; }, [](const QString&) { return QString(); });
  test::ModalAnswers answers;

  Driver driver;
  driver.open = [&](const Opening& opening) {
    chosen = QString::fromStdString(opening.package.string());
    if (opening.password) answers.Password(QString::fromStdString(*opening.password));
    return page.CallPage(QStringLiteral("openTpk()")) && answers.Done() && Left(opening, page.window->Policy());
  };
  driver.verifyOnline = [&](const Opening& opening) {
    if (opening.decrypted) {
      const int requests = service.Requests();
      return page.PressOnlineVerify() && service.Requests() == requests + 1 &&
             page.Html(QStringLiteral("onlineSummary")) == QStringLiteral("此份保單由QALV線上驗證無誤");
    }
    // A policy that was not decrypted is refused with a message box.
    answers.Message();
    return page.PressOnlineVerify() && answers.Done() &&
           answers.messages.back() == QStringLiteral("資訊|保單需解密成功才可進行線上驗證");
  };
  // The page's drawing, the seals' loading and a dialog's deletion run on
  // this event loop.
  driver.settle = [] { Pause(kSettleMs); };
  return Soak(options, openings, driver, 5);
}

// ---- the library alone ------------------------------------------------------------

int SoakLibrary(const Options& options) {
  trace::SetLogSink({});
  VerificationService service;
  test::TempDir files;
  const Openings openings(files.path(), service.ChainUrl(), options.only);
  const fs::path work = files.path() / "work";
  test::StoreSealedChain(work);
  const std::shared_ptr<const TrustAnchors> trust = test::SharedTrust();

  // The state of the last opening, kept for the online verification after it.
  std::optional<PolicyState> state;
  Driver driver;
  driver.open = [&](const Opening& opening) {
    tpk::HeadlessWindow window(opening.password, false);
    state.emplace();
    state->ownerWindow = &window;
    state->workFolder = work.string() + "/";
    state->readerVersion = QALV_VERSION;
    state->trust = trust;
    static_cast<void>(OpenPolicy(*state, opening.package));
    state->ownerWindow = nullptr;
    return Left(opening, *state) && window.messages().empty();
  };
  driver.verifyOnline = [&](const Opening& opening) {
    const int requests = service.Requests();
    const int32_t result = RequestOnlineVerification(*state, opening.package);
    if (!opening.decrypted) return result != 0 && service.Requests() == requests;
    return result == 0 && state->onlineResponse == kConfirmed && service.Requests() == requests + 1;
  };
  // The service's end of the last connection closes on its own thread.
  driver.settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs)); };
  return Soak(options, openings, driver, 1);
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  Options options;
  options.mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--openings") {
      options.openings = std::atoi(argv[i + 1]);
    } else if (name == "--only") {
      options.only = argv[i + 1];
    } else {
      return std::nullopt;
    }
  }
  if (argc % 2 != 0 || options.openings <= kFirstReading) return std::nullopt;
  if (options.mode != "window" && options.mode != "library") return std::nullopt;
  if (!options.only.empty() && options.only != "good" && options.only != "wrong" && options.only != "damaged") {
    return std::nullopt;
  }
  return options;
}

}  // namespace
}  // namespace qalv::bench

int main(int argc, char** argv) {
  const std::optional<qalv::bench::Options> options = qalv::bench::ParseOptions(argc, argv);
  if (!options) {
    std::fputs("usage: soak_bench window|library [--openings N (more than 50)] [--only good|wrong|damaged]\n", stderr);
    return 2;
  }
  if (options->mode == "library") return qalv::bench::SoakLibrary(*options);
  return qalv::bench::SoakWindow(argc, argv, *options);
}
