#include "tools/tpk/cert_json.h"

#include <json/writer.h>
#include <mbedtls/bignum.h>

#include <iostream>
#include <memory>

#include "platform/file_io.h"

namespace qalv::tpk {
namespace {

std::string Hex(der::Bytes bytes) { return HexText(bytes.data(), bytes.size()); }

// The key check bounds the exponent to 64 bits.
Json::UInt64 ExponentValue(const mbedtls_mpi& e) {
  uint8_t bytes[8] = {};
  if (mbedtls_mpi_write_binary(&e, bytes, sizeof bytes) != 0) return 0;
  Json::UInt64 value = 0;
  for (uint8_t b : bytes) value = (value << 8) | b;
  return value;
}

}  // namespace

Json::Value NameToJson(const NameText& name) {
  Json::Value entries(Json::arrayValue);
  for (const NameAttribute& attribute : name) {
    Json::Value pair(Json::arrayValue);
    pair.append(attribute.oid);
    pair.append(attribute.value);
    entries.append(pair);
  }
  return entries;
}

Json::Value SummaryToJson(const CertificateSummary& summary) {
  Json::Value out(Json::objectValue);
  out["subject"] = NameToJson(summary.subject);
  out["issuer"] = NameToJson(summary.issuer);
  out["serial"] = summary.serial;
  out["notBefore"] = summary.notBefore;
  out["notAfter"] = summary.notAfter;
  out["keyBits"] = summary.keyBits;
  return out;
}

Json::Value CertificateToJson(const X509Certificate& cert) {
  Json::Value out = SummaryToJson(SummarizeCertificate(cert));
  out["version"] = cert.version;
  out["sigAlgorithm"] = OidText(cert.sigAlgorithm);
  out["exponent"] = ExponentValue(cert.publicKey.get()->E);
  out["authorityKeyId"] = Hex(cert.authorityKeyId);
  out["subjectKeyId"] = Hex(cert.subjectKeyId);
  out["isCa"] = cert.isCa;
  out["selfSigned"] = cert.selfSigned;
  out["publicKeyAlgorithm"] = OidText(cert.publicKeyAlgorithm);
  out["sigAlgorithm2"] = OidText(cert.sigAlgorithm2);
  out["issuerUniqueId"] = Hex(cert.issuerUniqueId);
  out["subjectUniqueId"] = Hex(cert.subjectUniqueId);
  out["tbsLength"] = static_cast<Json::UInt64>(cert.tbs.size());
  out["signatureLength"] = static_cast<Json::UInt64>(cert.signature.size());
  return out;
}

void PrintJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["emitUTF8"] = true;
  builder["indentation"] = "";
  const std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
  writer->write(value, &std::cout);
  std::cout << '\n' << std::flush;
}

bool ReadInputFile(const char* command, const std::string& path, SecureBuffer& bytes) {
  if (ReadWholeFile(path, bytes) == 0) return true;
  std::cerr << "tpk " << command << ": cannot read " << path << '\n';
  return false;
}

}  // namespace qalv::tpk
