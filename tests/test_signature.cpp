// The signature verifier on blocks built here and signed with the raw RSA
// private operation, so that every padding and DigestInfo shape can be made.
// The DigestInfo prefixes are written out here, not taken from the verifier's
// own table, so a wrong byte there cannot agree with itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <mbedtls/bignum.h>
#include <mbedtls/md.h>
#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>

#include "platform/trace.h"
#include "tests/support/test_support.h"
#include "x509/signature.h"

namespace qalv {
namespace {

using test::Bytes;

constexpr int32_t kUnset = -1;
constexpr size_t kKeyBytes = 256;  // the 2048-bit test key

Bytes Hex(const std::string& text) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Digest(mbedtls_md_type_t type, const Bytes& data) {
  const mbedtls_md_info_t* info = mbedtls_md_info_from_type(type);
  Bytes out(mbedtls_md_get_size(info));
  if (mbedtls_md(info, data.data(), data.size(), out.data()) != 0) {
    throw std::runtime_error("digest failed");
  }
  return out;
}

const Bytes kMd2Info = Hex("3020300c06082a864886f70d020205000410");
const Bytes kMd4Info = Hex("3020300c06082a864886f70d020405000410");
const Bytes kMd5Info = Hex("3020300c06082a864886f70d020505000410");
const Bytes kSha1Info = Hex("3021300906052b0e03021a05000414");
const Bytes kSha224Info = Hex("302d300d06096086480165030402040500041c");
const Bytes kSha256Info = Hex("3031300d060960864801650304020105000420");
const Bytes kSha384Info = Hex("3041300d060960864801650304020205000430");
const Bytes kSha512Info = Hex("3051300d060960864801650304020305000440");
// SHA-256 with the NULL parameters left out: a 49-byte payload.
const Bytes kSha256InfoNoNull = Hex("302f300b0609608648016503040201" "0420");

const Bytes kData = Text("policy document: the signed bytes");
const Bytes kOtherData = Text("policy document: the signed byteS");

Bytes Sha256Payload(const Bytes& data) { return Concat(kSha256Info, Digest(MBEDTLS_MD_SHA256, data)); }

Bytes With(Bytes bytes, size_t at, uint8_t value) {
  bytes.at(at) = value;
  return bytes;
}

// 00 01 FF .. FF 00 payload, k bytes.
Bytes Padded(size_t k, const Bytes& payload) {
  Bytes em(k - payload.size(), 0xFF);
  em[0] = 0x00;
  em[1] = 0x01;
  em.back() = 0x00;
  return Concat(em, payload);
}

int TestRandom(void*, unsigned char* out, size_t length) {
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(0x5A ^ (i * 37));
  return 0;
}

// A 2048-bit key made by OpenSSL, with its public half as the verifier takes it.
class SigningKey {
 public:
  SigningKey() {
    mbedtls_pk_init(&pk_);
    test::TempDir dir;
    const std::string path = (dir / "key.pem").string();
    const auto made = test::Run("openssl genrsa -out " + test::ShellQuote(path) + " 2048");
    if (made.exitCode != 0) throw std::runtime_error("openssl genrsa failed: " + made.err);
    if (mbedtls_pk_parse_keyfile(&pk_, path.c_str(), nullptr) != 0 ||
        mbedtls_pk_get_type(&pk_) != MBEDTLS_PK_RSA) {
      throw std::runtime_error("cannot load the generated key");
    }
    mbedtls_mpi n;
    mbedtls_mpi e;
    mbedtls_mpi_init(&n);
    mbedtls_mpi_init(&e);
    const bool ok = mbedtls_rsa_export(rsa(), &n, nullptr, nullptr, nullptr, &e) == 0 &&
                    mbedtls_rsa_import(publicKey_.get(), &n, nullptr, nullptr, nullptr, &e) == 0 &&
                    mbedtls_rsa_complete(publicKey_.get()) == 0;
    mbedtls_mpi_free(&n);
    mbedtls_mpi_free(&e);
    if (!ok) throw std::runtime_error("cannot copy the public key");
    unsigned char pem[4096];
    if (mbedtls_pk_write_pubkey_pem(&pk_, pem, sizeof pem) != 0) {
      throw std::runtime_error("cannot write the public key");
    }
    publicPem_ = reinterpret_cast<const char*>(pem);
  }
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;
  ~SigningKey() { mbedtls_pk_free(&pk_); }

