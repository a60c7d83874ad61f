// The trust folder: which folders are in force, which files of them are read
// and which are skipped (with a line on standard error), and when a
// certificate matches a trusted one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "writer/test_pki.h"
#include "x509/trust_anchors.h"

namespace qalv {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Sets or clears an environment variable for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(TrustFolders, LookupOrder) {
  const struct {
    const char* name;
    std::optional<std::string> explicitFolder;
    std::optional<std::string> environment;
    std::optional<std::string> xdgConfigHome;
    std::vector<std::string> folders;
  } rows[] = {
      {"option first", "/opt/t", "/env/t", "/xdg", {"/opt/t"}},
      {"environment alone", {}, "/env/t", "/xdg", {"/env/t"}},
      {"empty environment is unset", {}, "", "/xdg", {"/xdg/QALV/trust", "/usr/share/qalv/trust"}},
      {"per-user and installed", {}, {}, "/xdg", {"/xdg/QALV/trust", "/usr/share/qalv/trust"}},
      {"per-user under the home", {}, {}, {}, {"/home/u/.config/QALV/trust",
                                              "/usr/share/qalv/trust"}},
      {"relative config home ignored", {}, {}, "rel", {"/home/u/.config/QALV/trust",
                                                       "/usr/share/qalv/trust"}},
  };
  const ScopedEnvironment home("HOME", "/home/u");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ScopedEnvironment environment("QALV_TRUST_DIR", row.environment);
    const ScopedEnvironment xdg("XDG_CONFIG_HOME", row.xdgConfigHome);
    std::optional<fs::path> explicitFolder;
    if (row.explicitFolder) explicitFolder = *row.explicitFolder;
    std::vector<std::string> folders;
    for (const fs::path& folder : TrustFolders(explicitFolder, "/usr/bin/")) {
      folders.push_back(folder.string());
    }
    EXPECT_EQ(folders, row.folders);
  }
}

// Every kind of file a distributor or a user may put there, and what does
// not belong: only whole, readable certificate files count.
TEST(LoadTrustAnchors, ReadsCertificateFilesAndSkipsTheRest) {
  const writer::TestPki& pki = test::SharedPki();
  const std::string rootPem = writer::CertificatePem(pki.root.certificate);
  const std::string intermediatePem = writer::CertificatePem(pki.intermediate.certificate);
  test::TempDir dir;
  fs::create_directories(dir / "anchors" / "sub");
  fs::create_directories(dir / "authority");
  const struct {
    const char* name;
    Bytes bytes;
    size_t read;    // certificates taken from it
    bool skipped;   // named on standard error
  } files[] = {
      {"anchors/root.pem", Text(rootPem), 1, false},
      {"anchors/bundle.pem", Text("comment\n" + rootPem + intermediatePem), 2, false},
      {"anchors/root.der", pki.root.certificate, 1, false},
      {"anchors/root.cer", Text(rootPem), 1, false},
      {"anchors/two.crt", Text(rootPem + intermediatePem), 0, true},
      {"anchors/der.pem", pki.root.certificate, 0, true},
      {"anchors/bad-body.pem", Text("-----BEGIN CERTIFICATE-----\n!!\n-----END CERTIFICATE-----\n"),
       0, true},
      {"anchors/unterminated.pem", Text(rootPem.substr(0, rootPem.size() - 30)), 0, true},
      {"anchors/half-bad.pem", Text(rootPem + "-----BEGIN CERTIFICATE-----\nMIIB\n-----END "
                                              "CERTIFICATE-----\n"), 0, true},
      {"anchors/garbage.crt", Text("not a certificate"), 0, true},
      {"anchors/empty.der", Text(""), 0, true},
      {"anchors/notes.txt", Text(rootPem), 0, false},
      {"anchors/sub/nested.pem", Text(rootPem), 0, false},
      {"authority/authority.pem", Text(writer::CertificatePem(pki.authority.certificate)), 1,
       false},
  };
  size_t anchors = 0;
  for (const auto& file : files) {
    test::WriteFile(dir / file.name, file.bytes);
    if (std::string(file.name).starts_with("anchors/")) anchors += file.read;
  }
  fs::create_directory(dir / "anchors" / "folder.pem");

  testing::internal::CaptureStderr();
  const TrustAnchors trust = LoadTrustAnchors({dir.path(), dir / "absent"});
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(trust.anchors.size(), anchors);
  ASSERT_EQ(trust.authority.size(), 1u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    EXPECT_EQ(err.find((dir / file.name).string()) != std::string::npos, file.skipped) << err;
  }
}

TEST(MatchesTrusted, SameBytesOrSameNameAndKey) {
  const writer::TestPki& pki = test::SharedPki();
  writer::CertificateSpec spec;
  spec.subject = pki.root.subject;
  spec.isCa = true;
  spec.notBefore = "20200101000000";
  spec.notAfter = "20401231235959";
  const writer::Identity reissued = writer::IssueCertificate(spec, pki.root.key, nullptr);
  const writer::Identity otherKey = writer::IssueCertificate(spec, pki.authority.key, nullptr);
  spec.subject = "CN=Another Root,O=QALV Test,C=TW";
  const writer::Identity otherName = writer::IssueCertificate(spec, pki.root.key, nullptr);

  CertificateList trusted;
  ASSERT_EQ(ParseCertificate(trusted, pki.root.certificate.data(), pki.root.certificate.size()), 0);
  const struct {
    const char* name;
    const Bytes& certificate;
    bool matches;
  } rows[] = {
      {"the same certificate", pki.root.certificate, true},
      {"issued again", reissued.certificate, true},
      {"its name over another key", otherKey.certificate, false},
      {"its key under another name", otherName.certificate, false},
      {"a certificate it issued", pki.intermediate.certificate, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CertificateList list;
    ASSERT_EQ(ParseCertificate(list, row.certificate.data(), row.certificate.size()), 0);
    EXPECT_EQ(MatchesTrusted(list.front(), trusted), row.matches);
    EXPECT_FALSE(MatchesTrusted(list.front(), {}));
  }
}

// Every subcommand takes the option, before or after its name.
TEST(TpkTrustDir, AcceptedByEverySubcommand) {
  const std::string trust = test::ShellQuote(test::SharedTrustDir().string());
  test::TempDir dir;
  test::WriteFile(dir / "root.der", test::SharedPki().root.certificate);
  const std::string cert = test::ShellQuote((dir / "root.der").string());
  EXPECT_EQ(test::RunTpk("cert " + cert + " --trust-dir " + trust).exitCode, 0);
  EXPECT_EQ(test::RunTpk("--trust-dir " + trust + " cert " + cert).exitCode, 0);
}

}  // namespace
}  // namespace qalv
