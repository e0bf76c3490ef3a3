// The whole photo post, end to end: the plug-in's controller reads the photos, form-encodes them,
// signs the post and uploads it on its run loop. Two services receive it over real sockets on
// 127.0.0.1: a sink that only reads the body and answers 201 (bench/sink_server.h), so that the
// figures show the client's own cost, and the Plinth simulator (in-process), which also decodes and
// verifies the post. Peer: libcurl sending the same finished body with the same header fields to
// the same endpoint, freshly signed for every request since the simulator refuses a nonce it has
// seen. The sign-in always goes to the simulator's token endpoint.
//
// The floor for the client's work: HMAC-SHA1 (OpenSSL, one call) over a text as long as the post's
// signature base string, plus the form encoding of the same photo bytes into a reused buffer.
// Beside it, the controller's own composition and signing of the post from photos in memory, and
// the signing alone beside liboauth signing the same form body.
//
// Two selections: one photo of 5 MiB and five photos of 1 MiB, random bytes (so about 2.5
// characters of form body per photo byte). Wall time counts for the posts (UseRealTime): the
// transfer waits on the server's threads.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <oauth.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/sink_server.h"
#include "config/service_constants.h"
#include "encoding/data_url_encode.h"
#include "base/log.h"
#include "plugin/export_controller.h"
#include "plugin/post_signing.h"
#include "testing/controller_harness.h"

namespace {

using namespace marigold;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr const char* kUser = "bench";
constexpr const char* kPassword = "bench password";

enum class Service { kSink, kSimulator };

std::vector<std::size_t> selection(benchmark::State& state) {
  auto count = static_cast<std::size_t>(state.range(0));
  return std::vector<std::size_t>(count, 5 * kMiB / count);
}

std::vector<Bytes> randomPhotos(const std::vector<std::size_t>& sizes) {
  std::mt19937_64 random(42);
  std::vector<Bytes> photos;
  for (std::size_t size : sizes) {
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random() >> 56);
    // The plug-in posts only what starts like an image: these start as a JPEG file does.
    for (std::size_t i = 0; i < 3 && i < size; ++i) bytes[i] = "\xFF\xD8\xFF"[i];
    photos.push_back(std::move(bytes));
  }
  return photos;
}

// One signed-in controller over a selection of photos, posting to the sink or the simulator.
class PostRig {
 public:
  PostRig(const std::vector<std::size_t>& photoSizes, Service service)
      : photos_(randomPhotos(photoSizes)) {
    sim::SimOptions options;
    options.accounts = {{kUser, kPassword, {"bench-photos"}}};
    options.maxBody = 64 * kMiB;
    harness_.startSimulator(std::move(options));
    for (std::size_t i = 0; i < photos_.size(); ++i) {
      auto path = harness_.home_.path() / ("photo-" + std::to_string(i) + ".jpg");
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(photos_[i].data()),
                 static_cast<std::streamsize>(photos_[i].size()));
      harness_.host_.paths.push_back(path.string());
    }
    if (service == Service::kSink) sink_ = std::make_unique<SinkServer>();
    harness_.makeController(sink_ ? std::optional(sink_->base()) : std::nullopt);
    harness_.signIn(kUser, kPassword);
    if (!controller().loggedIn()) throw std::runtime_error("the bench user could not sign in");
    harness_.pane().plinthCaptions->setStringValue("Benchmark run");
    harness_.pane().plinthTags->setStringValue("bench,post");
  }

  // One whole export: read, encode, sign, upload, reply. Nothing when the service took the post,
  // else what the sheet said.
  std::optional<std::string> post() {
    auto message = harness_.exportAndWait(60.0);
    if (message && !controller().uploadFailed() &&
        controller().progressNotification()->buttons().front()->isEnabled()) {
      return std::nullopt;
    }
    return "the post failed: " + message.value_or("no sheet");
  }

  post_signing::Credentials credentials() {
    const OAToken token = *controller().accessToken();
    return {std::string(config::kConsumerKey), std::string(config::kConsumerSecret), token.key(),
            token.secret(), std::nullopt};
  }

  // Signs the composed post again: a fresh nonce and timestamp for the next send.
  void resign() {
    const auto c = credentials();
    controller().signRequestWithClientIdentifier(c.clientIdentifier, c.clientSecret,
                                                 c.tokenIdentifier, c.tokenSecret, std::nullopt,
                                                 post_signing::SignatureMethod::kHMAC_SHA1);
  }

  KZExportController& controller() { return *harness_.controller_; }
  const std::vector<Bytes>& photos() const { return photos_; }

 private:
  LogCapture quiet_;  // the controller logs every request's fields
  std::vector<Bytes> photos_;
  std::unique_ptr<SinkServer> sink_;  // outlives the controller, which may still hold a connection
  ControllerHarness harness_;
};

// One post before the measured loop, so that the composed request exists; a failure skips the
// benchmark with the reason.
bool postedOnce(PostRig& rig, benchmark::State& state) {
  const auto failure = rig.post();
  if (failure) state.SkipWithError(failure->c_str());
  return !failure;
}

