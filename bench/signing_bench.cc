// Signing a typical API call: a POST with five form parameters and an access token, HMAC-SHA1.
// Ours: `prepare` on a request whose parameters are set (reads the body back, sorts, encodes,
// signs, writes the header), and the whole of creating, filling and preparing a request (fresh
// nonce and timestamp, as every call needs). Peer: liboauth's oauth_sign_array2 on the same
// parameters, which also makes its own nonce and timestamp and writes the signed body.
#include <benchmark/benchmark.h>
#include <oauth.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "oauth/mutable_url_request.h"
#include "oauth/request_parameters.h"
#include "base/log.h"

namespace {

using namespace marigold;

constexpr const char* kURL = "http://api.plinth.example/v2/blog/sunny.plinth.example/post";
constexpr const char* kConsumerKey = "kPazG2FIWVCNFqcRUyfJGNn6GTaoVse7ceLyxBC9TLP3nBcXS4";
constexpr const char* kConsumerSecret = "091fQUeaZFSFzBnysL5AnmBYBJJ7cUbmOEwjZjVwHuax7p5pjc";
constexpr const char* kToken = "Ql8GS1q3XJ2Ax7VnZpA8e0bB9yUEmWkNwQ4RqLxPdT5sH2cFvY";
constexpr const char* kTokenSecret = "m3nR8sV2xZqP6wLkJ4tB9yHcF1dG7aE0uNiOoKlMjSrTyUvWxX";

const OARequestParameter kParameters[] = {{"type", "text"},
                                          {"state", "published"},
                                          {"title", "Hello from the sea"},
                                          {"body", "Posted with Marigold: waves, sand & sun."},
                                          {"tags", "holiday,sea,2024"}};

OAMutableURLRequest newRequest() {
  OAMutableURLRequest request(*URL::withString(kURL), OAConsumer(kConsumerKey, kConsumerSecret),
                              OAToken(kToken, kTokenSecret), std::nullopt, nullptr);
  request.setHTTPMethod("POST");
  OAParameterAdditions::setParameters(request, kParameters);
  return request;
}

void BM_Prepare_Ours(benchmark::State& state) {
  LogCapture quiet;  // `prepare` logs the raw parameters once per call
  OAMutableURLRequest request = newRequest();
  for (auto _ : state) {
    request.prepare();
    benchmark::DoNotOptimize(request.signature());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Prepare_Ours);

void BM_CreateAndPrepare_Ours(benchmark::State& state) {
  LogCapture quiet;
  for (auto _ : state) {
    OAMutableURLRequest request = newRequest();
    request.prepare();
    benchmark::DoNotOptimize(request.signature());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CreateAndPrepare_Ours);

// liboauth takes the URL and the already encoded "name=value" pairs as a malloc'd array, which it
// extends with the oauth_ pairs; the array is rebuilt for every call.
void BM_SignArray2_Liboauth(benchmark::State& state) {
  std::vector<std::string> pairs = {kURL};
  for (const auto& parameter : kParameters) pairs.push_back(parameter.URLEncodedNameValuePair());
  for (auto _ : state) {
    int argc = static_cast<int>(pairs.size());
    char** argv = static_cast<char**>(std::malloc(sizeof(char*) * pairs.size()));
    for (std::size_t i = 0; i < pairs.size(); ++i) argv[i] = strdup(pairs[i].c_str());
    char* postargs = nullptr;
    char* url = oauth_sign_array2(&argc, &argv, &postargs, OA_HMAC, "POST", kConsumerKey,
                                  kConsumerSecret, kToken, kTokenSecret);
    benchmark::DoNotOptimize(postargs);
    std::free(url);
    std::free(postargs);
    oauth_free_array(&argc, &argv);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignArray2_Liboauth);

}  // namespace

BENCHMARK_MAIN();
