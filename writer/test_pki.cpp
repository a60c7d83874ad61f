#include "writer/test_pki.h"

#include <filesystem>
#include <stdexcept>

#include <mbedtls/bignum.h>
#include <mbedtls/x509_crt.h>

#include "writer/files.h"

namespace qalv::writer {
namespace {

// Owns the mbed TLS writer state of one certificate.
struct CertificateWriter {
  mbedtls_x509write_cert ctx;
  mbedtls_mpi serial;
  CertificateWriter() {
    mbedtls_x509write_crt_init(&ctx);
    mbedtls_mpi_init(&serial);
  }
  ~CertificateWriter() {
    mbedtls_mpi_free(&serial);
    mbedtls_x509write_crt_free(&ctx);
  }
};

Bytes RandomSerial() {
  Bytes serial(16);
  CheckMbedTls(RandomBytes(nullptr, serial.data(), serial.size()), "random serial");
  serial[0] = static_cast<uint8_t>((serial[0] & 0x7F) | 0x01);  // positive, no leading zero
  return serial;
}

}  // namespace

std::string CertTimeText(std::time_t time) {
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &parts);
  return text;
}

Identity IssueCertificate(const CertificateSpec& spec, std::shared_ptr<RsaKey> key,
                          const Identity* issuer) {
  const std::string& issuerName = issuer ? issuer->subject : spec.subject;
  const RsaKey& issuerKey = issuer ? *issuer->key : *key;

  CertificateWriter writer;
  mbedtls_x509write_cert* ctx = &writer.ctx;
  mbedtls_x509write_crt_set_version(ctx, MBEDTLS_X509_CRT_VERSION_3);
  mbedtls_x509write_crt_set_md_alg(ctx, MdType(spec.digest));
  mbedtls_x509write_crt_set_subject_key(ctx, key->get());
  mbedtls_x509write_crt_set_issuer_key(ctx, issuerKey.get());
  CheckMbedTls(mbedtls_x509write_crt_set_subject_name(ctx, spec.subject.c_str()), "subject name");
  CheckMbedTls(mbedtls_x509write_crt_set_issuer_name(ctx, issuerName.c_str()), "issuer name");
  const Bytes serial = spec.serial.empty() ? RandomSerial() : spec.serial;
  CheckMbedTls(mbedtls_mpi_read_binary(&writer.serial, serial.data(), serial.size()), "serial");
  CheckMbedTls(mbedtls_x509write_crt_set_serial(ctx, &writer.serial), "serial");
  CheckMbedTls(
      mbedtls_x509write_crt_set_validity(ctx, spec.notBefore.c_str(), spec.notAfter.c_str()),
      "validity");
  // mbed TLS marks BasicConstraints critical exactly when cA is true.
  CheckMbedTls(mbedtls_x509write_crt_set_basic_constraints(ctx, spec.isCa ? 1 : 0, -1),
               "basic constraints");
  CheckMbedTls(
      mbedtls_x509write_crt_set_key_usage(
          ctx, spec.isCa ? MBEDTLS_X509_KU_KEY_CERT_SIGN | MBEDTLS_X509_KU_CRL_SIGN
                         : MBEDTLS_X509_KU_DIGITAL_SIGNATURE | MBEDTLS_X509_KU_NON_REPUDIATION),
      "key usage");
  if (spec.keyIdentifiers) {
    CheckMbedTls(mbedtls_x509write_crt_set_subject_key_identifier(ctx), "subject key identifier");
    CheckMbedTls(mbedtls_x509write_crt_set_authority_key_identifier(ctx),
                 "authority key identifier");
  }

  Bytes buffer(16384);
  const int length =
      mbedtls_x509write_crt_der(ctx, buffer.data(), buffer.size(), RandomBytes, nullptr);
  if (length < 0) CheckMbedTls(length, "writing the certificate");
  // mbed TLS writes from the end of the buffer backwards.
  return Identity{std::move(key), spec.subject, Bytes(buffer.end() - length, buffer.end())};
}

