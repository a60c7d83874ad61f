// What the operations behind the page's buttons work on, for tests: a recording
// page, a scripted owner window, a policy state whose work folder already holds
// the test PKI's sealed CA chain (so no opening needs the network), and the
// window's members.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <filesystem>
#include <string>

#include "platform/sealed_storage.h"
#include "platform/trace.h"
#include "session/policy_state.h"
#include "tests/gui/support/recording_page.h"
#include "tests/support/fixtures.h"
#include "tests/support/recording_owner_window.h"
#include "tests/support/test_support.h"
#include "ui/reader_context.h"
#include "ui/shell/recent_file_list.h"

namespace qalv::test {

inline constexpr char kPassword[] = "test-password";

class ReaderFixture : public testing::Test {
 protected:
  void SetUp() override {
    trace::SetLogSink({});
    std::filesystem::create_directories(Work());
    window.password = kPassword;
    policy.ownerWindow = &window;
    policy.workFolder = Work().string() + "/";
    policy.trust = test::SharedTrust();
    policy.readerVersion = "1.2.8.0";
    StoreSealedChain(Work());
  }

  std::filesystem::path Work() const { return dir.path() / "work"; }

  // A file in the test folder, as a path for the window.
  QString Write(const std::string& name, const Bytes& bytes) {
    WriteFile(dir / name, bytes);
    return QString::fromStdString((dir / name).string());
  }
  QString Write(const std::string& name, const std::string& text) {
    WriteFile(dir / name, text);
    return QString::fromStdString((dir / name).string());
  }
  QString WritePackage(const std::string& name, const writer::PackageSpec& spec) {
    return Write(name, writer::BuildPackage(spec));
  }

  TempDir dir;
  RecordingOwnerWindow window;
  PolicyState policy;
  RecentFileList recent;
  RecordingPage page;
  QString policyPath;
  QString b64Data;
  QString dataPin;
  ReaderContext reader{page,
                       policy,
                       recent,
                       policyPath,
                       b64Data,
                       dataPin,
                       QString::fromStdString(Work().string() + "/")};

};

}  // namespace qalv::test
