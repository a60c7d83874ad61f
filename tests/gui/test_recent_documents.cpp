// The recent-file list, its settings, the page's menu built from it, and
// reopening an entry through the item markup a browser hands back.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTimer>
#include <QVariant>
#include <QWebEnginePage>
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

  QString Menu() const { return page.LastHtml("menuPad").value_or("<never written>"); }

  static QString Item(const QString& html) {
    return R"item(<div onclick="openRecently(this)" onmouseover="itemOver(this)" onmouseout="itemOut(this)">)item" +
           html + "</div>";
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
  QString expected;
  for (int i = 10; i >= 1; --i) expected += Item(paths[i]);
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
  EXPECT_EQ(Menu(), Item("/a.tpk"));

  RefreshRecentMenu(page, RecentFileList());
  EXPECT_EQ(Menu(), "") << "an empty list empties the menu";
}

TEST_F(RecentDocumentsTest, VanishedFileIsReportedAndDropped) {
  const QString gone = Existing("gone.tpk");
  const QString kept = Existing("kept.tpk");
  Open(gone);
  Open(kept);
  std::filesystem::remove(gone.toStdString());
  page.writes.clear();

  OpenRecently(reader, gone.toHtmlEscaped());
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].caption, "資訊");
  EXPECT_EQ(window.messages[0].text, (gone + "不存在或無法存取。").toStdString());
  EXPECT_EQ(window.messages[0].buttons, OwnerWindow::Buttons::kOk);
  EXPECT_EQ(recent.Slot(0), kept);
  EXPECT_EQ(recent.Slot(1), "");
  EXPECT_EQ(Menu(), Item(kept));
  EXPECT_FALSE(page.LastHtml("status")) << "nothing was opened";
}

TEST_F(RecentDocumentsTest, VanishedFileInAnotherLetterCaseLeavesTheListAlone) {
  const QString listed = QString::fromStdString((dir / "Gone.tpk").string());
  const QString clicked = QString::fromStdString((dir / "gone.tpk").string());
  recent.Add(listed);
  OpenRecently(reader, clicked);
  EXPECT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(recent.Slot(0), listed);
  EXPECT_EQ(Menu(), Item(listed));
}

TEST_F(RecentDocumentsTest, ExistingEntryIsOpenedAndMovedToTheTop) {
  const QString first = Existing("first.tpk");
  const QString second = Existing("second.tpk");
  Open(first);
  Open(second);
  page.writes.clear();

  OpenRecently(reader, first.toHtmlEscaped());
  ExpectNoMessage();
  EXPECT_EQ(policyPath, first);
  EXPECT_TRUE(page.LastHtml("status")) << "the file was rendered";
  EXPECT_EQ(Menu(), Item(first) + Item(second));
}

TEST_F(RecentDocumentsTest, CancelledPasswordLeavesTheListAsItWas) {
  const QString package = WritePackage("p.tpk", test::SharedPackageSpec());
  const QString other = Existing("other.tpk");
  Open(package);
  Open(other);
  window.password.reset();

  OpenRecently(reader, package.toHtmlEscaped());
  EXPECT_EQ(policyPath, "");
  EXPECT_EQ(recent.Slot(0), other);
  EXPECT_EQ(recent.Slot(1), package);
  EXPECT_EQ(Menu(), Item(other) + Item(package));
}

// However the markup writes a character, the entry names the same file.
TEST_F(RecentDocumentsTest, ItemMarkupIsReadBackAsText) {
  const QString path = Existing("a&b\u00A0c.tpk");
  const QString folder = QString::fromStdString(dir.path().string()) + "/";
  for (const char* written : {"a&amp;b&nbsp;c.tpk", "a&#38;b&#160;c.tpk", "a&#x26;b&#XA0;c.tpk"}) {
    SCOPED_TRACE(written);
    policyPath.clear();
    OpenRecently(reader, folder + written);
    ExpectNoMessage();
    EXPECT_EQ(policyPath, path);
  }
}

// A real browser serialises the items' text on its own terms (it writes "
// bare and a no-break space as &nbsp;); the path must survive that trip.
TEST_F(RecentDocumentsTest, PathsSurviveTheBrowsersSerialisation) {
  const std::vector<QString> paths = {Existing("a&b<c>d.tpk"), Existing("say \"hi\" 'there'.tpk"),
                                      Existing("保單\u00A0 two  spaces.tpk"),
                                      Existing("&amp;.tpk")};
  for (const QString& path : paths) Open(path);
  RefreshRecentMenu(page, recent);
  ASSERT_TRUE(Menu().contains("a&amp;b&lt;c&gt;d.tpk")) << Menu().toStdString();

  QWebEnginePage browser;
  QEventLoop loop;
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  QObject::connect(&browser, &QWebEnginePage::loadFinished, &loop, &QEventLoop::quit);
  browser.setHtml(R"(<!DOCTYPE html><html><body><div id="menuPad"></div></body></html>)");
  loop.exec();

  const QString markup =
      QString::fromUtf8(QJsonDocument(QJsonArray{Menu()}).toJson(QJsonDocument::Compact));
  QVariant items;
  browser.runJavaScript(
      "document.getElementById('menuPad').innerHTML = " + markup +
          "[0]; Array.from(document.querySelectorAll('#menuPad > div'), d => d.innerHTML)",
      [&](const QVariant& result) {
        items = result;
        loop.quit();
      });
  loop.exec();
  const QStringList served = items.toStringList();
  ASSERT_EQ(served.size(), static_cast<qsizetype>(paths.size()));

  for (qsizetype i = 0; i < served.size(); ++i) {
    const QString& path = paths[paths.size() - 1 - i];
    SCOPED_TRACE(served[i].toStdString());
    window.messages.clear();
    policyPath.clear();
    OpenRecently(reader, served[i]);
    ExpectNoMessage();
    EXPECT_EQ(policyPath, path);
  }
}

}  // namespace
}  // namespace qalv
