#include "x509/certificate.h"

namespace qalv {

RsaPublicKey::RsaPublicKey() : ctx_(new mbedtls_rsa_context) {
  mbedtls_rsa_init(ctx_.get(), MBEDTLS_RSA_PKCS_V15, 0);
}

void RsaPublicKey::Free::operator()(mbedtls_rsa_context* ctx) const {
  mbedtls_rsa_free(ctx);
  delete ctx;
}

}  // namespace qalv