TestPki MakeTestPki(const PkiOptions& options) {
  const std::time_t now = std::time(nullptr);
  TestPki pki;
  for (const PkiRole& role : kPkiRoles) {
    CertificateSpec spec;
    spec.subject = role.subject;
    spec.isCa = role.isCa;
    spec.notBefore = CertTimeText(now - 86400);
    spec.notAfter = CertTimeText(now + static_cast<std::time_t>(options.days) * 86400);
    spec.digest = options.digest;
    auto key = std::make_shared<RsaKey>(
        options.keyDir.empty() ? RsaKey::Generate(options.bits)
                               : RsaKey::FromPemFile(options.keyDir + "/" + role.stem + ".key"));
    const Identity* issuer = role.issuer == role.identity ? nullptr : &(pki.*role.issuer);
    pki.*role.identity = IssueCertificate(spec, std::move(key), issuer);
  }
  return pki;
}

void SavePki(const TestPki& pki, const std::string& dir) {
  for (const PkiRole& role : kPkiRoles) {
    const Identity& identity = pki.*role.identity;
    const std::string stem = dir + "/" + role.stem;
    WriteFileBytes(stem + ".key", ToBytes(identity.key->PrivatePem()));
    WriteFileBytes(stem + ".crt", identity.certificate);
  }
}

std::string CertificatePem(const Bytes& der) {
  const std::string base64 = Base64Text(der);
  std::string pem = "-----BEGIN CERTIFICATE-----\n";
  for (size_t at = 0; at < base64.size(); at += 64) pem += base64.substr(at, 64) + "\n";
  return pem + "-----END CERTIFICATE-----\n";
}

void SaveTrustFolder(const TestPki& pki, const std::string& dir) {
  std::filesystem::create_directories(dir + "/anchors");
  std::filesystem::create_directories(dir + "/authority");
  WriteFileBytes(dir + "/anchors/root.pem", ToBytes(CertificatePem(pki.root.certificate)));
  WriteFileBytes(dir + "/authority/authority.pem",
                 ToBytes(CertificatePem(pki.authority.certificate)));
}

Identity LoadIdentity(const std::string& keyPath, const std::string& certificatePath) {
  const Bytes bytes = ReadFileBytes(certificatePath);
  const std::string text(bytes.begin(), bytes.end());

  mbedtls_x509_crt crt;
  mbedtls_x509_crt_init(&crt);
  // The PEM form needs its terminating zero counted; DER must be given exactly.
  const bool pem = text.find("-----BEGIN") != std::string::npos;
  const int code = mbedtls_x509_crt_parse(
      &crt, reinterpret_cast<const unsigned char*>(text.c_str()), text.size() + (pem ? 1 : 0));
  Bytes der = code == 0 ? Bytes(crt.raw.p, crt.raw.p + crt.raw.len) : Bytes();
  mbedtls_x509_crt_free(&crt);
  if (code != 0) throw std::runtime_error("cannot read the certificate " + certificatePath);
  return Identity{std::make_shared<RsaKey>(RsaKey::FromPemFile(keyPath)), {}, std::move(der)};
}

Bytes ChainFile(const std::vector<Bytes>& certificates) {
  Bytes certificateBytes;
  for (const Bytes& certificate : certificates) {
    certificateBytes.insert(certificateBytes.end(), certificate.begin(), certificate.end());
  }
  // [0] IMPLICIT SET OF Certificate: the certificates' own encodings as content.
  DerNode signedData =
      Sequence({}, {Integer({}, 1), Set({}), Sequence({}, {Oid("1.2.840.113549.1.7.1")}),
                    Primitive(tag::kContext0, {}, std::move(certificateBytes)), Set({})});
  return Serialize(Sequence(
      {}, {Oid("1.2.840.113549.1.7.2"), Constructed(tag::kContext0, {}, {std::move(signedData)})}));
}

Bytes ChainFile(const TestPki& pki) {
  return ChainFile({pki.root.certificate, pki.intermediate.certificate});
}

}  // namespace qalv::writer
