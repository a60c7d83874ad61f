// Bringing a file into the reader from the command line or the open dialog:
// PDF files go to the browser page, everything else is rendered as a policy,
// and the recent menu follows.
#include <gtest/gtest.h>

#include <string>

#include "tests/gui/support/reader_fixture.h"
#include "ui/opening_commands.h"

namespace qalv {
namespace {

TEST(IsPdfPath, LooksAtTheLastFourCharactersInAnyCase) {
  const struct {
    const char* path;
    bool pdf;
  } rows[] = {{"/home/u/doc.pdf", true},
              {"/home/u/DOC.PDF", true},
              {"a.Pdf", true},
              {".pdf", true},
              {".PDF", true},
              {"pdf", false},
              {"df", false},
              {"", false},
              {"/home/u/a.pdf.tpk", false},
              {"/home/u/a.pdfx", false},
              {"/dir.pdf/a.tpk", false},
              {"/home/u/apdf", false},
              {"/home/u/a.pdf ", false}};
  for (const auto& row : rows) EXPECT_EQ(IsPdfPath(row.path), row.pdf) << '"' << row.path << '"';
}

TEST(FileArgument, TakesTheFirstArgumentThatIsNoOption) {
  const struct {
    QStringList arguments;
    const char* file;
  } rows[] = {{{"quv-reader", "/home/u/a.tpk"}, "/home/u/a.tpk"},
              {{"quv-reader", "/home/u/my policy.tpk"}, "/home/u/my policy.tpk"},
              {{"quv-reader", "a.tpk", "b.tpk"}, "a.tpk"},
              {{"quv-reader", "--unknown", "a.tpk"}, "a.tpk"},
              {{"quv-reader", "-x", "/x/\"quoted\".tpk"}, "/x/\"quoted\".tpk"},
              {{"quv-reader", "--", "-dash.tpk", "b.tpk"}, "-dash.tpk"},
              {{"quv-reader", "--"}, ""},
              {{"quv-reader", "-v"}, ""},
              {{"quv-reader"}, ""}};
  for (const auto& row : rows) {
    EXPECT_EQ(FileArgument(row.arguments), row.file) << row.arguments.join(u' ').toStdString();
  }
}

class OpeningCommandsTest : public test::ReaderFixture {
 protected:
  void SetUp() override {
    test::ReaderFixture::SetUp();
    recent.Add("/earlier.tpk");
    policyPath = "/earlier.tpk";
  }

  // The PDF went to the browser page: its Base64 script is in the work folder
  // and the window was asked to close, with the page and the list untouched.
  void ExpectSentToBrowser(const test::Bytes& pdf) {
    const test::Bytes encoded = test::OpenSsl("base64 -A", pdf);
    std::string base64(encoded.begin(), encoded.end());
    while (!base64.empty() && base64.back() == '\n') base64.pop_back();
    const test::Bytes script = test::ReadFile(Work() / "b64Pdf.js");
    EXPECT_EQ(std::string(script.begin(), script.end()), "var b64Pdf=\"" + base64 + "\";");
    EXPECT_EQ(window.closeRequests, 1);
    EXPECT_TRUE(page.writes.empty()) << "the menu is not filled: the reader is closing";
    EXPECT_EQ(recent.Slot(0), "/earlier.tpk");
    EXPECT_EQ(recent.Slot(1), "");
  }

  // The file was rendered, then the menu rebuilt with it on top.
  void ExpectRendered(const QString& path) {
    EXPECT_EQ(policyPath, path);
    ASSERT_FALSE(page.writes.empty());
    EXPECT_EQ(page.writes.front(), test::Text("statusLead", ""))
        << "the render starts by clearing the page";
    EXPECT_EQ(page.writes.back(), test::Menu("menuPad", {path, "/earlier.tpk"}));
    EXPECT_EQ(window.closeRequests, 0);
  }

  const test::Bytes pdf_ = [] {
    const std::string text = "%PDF-1.4\n% not much of a document\n%%EOF\n";
    return test::Bytes(text.begin(), text.end());
  }();
};

TEST_F(OpeningCommandsTest, PdfOnTheCommandLineGoesToTheBrowser) {
  const QString path = Write("Plain Doc.PDF", pdf_);
  InitFromCommandLine(reader, path);
  EXPECT_EQ(policyPath, path);
  ExpectSentToBrowser(pdf_);
}

TEST_F(OpeningCommandsTest, PolicyOnTheCommandLineIsRenderedThenTheMenuFilled) {
  const QString path = WritePackage("my policy.tpk", test::SharedPackageSpec());
  InitFromCommandLine(reader, path);
  ExpectRendered(path);
  EXPECT_EQ(page.LastStyle("status", "color"), "Black");
}

TEST_F(OpeningCommandsTest, NoFileOnTheCommandLineOnlyFillsTheMenu) {
  for (const char* raw : {"", "   "}) {
    SCOPED_TRACE(raw);
    page.writes.clear();
    InitFromCommandLine(reader, raw);
    EXPECT_EQ(page.writes,
              std::vector<test::PageWrite>{test::Menu("menuPad", {"/earlier.tpk"})});
    EXPECT_EQ(policyPath, "/earlier.tpk");
    EXPECT_TRUE(window.passwordRequests.empty());
  }
}

TEST_F(OpeningCommandsTest, ChosenPolicyIsRenderedThenTheMenuRebuilt) {
  const QString path = WritePackage("chosen.tpk", test::SharedPackageSpec());
  OpenChosenFile(reader, path);
  ExpectRendered(path);
}

TEST_F(OpeningCommandsTest, ChosenPdfGoesToTheBrowser) {
  const QString path = Write("chosen.pdf", pdf_);
  OpenChosenFile(reader, path);
  EXPECT_EQ(policyPath, path);
  ExpectSentToBrowser(pdf_);
}

}  // namespace
}  // namespace qalv
