// Base64 and percent-encoding against the peers a C++ program would otherwise reach for: OpenSSL's
// EVP_EncodeBlock/EVP_DecodeBlock and libcurl's curl_easy_escape.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "encoding/base64_transcoder.h"
#include "encoding/data_base64.h"
#include "encoding/data_url_encode.h"

namespace {

constexpr std::int64_t kDigest = 20;
constexpr std::int64_t kMiB = 1 << 20;

marigold::Bytes randomBytes(std::size_t n) {
  std::mt19937 random(42);
  marigold::Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// Base64 without line breaks, which every decoder here reads.
std::string flatBase64(std::size_t n) { return marigold::NewBase64Encode(randomBytes(n), false); }

void BM_Base64Encode_OursBuffer(benchmark::State& state) {
  const auto in = randomBytes(static_cast<std::size_t>(state.range(0)));
  std::string out(marigold::EstimateBas64EncodedDataSize(in.size()), '\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(marigold::Base64EncodeData(in, out));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Base64Encode_OursAllocating(benchmark::State& state) {
  const auto in = randomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(marigold::NewBase64Encode(in, false));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Base64Encode_OpenSSL(benchmark::State& state) {
  const auto in = randomBytes(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> out((in.size() + 2) / 3 * 4 + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_EncodeBlock(out.data(), in.data(), static_cast<int>(in.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Base64Decode_OursBuffer(benchmark::State& state) {
  const std::string in = flatBase64(static_cast<std::size_t>(state.range(0)));
  std::vector<std::uint8_t> out(marigold::EstimateBas64DecodedDataSize(in.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(marigold::Base64DecodeData(in, out));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Base64Decode_OursAllocating(benchmark::State& state) {
  const std::string in = flatBase64(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(marigold::NewBase64Decode(in));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Base64Decode_OpenSSL(benchmark::State& state) {
  const std::string in = flatBase64(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> out(in.size() / 4 * 3 + 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_DecodeBlock(out.data(),
                                             reinterpret_cast<const unsigned char*>(in.data()),
                                             static_cast<int>(in.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_FormEncode_Ours(benchmark::State& state) {
  const auto in = randomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(marigold::NSData_URLEncode::stringWithoutURLEncoding(in));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_FormEncode_Curl(benchmark::State& state) {
  const auto in = randomBytes(static_cast<std::size_t>(state.range(0)));
  CURL* curl = curl_easy_init();
  for (auto _ : state) {
    char* out = curl_easy_escape(curl, reinterpret_cast<const char*>(in.data()),
                                 static_cast<int>(in.size()));
    benchmark::DoNotOptimize(out);
    curl_free(out);
  }
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_Base64Encode_OursBuffer)->Arg(kDigest)->Arg(kMiB);
BENCHMARK(BM_Base64Encode_OursAllocating)->Arg(kDigest)->Arg(kMiB);
BENCHMARK(BM_Base64Encode_OpenSSL)->Arg(kDigest)->Arg(kMiB);
BENCHMARK(BM_Base64Decode_OursBuffer)->Arg(kDigest)->Arg(kMiB);
BENCHMARK(BM_Base64Decode_OursAllocating)->Arg(kDigest)->Arg(kMiB);
BENCHMARK(BM_Base64Decode_OpenSSL)->Arg(kDigest)->Arg(kMiB);
BENCHMARK(BM_FormEncode_Ours)->Arg(5 * kMiB);
BENCHMARK(BM_FormEncode_Curl)->Arg(5 * kMiB);

}  // namespace

BENCHMARK_MAIN();
