// "詳細資料" in the real window: each group's link opens the details of its
// own signer, the exported certificate is the package's, and the report holds
// the verdict, the fingerprints and the package's SHA-256 but never the
// document.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <cctype>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/trace.h"
#include "tests/gui/support/reader_driver.h"
#include "tests/gui/support/sample_pdf.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

std::string Text(const test::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// "AB:CD:…" as `openssl x509 -fingerprint -sha256` prints it.
std::string OpenSslFingerprint(const test::Bytes& der) {
  const std::string out = Text(test::OpenSsl("x509 -inform DER -noout -fingerprint -sha256", der));
  const size_t equals = out.find('=');
  return equals == std::string::npos ? out : out.substr(equals + 1, out.find_first_of("\r\n") - equals - 1);
}

class SignerDetailsTest : public testing::Test {
 protected:
  void SetUp() override {
    trace::SetLogSink({});
    test::StoreSealedChain(home_.path() / "qalvquv");
    spec_.document = test::SamplePdf(2, "    c.drawString(72, 700, 'Confidential clause Zanzibar %d' % i)\n");
    ASSERT_FALSE(spec_.document.empty());
    package_ = files_.path() / "policy.tpk";
    test::WriteFile(package_, writer::BuildPackage(spec_));
    driver_.emplace(home_.path());
    ASSERT_TRUE(driver_->WaitUntilReady());
    const QString path = QString::fromStdString(package_.string());
    driver_->window->SetFileChoosers([path] { return path; }, [](const QString&) { return QString(); });
    driver_->window->SetExportChooser([this](const QString&, const QString& filter) {
      return QString::fromStdString((files_.path() / (filter.contains(u"pdf") ? "report.pdf" : "signer.pem")).string());
    });
    answers_.Password(QStringLiteral("test-password"));
    ASSERT_TRUE(driver_->CallPage(QStringLiteral("openTpk()")));
    ASSERT_TRUE(driver_->Shown("status").startsWith(QStringLiteral("本保單已通過")));
  }

  // Opens `signer`'s details through its link and runs `look` on the dialog,
  // which then closes.
  void WithDetails(const char* signer, const std::function<void(QDialog&)>& look) {
    bool looked = false;
    answers_.Push([&](QWidget* dialog) {
      look(*qobject_cast<QDialog*>(dialog));
      looked = true;
      dialog->findChild<QPushButton*>(QStringLiteral("close"))->click();
    });
    ASSERT_TRUE(driver_->CallPage(QStringLiteral("showSignerDetails('%1')").arg(QLatin1String(signer))));
    EXPECT_TRUE(looked) << signer;
  }

  // Presses an export button and answers the box that tells the outcome.
  void Export(QDialog& dialog, const char* button) {
    test::ModalAnswers told;
    told.Message();
    dialog.findChild<QPushButton*>(QLatin1String(button))->click();
    ASSERT_EQ(told.messages.size(), 1u);
    EXPECT_TRUE(told.messages[0].startsWith(QStringLiteral("資訊|"))) << told.messages[0].toStdString();
  }

  test::TempDir home_;
  test::TempDir files_;
  writer::PackageSpec spec_ = test::SharedPackageSpec();
  std::filesystem::path package_;
  test::ModalAnswers answers_;
  std::optional<test::ReaderDriver> driver_;
};

TEST_F(SignerDetailsTest, EachLinkShowsItsSignerAndExportsItsCertificate) {
  const struct {
    const char* signer;
    const char* title;
    const test::Bytes& certificate;
  } rows[] = {
      {"s1", "保單內容電子簽章", spec_.s1.signer.certificate},
      {"s2", "保單封包電子簽章", spec_.s2.signer.certificate},
      {"s3", "QALV第三方認證電子簽章", spec_.s3.signer.certificate},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.signer);
    WithDetails(row.signer, [&](QDialog& dialog) {
      EXPECT_EQ(dialog.windowTitle(), QStringLiteral("簽章詳細資料"));
      EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("signature"))->text(), QString::fromUtf8(row.title));
      EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("fingerprint"))->text().toStdString(),
                OpenSslFingerprint(row.certificate));
      const auto* path = dialog.findChild<QTreeWidget*>(QStringLiteral("path"));
      ASSERT_NE(path, nullptr);
      ASSERT_EQ(path->topLevelItemCount(), 1);
      EXPECT_TRUE(path->topLevelItem(0)->text(0).contains(QStringLiteral("信任的根憑證")));
      Export(dialog, "exportCertificate");
    });
    const test::Bytes exported = test::ReadFile(files_.path() / "signer.pem");
    EXPECT_EQ(test::OpenSsl("x509 -inform PEM -outform DER", exported), row.certificate);
  }
}

TEST_F(SignerDetailsTest, ReportHoldsTheVerdictAndFingerprintsButNotTheDocument) {
  WithDetails("s3", [&](QDialog& dialog) { Export(dialog, "exportReport"); });
  const std::filesystem::path report = files_.path() / "report.pdf";
  ASSERT_TRUE(std::filesystem::exists(report));
  const test::CommandResult text = test::Run("pdftotext -enc UTF-8 " + test::ShellQuote(report.string()) + " -");
  ASSERT_EQ(text.exitCode, 0);
  const std::string packageHash = [&] {
    std::string out = Text(test::OpenSsl("dgst -sha256 -r", test::ReadFile(package_)));
    out = out.substr(0, out.find(' '));
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
  }();
  // Long hexadecimal lines may wrap: compare without white space.
  std::string shown = text.out;
  std::erase_if(shown, [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; });
  for (const std::string& expected :
       {packageHash, OpenSslFingerprint(spec_.s1.signer.certificate), OpenSslFingerprint(spec_.s3.signer.certificate),
        std::string("本保單已通過"), std::string("policy.tpk")}) {
    EXPECT_NE(shown.find(expected), std::string::npos) << expected << " not in\n" << text.out;
  }
  EXPECT_EQ(text.out.find("Zanzibar"), std::string::npos) << "the document's text is in the report";
}

}  // namespace
}  // namespace qalv
