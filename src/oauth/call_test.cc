#include "oauth/call.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "oauth/request_parameters.h"
#include "base/log.h"
#include "platform/run_loop.h"
#include "testing/http_body_server.h"
#include "testing/multipart_reader.h"
#include "testing/test_server.h"

namespace marigold {
namespace {

// Records what a call reports; the tag says which path.
class Recorder : public OACallDelegate {
 public:
  void call(OACall&, const OAProblem& problem) override {
    outcomes.push_back("problem " + problem.problem());
  }
  void call(OACall&, const std::optional<Error>& error) override {
    outcomes.push_back(error ? "error " + error->description : "error (none)");
  }
  OACall::DidFinish finish() {
    return [this](OACall&, const std::optional<std::string>& body) {
      outcomes.push_back("finished " + body.value_or("(absent)"));
    };
  }
  bool waitForOutcomes(std::size_t count) {
    const bool arrived = RunLoop::current().runUntil([&] { return outcomes.size() >= count; }, 20);
    RunLoop::current().runUntil([] { return false; }, 0.05);  // and no more
    return arrived;
  }
  std::vector<std::string> outcomes;
};

std::string headerItem(const std::string& header, const std::string& name) {
  const auto at = header.find(name + "=\"");
  if (at == std::string::npos) return "";
  const auto start = at + name.size() + 2;
  return header.substr(start, header.find('"', start) - start);
}

class OACallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.any(R"(/reply/(\d+))", [](const httplib::Request& request, httplib::Response& r) {
      r.status = std::stoi(request.matches[1]);
      r.set_content(request.get_param_value("body"), "text/plain");
    });
  }
  void perform(OACall& call) {
    call.perform(OAConsumer("ck", "cs"), OAToken("tk", "ts"), "realm", recorder_,
                 recorder_.finish());
  }
  std::shared_ptr<OACall> callTo(const std::string& pathAndQuery) {
    return std::make_shared<OACall>(*URL::withString(server_.url(pathAndQuery)));
  }

  TestServer server_;
  Recorder recorder_;
  LogCapture log_;
};

TEST_F(OACallTest, RepliesGoToTheFinishOrTheFailurePaths) {
  struct Case {
    std::string path, want;
    bool logsErrorBody;
  };
  const Case kCases[] = {
      {"/reply/200?body=x%3D1", "finished x=1", false},
      {"/reply/201?body=", "finished ", false},
      {"/reply/401?body=oauth_problem%3Dnonce_used%26a%3Db", "problem nonce_used", true},
      {"/reply/400?body=oauth_problem%3Dtoken_expired", "problem token_expired", true},
      {"/reply/401?body=oauth_problem%3Dbogus", "error (none)", true},
      {"/reply/500?body=boom", "error (none)", true},
      {"/reply/500?body=oauth_token%3Dk%26oauth_token_secret%3Dhush", "error (none)", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    recorder_.outcomes.clear();
    const LogCapture log;
    auto call = callTo(c.path);
    perform(*call);
    ASSERT_TRUE(recorder_.waitForOutcomes(1));
    EXPECT_EQ(recorder_.outcomes, std::vector<std::string>{c.want});
    EXPECT_EQ(log.contains("error body: "), c.logsErrorBody);
    EXPECT_FALSE(log.contains("hush"));  // a token secret in the reply is masked
    ASSERT_TRUE(call->ticket());
    EXPECT_EQ(call->ticket()->didSucceed(), !c.logsErrorBody);
  }
}

TEST_F(OACallTest, TransportFailureAndMissingURLReachTheDelegateWithAnError) {
  auto noURL = std::make_shared<OACall>();
  perform(*noURL);
  EXPECT_TRUE(recorder_.outcomes.empty());  // reported from the run loop
  ASSERT_TRUE(recorder_.waitForOutcomes(1));
  EXPECT_TRUE(recorder_.outcomes[0].starts_with("error The call has no URL"))
      << recorder_.outcomes[0];

  recorder_.outcomes.clear();
  auto refused = std::make_shared<OACall>(*URL::withString("http://127.0.0.1:1/"));
  perform(*refused);
  ASSERT_TRUE(recorder_.waitForOutcomes(1));
  EXPECT_TRUE(recorder_.outcomes[0].starts_with("error ")) << recorder_.outcomes[0];
  EXPECT_NE(recorder_.outcomes[0], "error (none)");
}

TEST_F(OACallTest, EveryAttemptHasANewNonce) {
  auto call = callTo("/reply/200?body=ok");
  perform(*call);
  ASSERT_TRUE(recorder_.waitForOutcomes(1));
  call->performAgain();
  ASSERT_TRUE(recorder_.waitForOutcomes(2));
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string first = requests[0].get_header_value("Authorization");
  const std::string second = requests[1].get_header_value("Authorization");
  EXPECT_EQ(headerItem(first, "oauth_token"), "tk");
  EXPECT_EQ(headerItem(first, "realm"), "realm");
  EXPECT_NE(headerItem(first, "oauth_nonce"), "");
  EXPECT_NE(headerItem(first, "oauth_nonce"), headerItem(second, "oauth_nonce"));
}

TEST_F(OACallTest, ParametersGoWhereTheMethodPutsThem) {
  const std::vector<OARequestParameter> parameters = {{"a", "1 2"}, {"b", "x&y"}};
  const auto url = *URL::withString(server_.url("/reply/200"));
  const std::shared_ptr<OACall> calls[] = {
      std::make_shared<OACall>(url, parameters),          // GET: the query
      std::make_shared<OACall>(url, "POST", parameters),  // a form body
  };
  for (const auto& call : calls) {
    perform(*call);
    ASSERT_TRUE(recorder_.waitForOutcomes(recorder_.outcomes.size() + 1));
  }
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);

  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].get_param_value("a"), "1 2");
  EXPECT_EQ(requests[0].get_param_value("b"), "x&y");

  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].body, "a=1%202&b=x%26y");
}

