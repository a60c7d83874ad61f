// `tpk unseal` on files sealed as the CA chain store seals them: under their
// own names as key text.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include <json/reader.h>
#include <json/value.h>

#include "platform/sealed_storage.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

using Answer = test::TpkAnswer;

Answer RunUnseal(const std::string& args) { return test::RunTpk("unseal " + args); }

using test::Bytes;
using test::ShellQuote;

class UnsealCli : public testing::Test {
 protected:
  void SetUp() override {
    for (size_t i = 0; i < plain_.size(); ++i) plain_[i] = static_cast<uint8_t>(i ^ 0x5C);
    Bytes sealed(plain_.size() + seal::kOverhead);
    size_t length = sealed.size();
    ASSERT_EQ(SealBuffer(plain_.data(), plain_.size(), kName, sealed.data(), length), 0);
    test::WriteFile(dir_ / kName, sealed);
  }

  std::string Sealed() const { return ShellQuote((dir_ / kName).string()); }

  static constexpr char kName[] = "0A1B2C3D4E5F60718293A4B5C6D7E8F901234567";
  test::TempDir dir_;
  Bytes plain_ = Bytes(3000);
};

TEST_F(UnsealCli, UnsealsUnderTheFileNameByDefault) {
  const Answer answer = RunUnseal(Sealed() + " --out " + ShellQuote((dir_ / "out").string()));
  EXPECT_EQ(answer.exitCode, 0);
  EXPECT_EQ(answer.json["result"].asInt(), 0);
  EXPECT_EQ(answer.json["length"].asUInt64(), plain_.size());
  EXPECT_EQ(answer.json["sha256"].asString(),
            test::Hex(test::OpenSsl("dgst -sha256 -binary", plain_)));
  EXPECT_EQ(test::ReadFile(dir_ / "out"), plain_);

  const Answer keyed = RunUnseal(Sealed() + " --key " + kName);
  EXPECT_EQ(keyed.exitCode, 0);
  EXPECT_EQ(keyed.json["sha256"], answer.json["sha256"]);
}

TEST_F(UnsealCli, ReportsAWrongKeyAndWritesNothing) {
  const Answer answer =
      RunUnseal(Sealed() + " --key other --out " + ShellQuote((dir_ / "out").string()));
  EXPECT_EQ(answer.exitCode, 1);
  EXPECT_EQ(answer.json["result"].asInt(), seal::kDigestMismatch);
  EXPECT_EQ(answer.json["length"].asUInt64(), 0u);
  EXPECT_EQ(answer.json["sha256"].asString(), "");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));
}

TEST_F(UnsealCli, ReportsAShortFile) {
  test::WriteFile(dir_ / "short", Bytes(47, 0));
  const Answer answer = RunUnseal(ShellQuote((dir_ / "short").string()));
  EXPECT_EQ(answer.exitCode, 1);
  EXPECT_EQ(answer.json["result"].asInt(), seal::kSealedTooShort);
}

TEST_F(UnsealCli, AnUnreadableFileIsAUsageError) {
  const Answer answer = RunUnseal(ShellQuote((dir_ / "missing").string()));
  EXPECT_EQ(answer.exitCode, 2);
  EXPECT_TRUE(answer.json.isNull()) << "nothing on standard output";
  EXPECT_NE(answer.err.find("tpk unseal: cannot read"), std::string::npos) << answer.err;
}

}  // namespace
}  // namespace qalv
