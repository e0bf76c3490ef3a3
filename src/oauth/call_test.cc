#include "oauth/call.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "testing/test_server.h"
#include "platform/log.h"
#include "platform/run_loop.h"

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

TEST_F(OACallTest, ParametersAndFilesGoWhereTheMethodPutsThem) {
  const std::vector<OARequestParameter> parameters = {{"a", "1 2"}, {"b", "x&y"}};
  const Bytes photo = {0x00, 0xFF, '\r', '\n', 0x80};
  OACall::Files oneFile = {{"photo", {"p.jpg", "image/jpeg", photo}}};
  OACall::Files twoFiles = {{"one", {"a.bin", "application/octet-stream", {'1', '2'}}},
                            {"two", {"b.bin", "application/octet-stream", {'3'}}}};
  const auto get = *URL::withString(server_.url("/reply/200"));
  const auto raw = *URL::withString(server_.url("/reply/200"));
  const std::shared_ptr<OACall> calls[] = {
      std::make_shared<OACall>(get, parameters),            // GET: the query
      std::make_shared<OACall>(raw, "POST", parameters),    // a form body
      std::make_shared<OACall>(raw, parameters, oneFile),   // multipart, POST
      std::make_shared<OACall>(raw, parameters, twoFiles),  // multipart, numbered names
  };
  for (const auto& call : calls) {
    perform(*call);
    ASSERT_TRUE(recorder_.waitForOutcomes(recorder_.outcomes.size() + 1));
  }
  // The bodies as sent, from the tickets (the test server is strict about multipart epilogues).
  std::vector<std::string> sent;
  for (const auto& call : calls) {
    ASSERT_TRUE(call->ticket());
    const auto body = call->ticket()->request()->HTTPBody();
    sent.push_back(body ? std::string(body->begin(), body->end()) : "");
  }
  const auto requests = server_.requests();
  ASSERT_GE(requests.size(), 2u);

  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].get_param_value("a"), "1 2");
  EXPECT_EQ(requests[0].get_param_value("b"), "x&y");

  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].body, "a=1%202&b=x%26y");

  const std::string part = "Content-Disposition: form-data; name=";
  EXPECT_EQ(calls[2]->ticket()->request()->HTTPMethod(), "POST");
  EXPECT_TRUE(calls[2]
                  ->ticket()
                  ->request()
                  ->valueForHTTPHeaderField("Content-Type")
                  .value_or("")
                  .starts_with("multipart/form-data"));
  const std::string& single = sent[2];
  EXPECT_NE(single.find(part + "\"b\"\r\n\r\nx&y\r\n"), std::string::npos) << single;
  EXPECT_NE(single.find(part + "\"photo\"; filename=\"p.jpg\"\r\nContent-Type: image/jpeg\r\n\r\n" +
                        std::string(photo.begin(), photo.end())),
            std::string::npos);

  const std::string& two = sent[3];
  const auto first = two.find(part + "\"one\"; filename=\"a.bin-0\"");
  const auto second = two.find(part + "\"two\"; filename=\"b.bin-1\"");
  EXPECT_NE(first, std::string::npos) << two;
  EXPECT_NE(second, std::string::npos) << two;
  EXPECT_LT(first, second);
}

TEST_F(OACallTest, PerformNeedsSharedOwnership) {
  OACall call(*URL::withString(server_.url("/reply/200")));
  EXPECT_THROW(perform(call), std::logic_error);
}

}  // namespace
}  // namespace marigold
