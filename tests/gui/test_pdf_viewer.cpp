// The PDF viewer dialog and its control over documents made by reportlab:
// button states, zoom and rotation rules, what is really drawn (also at high
// zoom and on a high-density screen), printing, and that the document stays
// in memory, searched and copied from too; and the main window's way into the
// viewer.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPdfDocument>
#include <QPrinter>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/trace.h"
#include "tests/gui/support/reader_driver.h"
#include "tests/gui/support/sample_pdf.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "viewer/pdf_dialog.h"
#include "viewer/pdf_search_bar.h"

namespace qalv {
namespace {

enum : int {
  kZoomIn = 32771,
  kZoomOut = 32772,
  kFirst = 32773,
  kPrevious = 32774,
  kNext = 32775,
  kLast = 32776,
  kActual = 32785,
  kFitWidth = 32786,
  kFitHeight = 32787,
  kRotateLeft = 32788,
  kRotateRight = 32789,
};

// Each page carries its number in large type.
test::Bytes MakePdf(int pages) {
  test::Bytes bytes = test::SamplePdf(pages,
                                      "    c.setFont('Helvetica', 48)\n"
                                      "    c.drawString(100, 700, 'Page %d' % (i + 1))\n");
  EXPECT_FALSE(bytes.empty());
  return bytes;
}

const test::Bytes& OnePage() {
  static const test::Bytes bytes = MakePdf(1);
  return bytes;
}

const test::Bytes& FivePages() {
  static const test::Bytes bytes = MakePdf(5);
  return bytes;
}

// Renders are transparent where the page has no ink.
bool IsBlack(QRgb pixel) { return qAlpha(pixel) > 200 && qRed(pixel) < 40 && qGreen(pixel) < 40 && qBlue(pixel) < 40; }
bool IsWhite(QRgb pixel) { return qRed(pixel) > 240 && qGreen(pixel) > 240 && qBlue(pixel) > 240; }

// Pixel of `image` at the fractions (fx, fy) of its width and height.
QRgb At(const QImage& image, double fx, double fy) {
  return image.pixel(static_cast<int>(fx * (image.width() - 1)), static_cast<int>(fy * (image.height() - 1)));
}

class PdfViewerTest : public testing::Test {
 protected:
  // A shown dialog on `bytes`, initialised as exec() would.
  std::unique_ptr<PDFDlg> Show(const test::Bytes& bytes) {
    auto dialog = std::make_unique<PDFDlg>(bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(dialog->OnInitDialog(), 0);
    dialog->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    return dialog;
  }

  static void Press(PDFDlg& dialog, int command) { dialog.Button(command)->trigger(); }

  // Enabled state of first, previous, next, last.
  static std::vector<bool> Navigation(PDFDlg& dialog) {
    std::vector<bool> states;
    for (int command : {kFirst, kPrevious, kNext, kLast}) states.push_back(dialog.Button(command)->isEnabled());
    return states;
  }
};

TEST_F(PdfViewerTest, ToolbarHasTheTwelveButtonsWithTheirTooltipsAndIcons) {
  auto dialog = Show(FivePages());
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("電子保單內容"));
  const std::vector<std::pair<int, QString>> buttons = {
      {32771, "放大"},   {32772, "縮小"},           {32773, "第一頁"},         {32774, "上一頁"},
      {32775, "下一頁"}, {32776, "最後頁"},         {32786, "縮放至視窗寬度"}, {32787, "縮放至視窗高度"},
      {32785, "原始大小"}, {32788, "左轉"},         {32789, "右轉"},           {32790, "列印"}};
  for (const auto& [command, tooltip] : buttons) {
    QAction* button = dialog->Button(command);
    ASSERT_NE(button, nullptr) << command;
    EXPECT_EQ(button->toolTip(), tooltip);
    EXPECT_FALSE(button->icon().pixmap(24, 24).isNull()) << command;
  }
}

TEST_F(PdfViewerTest, NavigationButtonsFollowTheCurrentPage) {
  struct Row {
    const char* name;
    const test::Bytes& document;
    std::vector<int> presses;
    int page;
    std::vector<bool> enabled;  // first, previous, next, last
  };
  const std::vector<Row> rows = {
      {"one page", OnePage(), {}, 0, {false, false, false, false}},
      {"one page, next pressed", OnePage(), {kNext}, 0, {false, false, false, false}},
      {"opened", FivePages(), {}, 0, {false, false, true, true}},
      {"next", FivePages(), {kNext}, 1, {true, true, true, true}},
      {"last", FivePages(), {kLast}, 4, {true, true, false, false}},
      {"last, previous", FivePages(), {kLast, kPrevious}, 3, {true, true, true, true}},
      {"last, first", FivePages(), {kLast, kFirst}, 0, {false, false, true, true}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto dialog = Show(row.document);
    for (int command : row.presses) Press(*dialog, command);
    EXPECT_EQ(dialog->Control().CurrentPage(), row.page);
    EXPECT_EQ(Navigation(*dialog), row.enabled);
  }
}

TEST_F(PdfViewerTest, KeysPageThroughTheDocumentAndMoveTheButtons) {
  auto dialog = Show(FivePages());
  CPdfControl& control = dialog->Control();
  const std::vector<std::pair<Qt::Key, int>> keys = {
      {Qt::Key_PageDown, 1}, {Qt::Key_PageDown, 2}, {Qt::Key_End, 4},  {Qt::Key_PageDown, 4},
      {Qt::Key_PageUp, 3},   {Qt::Key_Home, 0},     {Qt::Key_PageUp, 0}};
  for (const auto& [key, page] : keys) {
    QTest::keyClick(&control, key);
    EXPECT_EQ(control.CurrentPage(), page) << key;
  }
  QTest::keyClick(&control, Qt::Key_End);
  EXPECT_EQ(Navigation(*dialog), (std::vector<bool>{true, true, false, false}));
  // The page in view is at the top of the view, not just counted.
  QTest::keyClick(&control, Qt::Key_Home);
  QTest::keyClick(&control, Qt::Key_PageDown);
  EXPECT_GT(control.verticalScrollBar()->value(), control.PageDisplaySize(0).height());
}

TEST_F(PdfViewerTest, ZoomButtonsKeepToTheirLimits) {
  struct Row {
    int start;
    int command;
    int expected;
  };
  const std::vector<Row> rows = {
      {100, kZoomIn, 110}, {6395, kZoomIn, 6400}, {6400, kZoomIn, 6400}, {100, kZoomOut, 90},
      {20, kZoomOut, 10},  {10, kZoomOut, 10},    {15, kZoomOut, 10},    {12, kZoomOut, 10},
      {250, kActual, 100},
  };
  auto dialog = Show(OnePage());
  CPdfControl& control = dialog->Control();
  for (const Row& row : rows) {
    control.SetZoom(row.start);
    Press(*dialog, row.command);
    EXPECT_EQ(control.Zoom(), row.expected) << row.start << " " << row.command;
  }
}

TEST_F(PdfViewerTest, ZoomSizesThePageFromItsPointSize) {
  auto dialog = Show(OnePage());
  CPdfControl& control = dialog->Control();
  const double perPoint = control.logicalDpiX() / 72.0;
  Press(*dialog, kActual);
  EXPECT_NEAR(control.PageDisplaySize(0).width(), 595 * perPoint, 1);
  EXPECT_NEAR(control.PageDisplaySize(0).height(), 842 * perPoint, 1);
  control.SetZoom(250);
  EXPECT_NEAR(control.PageDisplaySize(0).width(), 595 * perPoint * 2.5, 1);

  // A fit fills the view's width (or height) but for the margins, to the percent.
  Press(*dialog, kFitWidth);
  const int room = control.viewport()->width();
  EXPECT_LE(control.PageDisplaySize(0).width(), room);
  EXPECT_GT(control.PageDisplaySize(0).width(), room - 16 - 595 * perPoint / 100 - 1);
  Press(*dialog, kFitHeight);
  const int height = control.viewport()->height();
  EXPECT_LE(control.PageDisplaySize(0).height(), height);
  EXPECT_GT(control.PageDisplaySize(0).height(), height - 16 - 842 * perPoint / 100 - 1);
  // The fit is kept when the view changes size.
  const int fitted = control.Zoom();
  dialog->showMaximized();
  QTest::qWait(50);
  dialog->resize(dialog->width(), dialog->height() + 200);
  QTRY_VERIFY(control.Zoom() != fitted);
  EXPECT_LE(control.PageDisplaySize(0).height(), control.viewport()->height());
}

TEST_F(PdfViewerTest, CtrlWheelZoomsInTensAndPlainWheelScrolls) {
  auto dialog = Show(FivePages());
  CPdfControl& control = dialog->Control();
  const QPoint middle = control.viewport()->rect().center();
  auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
    QWheelEvent event(middle, control.viewport()->mapToGlobal(middle), QPoint(), QPoint(0, delta), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(control.viewport(), &event);
  };
  wheel(120, Qt::ControlModifier);
  EXPECT_EQ(control.Zoom(), 110);
  wheel(-240, Qt::ControlModifier);
  EXPECT_EQ(control.Zoom(), 90);
  control.SetZoom(15);
  wheel(-120, Qt::ControlModifier);
  EXPECT_EQ(control.Zoom(), 10);
  wheel(-120, Qt::NoModifier);
  EXPECT_EQ(control.Zoom(), 10);
}

TEST_F(PdfViewerTest, RotationTurnsThePageAndWrapsAround) {
  auto dialog = Show(OnePage());
  CPdfControl& control = dialog->Control();
  const QSize upright = control.PageDisplaySize(0);
  ASSERT_GT(upright.height(), upright.width());
  // Where the black block (lower left of the upright page) lands after each
  // clockwise turn, as fractions of the rendered page.
  struct Turn {
    int rotation;
    double blockX, blockY, clearX, clearY;
  };
  const std::vector<Turn> turns = {
      {0, 0.25, 0.75, 0.75, 0.75}, {1, 0.25, 0.25, 0.25, 0.75},
      {2, 0.75, 0.25, 0.25, 0.25}, {3, 0.75, 0.75, 0.75, 0.25}};
  for (const Turn& turn : turns) {
    SCOPED_TRACE(turn.rotation);
    control.SetRotation(turn.rotation);
    const QSize shown = control.PageDisplaySize(0);
    EXPECT_EQ(shown, turn.rotation % 2 ? upright.transposed() : upright);
    const QImage page = control.RenderPage(0);
    EXPECT_EQ(page.deviceIndependentSize().toSize(), shown);
    EXPECT_TRUE(IsBlack(At(page, turn.blockX, turn.blockY)));
    EXPECT_FALSE(IsBlack(At(page, turn.clearX, turn.clearY)));
  }

  control.SetRotation(0);
  Press(*dialog, kRotateLeft);
  EXPECT_EQ(control.Rotation(), 3);
  Press(*dialog, kRotateRight);
  EXPECT_EQ(control.Rotation(), 0);
  for (int turn = 0; turn < 3; ++turn) Press(*dialog, kRotateRight);
  EXPECT_EQ(control.Rotation(), 3);
  Press(*dialog, kRotateRight);
  EXPECT_EQ(control.Rotation(), 0);
  EXPECT_EQ(control.PageDisplaySize(0), upright);
  for (int turn = 0; turn < 4; ++turn) Press(*dialog, kRotateLeft);
  EXPECT_EQ(control.PageDisplaySize(0), upright);
}

TEST_F(PdfViewerTest, TheControlDrawsThePageContent) {
  auto dialog = Show(FivePages());
  CPdfControl& control = dialog->Control();
  control.SetZoom(CPdfControl::kFitHeight);
  const QImage view = control.viewport()->grab().toImage();
  int black = 0;
  int white = 0;
  for (int y = 0; y < view.height(); ++y) {
    for (int x = 0; x < view.width(); ++x) {
      black += IsBlack(view.pixel(x, y));
      white += IsWhite(view.pixel(x, y));
    }
  }
  // The block covers about 12% of the page, the page most of the view.
  EXPECT_GT(black, view.width() * view.height() / 50);
  EXPECT_GT(white, view.width() * view.height() / 5);
}

TEST_F(PdfViewerTest, HighZoomDrawsOnlyTheVisiblePartInTheRightPlace) {
  auto dialog = Show(OnePage());
  CPdfControl& control = dialog->Control();
  // At 6400% the whole page would be ~14 GB as one image.
  struct Spot {
    int rotation;
    double xPoints, yPoints;  // from the shown page's top left, in points
    bool black;
  };
  const std::vector<Spot> spots = {
      {0, 150, 842 - 200, true}, {0, 400, 842 - 200, false}, {0, 150, 200, false},
      {1, 200, 150, true},       {1, 200, 450, false},        {2, 595 - 150, 200, true},
  };
  control.SetZoom(6400);
  for (const Spot& spot : spots) {
    SCOPED_TRACE(testing::Message() << spot.rotation << " " << spot.xPoints << " " << spot.yPoints);
    control.SetRotation(spot.rotation);
    EXPECT_TRUE(control.RenderPage(0).isNull());
    const double perPoint = control.logicalDpiX() / 72.0 * 64;
    const QSize room = control.viewport()->size();
    control.horizontalScrollBar()->setValue(8 + static_cast<int>(spot.xPoints * perPoint) - room.width() / 2);
    control.verticalScrollBar()->setValue(8 + static_cast<int>(spot.yPoints * perPoint) - room.height() / 2);
    const QImage view = control.viewport()->grab().toImage();
    for (double f : {0.1, 0.5, 0.9}) {
      EXPECT_EQ(IsBlack(At(view, f, f)), spot.black);
      EXPECT_EQ(IsWhite(At(view, f, 1 - f)), !spot.black);
    }
  }
}

TEST_F(PdfViewerTest, OpeningSearchingAndCopyingKeepTheDocumentOffTheDisk) {
  test::TempDir home;
  test::TempDir temp;
  const QByteArray oldHome = qgetenv("HOME");
  const bool hadTemp = qEnvironmentVariableIsSet("TMPDIR");
  const QByteArray oldTemp = qgetenv("TMPDIR");
  qputenv("HOME", QByteArray::fromStdString(home.path().string()));
  qputenv("TMPDIR", QByteArray::fromStdString(temp.path().string()));
  {
    auto dialog = Show(FivePages());
    CPdfControl& control = dialog->Control();
    Press(*dialog, kLast);
    control.SetZoom(CPdfControl::kFitWidth);
    control.viewport()->grab();
    // Searching, and copying a hit's text, read the document in memory too.
    CPdfSearchBar& bar = dialog->SearchBar();
    bar.Open();
    QTest::keyClicks(&bar.Field(), "page");
    QTRY_COMPARE(bar.Result().text(), QStringLiteral("第 5 項，共 5 項"));
    const QRectF word = control.PageToViewport(4).mapRect(bar.CurrentHit().rectangles().value(0));
    const QPoint from(qRound(word.left() + 4), qRound(word.center().y()));
    const QPoint to(qRound(word.right() - 4), from.y());
    QTest::mousePress(control.viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(control.viewport(), to);
    QTest::mouseRelease(control.viewport(), Qt::LeftButton, {}, to);
    dialog->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    QTest::keyClick(&control, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Page"));
    QApplication::processEvents();
  }
  qputenv("HOME", oldHome);
  if (hadTemp) {
    qputenv("TMPDIR", oldTemp);
  } else {
    qunsetenv("TMPDIR");
  }
  std::vector<std::string> written;
  for (const auto& dir : {home.path(), temp.path()}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) written.push_back(entry.path());
  }
  EXPECT_TRUE(written.empty()) << testing::PrintToString(written);
}

TEST_F(PdfViewerTest, DamagedOrMissingDocumentEndsTheDialogWith100BeforeItShows) {
  test::Bytes damaged = FivePages();
  damaged.resize(damaged.size() / 3);
  const test::Bytes garbage = {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', 0, 1, 2, 3};
  for (const test::Bytes* bytes : {static_cast<const test::Bytes*>(&damaged), &garbage}) {
    PDFDlg dialog(bytes->data(), static_cast<int32_t>(bytes->size()));
    EXPECT_EQ(dialog.exec(), PDFDlg::kDocumentRefused);
    EXPECT_FALSE(dialog.isVisible());
  }
  PDFDlg empty(nullptr, 0);
  EXPECT_EQ(empty.exec(), PDFDlg::kDocumentRefused);
}

TEST_F(PdfViewerTest, PrintingPutsTheChosenPagesOnSheets) {
  auto dialog = Show(FivePages());
  test::TempDir out;
  struct Row {
    int from, to, sheets;
  };
  for (const Row& row : std::vector<Row>{{0, 0, 5}, {2, 3, 2}, {5, 9, 1}}) {
    const QString path = QString::fromStdString(out.path().string()) + QStringLiteral("/p%1.pdf").arg(row.from);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setFromTo(row.from, row.to);
    ASSERT_TRUE(dialog->Control().PrintTo(printer));
    QPdfDocument printed;
    printed.load(path);
    EXPECT_EQ(printed.pageCount(), row.sheets) << row.from;
    // The first sheet carries the page's block, not a blank.
    const QImage sheet = printed.render(0, QSize(300, 424));
    int black = 0;
    for (int y = 0; y < sheet.height(); ++y) {
      for (int x = 0; x < sheet.width(); ++x) black += IsBlack(sheet.pixel(x, y));
    }
    EXPECT_GT(black, sheet.width() * sheet.height() / 20);
  }
}

// Run in a child process with QT_SCALE_FACTOR=2 (see the test below).
TEST_F(PdfViewerTest, HighDensityChild) {
  if (qEnvironmentVariable("QALV_PDF_HIDPI_CHILD") != u"1") GTEST_SKIP() << "runs in its own process";
  auto dialog = Show(OnePage());
  CPdfControl& control = dialog->Control();
  ASSERT_EQ(control.devicePixelRatioF(), 2.0);
  Press(*dialog, kActual);
  const QImage page = control.RenderPage(0);
  EXPECT_EQ(page.devicePixelRatio(), 2.0);
  EXPECT_EQ(page.size(), control.PageDisplaySize(0) * 2);
  const QImage view = control.viewport()->grab().toImage();
  EXPECT_EQ(view.size(), control.viewport()->size() * 2);
}

TEST_F(PdfViewerTest, HighDensityScreenGetsRendersAtItsPixelRatio) {
  if (qEnvironmentVariable("QALV_PDF_HIDPI_CHILD") == u"1") GTEST_SKIP() << "the child";
  const test::CommandResult child =
      test::Run("QALV_PDF_HIDPI_CHILD=1 QT_SCALE_FACTOR=2 QT_QPA_PLATFORM=offscreen " +
                test::ShellQuote(std::filesystem::read_symlink("/proc/self/exe").string()) +
                " --gtest_filter=PdfViewerTest.HighDensityChild");
  EXPECT_EQ(child.exitCode, 0) << child.out << child.err;
  EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
}

// The main window's way into the viewer, after real openings.
class ShowPdfTest : public testing::Test {
 protected:
  void SetUp() override {
    trace::SetLogSink({});
    std::filesystem::create_directories(home_.path() / "qalvquv");
    test::StoreSealedChain(home_.path() / "qalvquv");
    driver_ = std::make_unique<test::ReaderDriver>(home_.path());
    ASSERT_TRUE(driver_->WaitUntilReady());
  }

  void Open(const test::Bytes& document) {
    writer::PackageSpec spec = test::SharedPackageSpec();
    spec.document.assign(document.begin(), document.end());
    const std::filesystem::path path = files_ / "policy.tpk";
    test::WriteFile(path, writer::BuildPackage(spec));
    const QString chosen = QString::fromStdString(path.string());
    driver_->window->SetFileChoosers([chosen] { return chosen; }, [](const QString&) { return QString(); });
    answers_.Password(QStringLiteral("test-password"));
    ASSERT_TRUE(driver_->CallPage(QStringLiteral("openTpk()")));
    ASSERT_EQ(driver_->window->Policy().decryptState, 0);
  }

  test::TempDir home_;
  test::TempDir files_;
  test::ModalAnswers answers_;
  std::unique_ptr<test::ReaderDriver> driver_;
};

TEST_F(ShowPdfTest, BeforeAnyDecryptionNothingIsShown) {
  // Any modal window would hold the call; one that came up is closed and noted.
  QString shown;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != driver_->window.get()) {
      shown = modal->metaObject()->className();
      modal->close();
    }
  });
  watch.start(10);
  driver_->window->JsShowPdf();
  EXPECT_EQ(shown, QString());
}

TEST_F(ShowPdfTest, DecryptedDocumentOpensTheViewerAndDamagedOneTheMessage) {
  Open(FivePages());
  int pages = -1;
  answers_.Push([&](QWidget* modal) {
    auto* viewer = qobject_cast<PDFDlg*>(modal);
    ASSERT_NE(viewer, nullptr) << modal->metaObject()->className();
    pages = viewer->Control().PageCount();
    viewer->reject();
  });
  driver_->window->JsShowPdf();
  EXPECT_EQ(pages, 5);
  EXPECT_TRUE(answers_.messages.empty());

  Open(test::Bytes{'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', 'x', 'y'});
  answers_.Message();
  driver_->window->JsShowPdf();
  ASSERT_TRUE(answers_.Done());
  EXPECT_EQ(answers_.messages, std::vector<QString>{QStringLiteral("錯誤|PDF資料有誤無法開啟")});
}

}  // namespace
}  // namespace qalv
