#include "package/tpk_package.h"

#include "platform/trace.h"

namespace qalv {
namespace {

// Enters a SEQUENCE and returns the span of the whole element.
int32_t EnterSequence(TlvCursor& cur, der::Bytes& whole) {
  const uint8_t* start = cur.pos;
  int32_t length = 0;
  if (const int32_t code = ReadTag(cur, tlv::kTagSequence, length)) return code;
  whole = WholeElement(start, cur, length);
  return 0;
}

// Steps into a SEQUENCE whose length the layout leaves free.
int32_t ConsumeSequence(TlvCursor& cur) {
  int32_t length = 0;
  return ReadTag(cur, tlv::kTagSequence, length);
}

int32_t ReadCertificate(TlvCursor& cur, CertificateList& list, der::Bytes& value) {
  if (const int32_t code = ReadBitString(cur, value)) return code;
  return ParseCertificate(list, value.data(), value.size());
}

const uint8_t* EndOf(der::Bytes span) { return span.data() + span.size(); }

int LogLength(size_t length) { return static_cast<int>(length); }

// The declared lengths of tpk_plaintext and the signed region are not tied to
// what follows their headers, so without this a package could carry version
// information, digests or the s1 signature that no signature covers. Each
// checked element starts inside its extent and they are read in order, so the
// last one taken from an extent bounds the others: versionInfo follows
// ipk_data in tpk_plaintext (s3), and snapshotDigest follows the s1 group and
// cipherDigest in the signed region (s2). The sign times after them may lie
// outside, as packages have always had them.
[[nodiscard]] int32_t CheckSignedExtents(const TpkPackage& package) {
  if (EndOf(package.versionInfo.whole) > EndOf(package.tpkPlaintext) ||
      EndOf(package.ipkData.snapshotDigest) > EndOf(package.ipkData.signedRegion)) {
    return tlv::kOutsideSignedExtent;
  }
  return 0;
}

// Clears everything but the copy, so a record can be read again.
void ResetFields(TpkPackage& package) {
  FreeCertificateList(package.s3Certificate);
  FreeCertificateList(package.ipkData.s1Certificate);
  FreeCertificateList(package.ipkData.s2Certificate);
  package.version = 0;
  package.tpkPlaintext = {};
  package.ipkData = IpkData{};
  package.versionInfo = VersionInfo{};
  package.tpkSignTime = der::Time{};
  package.s3Signature = {};
  package.cipher = {};
  package.snapshot = {};
}

}  // namespace

void ReleasePackage(TpkPackage& package) {
  ResetFields(package);
  package.copy.Release();
}

int32_t ReadIpkData(IpkData& ipk) {
  TlvCursor cur{ipk.whole.data(), EndOf(ipk.whole)};
  int32_t length = 0;
  if (const int32_t code = ReadTag(cur, tlv::kTagSequence, length)) return code;
  if (static_cast<size_t>(length) != cur.left()) return tlv::kLengthMismatch;
  if (const int32_t code = ReadInteger(cur, ipk.version)) return code;
  if (const int32_t code = EnterSequence(cur, ipk.signedRegion)) return code;
  if (const int32_t code = ConsumeSequence(cur)) return code;

  der::Bytes certificate;
  if (const int32_t code = ReadBitString(cur, ipk.s1Signature)) return code;
  if (const int32_t code = ReadCertificate(cur, ipk.s1Certificate, certificate)) return code;
  if (const int32_t code = ReadBitString(cur, ipk.cipherDigest)) return code;
  if (const int32_t code = ReadBitString(cur, ipk.snapshotDigest)) return code;
  if (const int32_t code = ReadUtcTime(cur, ipk.ipkSignTime)) return code;

  if (const int32_t code = ConsumeSequence(cur)) return code;
  if (const int32_t code = ReadBitString(cur, ipk.s2Signature)) return code;
  if (const int32_t code = ReadCertificate(cur, ipk.s2Certificate, certificate)) return code;
  if (cur.left() != 0) return tlv::kLengthMismatch;
  return 0;
}

int32_t ReadPackage(TpkPackage& package, const uint8_t* bytes, size_t length) {
  trace::Log("---TPK parse start\n");
  ResetFields(package);
  if (bytes != nullptr && length != 0) {
    if (!package.copy.Assign(bytes, length)) return tlv::kNoMemory;
  }
  trace::Log("tpk_p len=%d\n", LogLength(package.copy.size()));

  TlvCursor cur{package.copy.data(), package.copy.data() + package.copy.size()};
  int32_t contentLength = 0;
  if (const int32_t code = ReadTag(cur, tlv::kTagSequence, contentLength)) return code;
  if (static_cast<size_t>(contentLength) != cur.left()) return tlv::kLengthMismatch;
  trace::Log("tpk content len=%d\n", contentLength);

  if (const int32_t code = ConsumeSequence(cur)) return code;
  if (const int32_t code = ReadInteger(cur, package.version)) return code;
  trace::Log("version=%d\n", package.version);

  if (const int32_t code = EnterSequence(cur, package.tpkPlaintext)) return code;
  trace::Log("tpk_plaintext len=%d\n", LogLength(EndOf(package.tpkPlaintext) - cur.pos));

  IpkData& ipk = package.ipkData;
  if (const int32_t code = EnterSequence(cur, ipk.whole)) return code;
  trace::Log("ipk_data len=%d\n", LogLength(EndOf(ipk.whole) - cur.pos));
  if (const int32_t code = ReadIpkData(ipk)) return code;
  cur.pos = EndOf(ipk.whole);

  VersionInfo& info = package.versionInfo;
  if (const int32_t code = EnterSequence(cur, info.whole)) return code;
  trace::Log("versionInfo len=%d\n", LogLength(info.whole.size()));
  if (const int32_t code = ReadVersionInfo(info)) return code;
  cur.pos = EndOf(info.whole);

  const der::Time& signTime = package.tpkSignTime;
  if (const int32_t code = ReadUtcTime(cur, package.tpkSignTime)) return code;
  trace::Log("s2 time=%d/%d/%d %d:%d:%d\n", signTime.year, signTime.month, signTime.day,
             signTime.hour, signTime.minute, signTime.second);

  if (const int32_t code = ConsumeSequence(cur)) return code;
  if (const int32_t code = ReadBitString(cur, package.s3Signature)) return code;
  trace::Log("s3 signature(%d)", LogLength(package.s3Signature.size()));
  trace::Dump(package.s3Signature.data(), package.s3Signature.size());

  der::Bytes certificate;
  if (const int32_t code = ReadBitString(cur, certificate)) return code;
  trace::Log("s3 certificate len=%d\n", LogLength(certificate.size()));
  if (const int32_t code = ParseCertificate(package.s3Certificate, certificate.data(),
                                            certificate.size())) {
    return code;
  }
  for (const X509Certificate& cert : package.s3Certificate) {
    trace::Log("s3 certificate serial");
    trace::Dump(cert.serial.data, static_cast<size_t>(cert.serial.length));
  }

  if (const int32_t code = ReadBitString(cur, package.cipher)) return code;
  trace::Log("cipher len=%d\n", LogLength(package.cipher.size()));
  if (const int32_t code = ReadBitString(cur, package.snapshot)) return code;
  trace::Log("snapshot len=%d\n", LogLength(package.snapshot.size()));
  if (cur.left() != 0) return tlv::kLengthMismatch;
  // Last, so that a package malformed in any other way keeps that code.
  if (const int32_t code = CheckSignedExtents(package)) return code;

  trace::Log("---TPK parse end\n");
  return 0;
}

}  // namespace qalv
