#include "platform/url_connection.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testing/loopback_socket.h"

namespace marigold {
namespace {

// ---- Loopback server -------------------------------------------------------------------------

// Serves on 127.0.0.1 from a thread for the lifetime of the object. A handler blocked in
// waitForRelease() is let go when the server is destroyed.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::unique_ptr<httplib::Server> server, std::string scheme = "http")
      : server_(std::move(server)), scheme_(std::move(scheme)) {
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    for (int i = 0; i < 5000 && !server_->is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~LoopbackServer() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    releasedChanged_.notify_all();
    server_->stop();
    thread_.join();
  }

  std::string url(std::string_view path, std::string_view host = "127.0.0.1") const {
    return scheme_ + "://" + std::string(host) + ":" + std::to_string(port_) + std::string(path);
  }
  void waitForRelease() {
    std::unique_lock lock(mutex_);
    releasedChanged_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
  }
  httplib::Server& server() { return *server_; }

 private:
  std::unique_ptr<httplib::Server> server_;
  std::string scheme_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable releasedChanged_;
  bool released_ = false;
};

// A body large enough to be sent in many pieces, with bytes that reveal reordering or loss.
Bytes patternBody(size_t size) {
  Bytes body(size);
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return body;
}

std::string text(ByteView bytes) { return std::string(bytes.begin(), bytes.end()); }

// Routes shared by the tests; records what the server saw.
struct Routes {
  std::mutex mutex;
  std::vector<std::string> paths;  // in arrival order
  httplib::Headers lastHeaders;    // of the last request
  std::string lastBody;            // of the last request
  LoopbackServer* owner = nullptr;

  void record(const httplib::Request& request) {
    std::lock_guard lock(mutex);
    paths.push_back(request.method + " " + request.path);
    lastHeaders = request.headers;
    lastBody = request.body;
  }
  int hits(const std::string& entry) {
    std::lock_guard lock(mutex);
    return static_cast<int>(std::count(paths.begin(), paths.end(), entry));
  }

