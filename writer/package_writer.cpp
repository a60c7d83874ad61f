#include "writer/package_writer.h"

#include <stdexcept>

#include <mbedtls/aes.h>

#include "writer/crypto.h"
#include "writer/sample_images.h"

namespace qalv::writer {
namespace {

constexpr uint16_t kSealSize = 96;

DerNode CertificateElement(std::string name, const SignatureSpec& spec) {
  if (spec.signer.certificate.empty()) throw std::invalid_argument(name + ": no certificate");
  return BitString(std::move(name), spec.certificateAsBase64
                                        ? ToBytes(Base64Text(spec.signer.certificate))
                                        : spec.signer.certificate);
}

Bytes SignatureOver(const SignatureSpec& spec, const Bytes& data) {
  if (!spec.signer.key) throw std::invalid_argument("a signature has no signer key");
  return spec.signer.key->Sign(spec.digest, data);
}

void AppendPlatform(std::vector<DerNode>& elements, const std::string& platform,
                    const PlatformInfo& info) {
  elements.push_back(Integer(platform + "Support", info.support));
  elements.push_back(Utf8String(platform + "Version", info.version));
  elements.push_back(Utf8String(platform + "Update", info.update));
}

DerNode VersionInfoElement(const VersionInfoSpec& info) {
  std::vector<DerNode> elements;
  elements.push_back(Utf8String("version", info.version));
  elements.push_back(Utf8String("uniqueSerial", info.uniqueSerial));
  elements.push_back(Utf8String("batchNumber", info.batchNumber));
  elements.push_back(Utf8String("fileName", info.fileName));
  elements.push_back(Utf8String("kind", info.kind));
  elements.push_back(Utf8String("transaction", info.transaction));
  elements.push_back(Utf8String("memo", info.memo));
  elements.push_back(Utf8String("accountName", info.accountName));
  elements.push_back(Utf8String("certChainUrl", info.certChainUrl));
  elements.push_back(BitString("tpkTrustSeal", info.tpkTrustSeal));
  elements.push_back(BitString("tpkMistrustSeal", info.tpkMistrustSeal));
  elements.push_back(BitString("ipkTrustSeal", info.ipkTrustSeal));
  elements.push_back(BitString("ipkMistrustSeal", info.ipkMistrustSeal));
  elements.push_back(BitString("onlineTrustSeal", info.onlineTrustSeal));
  elements.push_back(BitString("onlineMistrustSeal", info.onlineMistrustSeal));
  AppendPlatform(elements, "win", info.win);
  AppendPlatform(elements, "mac", info.mac);
  AppendPlatform(elements, "ios", info.ios);
  AppendPlatform(elements, "android", info.android);
  AppendPlatform(elements, "winPhone", info.winPhone);
  return Sequence("versionInfo", std::move(elements));
}

}  // namespace

VersionInfoSpec::VersionInfoSpec()
    : tpkTrustSeal(SolidGif(kSealSize, kSealSize, 0x00, 0xA0, 0x00)),
      tpkMistrustSeal(SolidGif(kSealSize, kSealSize, 0xC8, 0x00, 0x00)),
      ipkTrustSeal(SolidGif(kSealSize, kSealSize, 0x00, 0x80, 0x40)),
      ipkMistrustSeal(SolidGif(kSealSize, kSealSize, 0xA0, 0x00, 0x40)),
      onlineTrustSeal(SolidGif(kSealSize, kSealSize, 0x00, 0x60, 0xA0)),
      onlineMistrustSeal(SolidGif(kSealSize, kSealSize, 0xA0, 0x60, 0x00)) {}

PackageSpec::PackageSpec()
    : document(ToBytes("%PDF-1.4\n% QALV sample policy document\n%%EOF\n")),
      password("test-password"),
      snapshot(SolidGif(105, 148, 0xF0, 0xF0, 0xF0)),
      ipkSignTime(UtcTimeText(std::time(nullptr))),
      tpkSignTime(ipkSignTime) {}

PackageSpec DefaultPackageSpec(const TestPki& pki) {
  PackageSpec spec;
  spec.s1.signer = pki.insurer;
  spec.s2.signer = pki.insurer;
  spec.s3.signer = pki.authority;
  return spec;
}

std::string UtcTimeText(std::time_t time) {
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%y%m%d%H%M%SZ", &parts);
  return text;
}

Bytes EncryptDocument(const Bytes& document, std::string_view password) {
  Bytes plain = document;
  plain.insert(plain.end(), {'Q', 'A', 'L', 'V'});
  const uint8_t padding = static_cast<uint8_t>(16 - plain.size() % 16);
  plain.insert(plain.end(), padding, padding);

  const Bytes key = Sha256(ToBytes(password));
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  unsigned char iv[16] = {};
  Bytes cipher(plain.size());
  int code = mbedtls_aes_setkey_enc(&aes, key.data(), 256);
  if (code == 0) {
    code = mbedtls_aes_crypt_cbc(&aes, MBEDTLS_AES_ENCRYPT, plain.size(), iv, plain.data(),
                                 cipher.data());
  }
  mbedtls_aes_free(&aes);
  CheckMbedTls(code, "AES encryption");
  return cipher;
}

DerNode BuildPackageTree(const PackageSpec& spec) {
  // Digests and signatures start as one-byte placeholders and are filled in
  // below by the same functions that re-sign a changed tree.
  const Bytes placeholder{0x00};
  DerNode signedRegion =
      Sequence("signedRegion",
               {Sequence("s1", {BitString("s1Signature", SignatureOver(spec.s1, spec.document)),
                                CertificateElement("s1Certificate", spec.s1)}),
                BitString("cipherDigest", placeholder), BitString("snapshotDigest", placeholder),
                UtcTime("ipkSignTime", spec.ipkSignTime)});
  DerNode ipkData =
      Sequence("ipk_data", {Integer("ipkVersion", spec.ipkVersion), std::move(signedRegion),
                            Sequence("s2", {BitString("s2Signature", placeholder),
                                            CertificateElement("s2Certificate", spec.s2)})});
  DerNode tpkPlaintext =
      Sequence("tpk_plaintext", {std::move(ipkData), VersionInfoElement(spec.versionInfo),
                                 UtcTime("tpkSignTime", spec.tpkSignTime)});
  DerNode package = Sequence(
      "tpk_p",
      {Sequence("header", {Integer("tpkVersion", spec.tpkVersion), std::move(tpkPlaintext)}),
       Sequence("s3", {BitString("s3Signature", placeholder),
                       CertificateElement("s3Certificate", spec.s3)}),
       BitString("cipher", EncryptDocument(spec.document, spec.password)),
       BitString("snapshot", spec.snapshot)});
  RefreshDigests(package);
  Resign(package, spec);
  return package;
}

void RefreshDigests(DerNode& package) {
  SetBitStringValue(package.At("cipherDigest"), Sha256(BitStringValue(package.At("cipher"))));
  SetBitStringValue(package.At("snapshotDigest"), Sha256(BitStringValue(package.At("snapshot"))));
}

void Resign(DerNode& package, const PackageSpec& spec) {
  // s2 first: its signature lies inside the region that s3 covers.
  SetBitStringValue(package.At("s2Signature"),
                    SignatureOver(spec.s2, Serialize(package.At("signedRegion"))));
  SetBitStringValue(package.At("s3Signature"),
                    SignatureOver(spec.s3, Serialize(package.At("tpk_plaintext"))));
}

Bytes BuildPackage(const PackageSpec& spec) { return Serialize(BuildPackageTree(spec)); }

}  // namespace qalv::writer
