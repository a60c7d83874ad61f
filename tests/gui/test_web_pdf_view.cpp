// Handing a plain PDF to the browser: the script file the page reads, the
// page it opens, and what happens when the document cannot be read, encoded
// or written.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/recording_owner_window.h"
#include "tests/support/test_support.h"
#include "viewer/web_pdf_view.h"

namespace qalv {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::RecordingOwnerWindow;
using test::TempDir;

const std::string kHead = "var b64Pdf=\"";
const std::string kTail = "\";";
const std::string kPage = "<!DOCTYPE html><title>page</title>";
const std::string kBundle = "/* bundle */";

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A work folder as the window leaves it at start: the page and its bundle.
class WorkFolder {
 public:
  WorkFolder() {
    test::WriteFile(dir_ / "webPdf.htm", kPage);
    test::WriteFile(dir_ / "index.bundle.js", kBundle);
    pageTime_ = fs::last_write_time(dir_ / "webPdf.htm");
    bundleTime_ = fs::last_write_time(dir_ / "index.bundle.js");
  }
  std::string path() const { return dir_.path().string() + "/"; }
  fs::path script() const { return dir_ / "b64Pdf.js"; }
  fs::path operator/(const std::string& name) const { return dir_ / name; }

  void ExpectPageFilesUntouched() const {
    EXPECT_EQ(test::ReadFile(dir_ / "webPdf.htm"), BytesOf(kPage));
    EXPECT_EQ(test::ReadFile(dir_ / "index.bundle.js"), BytesOf(kBundle));
    EXPECT_EQ(fs::last_write_time(dir_ / "webPdf.htm"), pageTime_);
    EXPECT_EQ(fs::last_write_time(dir_ / "index.bundle.js"), bundleTime_);
  }

 private:
  TempDir dir_;
  fs::file_time_type pageTime_;
  fs::file_time_type bundleTime_;
};

void ExpectHandedToBrowser(const RecordingOwnerWindow& owner, const WorkFolder& work,
                           int times = 1) {
  EXPECT_TRUE(owner.messages.empty());
  EXPECT_EQ(owner.opened, std::vector<fs::path>(times, fs::path(work.path() + "webPdf.htm")));
  EXPECT_EQ(owner.closeRequests, times);
}

void ExpectToldAndStillOpen(const RecordingOwnerWindow& owner, const std::string& text) {
  ASSERT_EQ(owner.messages.size(), 1u);
  EXPECT_EQ(owner.messages[0].caption, "錯誤");
  EXPECT_EQ(owner.messages[0].text, text);
  EXPECT_EQ(owner.messages[0].buttons, OwnerWindow::Buttons::kOk);
  EXPECT_TRUE(owner.opened.empty());
  EXPECT_EQ(owner.closeRequests, 0);
}

// A real document: the demo policy, three pages of text in a CJK font.
Bytes MakePdf(const TempDir& dir) {
  const fs::path pdf = dir / "policy.pdf";
  const fs::path maker =
      test::TestDataDir().parent_path().parent_path() / "scripts" / "make-demo-document";
  const auto made = test::Run("/usr/bin/python3 " + test::ShellQuote(maker.string()) + " " +
                              test::ShellQuote(pdf.string()));
  if (made.exitCode != 0) ADD_FAILURE() << made.err;
  return test::ReadFile(pdf);
}

// The published vectors of RFC 4648 section 10, one per length class; the
// empty file gives the 14-byte frame alone, "foo" 18 bytes.
TEST(WebPdfView, ScriptIsTheBase64OfTheWholeFileInItsFrame) {
  const struct {
    const char* file;
    const char* base64;
  } kVectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& vector : kVectors) {
    SCOPED_TRACE(vector.file);
    WorkFolder work;
    test::WriteFile(work / "in.pdf", std::string(vector.file));
    RecordingOwnerWindow owner;
    OpenPdfInBrowser((work / "in.pdf").string(), work.path(), owner);
    EXPECT_EQ(test::ReadFile(work.script()), BytesOf(kHead + vector.base64 + kTail));
    ExpectHandedToBrowser(owner, work);
    work.ExpectPageFilesUntouched();
  }
}