  const RsaPublicKey& publicKey() const { return publicKey_; }
  const std::string& publicPem() const { return publicPem_; }
  size_t k() const { return publicKey_.length(); }

  // The raw private operation on a whole block: the block's "signature".
  Bytes Sign(const Bytes& em) {
    if (em.size() != k()) throw std::runtime_error("block of the wrong size");
    Bytes sig(k());
    if (mbedtls_rsa_private(rsa(), TestRandom, nullptr, em.data(), sig.data()) != 0) {
      throw std::runtime_error("private operation failed");
    }
    return sig;
  }

 private:
  mbedtls_rsa_context* rsa() { return mbedtls_pk_rsa(pk_); }

  mbedtls_pk_context pk_;
  RsaPublicKey publicKey_;
  std::string publicPem_;
};

SigningKey& Key() {
  static SigningKey key;
  return key;
}

// A key set field by field: any modulus, even ones no key generator makes.
// With exponent 1 the public operation is the identity, so a block below N
// is its own signature; that allows every modulus length.
RsaPublicKey RawKey(const Bytes& modulus, int exponent) {
  RsaPublicKey key;
  mbedtls_rsa_context* ctx = key.get();
  if (mbedtls_mpi_read_binary(&ctx->N, modulus.data(), modulus.size()) != 0 ||
      mbedtls_mpi_lset(&ctx->E, exponent) != 0) {
    throw std::runtime_error("cannot set the key");
  }
  ctx->len = mbedtls_mpi_size(&ctx->N);
  return key;
}

RsaPublicKey IdentityKey(size_t k) { return RawKey(Bytes(k, 0xFF), 1); }

struct Outcome {
  int32_t code;
  int32_t digestId;
};

Outcome Verify(const RsaPublicKey& key, const Bytes& data, const Bytes& sig) {
  int32_t digestId = kUnset;
  const int32_t code = VerifySignature(key, digestId, data.data(), data.size(), sig.data(), sig.size());
  return {code, digestId};
}

// ---------------------------------------------------------------------------
// What the payload after the padding is recognised as.

struct PayloadCase {
  const char* name;
  Bytes payload;
  Bytes data;
  int32_t code;
  int32_t digestId;  // kUnset: the caller's value stays
};

void PrintTo(const PayloadCase& c, std::ostream* os) { *os << c.name; }

class PayloadTest : public testing::TestWithParam<PayloadCase> {};

TEST_P(PayloadTest, RecognisesAndChecks) {
  const PayloadCase& c = GetParam();
  SigningKey& key = Key();
  ASSERT_EQ(key.k(), kKeyBytes);
  const Bytes sig = key.Sign(Padded(kKeyBytes, c.payload));
  const Outcome got = Verify(key.publicKey(), c.data, sig);
  EXPECT_EQ(got.code, c.code);
  EXPECT_EQ(got.digestId, c.digestId);
}

PayloadCase Standard(const char* name, const Bytes& info, mbedtls_md_type_t md, int32_t code,
                     int32_t digestId) {
  return {name, Concat(info, Digest(md, kData)), kData, code, digestId};
}

PayloadCase Payload(const char* name, Bytes payload, Bytes data, int32_t code, int32_t digestId) {
  return {name, std::move(payload), std::move(data), code, digestId};
}

// A SHA-224-sized payload (algorithm byte 4) whose outer length byte claims a
// 32-byte digest: honoured, the digest would run four bytes past the payload.
Bytes Sha256ClaimInSha224Payload() {
  const Bytes full = Sha256Payload(kData);
  return With(Bytes(full.begin(), full.end() - 4), 14, 4);
}

using namespace signature;
using namespace digest_id;

INSTANTIATE_TEST_SUITE_P(
    Shapes, PayloadTest,
    testing::Values(
        Standard("Sha384Refused", kSha384Info, MBEDTLS_MD_SHA384, kRefusedDigest, kSha384),
        Standard("Sha512Refused", kSha512Info, MBEDTLS_MD_SHA512, kRefusedDigest, kSha512),
        Payload("Md2Refused", Concat(kMd2Info, Bytes(16, 0x11)), kData, kRefusedDigest, kMd2),
        Payload("Md4Refused", Concat(kMd4Info, Bytes(16, 0x11)), kData, kRefusedDigest, kMd4),
        Payload("OtherMdNumberRefused", Concat(With(kMd5Info, 13, 6), Digest(MBEDTLS_MD_MD5, kData)),
                kData, kRefusedDigest, kNone),
        // The lengths are read before the digest is known: a SHA-224-sized
        // payload claiming a SHA-512 digest names a refused digest.
        Payload("Sha512ClaimInSha224SizedPayload",
                Concat(With(With(kSha224Info, 1, 0x51), 18, 0x40),
                       Digest(MBEDTLS_MD_SHA224, kData)),
                kData, kRefusedDigest, kSha512),

        Payload("Sha256Mismatch", Sha256Payload(kOtherData), kData, kDigestMismatch, kSha256),
        Payload("Sha224Mismatch", Concat(kSha224Info, Digest(MBEDTLS_MD_SHA224, kOtherData)), kData,
                kDigestMismatch, kSha224),
        Payload("Sha1Mismatch", Concat(kSha1Info, Digest(MBEDTLS_MD_SHA1, kOtherData)), kData,
                kDigestMismatch, kSha1),
        Payload("Md5Mismatch", Concat(kMd5Info, Digest(MBEDTLS_MD_MD5, kOtherData)), kData,
                kDigestMismatch, kMd5),

        // The raw comparison comes first and wins over any DigestInfo reading.
        Payload("Raw32Bytes", Bytes(32, 0xA5), Bytes(32, 0xA5), 0, kNone),
        Payload("RawMismatchFallsThrough", Bytes(32, 0xA5), Bytes(32, 0x5A), kUnrecognisedDigestInfo,
                kNone),
        Payload("RawEqualToAnMd5Payload", Concat(kMd5Info, Bytes(16, 0x33)),
                Concat(kMd5Info, Bytes(16, 0x33)), 0, kNone),
        Payload("RawMismatchThenMd5", Concat(kMd5Info, Digest(MBEDTLS_MD_MD5, Bytes(34, 7))),
                Bytes(34, 7), 0, kMd5),
        Payload("EmptyPayloadEmptyData", {}, {}, 0, kNone),
        Payload("EmptyPayload", {}, kData, kUnrecognisedDigestInfo, kUnset),
        Payload("Sha256WithoutNull", Concat(kSha256InfoNoNull, Digest(MBEDTLS_MD_SHA256, kData)),
                kData, kUnrecognisedDigestInfo, kUnset),
        Payload("Sha256WithoutNullEqualToData",
                Concat(kSha256InfoNoNull, Digest(MBEDTLS_MD_SHA256, kData)),
                Concat(kSha256InfoNoNull, Digest(MBEDTLS_MD_SHA256, kData)), 0, kNone),

        // Fixed bytes of the DigestInfo.
        Payload("Md5PrefixByteDiffers", Concat(With(kMd5Info, 4, 0x07), Digest(MBEDTLS_MD_MD5, kData)),
                kData, kUnrecognisedDigestInfo, kUnset),
        Payload("Md5LengthsClaimALongerDigest",
                Concat(With(With(kMd5Info, 1, 0x24), 17, 0x14), Digest(MBEDTLS_MD_MD5, kData)),
                kData, kUnrecognisedDigestInfo, kUnset),
        Payload("Sha1PrefixByteDiffers",
                Concat(With(kSha1Info, 10, 0x1B), Digest(MBEDTLS_MD_SHA1, kData)), kData,
                kUnrecognisedDigestInfo, kUnset),
        Payload("Sha256PrefixByteDiffers", With(Sha256Payload(kData), 16, 0x01), kData,
                kUnrecognisedDigestInfo, kUnset),
        Payload("Sha256AlgorithmOfSha224", With(Sha256Payload(kData), 14, 4), kData,
                kUnrecognisedDigestInfo, kUnset),
        Payload("Sha256DigestLengthByteDiffers", With(Sha256Payload(kData), 18, 0x1F), kData,
                kUnrecognisedDigestInfo, kUnset),
        Payload("Sha2UnknownDigestLength", With(With(Sha256Payload(kData), 1, 0x30), 18, 0x1F), kData,
                kUnrecognisedDigestInfo, kUnset),
        // A SHA-224-sized payload whose lengths claim a SHA-256 digest: the
        // digest would run past the payload.
        Payload("Sha256DigestInSha224SizedPayload", Sha256ClaimInSha224Payload(), kData,
                kUnrecognisedDigestInfo, kUnset),
        Payload("OtherLength", Concat(kSha1Info, Bytes(21, 0x44)), kData, kUnrecognisedDigestInfo,
                kUnset)),
    [](const testing::TestParamInfo<PayloadCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Only the exact DER DigestInfo of the digest a block names is accepted. The
// SHA-2 layouts below take the digest length from their own length bytes, so
// a block may name a digest shorter than its algorithm's or leave bytes after
// the digest; such blocks were accepted once and are refused now even though
// their digest matches. OpenSSL, which encodes the DigestInfo and compares,
// must agree on every row.

struct ExactCase {
  const char* name;
  Bytes payload;
  mbedtls_md_type_t named;  // the digest the block's lengths name
  int32_t code;
  int32_t digestId;
};

void PrintTo(const ExactCase& c, std::ostream* os) { *os << c.name; }

// A SHA-2 DigestInfo with algorithm byte `algorithm` whose length bytes
// claim the `named` digest of `data`, which follows with `spare` bytes after it.
Bytes Sha2Layout(uint8_t algorithm, mbedtls_md_type_t named, const Bytes& data, size_t spare) {
  const Bytes digest = Digest(named, data);
  const uint8_t length = static_cast<uint8_t>(digest.size());
  const Bytes prefix = With(With(With(kSha256Info, 1, 17 + length), 14, algorithm), 18, length);
  return Concat(Concat(prefix, digest), Bytes(spare, 0xEE));
}

ExactCase Exact(const char* name, const Bytes& info, mbedtls_md_type_t md, int32_t digestId) {
  return {name, Concat(info, Digest(md, kData)), md, 0, digestId};
}

bool OpenSslVerifies(const SigningKey& key, mbedtls_md_type_t md, const Bytes& sig) {
  test::TempDir dir;
  test::WriteFile(dir / "key.pem", key.publicPem());
  test::WriteFile(dir / "digest", Digest(md, kData));
  test::WriteFile(dir / "sig", sig);
  const auto path = [&dir](const char* name) { return test::ShellQuote((dir / name).string()); };
  const auto run = test::Run("openssl pkeyutl -verify -pubin -inkey " + path("key.pem") + " -in " +
                             path("digest") + " -sigfile " + path("sig") + " -pkeyopt digest:" +
                             mbedtls_md_get_name(mbedtls_md_info_from_type(md)));
  if (run.exitCode != 0 && run.out.find("Verification Failure") == std::string::npos) {
    throw std::runtime_error("openssl pkeyutl failed: " + run.err);
  }
  return run.exitCode == 0;
}

class ExactEncodingTest : public testing::TestWithParam<ExactCase> {};

TEST_P(ExactEncodingTest, AcceptsOnlyTheExactDigestInfo) {
  const ExactCase& c = GetParam();
  SigningKey& key = Key();
  const Bytes sig = key.Sign(Padded(kKeyBytes, c.payload));
  const Outcome got = Verify(key.publicKey(), kData, sig);
  EXPECT_EQ(got.code, c.code);
  EXPECT_EQ(got.digestId, c.digestId);
  EXPECT_EQ(OpenSslVerifies(key, c.named, sig), c.code == 0);
}

INSTANTIATE_TEST_SUITE_P(
    DigestInfo, ExactEncodingTest,
    testing::Values(
        Exact("Md5", kMd5Info, MBEDTLS_MD_MD5, kMd5),
        Exact("Sha1", kSha1Info, MBEDTLS_MD_SHA1, kSha1),
        Exact("Sha224", kSha224Info, MBEDTLS_MD_SHA224, kSha224),
        Exact("Sha256", kSha256Info, MBEDTLS_MD_SHA256, kSha256),
        // 51 bytes, the SHA-256 algorithm: a SHA-224 digest and 4 spare bytes.
        ExactCase{"Sha224InSha256Slot", Sha2Layout(1, MBEDTLS_MD_SHA224, kData, 4),
                  MBEDTLS_MD_SHA224, kUnrecognisedDigestInfo, kSha224},
        // 67 bytes, the SHA-384 algorithm.
        ExactCase{"Sha256InSha384Slot", Sha2Layout(2, MBEDTLS_MD_SHA256, kData, 16),
                  MBEDTLS_MD_SHA256, kUnrecognisedDigestInfo, kSha256},
        ExactCase{"Sha224InSha384Slot", Sha2Layout(2, MBEDTLS_MD_SHA224, kData, 20),
                  MBEDTLS_MD_SHA224, kUnrecognisedDigestInfo, kSha224},
        // 83 bytes, the SHA-512 algorithm.
        ExactCase{"Sha256InSha512Slot", Sha2Layout(3, MBEDTLS_MD_SHA256, kData, 32),
                  MBEDTLS_MD_SHA256, kUnrecognisedDigestInfo, kSha256},
        ExactCase{"Sha224InSha512Slot", Sha2Layout(3, MBEDTLS_MD_SHA224, kData, 36),
                  MBEDTLS_MD_SHA224, kUnrecognisedDigestInfo, kSha224},
        // A lenient layout whose digest also differs is a digest mismatch.
        ExactCase{"Sha256InSha384SlotMismatch", Sha2Layout(2, MBEDTLS_MD_SHA256, kOtherData, 16),
                  MBEDTLS_MD_SHA256, kDigestMismatch, kSha256}),
    [](const testing::TestParamInfo<ExactCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The block around the payload, and the signature value itself. None of these
// reaches the DigestInfo, so the caller's identifier must stay.

struct BlockCase {
  const char* name;
  Bytes block;
  int32_t code;
};

void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }

class BlockTest : public testing::TestWithParam<BlockCase> {};

TEST_P(BlockTest, RefusesBeforeTheDigestInfo) {
  const BlockCase& c = GetParam();
  SigningKey& key = Key();
  ASSERT_EQ(key.k(), kKeyBytes);
  const Outcome got = Verify(key.publicKey(), kData, key.Sign(c.block));
  EXPECT_EQ(got.code, c.code);
  EXPECT_EQ(got.digestId, kUnset);
}

const Bytes kGoodBlock = Padded(kKeyBytes, Sha256Payload(kData));

INSTANTIATE_TEST_SUITE_P(
    Padding, BlockTest,
    testing::Values(BlockCase{"FirstByteNotZero", With(kGoodBlock, 0, 0x01), kBadPadding},
                    BlockCase{"BlockTypeTwo", With(kGoodBlock, 1, 0x02), kBadPadding},
                    BlockCase{"NonFfBeforeSeparator", With(kGoodBlock, 40, 0xFE), kBadPadding},
                    BlockCase{"NoSeparator", With(Padded(kKeyBytes, {}), kKeyBytes - 1, 0xFF),
                              kBadPadding}),
    [](const testing::TestParamInfo<BlockCase>& info) { return std::string(info.param.name); });

TEST(VerifySignatureTest, NoFfBytesPassThePadding) {
  // 00 01 00 and the DigestInfo fill a 54-byte block exactly.
  const Bytes payload = Sha256Payload(kData);
  const RsaPublicKey key = IdentityKey(3 + payload.size());
  const Outcome got = Verify(key, kData, Concat(Hex("000100"), payload));
  EXPECT_EQ(got.code, 0);
  EXPECT_EQ(got.digestId, kSha256);
}

TEST(VerifySignatureTest, KeyNotInPkcs1V15ModeIsBadPadding) {
  RsaPublicKey key = IdentityKey(kKeyBytes);
  ASSERT_EQ(Verify(key, kData, kGoodBlock).code, 0);
  mbedtls_rsa_set_padding(key.get(), MBEDTLS_RSA_PKCS_V21, MBEDTLS_MD_SHA256);
  const Outcome got = Verify(key, kData, kGoodBlock);
  EXPECT_EQ(got.code, kBadPadding);
  EXPECT_EQ(got.digestId, kUnset);
}

TEST(VerifySignatureTest, SignatureLengthAgainstTheModulus) {
  SigningKey& key = Key();
  const Bytes sig = key.Sign(Padded(key.k(), Sha256Payload(kData)));

  Bytes longer = Concat(sig, Text("trailing bytes are not the signature's"));
  Outcome got = Verify(key.publicKey(), kData, longer);
  EXPECT_EQ(got.code, 0);
  EXPECT_EQ(got.digestId, kSha256);

  got = Verify(key.publicKey(), kData, Bytes(sig.begin(), sig.end() - 1));
  EXPECT_EQ(got.code, kBadInput);
  EXPECT_EQ(got.digestId, kUnset);

  got = Verify(key.publicKey(), kData, {});
  EXPECT_EQ(got.code, kBadInput);
  EXPECT_EQ(got.digestId, kUnset);
}

TEST(VerifySignatureTest, SignatureNotBelowTheModulus) {
  SigningKey& key = Key();
  const mbedtls_mpi& n = key.publicKey().get()->N;
  mbedtls_mpi nPlusOne;
  mbedtls_mpi_init(&nPlusOne);
  Bytes modulus(key.k());
  Bytes modulusPlusOne(key.k());
  const bool written = mbedtls_mpi_write_binary(&n, modulus.data(), modulus.size()) == 0 &&
                       mbedtls_mpi_add_int(&nPlusOne, &n, 1) == 0 &&
                       mbedtls_mpi_write_binary(&nPlusOne, modulusPlusOne.data(),
                                                modulusPlusOne.size()) == 0;
  mbedtls_mpi_free(&nPlusOne);
  ASSERT_TRUE(written);

  for (const Bytes& sig : {modulus, modulusPlusOne, Bytes(key.k(), 0xFF)}) {
    const Outcome got = Verify(key.publicKey(), kData, sig);
    EXPECT_EQ(got.code, kBadInput);
    EXPECT_EQ(got.digestId, kUnset);
  }
}

TEST(VerifySignatureTest, ModulusLengthLimits) {
  struct Case {
    size_t k;
    int32_t code;
  };
  for (const Case& c : {Case{15, kBadInput}, Case{16, 0}, Case{1024, 0}, Case{1025, kBadInput}}) {
    SCOPED_TRACE(c.k);
    const Bytes data(c.k - 3, 0x42);
    const Outcome got = Verify(IdentityKey(c.k), data, Padded(c.k, data));
    EXPECT_EQ(got.code, c.code);
    EXPECT_EQ(got.digestId, c.code == 0 ? kNone : kUnset);
  }
}

TEST(VerifySignatureTest, OversizedKeyIsRefusedBeforeAnyArithmetic) {
  // An even modulus makes the arithmetic fail, so reaching it would show as
  // an arithmetic code rather than bad input.
  Bytes modulus(1032, 0xFF);
  modulus.back() = 0xFE;
  const RsaPublicKey key = RawKey(modulus, 65537);
  ASSERT_EQ(key.length(), 1032u);
  const Outcome got = Verify(key, kData, Bytes(1032, 0x01));
  EXPECT_EQ(got.code, kBadInput);
  EXPECT_EQ(got.digestId, kUnset);
}

TEST(VerifySignatureTest, ArithmeticFailureCarriesTheBigNumberCode) {
  Bytes modulus(256, 0xC3);
  modulus.back() = 0xC2;  // even: no modular exponentiation
  const Outcome got = Verify(RawKey(modulus, 65537), kData, Bytes(256, 0x01));
  EXPECT_EQ(got.code, kArithmeticFailed | -MBEDTLS_ERR_MPI_BAD_INPUT_DATA);
  EXPECT_EQ(got.digestId, kUnset);
}

TEST(VerifySignatureTest, DigestAtTheEndOfTheLargestBlock) {
  const RsaPublicKey key = IdentityKey(1024);
  Outcome got = Verify(key, kData, Padded(1024, Sha256Payload(kData)));
  EXPECT_EQ(got.code, 0);
  EXPECT_EQ(got.digestId, kSha256);

  got = Verify(key, kData, Padded(1024, Sha256ClaimInSha224Payload()));
  EXPECT_EQ(got.code, kUnrecognisedDigestInfo);
}

TEST(VerifySignatureTest, TracesBothSha256Digests) {
  std::string log;
  std::vector<std::string> dumps;
  trace::SetLogSink([&log](std::string_view text) { log += text; });
  trace::SetDebugSink([&dumps](std::string_view text) { dumps.emplace_back(text); });

  const RsaPublicKey key = IdentityKey(128);
  const Bytes digest = Digest(MBEDTLS_MD_SHA256, kData);
  const Bytes signedDigest = Digest(MBEDTLS_MD_SHA256, kOtherData);
  EXPECT_EQ(Verify(key, kData, Padded(128, Concat(kSha256Info, signedDigest))).code, kDigestMismatch);
  const std::string sha256Log = log;
  const std::vector<std::string> sha256Dumps = dumps;

  log.clear();
  dumps.clear();
  const Bytes sha224 = Digest(MBEDTLS_MD_SHA224, kData);
  EXPECT_EQ(Verify(key, kData, Padded(128, Concat(kSha224Info, sha224))).code, 0);
  trace::SetLogSink({});
  trace::SetDebugSink({});

  const auto dumpOf = [](const Bytes& bytes) {
    std::string text = "[";
    for (size_t i = 0; i < bytes.size(); ++i) {
      char pair[4];
      std::snprintf(pair, sizeof pair, "%s%02X", i == 0 ? "" : ",", bytes[i]);
      text += pair;
    }
    return text + "]\n";
  };
  EXPECT_EQ(sha256Log, "calc hashsign hash");
  EXPECT_EQ(sha256Dumps, (std::vector<std::string>{dumpOf(digest), dumpOf(signedDigest)}));
  EXPECT_EQ(log, "sign hash");
  EXPECT_EQ(dumps, std::vector<std::string>{dumpOf(sha224)});
}

}  // namespace
}  // namespace qalv
