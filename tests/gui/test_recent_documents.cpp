// The recent-file list, its settings, the page's menu built from it, and
// reopening an entry by its position in the menu.
#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>
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
    QString added;  // names p(matched) in another letter case
    int matched;
  } rows[] = {{"from the middle", 3, "/POLICIES/P1.TPK", 1},
              {"from the top", 3, "/policies/P2.tpk", 2},
              {"from the last slot", 10, "/Policies/p0.tpk", 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RecentFileList list;
    for (int i = 0; i < row.present; ++i) list.Add(Numbered(i));
    list.Add(row.added);
    std::vector<QString> expected{row.added};
    for (int i = row.present - 1; i >= 0; --i) {
      if (i != row.matched) expected.push_back(Numbered(i));
    }
    expected.resize(RecentFileList::kSlots + 1);
    EXPECT_EQ(Slots(list), expected) << "moved without a duplicate, in the spelling just opened";
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

TEST(RecentFileList, SavesAndLoadsThroughSettings) {
  test::TempDir dir;
  const QString ini = QString::fromStdString((dir / "reader.ini").string());
  {
    QSettings stale(ini, QSettings::IniFormat);
    stale.beginGroup("Recent File List");
    for (int i = 1; i <= 10; ++i) stale.setValue(QStringLiteral("File%1").arg(i), "/stale.tpk");
  }
  RecentFileList list;
  for (int i = 0; i < 3; ++i) list.Add(Numbered(i));
  {
    QSettings settings(ini, QSettings::IniFormat);
    list.Save(settings);
  }

  QSettings written(ini, QSettings::IniFormat);
  written.beginGroup("Recent File List");
  EXPECT_EQ(written.value("File1").toString(), Numbered(2));
  EXPECT_EQ(written.value("File2").toString(), Numbered(1));
  EXPECT_EQ(written.value("File3").toString(), Numbered(0));
  for (int i = 4; i <= 10; ++i)
    EXPECT_FALSE(written.contains(QStringLiteral("File%1").arg(i))) << i;
  written.endGroup();

  RecentFileList loaded;
  loaded.Load(written);
  EXPECT_EQ(Slots(loaded), Slots(list));
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

TEST_F(RecentDocumentsTest, BlankSlotEndsTheMenu) {
  const QString ini = QString::fromStdString((dir / "reader.ini").string());
  QSettings settings(ini, QSettings::IniFormat);
  settings.beginGroup("Recent File List");
  settings.setValue("File1", "/a.tpk");
  settings.setValue("File2", "   ");
  settings.setValue("File3", "/b.tpk");
  settings.endGroup();
  recent.Load(settings);
  RefreshRecentMenu(page, recent);
  EXPECT_EQ(Menu(), QStringList{"/a.tpk"});

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
  settings.setValue("File2", "");
  settings.setValue("File3", Existing("behind-a-blank.tpk"));
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
