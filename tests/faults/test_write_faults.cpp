// Every file tpk writes, failed at each step of its writing with a full disk,
// a refused access and an I/O error (the fault shim preloaded into tpk): tpk
// says which file and why, exits as a failure, and no file that was there
// before is damaged or lost, nor is a temporary file left beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/system_error.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

namespace fs = std::filesystem;
using test::ShellQuote;

constexpr char kPassword[] = "fault-password";
const std::vector<std::string> kSeals = {"TTS", "TMS", "ITS", "IMS", "OTS", "OMS", "SNS"};

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// One PKI, its services and one package, made once for the whole table.
class WriteFaultsTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    const std::string keys = (test::TestDataDir() / "keys-pki").string();
    ASSERT_EQ(test::RunTpk("ca --out " + Quoted("pki") + " --keys " + ShellQuote(keys) + " --services " +
                           Quoted("services"))
                  .exitCode,
              0);
    services_ = new test::BackgroundProcess(
        {test::ServicesPath(), "--data", Path("services"), "--listen", "127.0.0.1:0"}, Path("services.log"));
    test::WriteFile(Path("doc.pdf"), std::string("%PDF-1.4 a document written under faults"));
    const test::TpkAnswer packed = test::RunTpk(
        "pack --out " + Quoted("policy.tpk") + " --document " + Quoted("doc.pdf") + " --password " + kPassword +
        " --pki " + Quoted("pki") + " --cert-chain-url " + ShellQuote(ChainUrl()));
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    // One that asks for a newer reader, from the services' download address.
    const test::TpkAnswer update = test::RunTpk(
        "pack --out " + Quoted("update.tpk") + " --document " + Quoted("doc.pdf") + " --password " + kPassword +
        " --pki " + Quoted("pki") + " --cert-chain-url " + ShellQuote(ChainUrl()) + " --win-version 9.9.9.9" +
        " --win-update " + ShellQuote(UpdateUrl()));
    ASSERT_EQ(update.exitCode, 0) << update.err;
    // A work folder whose chain is stored: what tpk unseal reads.
    const test::TpkAnswer opened = Verify("chained", "");
    ASSERT_EQ(opened.exitCode, 0) << opened.out << opened.err;
    for (const std::string& name : Names(*dir_ / "chained")) {
      if (name.size() == 40) chainName_ = name;
    }
    ASSERT_FALSE(chainName_.empty()) << "the opening stored its chain";
  }
  static void TearDownTestSuite() {
    delete services_;
    delete dir_;
  }

  static std::string Path(const std::string& name) { return (*dir_ / name).string(); }
  static std::string ChainUrl() { return services_->firstLine() + "/acquvSrv/caChain"; }
  static std::string UpdateUrl() { return services_->firstLine() + "/acquvSrv/update"; }
  static std::string Quoted(const std::string& name) { return ShellQuote(Path(name)); }
  static test::TpkAnswer Verify(const std::string& work, const std::string& options,
                                const std::string& environment = "") {
    return test::RunTpk("verify " + Quoted("policy.tpk") + " --password " + kPassword + " --work-dir " +
                            Quoted(work) + " --trust-dir " + Quoted("pki/trust") + " " + options,
                        environment);
  }

  static test::TempDir* dir_;
  static test::BackgroundProcess* services_;
  static std::string chainName_;
};

test::TempDir* WriteFaultsTest::dir_ = nullptr;
test::BackgroundProcess* WriteFaultsTest::services_ = nullptr;
std::string WriteFaultsTest::chainName_;

struct Step {
  const char* name;  // as the shim's QALV_FAULT names it
  bool replacing;    // only files replaced through a temporary have these steps
};
constexpr Step kSteps[] = {{"open", false}, {"write", false}, {"fsync", true}, {"rename", true}};
constexpr int kErrors[] = {ENOSPC, EACCES, EIO};

