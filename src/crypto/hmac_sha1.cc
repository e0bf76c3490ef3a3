#include "crypto/hmac_sha1.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace marigold {

namespace {

std::span<const std::uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

[[noreturn]] void fail(const char* what) {
  // These calls fail only when OpenSSL itself is broken or out of memory; nothing a caller can
  // mend.
  throw std::runtime_error(std::string("HMAC-SHA1: OpenSSL ") + what + " failed");
}

struct MacDeleter {
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacContextDeleter {
  void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};

}  // namespace

struct HMACSHA1::Context {
  std::unique_ptr<EVP_MAC, MacDeleter> mac;
  std::unique_ptr<EVP_MAC_CTX, MacContextDeleter> context;
  bool finished = false;
};

HMACSHA1::HMACSHA1(std::span<const std::uint8_t> key) : context_(std::make_unique<Context>()) {
  context_->mac.reset(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  if (!context_->mac) fail("EVP_MAC_fetch(HMAC)");
  context_->context.reset(EVP_MAC_CTX_new(context_->mac.get()));
  if (!context_->context) fail("EVP_MAC_CTX_new");
  char digest[] = "SHA1";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_end(),
  };
  // A null key pointer means "keep the previous key" to OpenSSL, so an empty key still needs a
  // valid address.
  static constexpr std::uint8_t kNoKey = 0;
  const std::uint8_t* keyBytes = key.empty() ? &kNoKey : key.data();
  if (EVP_MAC_init(context_->context.get(), keyBytes, key.size(), params) != 1) {
    fail("EVP_MAC_init");
  }
}

HMACSHA1::HMACSHA1(std::string_view key) : HMACSHA1(asBytes(key)) {}

HMACSHA1::~HMACSHA1() = default;
HMACSHA1::HMACSHA1(HMACSHA1&&) noexcept = default;
HMACSHA1& HMACSHA1::operator=(HMACSHA1&&) noexcept = default;

void HMACSHA1::update(std::span<const std::uint8_t> piece) {
  if (!context_ || context_->finished) throw std::logic_error("HMAC-SHA1: update after final");
  if (piece.empty()) return;
  if (EVP_MAC_update(context_->context.get(), piece.data(), piece.size()) != 1) {
    fail("EVP_MAC_update");
  }
}

void HMACSHA1::update(std::string_view piece) { update(asBytes(piece)); }

HMACSHA1Digest HMACSHA1::final() {
  if (!context_ || context_->finished) throw std::logic_error("HMAC-SHA1: final called twice");
  context_->finished = true;
  HMACSHA1Digest digest{};
  std::size_t length = 0;
  if (EVP_MAC_final(context_->context.get(), digest.data(), &length, digest.size()) != 1 ||
      length != digest.size()) {
    fail("EVP_MAC_final");
  }
  return digest;
}

HMACSHA1Digest hmacSHA1(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message) {
  HMACSHA1 mac(key);
  mac.update(message);
  return mac.final();
}

HMACSHA1Digest hmacSHA1(std::string_view key, std::string_view message) {
  return hmacSHA1(asBytes(key), asBytes(message));
}

}  // namespace marigold
