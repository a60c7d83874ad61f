// `tpk cert` against OpenSSL's reading of the same certificates: every
// certificate of the system trust store, and certificates made here with
// OpenSSL's command line. The expected verdict is worked out from what OpenSSL
// reports, never from our own answers.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace qalv {
namespace {

using test::ShellQuote;
using Name = std::vector<std::pair<std::string, std::string>>;

// Splits every certificate of the PEM files given into its own DER file (each
// certificate once, named by its digest), and beside each leaves OpenSSL's
// reading (.openssl, .asn1) and the answer of `tpk cert` (.json, .rc).
constexpr const char* kSurveyScript = R"sh(
out="$1"; tpk="$2"; shift 2
i=0
for f in "$@"; do
  [ -f "$f" ] || continue
  i=$((i + 1))
  awk -v stem="$out/block$i-" '
    /-----BEGIN CERTIFICATE-----/ { n++; name = stem n ".pem" }
    name != "" { print > name }
    /-----END CERTIFICATE-----/ { close(name); name = "" }' "$f"
done
for b in "$out"/block*.pem; do
  [ -e "$b" ] || continue
  sum=$(sha256sum < "$b" | cut -c1-16)
  [ -e "$out/$sum.der" ] || openssl x509 -in "$b" -outform DER -out "$out/$sum.der" || echo "unreadable $b" >&2
  rm "$b"
done
# Two lanes: most of the time goes into starting processes.
ls "$out"/*.der | xargs -P 2 -n 1 sh -c '
  s="${1%.der}"
  openssl x509 -inform DER -in "$1" -noout -nameopt sep_multiline,oid,utf8 -dateopt iso_8601 \
    -serial -subject -issuer -dates -text > "$s.openssl"
  openssl asn1parse -inform DER -in "$1" > "$s.asn1"
  "$0" cert "$1" > "$s.json" 2> "$s.err"
  echo $? > "$s.rc"' "$tpk"
)sh";

std::string ReadText(const std::filesystem::path& path) {
  const test::Bytes bytes = test::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string WithoutColons(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ':'), text.end());
  return text;
}

std::string WithoutLeadingZeros(const std::string& hex) {
  const size_t first = hex.find_first_not_of('0');
  return first == std::string::npos ? "0" : hex.substr(first);
}

// What OpenSSL reads in one certificate.
struct OpensslView {
  std::string serial;
  Name subject;
  Name issuer;
  std::string notBefore;
  std::string notAfter;
  int version = 0;
  std::string signatureAlgorithm;
  std::string publicKeyAlgorithm;
  int keyBits = 0;
  uint64_t exponent = 0;
  bool ca = false;
  std::string subjectKeyId;
  std::string authorityKeyId;
  bool authorityNamesIssuer = false;  // AuthorityKeyIdentifier with a DirName
  bool uniqueIds = false;
  int tbsLength = 0;
  int signatureLength = 0;
};

// "    oid=value" lines after "subject=" / "issuer=".
size_t ReadName(const std::vector<std::string>& lines, size_t at, Name& name) {
  for (; at < lines.size() && StartsWith(lines[at], "    "); ++at) {
    const std::string entry = lines[at].substr(4);
    const size_t eq = entry.find('=');
    name.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
  }
  return at;
}

// "2007-06-29 15:13:05Z" as "2007-06-29T15:13:05Z".
std::string IsoTime(std::string text) {
  std::replace(text.begin(), text.end(), ' ', 'T');
  return text;
}

OpensslView ReadOpenssl(const std::string& x509Text, const std::string& asn1Text) {
  OpensslView v;
  const std::vector<std::string> lines = Lines(x509Text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::string t = Trim(line);
    const std::string next = i + 1 < lines.size() ? Trim(lines[i + 1]) : "";
    if (StartsWith(line, "serial=")) v.serial = line.substr(7);
    if (line == "subject=") i = ReadName(lines, i + 1, v.subject) - 1;
    if (line == "issuer=") i = ReadName(lines, i + 1, v.issuer) - 1;
    if (StartsWith(line, "notBefore=")) v.notBefore = IsoTime(line.substr(10));
    if (StartsWith(line, "notAfter=")) v.notAfter = IsoTime(line.substr(9));
    if (StartsWith(t, "Version: ")) v.version = std::stoi(t.substr(9));
    if (StartsWith(t, "Signature Algorithm: ") && v.signatureAlgorithm.empty())
      v.signatureAlgorithm = t.substr(21);
    if (StartsWith(t, "Public Key Algorithm: ")) v.publicKeyAlgorithm = t.substr(22);
    if (StartsWith(t, "Public-Key: (")) v.keyBits = std::stoi(t.substr(13));
    if (StartsWith(t, "Exponent: ")) v.exponent = std::stoull(t.substr(10));
    if (StartsWith(t, "X509v3 Basic Constraints:"))
      v.ca = next.find("CA:TRUE") != std::string::npos;
    if (StartsWith(t, "X509v3 Subject Key Identifier:")) v.subjectKeyId = WithoutColons(next);
    if (t.find("Unique ID") != std::string::npos) v.uniqueIds = true;
    if (StartsWith(t, "X509v3 Authority Key Identifier:")) {
      const size_t indent = line.find_first_not_of(' ');
      for (size_t j = i + 1; j < lines.size() && lines[j].find_first_not_of(' ') > indent; ++j) {
        const std::string field = Trim(lines[j]);
        if (StartsWith(field, "DirName:")) v.authorityNamesIssuer = true;
        if (StartsWith(field, "keyid:")) v.authorityKeyId = WithoutColons(field.substr(6));
        if (field.find_first_not_of("0123456789ABCDEF:") == std::string::npos)
          v.authorityKeyId = WithoutColons(field);
      }
    }
  }
  // Element lines: "  4:d=1  hl=4 l= 656 cons: SEQUENCE"; the first at depth 1
  // is the TBS part, the last the signature BIT STRING.
  for (const std::string& line : Lines(asn1Text)) {
    if (line.find("d=1 ") == std::string::npos) continue;
    const int header = std::stoi(line.substr(line.find("hl=") + 3));
    const int length = std::stoi(line.substr(line.find(" l=") + 3));
    if (v.tbsLength == 0) v.tbsLength = header + length;
    v.signatureLength = length - 1;
  }
  return v;
}

// The PKCS #1 signature algorithms the reader takes (md2 .. sha256).
const std::map<std::string, std::string> kAcceptedSignatures = {
    {"md2WithRSAEncryption", "1.2.840.113549.1.1.2"},
    {"md4WithRSAEncryption", "1.2.840.113549.1.1.3"},
    {"md5WithRSAEncryption", "1.2.840.113549.1.1.4"},
    {"sha1WithRSAEncryption", "1.2.840.113549.1.1.5"},
    {"sha256WithRSAEncryption", "1.2.840.113549.1.1.11"}};

int ExpectedResult(const OpensslView& v) {
  // RSASSA-PSS carries parameters where only NULL is allowed.
  if (v.signatureAlgorithm == "rsassaPss") return 0xD6;
  if (kAcceptedSignatures.count(v.signatureAlgorithm) == 0) return 0x1A0;
  if (v.publicKeyAlgorithm != "rsaEncryption") return 0x1C0;
  // Only [0] .. [2] primitive fields are read; GeneralNames come as [1] constructed.
  if (v.authorityNamesIssuer) return 0x176;
  return 0;
}

Name NameOf(const Json::Value& entries) {
  Name name;
  for (const Json::Value& e : entries) name.emplace_back(e[0].asString(), e[1].asString());
  return name;
}

struct Tally {
  int accepted = 0;
  std::map<int, int> refused;
};

// One surveyed certificate: `tpk cert`'s answer against OpenSSL's reading.
void CheckCertificate(const std::filesystem::path& stem, Tally& tally) {
  const auto file = [&stem](const char* ext) { return std::filesystem::path(stem.string() + ext); };
  const OpensslView v = ReadOpenssl(ReadText(file(".openssl")), ReadText(file(".asn1")));
  std::string label;
  for (const auto& [oid, value] : v.subject) label += oid + "=" + value + " ";
  SCOPED_TRACE(label);

  const int exitCode = std::stoi(ReadText(file(".rc")));
  ASSERT_TRUE(exitCode == 0 || exitCode == 1)
      << "exit " << exitCode << ": " << ReadText(file(".err"));
  Json::Value answer;
  std::istringstream in(ReadText(file(".json")));
  ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &answer, nullptr));
  const int result = answer["result"].asInt();
  EXPECT_EQ(exitCode, result == 0 ? 0 : 1);
  EXPECT_EQ(result, ExpectedResult(v)) << v.signatureAlgorithm << " " << v.publicKeyAlgorithm;
  if (result != 0) {
    EXPECT_EQ(answer.size(), 1u) << "a refusal carries the code alone";
    ++tally.refused[result];
    return;
  }
  ++tally.accepted;
  EXPECT_EQ(answer["version"].asInt(), v.version);
  EXPECT_EQ(WithoutLeadingZeros(answer["serial"].asString()), WithoutLeadingZeros(v.serial));
  EXPECT_EQ(answer["sigAlgorithm"].asString(), kAcceptedSignatures.at(v.signatureAlgorithm));
  EXPECT_EQ(answer["sigAlgorithm2"].asString(), answer["sigAlgorithm"].asString());
  EXPECT_EQ(answer["publicKeyAlgorithm"].asString(), "1.2.840.113549.1.1.1");
  EXPECT_EQ(NameOf(answer["subject"]), v.subject);
  EXPECT_EQ(NameOf(answer["issuer"]), v.issuer);
  EXPECT_EQ(answer["notBefore"].asString(), v.notBefore);
  EXPECT_EQ(answer["notAfter"].asString(), v.notAfter);
  EXPECT_EQ(answer["keyBits"].asInt(), v.keyBits);
  EXPECT_EQ(answer["exponent"].asUInt64(), v.exponent);
  EXPECT_EQ(answer["subjectKeyId"].asString(), v.subjectKeyId);
  EXPECT_EQ(answer["authorityKeyId"].asString(), v.authorityKeyId);
  EXPECT_EQ(answer["isCa"].asInt(), v.ca ? 1 : 0);
  EXPECT_EQ(answer["selfSigned"].asInt(),
            v.version == 3 && v.subjectKeyId == v.authorityKeyId ? 1 : 0);
  if (!v.uniqueIds) {
    EXPECT_EQ(answer["issuerUniqueId"].asString(), "");
    EXPECT_EQ(answer["subjectUniqueId"].asString(), "");
  }
  EXPECT_EQ(answer["tbsLength"].asInt(), v.tbsLength);
  EXPECT_EQ(answer["signatureLength"].asInt(), v.signatureLength);
}

// Runs the survey over `pemFiles` and checks each certificate.
Tally Survey(const std::vector<std::string>& pemFiles) {
  test::TempDir dir;
  test::WriteFile(dir / "survey.sh", std::string(kSurveyScript));
  std::string command = "sh " + ShellQuote((dir / "survey.sh").string()) + " " +
                        ShellQuote(dir.path().string()) + " " + ShellQuote(test::TpkPath());
  for (const std::string& f : pemFiles) {
    command += ' ';
    command += ShellQuote(f);
  }
  const test::CommandResult run = test::Run(command);
  EXPECT_EQ(run.err.find("unreadable"), std::string::npos) << run.err;

  Tally tally;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    if (entry.path().extension() != ".der") continue;
    CheckCertificate(entry.path().parent_path() / entry.path().stem(), tally);
  }
  return tally;
}

std::string Describe(const Tally& tally) {
  std::ostringstream out;
  out << tally.accepted << " accepted";
  for (const auto& [code, count] : tally.refused)
    out << ", " << count << " refused 0x" << std::hex << code << std::dec;
  return out.str();
}

TEST(TpkCertAgainstOpenssl, EveryTrustStoreCertificate) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator("/etc/ssl/certs")) {
    const std::string ext = entry.path().extension().string();
    if (entry.is_regular_file() && (ext == ".pem" || ext == ".crt"))
      files.push_back(entry.path().string());
  }
  if (files.empty()) GTEST_SKIP() << "no trust store in /etc/ssl/certs";
  const Tally tally = Survey(files);
  RecordProperty("verdicts", Describe(tally));
  std::cout << "trust store: " << Describe(tally) << "\n";
  EXPECT_GT(tally.accepted, 0);
}

// Certificates the trust store may lack: version 1, issued (not self-signed)
// ones, non-ASCII names in each string type OpenSSL writes, SHA-1 and MD5, an
// elliptic-curve key under an RSA signature, and a DirName in the
// AuthorityKeyIdentifier.
TEST(TpkCertAgainstOpenssl, CertificatesMadeByOpenssl) {
  test::TempDir dir;
  const std::string script = R"sh(
set -e
cd "$1"
openssl genrsa -out ca.key 2048 2>/dev/null
openssl genrsa -out leaf.key 1024 2>/dev/null
openssl ecparam -name prime256v1 -genkey -noout -out ec.key
conf() { # name mask subject extensions
  printf '[req]\ndistinguished_name=dn\nprompt=no\nutf8=yes\nstring_mask=%s\n[dn]\n%s\n[ext]\n%s\n' "$2" "$3" "$4" > "$1.cnf"
}
conf ca utf8only 'C=TW
O=QALV 測試
CN=Root 😀' 'basicConstraints=critical,CA:TRUE
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid'
openssl req -x509 -new -key ca.key -config ca.cnf -extensions ext -days 30 -set_serial 0x00FEDC -out ca.pem
serial=100
issue() { # name key digest mask subject extensions
  conf "$1" "$4" "$5" "$6"
  serial=$((serial + 1))
  openssl req -new -key "$2" -config "$1.cnf" -out "$1.csr"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -"$3" -days 20 -set_serial "$serial" \
    -extfile "$1.cnf" -extensions ext -out "$1.pem" 2>/dev/null
}
issue bmp leaf.key sha256 'MASK:0x800' 'CN=保單測試
O=Ünïcode' 'basicConstraints=critical,CA:FALSE
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid'
issue t61 leaf.key sha1 'MASK:0x4' 'CN=Café
C=FR' 'basicConstraints=CA:TRUE,pathlen:0
subjectKeyIdentifier=hash'
issue md5 leaf.key md5 utf8only 'CN=md5 leaf' 'authorityKeyIdentifier=keyid'
issue dirname leaf.key sha256 utf8only 'CN=names its issuer' 'authorityKeyIdentifier=keyid,issuer:always'
issue ec ec.key sha256 utf8only 'CN=elliptic leaf' 'basicConstraints=CA:FALSE'
issue sha384 leaf.key sha384 utf8only 'CN=sha384 leaf' 'basicConstraints=CA:FALSE'
openssl req -new -key leaf.key -subj '/CN=version one' -out v1.csr
openssl x509 -req -in v1.csr -signkey leaf.key -days 10 -out v1.pem 2>/dev/null
openssl req -x509 -new -key ec.key -subj '/CN=ecdsa root' -days 10 -out ecroot.pem
)sh";
  test::WriteFile(dir / "make.sh", std::string(script));
  const test::CommandResult made = test::Run("sh " + ShellQuote((dir / "make.sh").string()) + " " +
                                             ShellQuote(dir.path().string()));
  ASSERT_EQ(made.exitCode, 0) << made.err;

  std::vector<std::string> files;
  for (const char* name : {"ca", "bmp", "t61", "md5", "dirname", "ec", "sha384", "v1", "ecroot"}) {
    files.push_back((dir / (std::string(name) + ".pem")).string());
  }
  const Tally tally = Survey(files);
  EXPECT_EQ(tally.accepted, 5) << Describe(tally);  // ca, bmp, t61, md5, v1
  EXPECT_EQ(tally.refused, (std::map<int, int>{{0x176, 1}, {0x1A0, 2}, {0x1C0, 1}}))
      << Describe(tally);
}

TEST(TpkCert, UnreadableFileOrNoFileIsAUsageError) {
  const test::CommandResult missing =
      test::Run(ShellQuote(test::TpkPath()) + " cert /nonexistent/cert.der");
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.out, "");
  const test::CommandResult directory = test::Run(ShellQuote(test::TpkPath()) + " cert /");
  EXPECT_EQ(directory.exitCode, 2);
  const test::CommandResult noFile = test::Run(ShellQuote(test::TpkPath()) + " cert");
  EXPECT_EQ(noFile.exitCode, 2);
  EXPECT_EQ(noFile.out, "");
}

}  // namespace
}  // namespace qalv
