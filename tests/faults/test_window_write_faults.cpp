// Every file the reader's window writes, failed at each step of its writing
// with a full disk, a refused access and an I/O error (the fault shim is
// linked into this program): the user is told which file or what and why, and
// the file that was there before is whole, with no temporary left beside it.
#include <gtest/gtest.h>

#include <QSettings>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "platform/system_error.h"
#include "tests/faults/fault_shim.h"
#include "tests/gui/support/reader_fixture.h"
#include "ui/backup_copy.h"
#include "ui/shell/saved_file.h"
#include "viewer/web_pdf_view.h"

namespace qalv {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

struct Step {
  QalvFaultStep step;
  const char* name;
};
constexpr Step kSteps[] = {{kQalvFaultOpen, "open"},
                           {kQalvFaultWrite, "write"},
                           {kQalvFaultSync, "fsync"},
                           {kQalvFaultRename, "rename"}};
constexpr int kErrors[] = {ENOSPC, EACCES, EIO};

// Arms the shim for one step and disarms it however the row ends.
class Fault {
 public:
  Fault(QalvFaultStep step, int error, const fs::path& file) { qalv_fault_arm(step, error, file.c_str()); }
  ~Fault() { qalv_fault_disarm(); }
  Fault(const Fault&) = delete;
  Fault& operator=(const Fault&) = delete;
};

class WindowWriteFaultsTest : public test::ReaderFixture {};

// Files the user keeps: a backup, a report or a certificate exported (both
// saved as SaveFile saves the desktop entry too), and the settings.
TEST_F(WindowWriteFaultsTest, KeptFilesStayWholeAndTheReasonIsShown) {
  policyPath = Write("policy.tpk", std::string(100000, 'p'));
  const struct {
    const char* name;
    // Writes `target` and returns the errno it reports (0 for success).
    std::function<int(const fs::path& target)> save;
    // QSettings renames its new file into place although flushing it failed:
    // the failure is still reported, and the file is the new one, whole.
    bool newFileAfterFailedFlush = false;
  } rows[] = {
      {"backup",
       [&](const fs::path& target) {
         window.messages.clear();
         CopyTpk(reader, [&](const QString&) { return QString::fromStdString(target.string()); });
         if (window.messages.size() != 1 || window.messages[0].caption != "錯誤") return 0;
         const std::string text = window.messages[0].text;
         for (const int error : kErrors) {
           if (text == "備份失敗：" + SystemErrorText(error)) return error;
         }
         ADD_FAILURE() << text;
         return -1;
       }},
      {"report, certificate, desktop entry",
       [](const fs::path& target) { return SaveFile(QString::fromStdString(target.string()), "new bytes"); }},
      {"settings",
       [](const fs::path& target) {
         QSettings settings(QString::fromStdString(target.string()), QSettings::IniFormat);
         settings.setValue(QStringLiteral("Recent File List/File1"), QStringLiteral("/new.tpk"));
         return SaveSettings(settings);
       },
       true},
  };
  int run = 0;
  for (const auto& row : rows) {
    for (const Step& step : kSteps) {
      for (const int error : kErrors) {
        SCOPED_TRACE(std::string(row.name) + ", " + step.name + ", " + SystemErrorText(error));
        const fs::path folder = dir / ("kept" + std::to_string(++run));
        fs::create_directories(folder);
        const fs::path target = folder / "kept.ini";
        const std::string before = "[Recent File List]\nFile1=/old.tpk\n";
        test::WriteFile(target, before);
        int reported = 0;
        {
          Fault fault(step.step, error, target);
          reported = row.save(target);
          EXPECT_GT(qalv_fault_fired(), 0) << "the fault was never met";
        }
        EXPECT_EQ(reported, error);
        const test::Bytes kept = test::ReadFile(target);
        if (row.newFileAfterFailedFlush && step.step == kQalvFaultSync) {
          EXPECT_NE(std::string(kept.begin(), kept.end()).find("File1=/new.tpk\n"), std::string::npos);
        } else {
          EXPECT_EQ(kept, test::Bytes(before.begin(), before.end()));
        }
        EXPECT_EQ(Names(folder), std::set<std::string>{"kept.ini"}) << "no temporary left";
      }
    }
  }
}

// The document's script for the browser: an unwritten one is said, and the
// browser is not started on whatever document was there before.
TEST_F(WindowWriteFaultsTest, DocumentScriptThatCannotBeWrittenIsToldAndNotShown) {
  const QString pdf = Write("in.pdf", std::string("%PDF-1.4 the document"));
  const fs::path script = Work() / "b64Pdf.js";
  for (const Step& step : {kSteps[0], kSteps[1]}) {
    for (const int error : kErrors) {
      SCOPED_TRACE(std::string(step.name) + ", " + SystemErrorText(error));
      test::WriteFile(script, std::string("var b64Pdf=\"an older document\";"));
      window.messages.clear();
      window.opened.clear();
      {
        Fault fault(step.step, error, script);
        OpenPdfInBrowser(pdf.toStdString(), policy.workFolder, window);
        EXPECT_GT(qalv_fault_fired(), 0) << "the fault was never met";
      }
      ASSERT_EQ(window.messages.size(), 1u);
      EXPECT_EQ(window.messages[0].caption, "錯誤");
      EXPECT_EQ(window.messages[0].text, WriteFailureText(script.string(), error));
      EXPECT_TRUE(window.opened.empty()) << "the browser would show the older document";
      EXPECT_FALSE(fs::exists(script)) << "no part of a script is left to be shown";
    }
  }
}

}  // namespace
}  // namespace qalv
