// Saving a copy of the open policy file: the proposed name, the refusals, and
// a copy that either replaces the target whole or leaves it as it was, or
// names the system's reason for the step that failed.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <optional>
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
              // A backslash is a character of a file name, not a separator.
              {"/x/a\\b.tpk", "backup_a\\b.tpk"},
              {"/mixed\\dir/c.tpk", "backup_c.tpk"},
              {"C:\\Users\\u\\a.tpk", "backup_C:\\Users\\u\\a.tpk"},
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

  // "備份失敗：" with the reason and its errno, as the user reads it.
  static QString Failure(const char* reason, int number) {
    return QStringLiteral("備份失敗：%1(%2)").arg(QString::fromUtf8(reason)).arg(number);
  }

  test::Bytes source_;
  std::vector<QString> proposals_;
};

// Root passes every permission check by its capabilities. Taking the two that
// override file permissions out of this thread's effective set (they stay
// permitted, so they can be put back) makes a folder refuse root as it
// refuses anyone else. For another user the effective set holds neither.
class WithoutPermissionOverride {
 public:
  WithoutPermissionOverride() {
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutPermissionOverride() {
    if (dropped_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
  WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

  bool dropped() const { return dropped_; }

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  bool dropped_ = false;
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

// Every failing step names the reason of the system call that failed, not an
// error left over from before, and leaves the existing backup as it was.
TEST_F(BackupCopyTest, FailureNamesTheReasonOfTheFailingStep) {
  const std::string old = "the backup made last week";
  const QString kept = Target("old.tpk");
  test::WriteFile(kept.toStdString(), old);
  fs::create_directories(dir / "folder");
  test::WriteFile(dir / "plain", std::string("a file, not a folder"));
  const auto inTest = [&](const char* name) { return QString::fromStdString((dir / name).string()); };
  const QString policy = policyPath;
  const struct {
    const char* name;
    QString source;
    QString target;
    bool readOnlyFolder;
    const char* reason;
    int number;
  } rows[] = {
      {"no permission to write in the folder", policy, kept, true, "沒有權限", EACCES},
      {"target folder missing", policy, inTest("missing/b.tpk"), false, "找不到檔案或資料夾", ENOENT},
      {"target folder is a file", policy, inTest("plain/b.tpk"), false, "找不到檔案或資料夾", ENOTDIR},
      {"target is a folder", policy, inTest("folder"), false, "這是資料夾，不是檔案", EISDIR},
      {"source is a folder", inTest("folder"), kept, false, "這是資料夾，不是檔案", EISDIR},
      // Every read of /proc/self/mem at address 0 fails as a bad disk would.
      {"source cannot be read", "/proc/self/mem", kept, false, "磁碟讀寫錯誤", EIO},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    window.messages.clear();
    policyPath = row.source;
    std::optional<WithoutPermissionOverride> user;
    if (row.readOnlyFolder) {
      fs::permissions(dir / "backups", fs::perms::owner_read | fs::perms::owner_exec);
      user.emplace();
      ASSERT_TRUE(user->dropped());
    }
    errno = ENOSPC;  // an older failure, not this copy's
    Copy(row.target);
    user.reset();
    fs::permissions(dir / "backups", fs::perms::owner_all);
    ExpectOneMessage("錯誤", Failure(row.reason, row.number));
    const test::Bytes stillKept = test::ReadFile(kept.toStdString());
    EXPECT_TRUE(std::string(stillKept.begin(), stillKept.end()) == old)
        << "the target now holds " << stillKept.size() << " bytes";
    EXPECT_EQ(BackupFolder(), std::set<std::string>{"old.tpk"}) << "no partial file is left";
  }
  EXPECT_FALSE(fs::exists(dir / "missing"));
  EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

// Writes that fail part way: the file size limit stands in for a full disk,
// and holds for root as well.
TEST_F(BackupCopyTest, WriteFailingPartWayLeavesTheTargetAsItWas) {
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

    ExpectOneMessage("錯誤", Failure("檔案太大", EFBIG));
    const test::Bytes kept = test::ReadFile(target.toStdString());
    EXPECT_TRUE(std::string(kept.begin(), kept.end()) == old)
        << "the target now holds " << kept.size() << " bytes";
    EXPECT_EQ(BackupFolder(), std::set<std::string>{"old.tpk"}) << "no partial file is left";
  }
  sigaction(SIGXFSZ, &previousAction, nullptr);
}

}  // namespace
}  // namespace qalv