// OpenSSL decodes what we wrote; every byte value and a real document.
TEST(WebPdfView, DocumentsComeBackWholeThroughOpenSsl) {
  TempDir source;
  Bytes everyByte;
  for (int i = 0; i < 1000; ++i) everyByte.push_back(static_cast<uint8_t>(i * 7 + i / 256));
  const struct {
    const char* name;
    Bytes content;
  } kDocuments[] = {{"every byte value", everyByte}, {"a real PDF", MakePdf(source)}};
  for (const auto& document : kDocuments) {
    SCOPED_TRACE(document.name);
    ASSERT_FALSE(document.content.empty());
    WorkFolder work;
    test::WriteFile(work / "in.pdf", document.content);
    RecordingOwnerWindow owner;
    OpenPdfInBrowser((work / "in.pdf").string(), work.path(), owner);
    const Bytes script = test::ReadFile(work.script());
    ASSERT_GE(script.size(), kHead.size() + kTail.size());
    EXPECT_EQ(Bytes(script.begin(), script.begin() + kHead.size()), BytesOf(kHead));
    EXPECT_EQ(Bytes(script.end() - kTail.size(), script.end()), BytesOf(kTail));
    const Bytes text(script.begin() + kHead.size(), script.end() - kTail.size());
    EXPECT_EQ(text.size(), (document.content.size() + 2) / 3 * 4);
    for (const uint8_t c : text) {
      ASSERT_TRUE(std::isalnum(c) || c == '+' || c == '/' || c == '=') << "byte " << int(c);
    }
    EXPECT_EQ(test::OpenSsl("base64 -d -A", text), document.content);
    ExpectHandedToBrowser(owner, work);
  }
}

// The page file is written over in place, so a shorter document must not
// keep the tail of a longer one.
TEST(WebPdfView, SecondDocumentReplacesTheFirst) {
  WorkFolder work;
  TempDir source;
  test::WriteFile(source / "long.pdf", MakePdf(source));
  test::WriteFile(source / "short.pdf", std::string("foo"));
  RecordingOwnerWindow owner;
  OpenPdfInBrowser((source / "long.pdf").string(), work.path(), owner);
  ASSERT_GT(fs::file_size(work.script()), 1000u);
  OpenPdfInBrowser((source / "short.pdf").string(), work.path(), owner);
  EXPECT_EQ(test::ReadFile(work.script()), BytesOf(kHead + "Zm9v" + kTail));
  ExpectHandedToBrowser(owner, work, 2);
  work.ExpectPageFilesUntouched();
}

TEST(WebPdfView, UnreadableFileIsReportedAndTheReaderStaysOpen) {
  const struct {
    const char* name;
    const char* file;
    bool earlierScript;  // a script from an earlier document is in the folder
  } kCases[] = {
      {"missing", "missing.pdf", false},
      {"missing, with an earlier document's script", "沒有這個檔案.pdf", true},
      {"a folder", "folder.pdf", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    WorkFolder work;
    fs::create_directory(work / "folder.pdf");
    const Bytes earlier = BytesOf(kHead + "Zm9v" + kTail);
    if (c.earlierScript) test::WriteFile(work.script(), earlier);
    const std::string path = (work / c.file).string();
    RecordingOwnerWindow owner;
    OpenPdfInBrowser(path, work.path(), owner);
    ExpectToldAndStillOpen(owner, path + "讀取失敗,");
    if (c.earlierScript) {
      EXPECT_EQ(test::ReadFile(work.script()), earlier);
    } else {
      EXPECT_FALSE(fs::exists(work.script()));
    }
    work.ExpectPageFilesUntouched();
  }
}

// Opening the page anyway would show whatever document was there before.
TEST(WebPdfView, UnwritableScriptIsReportedAndTheBrowserNotStarted) {
  WorkFolder work;
  fs::create_directory(work.script());
  test::WriteFile(work / "in.pdf", std::string("foo"));
  RecordingOwnerWindow owner;
  OpenPdfInBrowser((work / "in.pdf").string(), work.path(), owner);
  ExpectToldAndStillOpen(owner, work.script().string() + "寫入失敗,這是資料夾，不是檔案(21)");
}

// Caps the address space a little above what the process maps now, so that
// a 20 MiB document still fits and its 27 MiB Base64 text does not, then
// opens the document; 0 when the box was shown and nothing else happened.
int OpenUnderCap(const WorkFolder& work) {
  constexpr rlim_t kHeadRoom = 32u << 20;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  unsigned long pages = 0;
  if (statm == nullptr || std::fscanf(statm, "%lu", &pages) != 1) return 2;
  std::fclose(statm);
  const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + kHeadRoom;
  const rlimit cap{limit, limit};
  if (setrlimit(RLIMIT_AS, &cap) != 0) return 3;
  RecordingOwnerWindow owner;
  OpenPdfInBrowser((work / "in.pdf").string(), work.path(), owner);
  const bool told = owner.messages.size() == 1 && owner.messages[0].caption == "錯誤" &&
                    owner.messages[0].text == "配置保單記憶體錯誤";
  const bool stayed = owner.opened.empty() && owner.closeRequests == 0;
  return told && stayed && !fs::exists(work.script()) ? 0 : 1;
}

TEST(WebPdfView, NoMemoryForTheTextIsReportedAndNothingWritten) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any cap allows";
#endif
  WorkFolder work;
  test::WriteFile(work / "in.pdf", Bytes(20u << 20, 'x'));
  EXPECT_EXIT(std::_Exit(OpenUnderCap(work)), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qalv
