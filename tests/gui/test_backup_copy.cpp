// Saving a copy of the open policy file: the proposed name, the refusals, and
// a copy that either replaces the target whole or leaves it as it was.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "tests/gui/support/reader_fixture.h"
#include "ui/backup_copy.h"

namespace qalv {
namespace {

namespace fs = std::filesystem;

TEST(BackupProposal, IsBackupAndTheFileName) {
  const struct {
    const char* path;
    const char* proposal;
  } rows[] = {{"/home/u/policies/a.tpk", "backup_a.tpk"},
              {"C:\\Users\\u\\a.tpk", "backup_a.tpk"},
              {"C:\\mixed/dir\\b.tpk", "backup_b.tpk"},
              {"/mixed\\dir/c.tpk", "backup_c.tpk"},
              {"a.tpk", "backup_a.tpk"},
              {"/folder/", "backup_"}};
  for (const auto& row : rows) EXPECT_EQ(BackupProposal(row.path), row.proposal) << row.path;
}

class BackupCopyTest : public test::ReaderFixture {
 protected:
  void SetUp() override {
    test::ReaderFixture::SetUp();
    fs::create_directories(dir / "backups");
    // Larger than one copy chunk, with bytes that differ along the way.
    for (size_t i = 0; i < (3u << 20) + 17; ++i)
      source_.push_back(static_cast<uint8_t>(i * 31 + i / 4096));
    policyPath = Write("p.tpk", source_);
  }

  // Runs the copy with a chooser that records the proposal and answers `target`.
  void Copy(const QString& target) {
    proposals_.clear();
    CopyTpk(reader, [&](const QString& proposed) {
      proposals_.push_back(proposed);
      return target;
    });
  }

  QString Target(const std::string& name) const {
    return QString::fromStdString((dir / "backups" / name).string());
  }

  std::set<std::string> BackupFolder() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "backups"))
      names.insert(entry.path().filename().string());
    return names;
  }

  void ExpectOneMessage(const char* caption, const QString& text) {
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].caption, caption);
    EXPECT_EQ(window.messages[0].text, text.toStdString());
    EXPECT_EQ(window.messages[0].buttons, OwnerWindow::Buttons::kOk);
  }

  test::Bytes source_;
  std::vector<QString> proposals_;
};

TEST_F(BackupCopyTest, NothingToCopyIsReported) {
  const struct {
    const char* name;
    QString path;
    QString message;
  } rows[] = {{"no policy open", "", "請先開啟電子保單"},
              {"policy file vanished", Target("vanished.tpk"), "原始保單檔案不存在，無法備份"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    window.messages.clear();
    policyPath = row.path;
    Copy(Target("never.tpk"));
    ExpectOneMessage("資訊", row.message);
    EXPECT_TRUE(proposals_.empty()) << "no dialog";
  }
  EXPECT_TRUE(BackupFolder().empty());
}

TEST_F(BackupCopyTest, CancelledDialogDoesNothing) {
  Copy("");
  EXPECT_EQ(proposals_, std::vector<QString>{"backup_p.tpk"});
  EXPECT_TRUE(window.messages.empty());
  EXPECT_TRUE(BackupFolder().empty());
}

TEST_F(BackupCopyTest, CopiesByteForByte) {
  const QString target = Target("backup_p.tpk");
  Copy(target);
  EXPECT_EQ(proposals_, std::vector<QString>{"backup_p.tpk"});
  ExpectOneMessage("資訊", "已備份至" + target);
  EXPECT_TRUE(test::ReadFile(target.toStdString()) == source_);
  EXPECT_EQ(BackupFolder(), std::set<std::string>{"backup_p.tpk"});
  EXPECT_TRUE(page.writes.empty());
  EXPECT_EQ(recent.Slot(0), "");
  EXPECT_EQ(policyPath, QString::fromStdString((dir / "p.tpk").string()));
}

TEST_F(BackupCopyTest, ReplacesAnExistingFile) {
  const QString target = Target("old.tpk");
  test::WriteFile(target.toStdString(), std::string(5u << 20, 'x'));  // longer than the copy
  Copy(target);
  ExpectOneMessage("資訊", "已備份至" + target);
  EXPECT_TRUE(test::ReadFile(target.toStdString()) == source_);
  EXPECT_EQ(BackupFolder(), std::set<std::string>{"old.tpk"});
}

TEST_F(BackupCopyTest, CopyOntoItselfKeepsTheFile) {
  Copy(policyPath);
  ExpectOneMessage("資訊", "已備份至" + policyPath);
  EXPECT_TRUE(test::ReadFile(policyPath.toStdString()) == source_);
}

TEST_F(BackupCopyTest, FolderThatDoesNotExistIsAFailure) {
  const QString target = QString::fromStdString((dir / "missing" / "b.tpk").string());
  Copy(target);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].caption, "錯誤");
  EXPECT_TRUE(QString::fromStdString(window.messages[0].text).startsWith("備份失敗："))
      << window.messages[0].text;
  EXPECT_GT(window.messages[0].text.size(), std::string("備份失敗：").size())
      << "with the system's reason";
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

// Writes that fail part way (the file size limit stands in for a full disk,
// and holds for root as well) and a folder the user may not write to.
TEST_F(BackupCopyTest, FailedCopyLeavesTheTargetAsItWas) {
  const std::string old = "the backup made last week";
  const QString target = Target("old.tpk");
  test::WriteFile(target.toStdString(), old);

  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previousAction {};
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previousAction), 0);
  rlimit previousLimit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previousLimit), 0);
  // Inside a large write, and inside the short last piece of the file.
  for (rlim_t limit : {rlim_t{(1u << 20) + 12345}, rlim_t{source_.size() - 5}}) {
    SCOPED_TRACE(limit);
    window.messages.clear();
    const rlimit cap{limit, previousLimit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &cap), 0);
    Copy(target);
    setrlimit(RLIMIT_FSIZE, &previousLimit);

    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].caption, "錯誤");
    EXPECT_EQ(window.messages[0].text, "備份失敗：" + std::string(std::strerror(EFBIG)));
    const test::Bytes kept = test::ReadFile(target.toStdString());
    EXPECT_TRUE(std::string(kept.begin(), kept.end()) == old)
        << "the target now holds " << kept.size() << " bytes";
    EXPECT_EQ(BackupFolder(), std::set<std::string>{"old.tpk"}) << "no partial file is left";
  }
  sigaction(SIGXFSZ, &previousAction, nullptr);

  if (geteuid() == 0) return;  // root writes into any folder
  window.messages.clear();
  fs::permissions(dir / "backups", fs::perms::owner_read | fs::perms::owner_exec);
  Copy(target);
  fs::permissions(dir / "backups", fs::perms::owner_all);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_TRUE(QString::fromStdString(window.messages[0].text).startsWith("備份失敗："))
      << window.messages[0].text;
  const test::Bytes stillKept = test::ReadFile(target.toStdString());
  EXPECT_TRUE(std::string(stillKept.begin(), stillKept.end()) == old)
      << "the target now holds " << stillKept.size() << " bytes";
  EXPECT_EQ(BackupFolder(), std::set<std::string>{"old.tpk"});
}

}  // namespace
}  // namespace qalv
