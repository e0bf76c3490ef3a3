#include "tls_identity.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace marigold::sim {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
  void operator()(X509* c) const { X509_free(c); }
};
struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

void check(bool ok, const std::string& step) {
  if (!ok) throw std::runtime_error("plinth-sim: could not create its TLS identity (" + step + ")");
}

KeyPtr newKey() {
  KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  check(key != nullptr, "key generation");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  check(ext != nullptr, std::string("extension ") + value);
  const int added = X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
  check(added == 1, "adding an extension");
}

CertPtr newCertificate(EVP_PKEY* key, const char* commonName) {
  CertPtr cert(X509_new());
  check(cert != nullptr, "certificate allocation");
  check(X509_set_version(cert.get(), 2) == 1, "certificate version");
  BIGNUM* serial = BN_new();
  check(serial != nullptr && BN_rand(serial, 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1,
        "serial number");
  check(BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert.get())) != nullptr, "serial number");
  BN_free(serial);
  // An hour of slack covers clients whose clock is a little behind.
  check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr, "validity");
  check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600) != nullptr, "validity");
  check(X509_set_pubkey(cert.get(), key) == 1, "public key");
  X509_NAME* name = X509_get_subject_name(cert.get());
  check(X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("plinth-sim"), -1, -1,
                                   0) == 1 &&
            X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                       0) == 1,
        "subject name");
  return cert;
}

void writePem(const std::filesystem::path& path, bool isPrivate,
              const std::function<int(std::FILE*)>& write) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);  // a fresh file takes the mode given here
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, isPrivate ? 0600 : 0644);
  check(fd >= 0, "opening " + path.string());
  FilePtr file(::fdopen(fd, "w"));
  if (!file) ::close(fd);
  check(file != nullptr, "opening " + path.string());
  check(write(file.get()) == 1, "writing " + path.string());
  check(std::fflush(file.get()) == 0, "writing " + path.string());
}

}  // namespace

TlsFiles writeTlsIdentity(const std::filesystem::path& dir) {
  KeyPtr caKey = newKey();
  CertPtr ca = newCertificate(caKey.get(), "plinth-sim local CA");
  check(X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get())) == 1, "CA issuer");
  addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
  addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
  check(X509_sign(ca.get(), caKey.get(), EVP_sha256()) > 0, "signing the CA");

  KeyPtr serverKey = newKey();
  CertPtr server = newCertificate(serverKey.get(), "127.0.0.1");
  check(X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get())) == 1, "issuer");
  addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
  addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
  addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
  addExtension(server.get(), ca.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
  check(X509_sign(server.get(), caKey.get(), EVP_sha256()) > 0, "signing the server certificate");

  TlsFiles files{dir / "ca.pem", dir / "server.pem", dir / "server-key.pem"};
  writePem(files.ca, false, [&](std::FILE* f) { return PEM_write_X509(f, ca.get()); });
  writePem(files.cert, false, [&](std::FILE* f) { return PEM_write_X509(f, server.get()); });
  writePem(files.key, true, [&](std::FILE* f) {
    return PEM_write_PrivateKey(f, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  return files;
}

}  // namespace marigold::sim
