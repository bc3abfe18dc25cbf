#include "TestCerts.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <utility>

namespace orca_test {
namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(std::string("test PKI: ") + what + " failed");
  }
}

void AddExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  Check(ext != nullptr, "certificate extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

template <typename Writer>
void WritePem(const std::string& path, Writer write) {
  std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "w"), &std::fclose);
  Check(file != nullptr, "opening a PEM file");
  Check(write(file.get()), "writing a PEM file");
}

}  // namespace

TestPki MakeTestPki(const std::string& dir) {
  const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"),
                                                                &EVP_PKEY_free);
  const std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
  Check(key != nullptr && cert != nullptr, "key generation");
  X509* self = cert.get();
  X509_set_version(self, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(self), 1);
  X509_gmtime_adj(X509_getm_notBefore(self), -3600);
  X509_gmtime_adj(X509_getm_notAfter(self), 7L * 24 * 3600);
  X509_set_pubkey(self, key.get());
  X509_NAME* name = X509_get_subject_name(self);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(self, name);
  const std::pair<int, const char*> extensions[] = {
      {NID_basic_constraints, "critical,CA:TRUE"},
      {NID_subject_key_identifier, "hash"},
      {NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1"},
  };
  for (const auto& [nid, value] : extensions) {
    AddExtension(self, nid, value);
  }
  Check(X509_sign(self, key.get(), EVP_sha256()) > 0, "certificate signing");

  TestPki pki{dir + "/ca.pem", dir + "/server.pem", dir + "/server.key"};
  const auto write_cert = [self](FILE* f) { return PEM_write_X509(f, self) == 1; };
  WritePem(pki.ca_cert, write_cert);
  WritePem(pki.server_cert, write_cert);
  WritePem(pki.server_key, [&key](FILE* f) {
    return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  });
  return pki;
}

}  // namespace orca_test
