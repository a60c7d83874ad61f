// Reading a policy in the viewer, over a ReportLab document of six pages with
// bookmarks: searching across pages, selecting and copying text, the outline,
// the page and zoom row, and that the new controls are named for screen
// readers and reachable with Tab.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/gui/support/qt_print.h"
#include "tests/gui/support/sample_pdf.h"
#include "viewer/pdf_dialog.h"
#include "viewer/pdf_outline.h"
#include "viewer/pdf_page_bar.h"
#include "viewer/pdf_search_bar.h"

namespace qalv {
namespace {

enum : int { kZoomIn = 32771, kZoomOut = 32772, kNext = 32775, kActual = 32785, kFitWidth = 32786 };

// Six pages in Courier 20 (every character 12 points wide), so where a
// character lies follows from its column: each page opens with "Page N of
// the policy"; "premium" stands on pages 1, 3 (twice, once as "Premium") and
// 6. The outline: 封面 (page 1), 保險條款 (page 3) with 第二條 (page 4) below
// it, 附表 (page 6).
const test::Bytes& Policy() {
  static const test::Bytes bytes = test::SamplePdf(
      6,
      "    c.setFont('Courier', 20)\n"
      "    c.drawString(72, 760, 'Page %d of the policy' % (i + 1))\n"
      "    if i in (0, 2, 5):\n"
      "        c.drawString(72, 700, 'The premium is due yearly')\n"
      "    if i == 2:\n"
      "        c.drawString(72, 640, 'Premium waiver applies')\n"
      "    c.bookmarkPage('p%d' % i, fit='XYZ', left=0, top=842)\n"
      "    for title, page, level in [('\\u5c01\\u9762', 0, 0), ('\\u4fdd\\u96aa\\u689d\\u6b3e', 2, 0),\n"
      "                               ('\\u7b2c\\u4e8c\\u689d', 3, 1), ('\\u9644\\u8868', 5, 0)]:\n"
      "        if page == i:\n"
      "            c.addOutlineEntry(title, 'p%d' % i, level=level)\n");
  return bytes;
}

// The same pages without an outline.
const test::Bytes& Plain() {
  static const test::Bytes bytes = test::SamplePdf(3,
                                                   "    c.setFont('Courier', 20)\n"
                                                   "    c.drawString(72, 760, 'Page %d of the policy' % (i + 1))\n");
  return bytes;
}

constexpr double kPageHeight = 841.89;

// A place in the character in `column` of the line drawn at `baseline`
// (ReportLab's points from the bottom), `across` of the way from its left
// edge, in the page's points from its top.
QPointF Character(double baseline, int column, double across) {
  return QPointF(72 + 12 * (column + across), kPageHeight - baseline - 6);
}

// Inside `viewport`, with a pixel to spare.
bool InView(const QRectF& area, const QWidget& viewport) {
  return QRectF(viewport.rect()).adjusted(-1, -1, 1, 1).contains(area);
}

class PdfReadingTest : public testing::Test {
 protected:
  // A shown, active dialog on `bytes`, initialised as exec() would.
  static std::unique_ptr<PDFDlg> Show(const test::Bytes& bytes) {
    EXPECT_FALSE(bytes.empty());
    auto dialog = std::make_unique<PDFDlg>(bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(dialog->OnInitDialog(), 0);
    dialog->show();
    dialog->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    return dialog;
  }

  // Types `text` over what the field holds.
  static void Type(QLineEdit& field, const QString& text) {
    field.setFocus();
    field.selectAll();
    QTest::keyClick(&field, Qt::Key_Backspace);
    QTest::keyClicks(&field, text);
  }
};

TEST_F(PdfReadingTest, SearchCountsTheHitsOfAllPagesAndStepsThroughThem) {
  struct Row {
    const char* name;
    QString text;
    std::vector<int> pages;  // of the hits, in document order
    int startPage = 0;       // in view when the text is typed
    int firstShown = 0;      // the hit shown first
    int zoom = 100;
    int rotation = 0;
  };
  const std::vector<Row> rows = {
      {"three pages, any letter case", "PREMIUM", {0, 2, 2, 5}},
      {"one hit", "waiver", {2}},
      {"every page", "of the policy", {0, 1, 2, 3, 4, 5}},
      {"from the page in view on", "premium", {0, 2, 2, 5}, 3, 3},
      {"after the last page in view, around to the first", "waiver", {2}, 4, 0},
      {"zoomed in and turned", "premium", {0, 2, 2, 5}, 0, 0, 400, 1},
      {"no hit", "nowhere", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto dialog = Show(Policy());
    CPdfControl& control = dialog->Control();
    CPdfSearchBar& bar = dialog->SearchBar();
    control.SetZoom(row.zoom);
    control.SetRotation(row.rotation);
    control.GoToPage(row.startPage);
    QTest::keyClick(&control, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar.isVisible());
    ASSERT_EQ(QApplication::focusWidget(), &bar.Field());
    QTest::keyClicks(&bar.Field(), row.text);

    const int count = static_cast<int>(row.pages.size());
    if (count == 0) {
      QTRY_COMPARE(bar.Result().text(), QStringLiteral("找不到"));
      QTest::keyClick(&bar.Field(), Qt::Key_Return);
      EXPECT_FALSE(bar.CurrentHit().isValid());
      EXPECT_EQ(control.CurrentPage(), row.startPage);
      continue;
    }
    const QString first = QStringLiteral("第 %1 項，共 %2 項").arg(row.firstShown + 1).arg(count);
    QTRY_COMPARE(bar.Result().text(), first);
    // Enter steps forward through every hit and around; Shift+Enter back.
    std::vector<int> forward;
    for (int step = 0; step <= count; ++step) {
      const int hit = (row.firstShown + step) % count;
      EXPECT_EQ(bar.Result().text(), QStringLiteral("第 %1 項，共 %2 項").arg(hit + 1).arg(count)) << step;
      forward.push_back(bar.CurrentHit().page());
      EXPECT_EQ(control.CurrentPage(), row.pages[hit]) << step;
      QRectF area;
      for (const QRectF& rect : bar.CurrentHit().rectangles()) area |= rect;
      EXPECT_TRUE(InView(control.PageToViewport(bar.CurrentHit().page()).mapRect(area), *control.viewport()))
          << step;
      QTest::keyClick(&bar.Field(), Qt::Key_Return);
    }
    std::vector<int> expected;
    for (int step = 0; step <= count; ++step) expected.push_back(row.pages[(row.firstShown + step) % count]);
    EXPECT_EQ(forward, expected);
    for (int step = count; step >= 0; --step) {
      QTest::keyClick(&bar.Field(), Qt::Key_Return, Qt::ShiftModifier);
      EXPECT_EQ(bar.CurrentHit().page(), row.pages[(row.firstShown + step + count) % count]) << step;
    }
  }
}

// Pixels of `image` inside `area` that show `colour` (multiplied onto white).
int Showing(const QImage& image, const QRectF& area, QRgb colour) {
  int count = 0;
  const QRect pixels = area.toAlignedRect().intersected(image.rect());
  for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
    for (int x = pixels.left(); x <= pixels.right(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      count += std::abs(qRed(pixel) - qRed(colour)) + std::abs(qGreen(pixel) - qGreen(colour)) +
                   std::abs(qBlue(pixel) - qBlue(colour)) <
               30;
    }
  }
  return count;
}

TEST_F(PdfReadingTest, HitsAreMarkedWhileTheBarIsOpenAndEscClosesOnlyTheBar) {
  auto dialog = Show(Policy());
  CPdfControl& control = dialog->Control();
  CPdfSearchBar& bar = dialog->SearchBar();
  control.GoToPage(2);
  QTest::keyClick(&control, Qt::Key_F, Qt::ControlModifier);
  QTest::keyClicks(&bar.Field(), "premium");
  QTRY_COMPARE(bar.Result().text(), QStringLiteral("第 2 項，共 4 項"));
  // Page 3 holds hits 2 (current) and 3.
  const QPdfLink current = bar.CurrentHit();
  QTest::keyClick(&bar.Field(), Qt::Key_Return);
  const QPdfLink other = bar.CurrentHit();
  QTest::keyClick(&bar.Field(), Qt::Key_Return, Qt::ShiftModifier);
  ASSERT_EQ(current.page(), 2);
  ASSERT_EQ(other.page(), 2);
  const QTransform toView = control.PageToViewport(2);
  const QRectF currentArea = toView.mapRect(current.rectangles().value(0));
  const QRectF otherArea = toView.mapRect(other.rectangles().value(0));
  const QRgb orange = qRgb(255, 150, 30);
  const QRgb yellow = qRgb(255, 236, 90);

  struct Row {
    const char* name;
    std::function<void()> act;
    bool barOpen;
  };
  const std::vector<Row> rows = {
      {"open", [] {}, true},
      {"Esc", [&] { QTest::keyClick(&bar.Field(), Qt::Key_Escape); }, false},
      {"Ctrl+F again", [&] { QTest::keyClick(&control, Qt::Key_F, Qt::ControlModifier); }, true},
      {"the close button", [&] { QTest::mouseClick(&bar.CloseButton(), Qt::LeftButton); }, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.act();
    EXPECT_EQ(bar.isVisible(), row.barOpen);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), row.barOpen ? static_cast<QWidget*>(&bar.Field()) : &control);
    const QImage view = control.viewport()->grab().toImage();
    const int area = static_cast<int>(currentArea.width() * currentArea.height());
    if (row.barOpen) {
      EXPECT_GT(Showing(view, currentArea, orange), area / 3);
      EXPECT_GT(Showing(view, otherArea, yellow), area / 3);
      EXPECT_EQ(Showing(view, currentArea, yellow), 0);
    } else {
      EXPECT_EQ(Showing(view, currentArea, orange) + Showing(view, otherArea, yellow), 0);
    }
    // The document area gives the open bar its room and takes it back.
    EXPECT_LE(control.mapTo(dialog.get(), QPoint(0, control.height())).y(),
              (row.barOpen ? bar.geometry().top() : dialog->PageBar().geometry().top()));
  }
  // With the bar closed, Esc closes the viewer as before.
  QTest::keyClick(&control, Qt::Key_Escape);
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(PdfReadingTest, DraggingOverTextSelectsItAndCtrlCCopiesExactlyThat) {
  // A drag from the first character to the last of what is wanted, as a
  // person makes it: from just inside the near edge of the one to just
  // inside the far edge of the other, whichever way it goes.
  struct Row {
    const char* name;
    int page;
    double fromBaseline;
    int fromColumn;
    double toBaseline;
    int toColumn;
    QString copied;  // "sentinel": the clipboard is left alone
    int zoom;
    int rotation;
  };
  const std::vector<Row> rows = {
      {"a word", 2, 700, 4, 700, 10, "premium", 100, 0},
      {"a whole line", 0, 760, 0, 760, 19, "Page 1 of the policy", 100, 0},
      {"right to left", 5, 700, 17, 700, 15, "due", 100, 0},
      {"down over two lines", 2, 700, 15, 640, 6, "due yearly\nPremium", 100, 0},
      {"up over two lines", 2, 640, 6, 700, 15, "due yearly\nPremium", 100, 0},
      {"turned a quarter", 2, 640, 8, 640, 13, "waiver", 100, 1},
      {"turned upside down", 3, 760, 0, 760, 5, "Page 4", 100, 2},
      {"zoomed in", 5, 760, 14, 760, 19, "policy", 300, 0},
      {"a click without a drag", 0, 760, 2, 760, 2, "sentinel", 100, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto dialog = Show(Policy());
    CPdfControl& control = dialog->Control();
    control.SetZoom(row.zoom);
    control.SetRotation(row.rotation);
    const bool forward = row.fromBaseline > row.toBaseline ||
                         (row.fromBaseline == row.toBaseline && row.fromColumn <= row.toColumn);
    const QPointF from = Character(row.fromBaseline, row.fromColumn, forward ? 0.25 : 0.75);
    const QPointF to = Character(row.toBaseline, row.toColumn, forward ? 0.75 : 0.25);
    control.ShowArea(row.page, QRectF(from, to).normalized());
    const QTransform toView = control.PageToViewport(row.page);
    const QPoint press = toView.map(from).toPoint();
    const QPoint release = toView.map(to).toPoint();
    ASSERT_TRUE(control.viewport()->rect().contains(press) && control.viewport()->rect().contains(release));

    QGuiApplication::clipboard()->setText(QStringLiteral("sentinel"));
    QTest::mousePress(control.viewport(), Qt::LeftButton, {}, press);
    QTest::mouseMove(control.viewport(), (press + release) / 2);
    QTest::mouseMove(control.viewport(), release);
    QTest::mouseRelease(control.viewport(), Qt::LeftButton, {}, release);
    EXPECT_EQ(QApplication::focusWidget(), &control);
    QTest::keyClick(&control, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), row.copied);
  }
}

TEST_F(PdfReadingTest, OutlineShowsOnlyWithBookmarksAndItsEntriesGoToTheirPages) {
  {
    auto plain = Show(Plain());
    EXPECT_FALSE(plain->Outline().isVisible());
  }
  auto dialog = Show(Policy());
  CPdfOutline& outline = dialog->Outline();
  CPdfControl& control = dialog->Control();
  ASSERT_TRUE(outline.isVisible());
  // Beside the pages, not over them.
  EXPECT_LE(outline.geometry().right(), control.geometry().left());

  // Entries by title path.
  QAbstractItemModel& model = *outline.model();
  auto entry = [&](const QStringList& path) {
    QModelIndex at;
    for (const QString& title : path) {
      const QModelIndexList found = model.match(model.index(0, 0, at), Qt::DisplayRole, title, 1, Qt::MatchExactly);
      at = found.value(0);
    }
    return at;
  };
  struct Row {
    QStringList path;
    int page;
    bool byKeyboard;
  };
  const std::vector<Row> rows = {
      {{"附表"}, 5, false},
      {{"封面"}, 0, false},
      {{"保險條款", "第二條"}, 3, false},
      {{"保險條款"}, 2, true},
      {{"附表"}, 5, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path.join('/').toStdString() + (row.byKeyboard ? " by Enter" : " by a click"));
    const QModelIndex index = entry(row.path);
    ASSERT_TRUE(index.isValid());
    if (row.byKeyboard) {
      outline.setFocus();
      outline.setCurrentIndex(index);
      QTest::keyClick(&outline, Qt::Key_Return);
    } else {
      QTest::mouseClick(outline.viewport(), Qt::LeftButton, {}, outline.visualRect(index).center());
    }
    EXPECT_EQ(control.CurrentPage(), row.page);
    EXPECT_EQ(dialog->PageBar().PageField().text(), QString::number(row.page + 1));
    // The page's top is at the top of the view.
    const double top = control.PageToViewport(row.page).map(QPointF(0, 0)).y();
    EXPECT_GE(top, 0);
    EXPECT_LT(top, control.viewport()->height() / 20);
  }
}

TEST_F(PdfReadingTest, PageRowFollowsThePageInViewAndItsFieldGoesToATypedPage) {
  auto dialog = Show(Policy());
  CPdfControl& control = dialog->Control();
  CPdfPageBar& row = dialog->PageBar();
  QLineEdit& field = row.PageField();
  EXPECT_EQ(row.PageCount().text(), QStringLiteral("/ 6"));
  // Each step acts on what the one before left; the field then shows `shown`
  // and the page in view is page `shown`.
  struct Step {
    const char* name;
    std::function<void()> act;
    int shown;
  };
  auto scrollToPage = [&](int index) {
    QScrollBar& bar = *control.verticalScrollBar();
    bar.setValue(bar.value() + static_cast<int>(control.PageToViewport(index).map(QPointF(0, 400)).y()));
  };
  auto enter = [&](const QString& text) {
    Type(field, text);
    QTest::keyClick(&field, Qt::Key_Return);
  };
  const std::vector<Step> steps = {
      {"opened", [] {}, 1},
      {"next button", [&] { dialog->Button(kNext)->trigger(); }, 2},
      {"End key", [&] { QTest::keyClick(&control, Qt::Key_End); }, 6},
      {"scrolled to the middle of page 4", [&] { scrollToPage(3); }, 4},
      {"scrolled back to page 2", [&] { scrollToPage(1); }, 2},
      {"typed 5", [&] { enter("5"); }, 5},
      {"typed 0", [&] { enter("0"); }, 5},
      {"typed 7, past the end", [&] { enter("7"); }, 5},
      {"typed letters", [&] { enter("abc"); }, 5},
      {"typed nothing", [&] { enter(""); }, 5},
      {"typed 1", [&] { enter("1"); }, 1},
      {"typed 3, left without Enter", [&] {
         Type(field, "3");
         control.setFocus();
       }, 1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    EXPECT_EQ(field.text(), QString::number(step.shown));
    EXPECT_EQ(control.CurrentPage(), step.shown - 1);
  }
}

TEST_F(PdfReadingTest, ZoomPercentFollowsTheZoomButtonsAndTheWheel) {
  auto dialog = Show(Policy());
  CPdfControl& control = dialog->Control();
  const QLabel& zoom = dialog->PageBar().ZoomLabel();
  auto wheel = [&](int notches) {
    const QPoint middle = control.viewport()->rect().center();
    QWheelEvent event(middle, control.viewport()->mapToGlobal(middle), QPoint(), QPoint(0, 120 * notches),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(control.viewport(), &event);
  };
  struct Step {
    const char* name;
    std::function<void()> act;
    QString shown;
  };
  const std::vector<Step> steps = {
      {"opened", [] {}, "100%"},
      {"zoom in", [&] { dialog->Button(kZoomIn)->trigger(); }, "110%"},
      {"zoom out twice", [&] {
         dialog->Button(kZoomOut)->trigger();
         dialog->Button(kZoomOut)->trigger();
       }, "90%"},
      {"set to 125", [&] { control.SetZoom(125); }, "125%"},
      {"Ctrl+wheel up", [&] { wheel(1); }, "135%"},
      {"actual size", [&] { dialog->Button(kActual)->trigger(); }, "100%"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    EXPECT_EQ(zoom.text(), step.shown);
  }
  // A fit shows the percentage it came to.
  dialog->Button(kFitWidth)->trigger();
  EXPECT_NE(control.Zoom(), 100);
  EXPECT_EQ(zoom.text(), QString::number(control.Zoom()) + "%");
}

bool IsChinese(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff; });
}

TEST_F(PdfReadingTest, NewControlsAreNamedInChineseAndTabReachesThem) {
  auto dialog = Show(Policy());
  CPdfSearchBar& bar = dialog->SearchBar();
  bar.Open();
  std::vector<QWidget*> controls = {&bar, &dialog->PageBar(), &dialog->Outline(),
                                    dialog->findChild<QSplitter*>()};
  for (QWidget* parent : {static_cast<QWidget*>(&bar), static_cast<QWidget*>(&dialog->PageBar())}) {
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) controls.push_back(child);
  }
  for (QWidget* control : controls) {
    ASSERT_NE(control, nullptr);
    SCOPED_TRACE(control->metaObject()->className());
    EXPECT_TRUE(IsChinese(control->accessibleName())) << control->accessibleName().toStdString();
    EXPECT_TRUE(IsChinese(control->accessibleDescription())) << control->accessibleDescription().toStdString();
  }

  // Tab from the pages visits every new control that takes the focus.
  const std::set<QWidget*> reachable = {&bar.Field(), &bar.PreviousButton(), &bar.NextButton(),
                                        &bar.CloseButton(), &dialog->PageBar().PageField(), &dialog->Outline()};
  dialog->Control().setFocus();
  std::set<QWidget*> visited;
  for (int press = 0; press < 12; ++press) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.insert(QApplication::focusWidget());
  }
  for (QWidget* control : reachable) EXPECT_TRUE(visited.count(control)) << control->accessibleName().toStdString();
}

}  // namespace
}  // namespace qalv
