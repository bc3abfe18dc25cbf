#include "TestCerts.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <utility>

namespace orca_test {
namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;
using Extensions = std::initializer_list<std::pair<int, const char*>>;

void Check(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(std::string("test PKI: ") + what + " failed");
  }
}

KeyPtr NewKey() {
  KeyPtr key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
  Check(key != nullptr, "key generation");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  Check(ext != nullptr, "certificate extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// A week-long certificate for `key`, issued by `issuer` with `issuer_key`
// (self-signed when `issuer` is null).
CertPtr NewCert(const char* common_name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key,
                Extensions extensions) {
  CertPtr cert(X509_new(), &X509_free);
  Check(cert != nullptr, "certificate allocation");
  X509* self = cert.get();
  X509* signer = issuer != nullptr ? issuer : self;
  X509_set_version(self, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(self), issuer != nullptr ? 2 : 1);
  X509_gmtime_adj(X509_getm_notBefore(self), -3600);
  X509_gmtime_adj(X509_getm_notAfter(self), 7L * 24 * 3600);
  X509_set_pubkey(self, key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(self), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0);
  X509_set_issuer_name(self, X509_get_subject_name(signer));
  AddExtension(self, signer, NID_subject_key_identifier, "hash");
  for (const auto& [nid, value] : extensions) {
    AddExtension(self, signer, nid, value);
  }
  Check(X509_sign(self, issuer_key, EVP_sha256()) > 0, "certificate signing");
  return cert;
}

template <typename Writer>
void WritePem(const std::string& path, Writer write) {
  std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "w"), &std::fclose);
  Check(file != nullptr, "opening a PEM file");
  Check(write(file.get()), "writing a PEM file");
}

}  // namespace

TestPki MakeTestPki(const std::string& dir) {
  const KeyPtr ca_key = NewKey();
  const CertPtr ca = NewCert("Orca Test CA", ca_key.get(), nullptr, ca_key.get(),
                             {{NID_basic_constraints, "critical,CA:TRUE"},
                              {NID_key_usage, "critical,keyCertSign,cRLSign"}});
  const KeyPtr server_key = NewKey();
  const CertPtr server = NewCert(
      "localhost", server_key.get(), ca.get(), ca_key.get(),
      {{NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1"}, {NID_ext_key_usage, "serverAuth"}});

  TestPki pki{dir + "/ca.pem", dir + "/server.pem", dir + "/server.key"};
  WritePem(pki.ca_cert, [&](FILE* f) { return PEM_write_X509(f, ca.get()) == 1; });
  WritePem(pki.server_cert, [&](FILE* f) { return PEM_write_X509(f, server.get()) == 1; });
  WritePem(pki.server_key, [&](FILE* f) {
    return PEM_write_PrivateKey(f, server_key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  });
  return pki;
}

}  // namespace orca_test
