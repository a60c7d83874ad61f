// The recent-file list, its settings shared by readers running at once, the
// page's menu built from it, and reopening an entry by its position in the menu.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <QSettings>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/gui/support/reader_fixture.h"
#include "ui/recent_menu.h"
#include "ui/render_policy.h"

namespace qalv {
namespace {

QString Numbered(int i) { return QStringLiteral("/policies/p%1.tpk").arg(i); }

std::vector<QString> Slots(const RecentFileList& list) {
  std::vector<QString> entries;
  for (std::size_t i = 0; i <= RecentFileList::kSlots; ++i) entries.push_back(list.Slot(i));
  return entries;
}

TEST(RecentFileList, KeepsTheTenNewestNewestFirst) {
  RecentFileList list;
  for (int i = 0; i < 11; ++i) list.Add(Numbered(i));
  std::vector<QString> expected;
  for (int i = 10; i >= 1; --i) expected.push_back(Numbered(i));
  expected.push_back("");  // past the end
  EXPECT_EQ(Slots(list), expected);
}

TEST(RecentFileList, AddingTheSameFileMovesItToTheTop) {
  const struct {
    const char* name;
    int present;    // entries added first, p0 .. p(present-1)
    QString added;
    int matched;    // the entry naming the same file, -1 for none
  } rows[] = {{"from the middle", 3, Numbered(1), 1},
              {"from the top", 3, Numbered(2), 2},
              {"from the last slot", 10, Numbered(0), 0},
              // File names tell letter case apart: these are other files.
              {"other letter case", 3, "/POLICIES/P1.TPK", -1},
              {"other letter case, list full", 10, "/Policies/p0.tpk", -1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RecentFileList list;
    for (int i = 0; i < row.present; ++i) list.Add(Numbered(i));
    list.Add(row.added);
    std::vector<QString> expected{row.added};
    for (int i = row.present - 1; i >= 0; --i) {
      if (i != row.matched) expected.push_back(Numbered(i));
    }
    expected.resize(RecentFileList::kSlots);
    expected.push_back("");  // past the end
    EXPECT_EQ(Slots(list), expected);
  }
}

TEST(RecentFileList, BlankPathIsNotAdded) {
  RecentFileList list;
  list.Add(Numbered(0));
  list.Add("");
  list.Add("   ");
  EXPECT_EQ(list.Slot(0), Numbered(0));
  EXPECT_EQ(list.Slot(1), "");
}

TEST(RecentFileList, RemovingMovesLaterEntriesUp) {
  RecentFileList list;
  for (int i = 0; i < 10; ++i) list.Add(Numbered(i));  // p9 .. p0
  list.Remove(2);                                      // p7
  list.Remove(8);                                      // p0, now the last filled slot
  list.Remove(RecentFileList::kSlots);                 // past the end: nothing
  std::vector<QString> expected;
  for (int i : {9, 8, 6, 5, 4, 3, 2, 1}) expected.push_back(Numbered(i));
  expected.resize(RecentFileList::kSlots + 1);
  EXPECT_EQ(Slots(list), expected);
}

// The stored list, written and read as another program would see it:
// section "Recent File List", "File1" for the top slot, no value for an
// empty slot.
void Store(const QString& ini, const QStringList& entries) {
  QSettings settings(ini, QSettings::IniFormat);
  settings.beginGroup("Recent File List");
  for (int i = 0; i < entries.size(); ++i)
    settings.setValue(QStringLiteral("File%1").arg(i + 1), entries[i]);
}

QStringList Stored(const QString& ini) {
  QSettings settings(ini, QSettings::IniFormat);
  settings.beginGroup("Recent File List");
  QStringList entries;
  for (int i = 1; i <= 10; ++i) {
    const QString name = QStringLiteral("File%1").arg(i);
    if (settings.contains(name)) entries += settings.value(name).toString();
  }
  return entries;
}

TEST(RecentFileList, SavesAndLoadsThroughSettings) {
  test::TempDir dir;
  const QString ini = QString::fromStdString((dir / "reader.ini").string());
  QStringList full;
  for (int i = 0; i < 10; ++i) full += Numbered(i);
  Store(ini, full);

  RecentFileList list;
  {
    QSettings settings(ini, QSettings::IniFormat);
    list.Load(settings);
    list.Remove(0);
    list.Remove(0);
    list.Add(Numbered(20));
    list.Save(settings);
  }
  QStringList expected{Numbered(20)};
  for (int i = 2; i < 10; ++i) expected += Numbered(i);
  EXPECT_EQ(Stored(ini), expected) << "File10 is gone, not blank";

  QSettings written(ini, QSettings::IniFormat);
  RecentFileList loaded;
  loaded.Load(written);
  EXPECT_EQ(Slots(loaded), Slots(list));
}

// Runs `run` in a child process, as a second reader would, and tells whether
// it ended well.
bool InAnotherProcess(const std::function<void()>& run) {
  const pid_t child = fork();
  if (child == 0) {
    run();
    _exit(0);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// What one reader does to its list: "+path" opens a file, "-path" drops a
// menu entry found gone.
void Play(RecentFileList& list, const QStringList& steps) {
  for (const QString& step : steps) {
    const QString path = step.mid(1);
    if (step.startsWith(u'+')) {
      list.Add(path);
      continue;
    }
    for (std::size_t i = 0; i < RecentFileList::kSlots; ++i) {
      if (list.Slot(i) == path) {
        list.Remove(i);
        break;
      }
    }
  }
}

// Two readers start from the same stored list; the first saves from another
// process, then the second saves, and neither loses what the other did.
TEST(RecentFileList, ReadersRunningAtOnceKeepEachOthersChanges) {
  QStringList ten;
  for (int i = 0; i < 10; ++i) ten += QStringLiteral("/s%1").arg(i);
  const struct {
    const char* name;
    QStringList stored;
    QStringList first;   // saved first
    QStringList second;  // saved last
    QStringList expected;
  } rows[] = {
      {"different files", {"/s1", "/s2"}, {"+/a1", "+/a2"}, {"+/b1"}, {"/b1", "/a2", "/a1", "/s1", "/s2"}},
      {"stored files reopened", {"/s1", "/s2", "/s3"}, {"+/s3"}, {"+/s2"}, {"/s2", "/s3", "/s1"}},
      {"one file opened by both", {"/s1"}, {"+/x"}, {"+/y", "+/x"}, {"/x", "/y", "/s1"}},
      {"removal saved first stays", {"/s1", "/s2", "/s3"}, {"-/s2"}, {"+/b1"}, {"/b1", "/s1", "/s3"}},
      {"removal saved last", {"/s1", "/s2", "/s3"}, {"+/a1"}, {"-/s2"}, {"/a1", "/s1", "/s3"}},
      {"opened, then found gone", {"/s1"}, {"+/a1", "-/a1"}, {"+/b1"}, {"/b1", "/s1"}},
      {"letter case", {"/p/A.tpk"}, {"+/p/a.tpk"}, {"+/p/A.tpk"}, {"/p/A.tpk", "/p/a.tpk"}},
      {"ten slots", ten, {"+/a0", "+/a1", "+/a2"}, {"+/b0", "+/b1"},
       {"/b1", "/b0", "/a2", "/a1", "/a0", "/s0", "/s1", "/s2", "/s3", "/s4"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    test::TempDir dir;
    const QString ini = QString::fromStdString((dir / "reader.ini").string());
    Store(ini, row.stored);

    QSettings secondSettings(ini, QSettings::IniFormat);
    RecentFileList second;
    second.Load(secondSettings);
    ASSERT_TRUE(InAnotherProcess([&] {
      QSettings settings(ini, QSettings::IniFormat);
      RecentFileList first;
      first.Load(settings);
      Play(first, row.first);
      first.Save(settings);
    }));
    Play(second, row.second);
    second.Save(secondSettings);

    EXPECT_EQ(Stored(ini), row.expected);
    std::vector<QString> expected(row.expected.begin(), row.expected.end());
    expected.resize(RecentFileList::kSlots + 1);
    EXPECT_EQ(Slots(second), expected) << "the saved list is the list from now on";
  }
}

class RecentDocumentsTest : public test::ReaderFixture {
 protected:
  // A file that exists but is no package: its opening fails after reading the
  // file, so it enters the list.
  QString Existing(const std::string& name) {
    return Write(name, std::string("not a policy package"));
  }

  void Open(const QString& path) {
    policyPath = path;
    RenderPolicy(reader);
  }

  QStringList Menu() const {
    const auto menu = page.menus.find("menuPad");
    return menu == page.menus.end() ? QStringList{"<never written>"} : menu->second;
  }

  void ExpectNoMessage() {
    for (const auto& message : window.messages)
      ADD_FAILURE() << message.caption << ": " << message.text;
  }
};

TEST_F(RecentDocumentsTest, MenuShowsTheTenNewestOpenings) {
  std::vector<QString> paths;
  for (int i = 0; i < 11; ++i) {
    paths.push_back(Existing("f" + std::to_string(i) + ".tpk"));
    Open(paths.back());
  }
  RefreshRecentMenu(page, recent);
  QStringList expected;
  for (int i = 10; i >= 1; --i) expected += paths[i];
  EXPECT_EQ(Menu(), expected);
}

// A stored list written by another program may leave a gap: the entries
// after it move up rather than hide behind it.
TEST_F(RecentDocumentsTest, BlankStoredEntryTakesNoSlot) {
  const QString ini = QString::fromStdString((dir / "reader.ini").string());
  QSettings settings(ini, QSettings::IniFormat);
  settings.beginGroup("Recent File List");
  settings.setValue("File1", "/a.tpk");
  settings.setValue("File2", "   ");
  settings.setValue("File3", "/b.tpk");
  settings.endGroup();
  recent.Load(settings);
  RefreshRecentMenu(page, recent);
  EXPECT_EQ(Menu(), QStringList({"/a.tpk", "/b.tpk"}));

  RefreshRecentMenu(page, RecentFileList());
  EXPECT_EQ(Menu(), QStringList{}) << "an empty list empties the menu";
}

TEST_F(RecentDocumentsTest, VanishedFileIsReportedAndDropped) {
  const QString gone = Existing("gone.tpk");
  const QString kept = Existing("kept.tpk");
  Open(gone);
  Open(kept);
  std::filesystem::remove(gone.toStdString());
  page.writes.clear();

  OpenRecently(reader, 1);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].caption, "資訊");
  EXPECT_EQ(window.messages[0].text, (gone + "不存在或無法存取。").toStdString());
  EXPECT_EQ(window.messages[0].buttons, OwnerWindow::Buttons::kOk);
  EXPECT_EQ(recent.Slot(0), kept);
  EXPECT_EQ(recent.Slot(1), "");
  EXPECT_EQ(Menu(), QStringList{kept});
  EXPECT_FALSE(page.LastText("statusLead")) << "nothing was opened";
}

TEST_F(RecentDocumentsTest, ExistingEntryIsOpenedAndMovedToTheTop) {
  const QString first = Existing("first.tpk");
  const QString second = Existing("second.tpk");
  Open(first);
  Open(second);
  page.writes.clear();

  OpenRecently(reader, 1);
  ExpectNoMessage();
  EXPECT_EQ(policyPath, first);
  EXPECT_TRUE(page.LastText("statusLead")) << "the file was rendered";
  EXPECT_EQ(Menu(), QStringList({first, second}));
}

// Only an entry the menu shows can be chosen: anything else opens nothing,
// reports nothing and changes no slot.
TEST_F(RecentDocumentsTest, IndexOutsideTheMenuOpensNothing) {
  const QString ini = QString::fromStdString((dir / "reader.ini").string());
  QSettings settings(ini, QSettings::IniFormat);
  settings.beginGroup("Recent File List");
  settings.setValue("File1", Existing("shown.tpk"));
  settings.endGroup();
  recent.Load(settings);
  const std::vector<QString> before = Slots(recent);
  for (const int index : {-1, 1, 2, 9, 10, 1 << 30}) {
    SCOPED_TRACE(index);
    page.writes.clear();
    OpenRecently(reader, index);
    ExpectNoMessage();
    EXPECT_EQ(policyPath, "");
    EXPECT_EQ(Slots(recent), before);
    EXPECT_EQ(Menu(), QStringList{recent.Slot(0)}) << "the menu is rebuilt all the same";
    EXPECT_FALSE(page.LastText("statusLead"));
  }
}

TEST_F(RecentDocumentsTest, CancelledPasswordLeavesTheListAsItWas) {
  const QString package = WritePackage("p.tpk", test::SharedPackageSpec());
  const QString other = Existing("other.tpk");
  Open(package);
  Open(other);
  window.password.reset();

  OpenRecently(reader, 1);
  EXPECT_EQ(policyPath, "");
  EXPECT_EQ(recent.Slot(0), other);
  EXPECT_EQ(recent.Slot(1), package);
  EXPECT_EQ(Menu(), QStringList({other, package}));
}

}  // namespace
}  // namespace qalv