void postThroughTheController(benchmark::State& state, Service service) {
  PostRig rig(selection(state), service);
  std::size_t bodyBytes = 0;
  for (auto _ : state) {
    if (const auto failure = rig.post()) {
      state.SkipWithError(failure->c_str());
      break;
    }
    bodyBytes = rig.controller().request()->HTTPBody()->size();
  }
  state.counters["body_MiB"] = static_cast<double>(bodyBytes) / kMiB;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 5 * kMiB);
}

size_t discardReply(char*, size_t size, size_t count, void*) { return size * count; }

// The finished request as the controller left it, sent by libcurl: same URL, header fields and
// body bytes (read in place), a new connection per request as the controller makes.
void postThroughCurl(benchmark::State& state, Service service) {
  PostRig rig(selection(state), service);
  if (!postedOnce(rig, state)) return;
  const std::string caFile = rig.controller().request()->trustedAuthorityFile();
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

void BM_PostToSink_Controller(benchmark::State& state) {
  postThroughTheController(state, Service::kSink);
}
BENCHMARK(BM_PostToSink_Controller)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PostToSink_Curl(benchmark::State& state) { postThroughCurl(state, Service::kSink); }
BENCHMARK(BM_PostToSink_Curl)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: what any client must do with this post's bytes. HMAC-SHA1 over a text as long as
// the signature base string (the real one, built once outside the timing) and the form encoding
// of the photos into a buffer reserved once.
void BM_Floor(benchmark::State& state) {
  PostRig rig(selection(state), Service::kSink);
  if (!postedOnce(rig, state)) return;
  const KZExportController& controller = rig.controller();
  const auto protocol = post_signing::oauthGenerateTimestampAndNonce();
  const std::string baseString =
      post_signing::signatureBaseString(*controller.url(), protocol, controller.params());
  const std::string key =
      std::string(config::kConsumerSecret) + "&" + controller.accessToken()->secret().value_or("");
  std::size_t encodedSize = 0;
  for (const Bytes& photo : rig.photos()) encodedSize += 3 * photo.size() + 4;
  Bytes encoded;
  encoded.reserve(encodedSize);
  for (auto _ : state) {
    encoded.clear();
    for (const Bytes& photo : rig.photos()) {
      NSData_URLEncode::appendWithoutURLEncoding(photo, encoded);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(baseString.data()), baseString.size(), digest,
         &digestLength);
    benchmark::DoNotOptimize(digest);
    benchmark::DoNotOptimize(encoded.data());
  }
  state.counters["base_MB"] = static_cast<double>(baseString.size()) / 1e6;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 5 * kMiB);
}
BENCHMARK(BM_Floor)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

// The controller's encoding and signing, the part of the client that the floor bounds: the post
// composed from photos in memory (form encoding, request) and signed with HMAC-SHA1.
void BM_ComposeAndSign_Ours(benchmark::State& state) {
  PostRig rig(selection(state), Service::kSink);
  if (!postedOnce(rig, state)) return;
  KZExportController& controller = rig.controller();
  const post_signing::Credentials c = rig.credentials();
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<Bytes> photos = rig.photos();
    state.ResumeTiming();
    controller.initWithNSDataForPhotos(std::move(photos), SinkServer::kBlog, "Benchmark run",
                                       "published", std::nullopt, "bench,post");
    controller.signRequestWithClientIdentifier(c.clientIdentifier, c.clientSecret,
                                               c.tokenIdentifier, c.tokenSecret, std::nullopt,
                                               post_signing::SignatureMethod::kHMAC_SHA1);
    benchmark::DoNotOptimize(controller.request()->HTTPBody());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 5 * kMiB);
}
BENCHMARK(BM_ComposeAndSign_Ours)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

// The signing alone: the composed post's parameters signed as the controller signs them.
void BM_SignPost_Ours(benchmark::State& state) {
  PostRig rig(selection(state), Service::kSink);
  if (!postedOnce(rig, state)) return;
  for (auto _ : state) {
    rig.resign();
    benchmark::DoNotOptimize(rig.controller().request()->HTTPBody());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 5 * kMiB);
}
BENCHMARK(BM_SignPost_Ours)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

// liboauth signing the same form body: the URL with the body as its query, split, sorted, encoded
// and signed with HMAC-SHA1, the signed form body written back.
void BM_SignPost_Liboauth(benchmark::State& state) {
  PostRig rig(selection(state), Service::kSink);
  if (!postedOnce(rig, state)) return;
  const KZExportController& controller = rig.controller();
  const OAToken token = *controller.accessToken();
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

// The same posts to the simulator, which reads, decodes and verifies each one: most of the time
// is the simulator's, for the controller and for curl alike.
void BM_PostToSimulator_Controller(benchmark::State& state) {
  postThroughTheController(state, Service::kSimulator);
}
BENCHMARK(BM_PostToSimulator_Controller)
    ->Arg(1)
    ->Arg(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_PostToSimulator_Curl(benchmark::State& state) {
  postThroughCurl(state, Service::kSimulator);
}
BENCHMARK(BM_PostToSimulator_Curl)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
