#include "opening/ca_chain_store.h"

#include <cerrno>
#include <string>

#include "net/ca_chain_update.h"
#include "platform/file_io.h"
#include "platform/sealed_storage.h"
#include "platform/system_error.h"
#include "x509/trust_anchors.h"

namespace qalv {
namespace {

// The hexadecimal file name is made in a 132-character field.
constexpr size_t kMaxKeyIdLength = 65;

void TellChainError(PolicyState& state, const std::string& text) {
  if (state.ownerWindow == nullptr) return;
  state.ownerWindow->ShowMessage(
      {"憑證鏈更新錯誤", text, OwnerWindow::Icon::kError, OwnerWindow::Buttons::kOk});
}

const CertificateList& Anchors(const PolicyState& state) {
  static const CertificateList kNone;
  return state.trust ? state.trust->anchors : kNone;
}

// Asks the chain service and keeps its answer only when it leads to an
// anchor: then it is sealed, stored in place of `path` in one step, and read
// into `record`. 0, or -1 with nothing stored.
[[nodiscard]] int32_t FetchTrustedChain(PolicyState& state, der::Bytes keyId, const char* name,
                                        const std::string& path, SignedDataRecord& record) {
  SecureBuffer chain;
  if (FetchCaChain(state, state.certChainUrl, keyId.data(), keyId.size(), chain) != 1) return -1;
  // Whatever the service sent, it is asked for no more in this opening.
  state.chainsFetched.insert(name);
  if (ParseSignedData(record, chain.data(), chain.size()) != 0 ||
      !ChainLeadsToAnchor(record.certificates, keyId, Anchors(state))) {
    TellChainError(state, "憑證鏈無法連結至信任的根憑證");
    return -1;
  }
  SecureBuffer sealed;
  if (!SealChain(chain.span(), name, sealed)) return -1;
  // A chain that cannot be kept is not used either: the next opening asks
  // again rather than trusting what it cannot find on disk. Nor is one kept
  // for a window that closed while it came.
  if (OwnerClosed(state)) return -1;
  if (ReplacePrivateFile(path, sealed.data(), sealed.size()) != 0) {
    TellChainError(state, WriteFailureText(path, errno));
    return -1;
  }
  return 0;
}

// The stored chain of `name` read into `record`: 0, 1 when there is no file,
// or -1 when it cannot be read, unsealed or parsed (the last leaves a dump).
[[nodiscard]] int32_t ReadStoredChain(PolicyState& state, const std::string& path,
                                      const char* name, SignedDataRecord& record) {
  SecureBuffer sealed;
  const int32_t read = ReadWholeFile(path, sealed);
  if (read == file_io::kNotFound) return 1;
  if (read != 0) return -1;

  SecureBuffer chain;
  if (!UnsealChain(sealed.span(), name, chain)) return -1;

  if (const int32_t code = ParseSignedData(record, chain.data(), chain.size())) {
    // The dump only helps whoever looks into the work folder; the chain is
    // unavailable whether or not it could be written.
    if (OwnerClosed(state)) return -1;
    static_cast<void>(WritePrivateFile(
        state.workFolder + "caParse=" + std::to_string(code) + ".p7b", chain.data(), chain.size()));
    return -1;
  }
  return 0;
}

// Everything after the key identifier's name is made: -1 or the check's result.
[[nodiscard]] int32_t CheckWithChain(PolicyState& state, std::span<const X509Certificate> own,
                                     der::Bytes keyId, const char* name, CertificateWalk* walk) {
  const std::string path = state.workFolder + name;
  SignedDataRecord record;
  const int32_t stored = ReadStoredChain(state, path, name, record);
  if (stored < 0) return -1;
  // A stored chain that does not lead to an anchor was written by an older
  // reader or placed there: it is fetched again, once in an opening, and
  // replaced only by one that does.
  const bool usable =
      stored == 0 && ChainLeadsToAnchor(record.certificates, keyId, Anchors(state));
  if (!usable) {
    if (state.chainsFetched.contains(name)) return -1;
    record = SignedDataRecord{};
    if (FetchTrustedChain(state, keyId, name, path, record) != 0) return -1;
  }
  return StoreResult(CheckCertificate(own, record.certificates, Anchors(state), TodayUtc(), walk));
}

}  // namespace

bool SealChain(std::span<const uint8_t> chain, const char* name, SecureBuffer& sealed) {
  if (!sealed.Allocate(chain.size() + seal::kOverhead)) return false;
  size_t length = sealed.size();
  if (SealBuffer(chain.data(), chain.size(), name, sealed.data(), length) != 0) return false;
  sealed.Shrink(length);
  return true;
}

bool UnsealChain(std::span<const uint8_t> sealed, const char* name, SecureBuffer& chain) {
  if (!chain.Allocate(sealed.size())) return false;
  size_t length = chain.size();
  if (UnsealBuffer(sealed.data(), sealed.size(), name, chain.data(), length) != 0) return false;
  chain.Shrink(length);
  return true;
}

int32_t CheckAgainstCaChain(PolicyState& state, std::span<const X509Certificate> own,
                            der::Bytes keyId, CertificateWalk* walk) {
  // Without an identifier there is no chain to name, so nothing to fetch.
  if (own.empty() || keyId.empty() || keyId.size() > kMaxKeyIdLength) return -1;
  char name[2 * kMaxKeyIdLength + 2];
  if (HexUpper(keyId.data(), keyId.size(), name) != 0) return -1;
  return CheckWithChain(state, own, keyId, name, walk);
}

}  // namespace qalv