  void install(httplib::Server& server) {
    auto any = [&server](const std::string& pattern, httplib::Server::Handler handler) {
      server.Get(pattern, handler);
      server.Post(pattern, handler);
      server.Put(pattern, handler);
    };
    any("/upload", [this](const httplib::Request& request, httplib::Response& response) {
      record(request);
      Bytes want = patternBody(request.body.size());
      bool same =
          std::equal(request.body.begin(), request.body.end(), want.begin(),
                     [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
      response.set_content(
          "received " + std::to_string(request.body.size()) + (same ? " intact" : " corrupted"),
          "text/plain");
    });
    any(R"(/redirect/(\d+))", [this](const httplib::Request& request, httplib::Response& response) {
      record(request);
      response.status = std::stoi(request.matches[1]);
      response.set_header("Location", "/target");
      response.set_content("redirect body", "text/plain");
    });
    any("/loop", [this](const httplib::Request& request, httplib::Response& response) {
      record(request);
      response.status = 302;
      response.set_header("Location", "/loop");
    });
    any("/target", [this](const httplib::Request& request, httplib::Response& response) {
      record(request);
      response.set_content(
          request.method + " with " + std::to_string(request.body.size()) + " body bytes",
          "text/plain");
    });
    any(R"(/status/(\d+))", [this](const httplib::Request& request, httplib::Response& response) {
      record(request);
      response.status = std::stoi(request.matches[1]);
      response.set_content("the service's message", "text/plain");
    });
    any(R"(/bytes/(\d+))", [this](const httplib::Request& request, httplib::Response& response) {
      record(request);
      response.set_content(std::string(std::stoul(request.matches[1]), 'b'), "text/plain");
    });
    any("/slow", [this](const httplib::Request& request, httplib::Response& response) {
      record(request);
      owner->waitForRelease();
      response.set_content("late", "text/plain");
    });
  }
};

struct TestServer {
  Routes routes;
  std::unique_ptr<LoopbackServer> loopback;

  explicit TestServer(std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>(),
                      std::string scheme = "http") {
    routes.install(*server);
    loopback = std::make_unique<LoopbackServer>(std::move(server), std::move(scheme));
    routes.owner = loopback.get();
  }
  std::string url(std::string_view path, std::string_view host = "127.0.0.1") const {
    return loopback->url(path, host);
  }
};

URLRequest requestFor(const std::string& url, std::string method = "GET",
                      std::optional<Bytes> body = std::nullopt, double timeout = 30) {
  URLRequest request(URL::withString(url).value());
  request.setHTTPMethod(std::move(method));
  request.setHTTPBody(std::move(body));
  request.setTimeoutInterval(timeout);
  // Named, and wide enough for what the tests below send and receive.
  request.setBounds({"connection test", URLRedirectPolicy::kFollow, 16 * 1024 * 1024, 600});
  return request;
}

// ---- Delegate that records every call ---------------------------------------------------------

struct Progress {
  std::int64_t written, total, expected;
};

class Recorder : public URLConnectionDelegate {
 public:
  std::optional<URLRequest> willSendRequest(
      URLConnection&, const URLRequest& request,
      const std::optional<HTTPURLResponse>& redirect) override {
    calls.push_back(redirect ? "redirect " + std::to_string(redirect->statusCode()) : "request");
    sentRequests.push_back(request);
    if (refuseRedirects && redirect) return std::nullopt;
    return request;
  }
  void didSendBodyData(URLConnection&, std::int64_t written, std::int64_t total,
                       std::int64_t expected) override {
    if (calls.empty() || calls.back() != "sent") calls.push_back("sent");
    progress.push_back({written, total, expected});
  }
  void didReceiveResponse(URLConnection& connection, const HTTPURLResponse& r) override {
    calls.push_back("response " + std::to_string(r.statusCode()));
    response = r;
    if (destroyOnResponse) owned.reset();
    (void)connection;
  }
  void didReceiveData(URLConnection&, ByteView bytes) override {
    if (calls.back() != "data") calls.push_back("data");
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  void didFailWithError(URLConnection&, const Error& e) override {
    calls.push_back("fail");
    error = e;
    ended = true;
  }
  void didFinishLoading(URLConnection&) override {
    calls.push_back("finish");
    ended = true;
  }

  std::vector<std::string> calls;
  std::vector<URLRequest> sentRequests;
  std::vector<Progress> progress;
  std::optional<HTTPURLResponse> response;
  Bytes data;
  std::optional<Error> error;
  bool ended = false;
  bool refuseRedirects = false;
  bool destroyOnResponse = false;
  std::unique_ptr<URLConnection> owned;
};

// Runs one asynchronous exchange to its end (bounded), on a loop of its own.
void exchange(Recorder& recorder, URLRequest request) {
  RunLoop loop;
  recorder.owned = std::make_unique<URLConnection>(std::move(request), recorder);
  recorder.owned->scheduleInRunLoop(loop);
  recorder.owned->start();
  EXPECT_TRUE(recorder.calls.empty()) << "no delegate call from start() itself";
  loop.runUntil([&] { return recorder.ended; }, 30.0);
  recorder.owned.reset();
}

// ---- Asynchronous connection ------------------------------------------------------------------

TEST(URLConnectionTest, LargeUploadReportsProgressUpToItsTotalBeforeTheResponse) {
  TestServer server;
  constexpr size_t kSize = 12 * 1024 * 1024 + 17;
  Recorder recorder;
  exchange(recorder, requestFor(server.url("/upload"), "POST", patternBody(kSize)));

  EXPECT_EQ(recorder.calls,
            (std::vector<std::string>{"request", "sent", "response 200", "data", "finish"}));
  ASSERT_FALSE(recorder.progress.empty());
  std::int64_t sum = 0, previous = 0;
  for (const Progress& p : recorder.progress) {
    sum += p.written;
    EXPECT_GT(p.total, previous);
    EXPECT_EQ(p.total, sum);
    EXPECT_EQ(p.expected, static_cast<std::int64_t>(kSize));
    previous = p.total;
  }
  EXPECT_EQ(recorder.progress.back().total, static_cast<std::int64_t>(kSize));
  EXPECT_EQ(text(recorder.data), "received " + std::to_string(kSize) + " intact");
}

TEST(URLConnectionTest, HeaderFieldsGoOutExactlyAsSet) {
  TestServer server;
  URLRequest request = requestFor(server.url("/upload"), "POST", Bytes{0, 7, 14});
  request.setValue("text/x-marigold", "Content-type");
  request.setValue("a  b", "X-Exact");
  request.setValue("99", "Content-Length");  // a wrong length must not break the framing
  Recorder recorder;
  exchange(recorder, request);
  ASSERT_EQ(recorder.calls.back(), "finish");

  std::lock_guard lock(server.routes.mutex);
  const auto& headers = server.routes.lastHeaders;
  auto value = [&](const char* name) {
    auto it = headers.find(name);
    return it == headers.end() ? std::string("(absent)") : it->second;
  };
  EXPECT_EQ(value("Content-Type"), "text/x-marigold");
  EXPECT_EQ(value("X-Exact"), "a  b");
  EXPECT_EQ(value("Content-Length"), "3");
  EXPECT_EQ(value("Expect"), "(absent)");
  EXPECT_EQ(value("Accept"), "(absent)");
  EXPECT_EQ(server.routes.lastBody, std::string("\0\7\16", 3));
}

TEST(URLConnectionTest, RedirectsAreFollowedThroughTheDelegate) {
  struct Case {
    int status;
    std::string wantTarget;  // what the target saw
    bool bodyAgain;          // the body is sent to the target too
  };
  const Case kCases[] = {
      {301, "GET with 0 body bytes", false}, {302, "GET with 0 body bytes", false},
      {303, "GET with 0 body bytes", false}, {307, "POST with 5 body bytes", true},
      {308, "POST with 5 body bytes", true},
  };
  TestServer server;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.status);
    Recorder recorder;
    URLRequest request =
        requestFor(server.url("/redirect/" + std::to_string(c.status)), "POST", Bytes(5, 'x'));
    request.setValue("text/plain", "Content-Type");
    exchange(recorder, request);
    ASSERT_EQ(recorder.sentRequests.size(), 2u);
    std::vector<std::string> want = {"request", "sent", "redirect " + std::to_string(c.status)};
    if (c.bodyAgain) want.push_back("sent");
    want.insert(want.end(), {"response 200", "data", "finish"});
    EXPECT_EQ(recorder.calls, want);
    EXPECT_EQ(recorder.sentRequests[1].valueForHTTPHeaderField("Content-Type").has_value(),
              c.bodyAgain);
    EXPECT_EQ(recorder.sentRequests[1].url().absoluteString(), server.url("/target"));
    EXPECT_EQ(text(recorder.data), c.wantTarget);
    ASSERT_TRUE(recorder.response);
    EXPECT_EQ(recorder.response->url().absoluteString(), server.url("/target"));
  }
}

TEST(URLConnectionTest, RefusedRedirectEndsTheExchangeSilently) {
  TestServer server;
  Recorder recorder;
  recorder.refuseRedirects = true;
  RunLoop loop;
  URLConnection connection(requestFor(server.url("/redirect/302")), recorder);
  connection.scheduleInRunLoop(loop);
  connection.start();
  loop.runUntil([&] { return recorder.calls.size() == 2; }, 30.0);
  loop.runUntil([] { return false; }, 0.2);  // room for any stray call
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{"request", "redirect 302"}));
  EXPECT_EQ(server.routes.hits("GET /target"), 0);
}

TEST(URLConnectionTest, TransportFailuresAndErrorStatuses) {
  struct Case {
    std::string name;
    std::string path;
    double timeout;
    std::vector<std::string> wantCalls;
    long wantCode;                // error code when it fails
    std::string wantDescription;  // a fragment of the error's description
  };
  TestServer server;
  std::string refused = "http://127.0.0.1:" + std::to_string(refusedLoopbackPort()) + "/";
  const Case kCases[] = {
      {"server error",
       server.url("/status/500"),
       30,
       {"request", "response 500", "data", "finish"},
       0,
       ""},
      {"not found",
       server.url("/status/404"),
       30,
       {"request", "response 404", "data", "finish"},
       0,
       ""},
      {"refused",
       refused,
       30,
       {"request", "fail"},
       CURLE_COULDNT_CONNECT,
       "Check that the service is running"},
      {"timeout",
       server.url("/slow"),
       1,
       {"request", "fail"},
       CURLE_OPERATION_TIMEDOUT,
       "did not answer within 1 seconds"},
      {"redirect loop",
       server.url("/loop"),
       30,
       {},
       CURLE_TOO_MANY_REDIRECTS,
       "redirected the request too often"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Recorder recorder;
    exchange(recorder, requestFor(c.path, "GET", std::nullopt, c.timeout));
    if (!c.wantCalls.empty()) {
      EXPECT_EQ(recorder.calls, c.wantCalls);
    }
    ASSERT_FALSE(recorder.calls.empty());
    if (c.wantCode == 0) {
      EXPECT_FALSE(recorder.error);
      EXPECT_EQ(text(recorder.data), "the service's message");
    } else {
      EXPECT_EQ(recorder.calls.back(), "fail");
      ASSERT_TRUE(recorder.error);
      EXPECT_EQ(recorder.error->domain, kURLLoadingErrorDomain);
      EXPECT_EQ(recorder.error->code, c.wantCode);
      EXPECT_NE(recorder.error->description.find("Could not load " + c.path), std::string::npos)
          << recorder.error->description;
      EXPECT_NE(recorder.error->description.find(c.wantDescription), std::string::npos)
          << recorder.error->description;
    }
  }
}

TEST(URLConnectionTest, ConnectionMayBeDestroyedInsideADelegateCall) {
  TestServer server;
  Recorder recorder;
  recorder.destroyOnResponse = true;
  RunLoop loop;
  recorder.owned = std::make_unique<URLConnection>(requestFor(server.url("/status/200")), recorder);
  recorder.owned->scheduleInRunLoop(loop);
  recorder.owned->start();
  loop.runUntil([&] { return recorder.owned == nullptr; }, 30.0);
  loop.runUntil([] { return false; }, 0.2);
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{"request", "response 200"}));
}

