// How long the opening of a package takes to reach its verdict, next to the
// cryptography it cannot avoid on the same bytes (SHA-256 of the cipher,
// AES-256-CBC decryption, SHA-256 of the document, all with mbed TLS) and
// next to the OpenSSL command line doing that work; and the peak resident
// memory of one opening.
//
//   open_policy_bench [--runs N] [--sizes MIB,MIB,...]
//
// Modes the driver runs in its own child processes:
//   --prepare DIR MIB,...      the stored chain, and per size a package and its cipher
//   --open-only FILE WORKDIR   one opening and nothing else; its wall-clock and CPU
//                              time in ms on standard output
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <mbedtls/aes.h>
#include <mbedtls/sha256.h>

#include "opening/open_policy.h"
#include "platform/file_io.h"
#include "platform/sealed_storage.h"
#include "platform/secure_buffer.h"
#include "platform/trace.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "writer/package_writer.h"
#include "writer/test_pki.h"

extern char** environ;

namespace qalv::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Digest = std::array<uint8_t, 32>;

constexpr char kPassword[] = "bench-password";
// Fixed, so that every run of the benchmark opens the same documents.
constexpr uint64_t kSeed = 0x51414C56;
constexpr size_t kMiB = size_t{1} << 20;
constexpr double kOverheadGoal = 0.30;
constexpr double kMemoryFactorGoal = 2.2;
constexpr double kMemoryAllowanceMiB = 30;

// The files of one document size in the bench folder.
struct SizeFiles {
  fs::path package;
  fs::path cipher;  // the package's cipher value alone, for the command line
  fs::path plain;   // where the command line decrypts to
  fs::path digest;  // the command line's digest output
};

SizeFiles FilesOf(const fs::path& dir, size_t mib) {
  const std::string stem = std::to_string(mib) + "mib";
  return {dir / (stem + ".tpk"), dir / (stem + ".cipher"), dir / (stem + ".plain"),
          dir / (stem + ".dgst")};
}

fs::path WorkFolderOf(const fs::path& dir) { return dir / "work"; }

std::string HexOf(const uint8_t* bytes, size_t count) {
  std::string text(2 * count + 2, '\0');
  if (HexUpper(bytes, count, text.data()) != 0) return {};
  text.resize(2 * count);
  return text;
}

// ---- preparation ---------------------------------------------------------

writer::Bytes RandomDocument(size_t size, uint64_t seed) {
  writer::Bytes document(size);
  std::mt19937_64 random(seed);
  for (size_t i = 0; i < size; i += sizeof(uint64_t)) {
    const uint64_t word = random();
    std::memcpy(document.data() + i, &word, std::min(sizeof word, size - i));
  }
  return document;
}

bool PrepareSize(const writer::TestPki& pki, const fs::path& dir, size_t mib) {
  writer::PackageSpec spec = writer::DefaultPackageSpec(pki);
  spec.password = kPassword;
  // The reader's own version: the package offers no update.
  spec.versionInfo.win.version = QALV_VERSION;
  spec.document = RandomDocument(mib * kMiB, kSeed + mib);
  const writer::DerNode tree = writer::BuildPackageTree(spec);
  const writer::Bytes package = writer::Serialize(tree);
  const writer::Bytes cipher = writer::BitStringValue(tree.At("cipher"));
  const SizeFiles files = FilesOf(dir, mib);
  return WriteWholeFile(files.package, package.data(), package.size()) == 0 &&
         WriteWholeFile(files.cipher, cipher.data(), cipher.size()) == 0;
}

