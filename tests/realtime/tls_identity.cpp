#include "tests/realtime/tls_identity.hpp"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace voduzazi::testing {

namespace {

template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, decltype([](T* p) { Free(p); })>;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("making the test certificate failed: ") + what);
}

std::string drain(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

TestTlsIdentity makeSelfSignedIdentity() {
  Owned<EVP_PKEY, EVP_PKEY_free> key(EVP_EC_gen("P-256"));
  check(key != nullptr, "key");
  Owned<X509, X509_free> certificate(X509_new());
  check(certificate != nullptr, "certificate");
  X509_set_version(certificate.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 24 * 3600);
  X509_set_pubkey(certificate.get(), key.get());
  X509_NAME* name = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(certificate.get(), name);
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate.get(), certificate.get(), nullptr, nullptr, 0);
  for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                            std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
    Owned<X509_EXTENSION, X509_EXTENSION_free> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    check(extension != nullptr, "extension");
    X509_add_ext(certificate.get(), extension.get(), -1);
  }
  check(X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0, "signature");

  Owned<BIO, BIO_free_all> certificateOut(BIO_new(BIO_s_mem()));
  Owned<BIO, BIO_free_all> keyOut(BIO_new(BIO_s_mem()));
  check(PEM_write_bio_X509(certificateOut.get(), certificate.get()) == 1, "certificate PEM");
  check(
      PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
      "key PEM");
  return {drain(certificateOut.get()), drain(keyOut.get())};
}

}  // namespace voduzazi::testing