TEST(URLConnectionTest, CancelledOrUnscheduledConnectionCallsNothingMore) {
  TestServer server;
  for (bool unschedule : {false, true}) {
    Recorder recorder;
    RunLoop loop;
    URLConnection connection(requestFor(server.url("/slow")), recorder);
    connection.scheduleInRunLoop(loop);
    connection.start();
    loop.runUntil([&] { return server.routes.hits("GET /slow") > 0; }, 30.0);
    if (unschedule) {
      connection.unscheduleFromRunLoop(loop);
    } else {
      connection.cancel();
    }
    loop.runUntil([] { return false; }, 0.2);
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"request"});
    std::lock_guard lock(server.routes.mutex);
    server.routes.paths.clear();
  }
}

// ---- Synchronous exchange ---------------------------------------------------------------------

TEST(SendSynchronousRequestTest, OutcomesOfOneExchange) {
  struct Case {
    std::string name, url, method;
    std::optional<Bytes> body;
    double timeout;
    std::optional<long> wantStatus;
    std::optional<std::string> wantBody;
    long wantErrorCode;
  };
  TestServer server;
  std::string refused = "http://127.0.0.1:" + std::to_string(refusedLoopbackPort()) + "/";
  const Case kCases[] = {
      {"upload", server.url("/upload"), "POST", patternBody(3 * 1024 * 1024), 30, 200,
       "received 3145728 intact", 0},
      {"empty reply", server.url("/status/204"), "GET", std::nullopt, 30, 204, "", 0},
      {"post without a body", server.url("/target"), "POST", std::nullopt, 30, 200,
       "POST with 0 body bytes", 0},
      {"put without a body", server.url("/target"), "PUT", std::nullopt, 30, 200,
       "PUT with 0 body bytes", 0},
      {"error status", server.url("/status/503"), "GET", std::nullopt, 30, 503,
       "the service's message", 0},
      {"redirect", server.url("/redirect/307"), "PUT", Bytes(9, 'y'), 30, 200,
       "PUT with 9 body bytes", 0},
      {"refused", refused, "GET", std::nullopt, 30, std::nullopt, std::nullopt,
       CURLE_COULDNT_CONNECT},
      {"timeout", server.url("/slow"), "POST", Bytes(3, 'z'), 1, std::nullopt, std::nullopt,
       CURLE_OPERATION_TIMEDOUT},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    SynchronousReply reply = sendSynchronousRequest(requestFor(c.url, c.method, c.body, c.timeout));
    EXPECT_EQ(reply.response ? std::optional(reply.response->statusCode()) : std::nullopt,
              c.wantStatus);
    EXPECT_EQ(reply.body ? std::optional(text(*reply.body)) : std::nullopt, c.wantBody);
    EXPECT_EQ(reply.error ? reply.error->code : 0, c.wantErrorCode);
  }
}