int Prepare(const fs::path& dir, const std::vector<size_t>& sizes) {
  try {
    // The chain as a first opening would have fetched and kept it, so the
    // opening never reaches for the network.
    const writer::TestPki& pki = test::SharedPki();
    test::StoreSealedChain(WorkFolderOf(dir));
    for (size_t mib : sizes) {
      if (!PrepareSize(pki, dir, mib)) {
        std::fprintf(stderr, "cannot write the %zu MiB package into %s\n", mib, dir.c_str());
        return 1;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cannot build the packages: %s\n", e.what());
    return 1;
  }
  return 0;
}

// ---- measurement -----------------------------------------------------------

// Wall-clock and CPU time (user and system) of one piece of work, in ms. The
// CPU time is what a busy machine does not inflate: the work never waits for
// a disk once the page cache is warm.
struct Cost {
  double wall = 0;
  double cpu = 0;
};

double MillisecondsOf(const timeval& time) {
  return 1e3 * static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e3;
}

double ProcessCpuMs() {
  timespec time{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
  return 1e3 * static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e6;
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs `work` (which answers whether it succeeded) in this process.
template <typename Work>
std::optional<Cost> Measure(Work work) {
  const double cpu = ProcessCpuMs();
  const Clock::time_point start = Clock::now();
  if (!work()) return std::nullopt;
  return Cost{MillisecondsSince(start), ProcessCpuMs() - cpu};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

Cost Median(const std::vector<Cost>& costs) {
  std::vector<double> wall;
  std::vector<double> cpu;
  for (const Cost& cost : costs) {
    wall.push_back(cost.wall);
    cpu.push_back(cost.cpu);
  }
  return {Median(wall), Median(cpu)};
}

// ---- the opening -----------------------------------------------------------

// The holder at the keyboard: types the password, presses OK on any box.
class BenchWindow : public OwnerWindow {
 public:
  Answer ShowMessage(const Message&) override { return Answer::kOk; }
  Answer AskPassword(const std::string&, const std::string&, std::string& password) override {
    password = kPassword;
    return Answer::kOk;
  }
  int32_t OpenWithDesktop(const fs::path&) override { return 2; }
  void CloseMainWindow() override {}
};

void SetUpState(PolicyState& state, BenchWindow& window, const fs::path& work) {
  state.ownerWindow = &window;
  state.workFolder = work.string() + "/";
  state.readerVersion = QALV_VERSION;
  state.trust = test::SharedTrust();
}

bool Open(PolicyState& state, const fs::path& package) {
  const int32_t status = OpenPolicy(state, package);
  if (status == 0) return true;
  std::fprintf(stderr, "opening %s ended with %d \"%s\"\n", package.c_str(), status,
               state.statusText.c_str());
  return false;
}

// One opening in a fresh process, as when the reader is started for a
// package; its wall-clock and CPU time in ms on standard output.
int OpenOnly(const fs::path& package, const fs::path& work) {
  BenchWindow window;
  PolicyState state;
  SetUpState(state, window, work);
  const std::optional<Cost> cost = Measure([&] { return Open(state, package); });
  if (!cost) return 1;
  std::printf("%.6f %.6f\n", cost->wall, cost->cpu);
  return 0;
}

// ---- the floor -------------------------------------------------------------

struct FloorDigests {
  Digest cipher{};
  Digest document{};
};

// What no opening can skip: the cipher digest, the decryption with the
// password's key, and the document digest of the s1 verification. Into a
// buffer allocated (and touched) beforehand: the floor is the cryptography
// alone.
bool CryptoFloor(const SecureBuffer& cipher, size_t documentLength, SecureBuffer& plain,
                 FloorDigests& digests) {
  uint8_t key[32];
  unsigned char iv[16] = {};
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  const bool done =
      mbedtls_sha256_ret(cipher.data(), cipher.size(), digests.cipher.data(), 0) == 0 &&
      mbedtls_sha256_ret(reinterpret_cast<const unsigned char*>(kPassword),
                         std::strlen(kPassword), key, 0) == 0 &&
      mbedtls_aes_setkey_dec(&aes, key, 256) == 0 &&
      mbedtls_aes_crypt_cbc(&aes, MBEDTLS_AES_DECRYPT, cipher.size(), iv, cipher.data(),
                            plain.data()) == 0 &&
      mbedtls_sha256_ret(plain.data(), documentLength, digests.document.data(), 0) == 0;
  mbedtls_aes_free(&aes);
  return done;
}

// ---- the OpenSSL command line ----------------------------------------------

// One command, timed from spawn to exit: process start included, as a user
// typing it pays. Standard output goes to `out`.
std::optional<Cost> RunCommand(const std::vector<std::string>& args, const fs::path& out) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  return Cost{MillisecondsSince(start),
              MillisecondsOf(usage.ru_utime) + MillisecondsOf(usage.ru_stime)};
}

// The same work on the same bytes with OpenSSL's command line: digest of the
// cipher, decryption into a file, digest of that file (the whole plaintext,
// so 5 to 20 bytes of marker and padding more than the document).
std::optional<Cost> OpenSslCli(const SizeFiles& files, const std::string& keyHex) {
  const std::vector<std::vector<std::string>> commands = {
      {"openssl", "dgst", "-sha256", "-r", files.cipher.string()},
      {"openssl", "enc", "-d", "-aes-256-cbc", "-K", keyHex, "-iv", std::string(32, '0'), "-nopad",
       "-in", files.cipher.string(), "-out", files.plain.string()},
      {"openssl", "dgst", "-sha256", "-r", files.plain.string()}};
  const fs::path outs[] = {files.digest, "/dev/null", "/dev/null"};
  Cost total;
  for (size_t i = 0; i < commands.size(); ++i) {
    const std::optional<Cost> cost = RunCommand(commands[i], outs[i]);
    if (!cost) {
      std::fprintf(stderr, "openssl %s failed\n", commands[i][1].c_str());
      return std::nullopt;
    }
    total.wall += cost->wall;
    total.cpu += cost->cpu;
  }
  return total;
}

// ---- child processes -------------------------------------------------------

struct ChildRun {
  int exitCode = 0;
  double peakMiB = 0;
  std::string output;
};

// Runs this program again with `args`; its exit code, peak resident memory
// and standard output. The kernel counts the pages a forked child shares with
// its parent towards the child's peak, so this is called only while the
// parent holds no package.
std::optional<ChildRun> RunSelf(const std::vector<std::string>& args) {
  std::vector<char*> argv = {const_cast<char*>("open_policy_bench")};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return std::nullopt;
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    return std::nullopt;
  }
  if (pid == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  ChildRun run;
  char chunk[512];
  for (ssize_t got; (got = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) {
    run.output.append(chunk, static_cast<size_t>(got));
  }
  close(pipeEnds[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return std::nullopt;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return run;
}

// ---- the timed runs --------------------------------------------------------

struct SizeRow {
  size_t mib = 0;
  Cost first;     // the opening in a fresh process
  Cost reopened;  // the opening again in the same process, as the window reopens
  Cost floor;
  Cost cli;
  double firstSpread = 0;  // (slowest - fastest) / median, wall-clock, of the first openings
  double packageMiB = 0;
  double peakMiB = 0;  // the largest of the first openings
};

// Each opening in its own process, after one untimed warm-up: the time a
// holder waits when the reader is started for a package, and its memory.
bool FirstOpenings(const fs::path& dir, int runs, SizeRow& row) {
  const SizeFiles files = FilesOf(dir, row.mib);
  std::vector<Cost> costs;
  for (int run = 0; run <= runs; ++run) {
    const std::optional<ChildRun> child =
        RunSelf({"--open-only", files.package.string(), WorkFolderOf(dir).string()});
    Cost cost;
    if (!child || child->exitCode != 0 ||
        std::sscanf(child->output.c_str(), "%lf %lf", &cost.wall, &cost.cpu) != 2) {
      std::fprintf(stderr, "the opening of %s in a child process failed\n",
                   files.package.c_str());
      return false;
    }
    if (run == 0) continue;
    costs.push_back(cost);
    row.peakMiB = std::max(row.peakMiB, child->peakMiB);
  }
  row.first = Median(costs);
  const auto [fastest, slowest] = std::minmax_element(
      costs.begin(), costs.end(), [](const Cost& a, const Cost& b) { return a.wall < b.wall; });
  row.firstSpread = (slowest->wall - fastest->wall) / row.first.wall;
  std::error_code error;
  row.packageMiB = static_cast<double>(fs::file_size(files.package, error)) / kMiB;
  return !error;
}

// The three agree on the bytes before any of them is timed: the opening's
// document is the floor's, and the command line saw the same cipher and
// decrypted it to the same plaintext.
bool SameWork(const PolicyState& state, const SecureBuffer& plain, size_t documentLength,
              const FloorDigests& floor, const SizeFiles& files) {
  Digest opened{};
  if (state.decryptState != 0 || static_cast<size_t>(state.pdfLength) != documentLength ||
      mbedtls_sha256_ret(state.pdfData.data(), documentLength, opened.data(), 0) != 0 ||
      opened != floor.document) {
    std::fprintf(stderr, "the opening's document differs from the floor's\n");
    return false;
  }
  SecureBuffer cliDigest;
  SecureBuffer cliPlain;
  const std::string floorHex = HexOf(floor.cipher.data(), floor.cipher.size());
  if (ReadWholeFile(files.digest, cliDigest) != 0 || cliDigest.size() < floorHex.size() ||
      !std::equal(floorHex.begin(), floorHex.end(), cliDigest.data(),
                  [](char a, uint8_t b) { return a == std::toupper(b); })) {
    std::fprintf(stderr, "openssl dgst disagrees on the cipher's digest\n");
    return false;
  }
  if (ReadWholeFile(files.plain, cliPlain) != 0 || cliPlain.size() != plain.size() ||
      !std::equal(plain.data(), plain.data() + plain.size(), cliPlain.data())) {
    std::fprintf(stderr, "openssl enc decrypted something else\n");
    return false;
  }
  return true;
}

// In this process: the opening again and again with one policy state, the
// floor and the command line, interleaved so that a slow spell of the machine
// hits all three alike.
bool RepeatedRuns(const fs::path& dir, int runs, SizeRow& row) {
  const SizeFiles files = FilesOf(dir, row.mib);
  const size_t documentLength = row.mib * kMiB;
  SecureBuffer cipher;
  SecureBuffer plain;
  if (ReadWholeFile(files.cipher, cipher) != 0 || !plain.Allocate(cipher.size())) {
    std::fprintf(stderr, "cannot read %s\n", files.cipher.c_str());
    return false;
  }
  Digest key{};
  if (mbedtls_sha256_ret(reinterpret_cast<const unsigned char*>(kPassword), std::strlen(kPassword),
                         key.data(), 0) != 0) {
    return false;
  }
  const std::string keyHex = HexOf(key.data(), key.size());

  BenchWindow window;
  PolicyState state;
  SetUpState(state, window, WorkFolderOf(dir));
  FloorDigests floor;
  const auto open = [&] { return Open(state, files.package); };
  const auto crypto = [&] { return CryptoFloor(cipher, documentLength, plain, floor); };
  // One untimed round warms the caches and checks that the three do the
  // same work.
  if (!open() || !crypto() || !OpenSslCli(files, keyHex) ||
      !SameWork(state, plain, documentLength, floor, files)) {
    return false;
  }

  std::vector<Cost> opens;
  std::vector<Cost> floors;
  std::vector<Cost> clis;
  for (int run = 0; run < runs; ++run) {
    const std::optional<Cost> openCost = Measure(open);
    const std::optional<Cost> floorCost = Measure(crypto);
    const std::optional<Cost> cliCost = OpenSslCli(files, keyHex);
    if (!openCost || !floorCost || !cliCost) return false;
    opens.push_back(*openCost);
    floors.push_back(*floorCost);
    clis.push_back(*cliCost);
  }
  row.reopened = Median(opens);
  row.floor = Median(floors);
  row.cli = Median(clis);
  return true;
}

// ---- the report ------------------------------------------------------------

std::string SizeList(const std::vector<size_t>& sizes) {
  std::string text;
  for (size_t mib : sizes) {
    if (!text.empty()) text += ',';
    text += std::to_string(mib);
  }
  return text;
}

std::optional<std::vector<size_t>> ParseSizes(const char* text) {
  std::vector<size_t> sizes;
  const std::string list = text;
  size_t at = 0;
  while (at <= list.size()) {
    const size_t comma = std::min(list.find(',', at), list.size());
    const std::string item = list.substr(at, comma - at);
    char* end = nullptr;
    const unsigned long mib = std::strtoul(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || mib == 0 || mib > 1024) return std::nullopt;
    sizes.push_back(mib);
    at = comma + 1;
  }
  return sizes;
}

// The largest overhead above the floor and the size it was met at.
struct Worst {
  double overhead = -1;
  size_t mib = 0;
  void Take(double value, size_t at) {
    if (value > overhead) *this = {value, at};
  }
};

struct Worsts {
  Worst first;
  Worst reopened;
};

// One table, by wall-clock or by CPU time.
Worsts PrintTable(const std::vector<SizeRow>& rows, double Cost::*measure) {
  const bool wall = measure == &Cost::wall;
  std::printf("%8s %21s %9s %21s %12s %9s %12s%s\n", "", "OpenPolicy ms", "floor",
              "overhead above floor", "OpenPolicy/", "OpenSSL", "OpenPolicy/",
              wall ? "   first" : "");
  std::printf("%8s %10s %10s %9s %10s %10s %12s %9s %12s%s\n", "size", "first", "reopened",
              "ms", "first", "reopened", "floor", "CLI ms", "CLI", wall ? "  spread" : "");
  Worsts worsts;
  for (const SizeRow& row : rows) {
    const double first = row.first.*measure;
    const double reopened = row.reopened.*measure;
    const double floor = row.floor.*measure;
    const double cli = row.cli.*measure;
    std::printf("%4zu MiB %10.1f %10.1f %9.1f %9.1f%% %9.1f%% %12.2f %9.1f %12.2f", row.mib, first,
                reopened, floor, 100 * (first / floor - 1), 100 * (reopened / floor - 1),
                first / floor, cli, first / cli);
    if (wall) std::printf(" %6.1f%%", 100 * row.firstSpread);
    std::printf("\n");
    worsts.first.Take(first / floor - 1, row.mib);
    worsts.reopened.Take(reopened / floor - 1, row.mib);
  }
  return worsts;
}

void PrintGoal(const char* what, const Worsts& worsts) {
  const auto verdict = [](const Worst& worst) {
    return worst.overhead < kOverheadGoal ? "met" : "MISSED";
  };
  std::printf("  %-10s first opening %s (largest %.1f%% at %zu MiB), reopened %s (largest %.1f%% "
              "at %zu MiB)\n",
              what, verdict(worsts.first), 100 * worsts.first.overhead, worsts.first.mib,
              verdict(worsts.reopened), 100 * worsts.reopened.overhead, worsts.reopened.mib);
}

void PrintTimes(const std::vector<SizeRow>& rows, int runs) {
  std::printf("Time to verdict of OpenPolicy (CA chain stored, password given, no network),\n"
              "median of %d runs after one warm-up, page cache warm\n\n",
              runs);
  std::printf("Wall-clock time\n");
  const Worsts wall = PrintTable(rows, &Cost::wall);
  std::printf("\nCPU time (user + system; for the OpenSSL CLI, of its three processes)\n");
  const Worsts cpu = PrintTable(rows, &Cost::cpu);
  std::printf(
      "\nfirst: one opening in a fresh process, as when the reader is started for a package\n"
      "reopened: the opening again in one process with one policy state, as the window\n"
      "  reopens; interleaved with the floor and the CLI runs\n"
      "floor: mbed TLS in this process on the same cipher bytes: SHA-256 of the cipher,\n"
      "  AES-256-CBC decryption with the password's key, SHA-256 of the document\n"
      "OpenSSL CLI: openssl dgst -sha256, openssl enc -d -aes-256-cbc -nopad, openssl dgst\n"
      "  -sha256 of the plaintext: three processes, their start-up included\n"
      "first spread: (slowest - fastest) / median of the first openings\n");
  std::printf("goal: overhead above the floor under %.0f%%\n", 100 * kOverheadGoal);
  PrintGoal("wall-clock", wall);
  PrintGoal("CPU", cpu);
  std::printf("\n");
}

void PrintMemory(const std::vector<SizeRow>& rows) {
  std::printf("Peak resident memory of the first openings (ru_maxrss of the child, largest)\n\n");
  std::printf("%8s %12s %10s %28s %10s\n", "size", "package MiB", "peak MiB",
              "goal MiB (2.2 x pkg + 30)", "peak/goal");
  bool met = true;
  for (const SizeRow& row : rows) {
    const double goal = kMemoryFactorGoal * row.packageMiB + kMemoryAllowanceMiB;
    std::printf("%4zu MiB %12.1f %10.1f %28.1f %10.2f\n", row.mib, row.packageMiB, row.peakMiB,
                goal, row.peakMiB / goal);
    met = met && row.peakMiB < goal;
  }
  std::printf("goal: peak under 2.2 times the package plus 30 MiB: %s\n", met ? "met" : "MISSED");
}

int Usage() {
  std::fprintf(stderr, "usage: open_policy_bench [--runs N] [--sizes MIB,MIB,...]\n");
  return 2;
}

int Bench(int runs, const std::vector<size_t>& sizes) {
  const test::TempDir temp;
  const fs::path dir = temp.path();

  std::printf("Building packages of %s MiB in %s ...\n\n", SizeList(sizes).c_str(), dir.c_str());
  const std::optional<ChildRun> prepared = RunSelf({"--prepare", dir.string(), SizeList(sizes)});
  if (!prepared || prepared->exitCode != 0) return 1;

  // The child processes first, while this process is still small.
  std::vector<SizeRow> rows;
  for (size_t mib : sizes) {
    SizeRow row;
    row.mib = mib;
    if (!FirstOpenings(dir, runs, row)) return 1;
    rows.push_back(row);
  }
  for (SizeRow& row : rows) {
    if (!RepeatedRuns(dir, runs, row)) return 1;
  }
  PrintTimes(rows, runs);
  PrintMemory(rows);
  return 0;
}

int Main(int argc, char** argv) {
  trace::SetLogSink({});
  trace::SetDebugSink({});
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "--prepare") {
    const std::optional<std::vector<size_t>> sizes = ParseSizes(args[2].c_str());
    return sizes ? Prepare(args[1], *sizes) : Usage();
  }
  if (args.size() == 3 && args[0] == "--open-only") return OpenOnly(args[1], args[2]);

  int runs = 5;
  std::vector<size_t> sizes = {1, 10, 100};
  for (size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return Usage();
    if (args[i] == "--runs") {
      runs = std::atoi(args[i + 1].c_str());
      if (runs < 1 || runs > 1000) return Usage();
    } else if (args[i] == "--sizes") {
      const std::optional<std::vector<size_t>> parsed = ParseSizes(args[i + 1].c_str());
      if (!parsed) return Usage();
      sizes = *parsed;
    } else {
      return Usage();
    }
  }
  return Bench(runs, sizes);
}

}  // namespace
}  // namespace qalv::bench

int main(int argc, char** argv) { return qalv::bench::Main(argc, argv); }