// Calls with files, end to end, read on the server by a multipart reader that follows the RFC's
// framing and by cpp-httplib's: every part arrives whole, in order, with its name, file name and
// type.
TEST_F(OACallTest, FilesArriveAsMultipartPartsAConformingReaderTakesApart) {
  struct Received {
    std::string name, filename, type, content;
  };
  std::vector<std::vector<Received>> received;
  HttpBodyServer multipartServer([&](const HttpBodyServer::Request& request) {
    const auto boundary = multipart::boundaryOf(request.header("Content-Type").value_or(""));
    const auto parts = boundary ? multipart::readParts(request.body, *boundary) : std::nullopt;
    if (!parts) return HttpBodyServer::Response{400, "malformed multipart body"};
    std::vector<Received> got;
    for (const multipart::Part& part : *parts) {
      got.push_back({part.disposition("name").value_or("(none)"),
                     part.disposition("filename").value_or("(none)"),
                     part.headers.count("content-type") ? part.headers.at("content-type") : "",
                     part.content});
    }
    received.push_back(std::move(got));  // the client waits for the answer: no race
    return HttpBodyServer::Response{201, std::to_string(parts->size()) + " parts"};
  });
  // cpp-httplib keeps the parts by name (the cases' names are in order).
  server_.any("/upload", [&](const httplib::Request& request, httplib::Response& response) {
    if (request.files.empty()) {
      response.status = 400;
      return;
    }
    std::vector<Received> got;
    for (const auto& [name, part] : request.files) {
      got.push_back({name, part.filename.empty() ? "(none)" : part.filename, part.content_type,
                     part.content});
    }
    received.push_back(std::move(got));
    response.status = 201;
    response.set_content(std::to_string(request.files.size()) + " parts", "text/plain");
  });

  const std::vector<OARequestParameter> parameters = {{"a", "1 2"}, {"b", "x&y"}};
  // Bytes that a careless framing would cut at: CR LF, dashes, a line that starts like a boundary.
  const std::string photo("\x00\xFF\r\n--\r\n-----x\x80\r\n", 15);
  const Bytes photoBytes(photo.begin(), photo.end());
  struct Case {
    std::string name;
    OACall::Files files;
    std::vector<Received> want;
  };
  // A file that holds the standard boundary, at a line start as a delimiter would be.
  const std::string boundary(OAParameterAdditions::kBoundary);
  const std::string holder = "x\r\n--" + boundary + "\r\n--" + boundary + "0--\r\n";
  const Case kCases[] = {
      {"one file",
       {{"photo", {"p.jpg", "image/jpeg", photoBytes}}},
       {{"a", "(none)", "", "1 2"},
        {"b", "(none)", "", "x&y"},
        {"photo", "p.jpg", "image/jpeg", photo}}},
      {"several files, numbered names",
       {{"one", {"a.bin", "application/octet-stream", photoBytes}},
        {"two", {"b.bin", "application/octet-stream", {'3'}}},
        {"zempty", {"c.txt", "text/plain", {}}}},
       {{"a", "(none)", "", "1 2"},
        {"b", "(none)", "", "x&y"},
        {"one", "a.bin-0", "application/octet-stream", photo},
        {"two", "b.bin-1", "application/octet-stream", "3"},
        {"zempty", "c.txt-2", "text/plain", ""}}},
      {"a file holding the boundary",
       {{"f", {"h.txt", "text/plain", Bytes(holder.begin(), holder.end())}}},
       {{"a", "(none)", "", "1 2"},
        {"b", "(none)", "", "x&y"},
        {"f", "h.txt", "text/plain", holder}}},
      {"a quote and a line break in the names",
       {{"f\"\r\n", {"a\"b\r\nc.jpg", "image/jpeg", {'1'}}}},
       {{"a", "(none)", "", "1 2"},
        {"b", "(none)", "", "x&y"},
        {"f%22%0D%0A", "a%22b%0D%0Ac.jpg", "image/jpeg", "1"}}},
  };
  const std::string kBases[] = {multipartServer.base(), server_.url("")};
  for (int run = 0; run < 2 * static_cast<int>(std::size(kCases)); ++run) {
    const Case& c = kCases[run / 2];
    const std::string& base = kBases[run % 2];
    SCOPED_TRACE(c.name + " to " + base);
    const auto url = *URL::withString(base + "/upload");
    recorder_.outcomes.clear();
    received.clear();
    auto call = std::make_shared<OACall>(url, parameters, c.files);
    perform(*call);
    ASSERT_TRUE(recorder_.waitForOutcomes(1));
    EXPECT_EQ(recorder_.outcomes,
              std::vector<std::string>{"finished " + std::to_string(c.want.size()) + " parts"});
    ASSERT_EQ(received.size(), 1u);
    ASSERT_EQ(received[0].size(), c.want.size());
    for (std::size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ(received[0][i].name, c.want[i].name) << i;
      EXPECT_EQ(received[0][i].filename, c.want[i].filename) << i;
      EXPECT_EQ(received[0][i].type, c.want[i].type) << i;
      EXPECT_EQ(received[0][i].content, c.want[i].content) << i;
    }
  }
}

TEST_F(OACallTest, PerformNeedsSharedOwnership) {
  OACall call(*URL::withString(server_.url("/reply/200")));
  EXPECT_THROW(perform(call), std::logic_error);
}

}  // namespace
}  // namespace marigold