// A request that chooses no bounds follows no redirect and reads no more than 1 MiB.
TEST(SendSynchronousRequestTest, ARequestWithoutBoundsGetsTheStrictest) {
  struct Case {
    std::string name, path;
    long wantErrorCode;
  };
  const Case kCases[] = {
      {"redirect", "/redirect/302", kURLLoadingRedirectRefused},
      {"1 MiB reply", "/bytes/1048576", 0},
      {"a byte more", "/bytes/1048577", kURLLoadingReplyTooLarge},
  };
  TestServer server;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const SynchronousReply reply =
        sendSynchronousRequest(URLRequest(*URL::withString(server.url(c.path))));
    EXPECT_EQ(reply.error ? reply.error->code : 0, c.wantErrorCode)
        << (reply.error ? reply.error->description : "");
  }
  EXPECT_EQ(server.routes.hits("GET /target"), 0);
}

// ---- TLS ----------------------------------------------------------------------------------------

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};

// A self-signed certificate for the IP address 127.0.0.1, made fresh for each test run.
struct TestCertificate {
  std::unique_ptr<EVP_PKEY, KeyFree> key;
  std::unique_ptr<X509, X509Free> certificate;
  std::string pem;
};

TestCertificate makeCertificate(const char* commonName, long serial) {
  TestCertificate result;
  result.key.reset(EVP_EC_gen("P-256"));
  result.certificate.reset(X509_new());
  X509* x = result.certificate.get();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
  X509_gmtime_adj(X509_getm_notBefore(x), -3600);
  X509_gmtime_adj(X509_getm_notAfter(x), 86400);
  X509_set_pubkey(x, result.key.get());
  X509_NAME* name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509_set_issuer_name(x, name);
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, x, x, nullptr, nullptr, 0);
  const std::pair<int, const char*> kExtensions[] = {
      {NID_subject_alt_name, "IP:127.0.0.1"},
      {NID_basic_constraints, "critical,CA:TRUE"},
      {NID_key_usage, "critical,digitalSignature,keyCertSign"},
  };
  for (auto [nid, value] : kExtensions) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(x, extension, -1);
    X509_EXTENSION_free(extension);
  }
  X509_sign(x, result.key.get(), EVP_sha256());
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, x);
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  result.pem.assign(data, static_cast<size_t>(length));
  BIO_free(bio);
  return result;
}