TEST_F(WriteFaultsTest, EveryFileTpkWritesFailsSafelyAtEveryStep) {
  struct Row {
    const char* name;
    bool replaced;           // written through a temporary (else in place)
    bool existsBefore;       // a file of the user's is at the name
    std::string (*command)(const fs::path& folder, const fs::path& target);
    std::string target;      // in the row's folder
    int exitCode;
    // The line on standard error (user files), or the message box recorded
    // in the JSON (work-folder files).
    const char* errorLine;
    const char* caption;
    // The box's text when it is not the path followed by the reason.
    std::string (*told)() = nullptr;
  };
  const Row rows[] = {
      {"tpk pack --out", true, true,
       [](const fs::path&, const fs::path& target) {
         return "pack --out " + ShellQuote(target) + " --document " + Quoted("doc.pdf") + " --password x --pki " +
                Quoted("pki");
       },
       "out.tpk", 1, "tpk pack: cannot write ", nullptr},
      {"tpk unseal --out", true, true,
       [](const fs::path&, const fs::path& target) {
         return "unseal " + ShellQuote(Path("chained/" + chainName_)) + " --out " + ShellQuote(target);
       },
       "chain.p7b", 2, "tpk unseal: cannot write ", nullptr},
      {"tpk verify --extract-pdf", true, true,
       [](const fs::path& folder, const fs::path& target) {
         return "verify " + Quoted("policy.tpk") + " --password " + kPassword + " --work-dir " +
                ShellQuote(folder.string() + "-work") + " --trust-dir " + Quoted("pki/trust") + " --extract-pdf " +
                ShellQuote(target);
       },
       "policy.pdf", 2, "tpk verify: cannot write ", nullptr},
      {"seal picture (work folder)", false, false,
       [](const fs::path& folder, const fs::path&) {
         return "verify " + Quoted("policy.tpk") + " --password " + kPassword + " --work-dir " +
                ShellQuote(folder) + " --trust-dir " + Quoted("pki/trust");
       },
       "TTS", 0, nullptr, "錯誤"},
      {"CA chain (work folder)", true, false,
       [](const fs::path& folder, const fs::path&) {
         return "verify " + Quoted("policy.tpk") + " --password " + kPassword + " --work-dir " +
                ShellQuote(folder) + " --trust-dir " + Quoted("pki/trust");
       },
       "", 1, nullptr, "憑證鏈更新錯誤"},
      {"reader update download (work folder)", false, false,
       [](const fs::path& folder, const fs::path&) {
         return "verify " + Quoted("update.tpk") + " --password " + kPassword + " --work-dir " +
                ShellQuote(folder) + " --trust-dir " + Quoted("pki/trust") + " --accept-update";
       },
       "update.exe", 0, nullptr, "錯誤", [] { return UpdateUrl() + "下載失敗"; }},
  };
  int run = 0;
  for (const Row& row : rows) {
    for (const Step& step : kSteps) {
      if (step.replacing && !row.replaced) continue;
      for (const int error : kErrors) {
        SCOPED_TRACE(std::string(row.name) + ", " + step.name + ", " + SystemErrorText(error));
        const fs::path folder = *dir_ / ("run" + std::to_string(++run));
        fs::create_directories(folder);
        const fs::path target = folder / (row.target.empty() ? chainName_ : row.target);
        const test::Bytes before{'o', 'l', 'd'};
        if (row.existsBefore) test::WriteFile(target, before);
        const std::set<std::string> namesBefore = Names(folder);
        const fs::path report = folder.string() + ".fired";

        const test::TpkAnswer answer = test::RunTpk(
            row.command(folder, target),
            "LD_PRELOAD=" + ShellQuote(QALV_FAULT_SHIM_PATH) + " QALV_FAULT=" +
                ShellQuote(std::string(step.name) + ":" + std::to_string(error) + ":" + target.string()) +
                " QALV_FAULT_REPORT=" + ShellQuote(report));

        ASSERT_TRUE(fs::exists(report)) << "the fault was never met\n" << answer.err;
        EXPECT_EQ(answer.exitCode, row.exitCode) << answer.err;
        const std::string said =
            row.told != nullptr ? row.told() : target.string() + "寫入失敗," + SystemErrorText(error);
        if (row.errorLine != nullptr) {
          EXPECT_NE(answer.err.find(row.errorLine + target.string() + ": " + SystemErrorText(error)),
                    std::string::npos)
              << answer.err;
          EXPECT_EQ(test::ReadFile(target), before) << "the file that was there is whole";
          EXPECT_EQ(Names(folder), namesBefore) << "nothing left beside it";
          continue;
        }
        bool told = false;
        for (const Json::Value& message : answer.json["messages"]) {
          told |= message["caption"].asString() == row.caption && message["text"].asString() == said;
        }
        EXPECT_TRUE(told) << answer.out;
        EXPECT_FALSE(fs::exists(target)) << "no part of it is left for the next reader";
        // Only the files of this opening, no temporary among them.
        for (const std::string& name : Names(folder)) {
          EXPECT_TRUE(name == chainName_ || std::find(kSeals.begin(), kSeals.end(), name) != kSeals.end())
              << name;
        }
        if (row.target == "update.exe") {
          EXPECT_EQ(answer.json["statusCode"].asInt(), 0) << "the opening goes on";
        } else if (row.target == "TTS") {
          EXPECT_EQ(answer.json["statusCode"].asInt(), 0);
          EXPECT_EQ(answer.json["tpkTrustSealPath"].asString(), "") << "no picture is given out";
          EXPECT_EQ(answer.json["ipkTrustSealPath"].asString(), (folder / "ITS").string());
        } else {
          EXPECT_EQ(answer.json["s3CertResult"].asInt(), -1) << "a chain not kept is not used";
        }
      }
    }
  }
}

}  // namespace
}  // namespace qalv
