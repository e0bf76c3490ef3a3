// AES-256 in ECB mode over 1 MiB: our table-driven rijndael routines beside OpenSSL's EVP
// aes-256-ecb (no padding), and HMAC-SHA1 of 1 MiB in pieces beside one-shot. Run once as is
// (OpenSSL with AES-NI) and once with OPENSSL_ia32cap="~0x200000200000000", which makes OpenSSL
// fall back to its own table code.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <memory>
#include <string_view>
#include <vector>

#include "crypto/aes_data.h"
#include "crypto/hmac_sha1.h"
#include "crypto/rijndael.h"

namespace {

using marigold::kRijndaelBlockLength;

constexpr std::size_t kLength = 1 << 20;

std::vector<std::uint8_t> input() {
  std::vector<std::uint8_t> bytes(kLength);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return bytes;
}

std::vector<std::uint8_t> key() {
  std::vector<std::uint8_t> bytes(32);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

template <bool kEncrypt>
void BM_AES256ECB_Ours(benchmark::State& state) {
  const auto in = input();
  std::vector<std::uint8_t> out(in.size());
  marigold::RijndaelSchedule schedule{};
  const int rounds = kEncrypt ? marigold::rijndaelSetupEncrypt(schedule, key(), 256)
                              : marigold::rijndaelSetupDecrypt(schedule, key(), 256);
  for (auto _ : state) {
    for (std::size_t at = 0; at < in.size(); at += kRijndaelBlockLength) {
      const std::span<const std::uint8_t, kRijndaelBlockLength> from(&in[at], kRijndaelBlockLength);
      const std::span<std::uint8_t, kRijndaelBlockLength> to(&out[at], kRijndaelBlockLength);
      if constexpr (kEncrypt) {
        marigold::rijndaelEncrypt(schedule, rounds, from, to);
      } else {
        marigold::rijndaelDecrypt(schedule, rounds, from, to);
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_AES256ECB_Ours<true>)->Name("BM_AES256ECB_Encrypt_Ours");
BENCHMARK(BM_AES256ECB_Ours<false>)->Name("BM_AES256ECB_Decrypt_Ours");

struct CipherDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

template <bool kEncrypt>
void BM_AES256ECB_OpenSSL(benchmark::State& state) {
  const auto in = input();
  std::vector<std::uint8_t> out(in.size());
  std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter> context(EVP_CIPHER_CTX_new());
  EVP_CipherInit_ex(context.get(), EVP_aes_256_ecb(), nullptr, key().data(), nullptr,
                    kEncrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(context.get(), 0);
  for (auto _ : state) {
    int length = 0;
    if (EVP_CipherUpdate(context.get(), out.data(), &length, in.data(),
                         static_cast<int>(in.size())) != 1) {
      state.SkipWithError("EVP_CipherUpdate failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_AES256ECB_OpenSSL<true>)->Name("BM_AES256ECB_Encrypt_OpenSSL");
BENCHMARK(BM_AES256ECB_OpenSSL<false>)->Name("BM_AES256ECB_Decrypt_OpenSSL");

// The settings cipher's byte operation end to end (key setup, padding, result buffer).
void BM_AESEncryptWithPassphrase(benchmark::State& state) {
  const auto in = input();
  for (auto _ : state) {
    auto cipher = marigold::aes::AESEncryptWithPassphrase(in, "a passphrase of thirty-two bytes!");
    benchmark::DoNotOptimize(cipher.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_AESEncryptWithPassphrase);

void BM_HMACSHA1_OneShot(benchmark::State& state) {
  const auto in = input();
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        marigold::hmacSHA1(std::string_view("consumer&token"),
                           std::string_view(reinterpret_cast<const char*>(in.data()), in.size())));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_HMACSHA1_OneShot);

// Fed in pieces of state.range(0) bytes, as the photo-post signer does.
void BM_HMACSHA1_Incremental(benchmark::State& state) {
  const auto in = input();
  const auto piece = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    marigold::HMACSHA1 mac(std::string_view("consumer&token"));
    for (std::size_t at = 0; at < in.size(); at += piece) {
      mac.update(std::span<const std::uint8_t>(in).subspan(at, std::min(piece, in.size() - at)));
    }
    benchmark::DoNotOptimize(mac.final());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_HMACSHA1_Incremental)->Arg(64)->Arg(4096)->Arg(65536);

}  // namespace

BENCHMARK_MAIN();