TEST(URLConnectionTLSTest, ExtraAuthorityIsTrustedAndNothingElse) {
  TestCertificate served = makeCertificate("Marigold test server", 1);
  TestCertificate other = makeCertificate("Marigold other authority", 2);
  std::string directory = ::testing::TempDir();
  std::string servedFile = directory + "/marigold-served-ca.pem";
  std::string otherFile = directory + "/marigold-other-ca.pem";
  std::ofstream(servedFile) << served.pem;
  std::ofstream(otherFile) << other.pem;

  TestServer server(
      std::make_unique<httplib::SSLServer>(served.certificate.get(), served.key.get()), "https");
  struct Case {
    std::string name;
    std::string caFile;
    std::string host;
    long wantErrorCode;
    std::string wantDescription;
  };
  const Case kCases[] = {
      {"extra authority trusted", servedFile, "127.0.0.1", 0, ""},
      {"no extra authority", "", "127.0.0.1", CURLE_PEER_FAILED_VERIFICATION,
       "set MARIGOLD_CA_FILE"},
      {"another authority", otherFile, "127.0.0.1", CURLE_PEER_FAILED_VERIFICATION, "not trusted"},
      {"name not in certificate", servedFile, "localhost", CURLE_PEER_FAILED_VERIFICATION, ""},
      {"missing authority file", directory + "/marigold-no-such.pem", "127.0.0.1",
       CURLE_SSL_CACERT_BADFILE, "marigold-no-such.pem could not be loaded"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    URLRequest request = requestFor(server.url("/status/200", c.host));
    request.setTrustedAuthorityFile(c.caFile);
    SynchronousReply reply = sendSynchronousRequest(request);
    EXPECT_EQ(reply.error ? reply.error->code : 0, c.wantErrorCode)
        << (reply.error ? reply.error->description : "");
    if (c.wantErrorCode == 0) {
      ASSERT_TRUE(reply.response);
      EXPECT_EQ(reply.response->statusCode(), 200);
      EXPECT_EQ(text(reply.body.value_or(Bytes{})), "the service's message");
    } else {
      EXPECT_FALSE(reply.response);
      ASSERT_TRUE(reply.error);
      EXPECT_NE(reply.error->description.find(c.wantDescription), std::string::npos)
          << reply.error->description;
    }
  }
}

}  // namespace
}  // namespace marigold
