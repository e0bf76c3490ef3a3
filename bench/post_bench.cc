// The whole photo post, end to end: the plug-in's controller reads 5 MiB of photos, form-encodes
// them, signs the post and uploads it on its run loop to the Plinth simulator (in-process, real
// sockets on 127.0.0.1). Peer: libcurl sending the same finished body with the same header fields
// to the same endpoint, freshly signed for every request since the service refuses a nonce it has
// seen. Also the signing alone of that post beside liboauth signing the same form body.
//
// Two selections: one photo of 5 MiB and five photos of 1 MiB, random bytes (so about 2.5
// characters of form body per photo byte). Wall time counts here (UseRealTime): the transfer waits
// on the simulator's threads.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <oauth.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/service_constants.h"
#include "platform/log.h"
#include "plugin/export_controller.h"
#include "plugin/post_signing.h"
#include "testing/controller_harness.h"

namespace {

using namespace marigold;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr const char* kUser = "bench";
constexpr const char* kPassword = "bench password";

// One signed-in controller over a selection of photos, against its own simulator.
class PostRig {
 public:
  explicit PostRig(const std::vector<std::size_t>& photoSizes) {
    sim::SimOptions options;
    options.accounts = {{kUser, kPassword, {"bench-photos"}}};
    options.maxBody = 64 * kMiB;
    harness_.startSimulator(std::move(options));

    std::mt19937_64 random(42);
    for (std::size_t i = 0; i < photoSizes.size(); ++i) {
      std::string bytes(photoSizes[i], '\0');
      for (char& c : bytes) c = static_cast<char>(random() >> 56);
      auto path = harness_.home_.path() / ("photo-" + std::to_string(i) + ".jpg");
      std::ofstream(path, std::ios::binary) << bytes;
      harness_.host_.paths.push_back(path.string());
    }

    harness_.makeController();
    harness_.signIn(kUser, kPassword);
    if (!controller().loggedIn()) throw std::runtime_error("the bench user could not sign in");
    harness_.pane().plinthCaptions->setStringValue("Benchmark run");
    harness_.pane().plinthTags->setStringValue("bench,post");
  }

  // One whole export: read, encode, sign, upload, reply. True when the service stored the post.
  bool post() {
    auto message = harness_.exportAndWait(60.0);
    return message && !controller().uploadFailed() &&
           controller().progressNotification()->buttons().front()->isEnabled();
  }

  // Signs the composed post again: a fresh nonce and timestamp for the next send.
  void resign() {
    const OAToken& token = *controller().accessToken();
    controller().signRequestWithClientIdentifier(
        std::string(config::kConsumerKey), std::string(config::kConsumerSecret), token.key(),
        token.secret(), std::nullopt, post_signing::SignatureMethod::kHMAC_SHA1);
  }

  KZExportController& controller() { return *harness_.controller_; }

 private:
  LogCapture quiet_;  // the controller logs every request's fields
  ControllerHarness harness_;
};

std::vector<std::size_t> selection(benchmark::State& state) {
  auto count = static_cast<std::size_t>(state.range(0));
  return std::vector<std::size_t>(count, 5 * kMiB / count);
}

void BM_Post_Controller(benchmark::State& state) {
  PostRig rig(selection(state));
  std::size_t bodyBytes = 0;
  for (auto _ : state) {
    if (!rig.post()) {
      state.SkipWithError("the post failed");
      break;
    }
    bodyBytes = rig.controller().request()->HTTPBody()->size();
  }
  state.counters["body_MiB"] = static_cast<double>(bodyBytes) / kMiB;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 5 * kMiB);
}
BENCHMARK(BM_Post_Controller)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

size_t discardReply(char*, size_t size, size_t count, void*) { return size * count; }

// The finished request as the controller left it, sent by libcurl: same URL, header fields and
// body bytes (read in place), a new connection per request as the controller makes.
void BM_Post_Curl(benchmark::State& state) {
  PostRig rig(selection(state));
  if (!rig.post()) {
    state.SkipWithError("the controller's post failed");
    return;
  }
  std::string caFile = std::getenv("MARIGOLD_CA_FILE");
  for (auto _ : state) {
    state.PauseTiming();
    rig.resign();
    const URLRequest& request = *rig.controller().request();
    curl_slist* headers = nullptr;
    for (const auto& [name, value] : request.allHTTPHeaderFields()) {
      headers = curl_slist_append(headers, (name + ": " + value).c_str());
    }
    headers = curl_slist_append(headers, "Expect:");
    headers = curl_slist_append(headers, "Accept:");
    ByteView body = *request.HTTPBody();
    state.ResumeTiming();

    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, request.url().absoluteString().c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discardReply);
    curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    CURLcode result = curl_easy_perform(easy);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
    if (result != CURLE_OK || status < 200 || status > 299) {
      state.SkipWithError(("curl's post failed, status " + std::to_string(status)).c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 5 * kMiB);
}
BENCHMARK(BM_Post_Curl)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// The signing alone: the composed 5 MiB post's parameters signed as the controller signs them
// (body written, incremental HMAC-SHA1 over the base string, header).
void BM_SignPost_Ours(benchmark::State& state) {
  PostRig rig(selection(state));
  if (!rig.post()) {
    state.SkipWithError("the controller's post failed");
    return;
  }
  const KZExportController& controller = rig.controller();
  const OAToken& token = *controller.accessToken();
  post_signing::Credentials credentials{std::string(config::kConsumerKey),
                                        std::string(config::kConsumerSecret), token.key(),
                                        token.secret(), std::nullopt};
  URLRequest request(*controller.url());
  for (auto _ : state) {
    post_signing::signRequest(request, *controller.url(), controller.params(), credentials,
                              post_signing::SignatureMethod::kHMAC_SHA1);
    benchmark::DoNotOptimize(request.HTTPBody());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 5 * kMiB);
}
BENCHMARK(BM_SignPost_Ours)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

// liboauth signing the same form body: the URL with the body as its query, split, sorted, encoded
// and signed with HMAC-SHA1, the signed form body written back.
void BM_SignPost_Liboauth(benchmark::State& state) {
  PostRig rig(selection(state));
  if (!rig.post()) {
    state.SkipWithError("the controller's post failed");
    return;
  }
  const KZExportController& controller = rig.controller();
  const OAToken& token = *controller.accessToken();
  ByteView body = *controller.request()->HTTPBody();
  const std::string consumerKey(config::kConsumerKey), consumerSecret(config::kConsumerSecret);
  std::string urlWithBody = controller.url()->absoluteString() + "?" +
                            std::string(reinterpret_cast<const char*>(body.data()), body.size());
  for (auto _ : state) {
    char* postargs = nullptr;
    char* url =
        oauth_sign_url2(urlWithBody.c_str(), &postargs, OA_HMAC, "POST", consumerKey.c_str(),
                        consumerSecret.c_str(), token.key()->c_str(), token.secret()->c_str());
    benchmark::DoNotOptimize(postargs);
    std::free(url);
    std::free(postargs);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 5 * kMiB);
}
BENCHMARK(BM_SignPost_Liboauth)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
