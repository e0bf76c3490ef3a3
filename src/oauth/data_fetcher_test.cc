#include "oauth/data_fetcher.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/run_loop.h"
#include "testing/loopback_socket.h"
#include "testing/test_server.h"

namespace marigold {
namespace {

struct Outcome {
  int finishes = 0, failures = 0;
  std::optional<OAServiceTicket> ticket;
  std::string data;
  std::optional<Error> error;
};

Outcome fetch(const std::string& url, const std::string& method = "GET") {
  OAMutableURLRequest request(*URL::withString(url), OAConsumer("ck", "cs"), OAToken("tk", "ts"),
                              std::nullopt, nullptr);
  request.setHTTPMethod(method);
  Outcome outcome;
  OADataFetcher fetcher;
  fetcher.fetchDataWithRequest(
      std::move(request),
      [&](const OAServiceTicket& ticket, ByteView data) {
        ++outcome.finishes;
        outcome.ticket = ticket;
        outcome.data.assign(data.begin(), data.end());
      },
      [&](const OAServiceTicket& ticket, const Error& error) {
        ++outcome.failures;
        outcome.ticket = ticket;
        outcome.error = error;
      });
  // Nothing is reported from inside fetchDataWithRequest.
  EXPECT_EQ(outcome.finishes + outcome.failures, 0);
  RunLoop::current().runUntil([&] { return outcome.finishes + outcome.failures > 0; }, 20);
  // And nothing more afterwards.
  RunLoop::current().runUntil([] { return false; }, 0.05);
  return outcome;
}

TEST(OADataFetcherTest, EveryReplyFinishesAndSucceedsBelow400) {
  TestServer server;
  server.any(R"(/status/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
    response.status = std::stoi(request.matches[1]);
    response.set_content("a=b", "text/plain");
  });
  server.any("/binary", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string("\xC3\x28\xFF", 3), "application/octet-stream");
  });
  struct Case {
    std::string path;
    bool wantSucceed;
    std::optional<std::string> wantBody;
  };
  const Case kCases[] = {
      {"/status/200", true, "a=b"},  {"/status/399", true, "a=b"},  {"/status/400", false, "a=b"},
      {"/status/401", false, "a=b"}, {"/status/503", false, "a=b"}, {"/binary", true, std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    const Outcome outcome = fetch(server.url(c.path));
    ASSERT_EQ(outcome.finishes, 1);
    EXPECT_EQ(outcome.failures, 0);
    EXPECT_EQ(outcome.ticket->didSucceed(), c.wantSucceed);
    EXPECT_EQ(outcome.ticket->body(), c.wantBody);
    EXPECT_EQ(std::string(outcome.ticket->data()->begin(), outcome.ticket->data()->end()),
              outcome.data);
  }
  // Every request went out signed, with the request's own nonce in its header.
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), std::size(kCases));
  for (const auto& request : requests) {
    EXPECT_TRUE(request.get_header_value("Authorization").starts_with("OAuth realm=\"\""));
    EXPECT_NE(request.get_header_value("Authorization").find("oauth_token=\"tk\""),
              std::string::npos);
  }
}

TEST(OADataFetcherTest, TransportFailureFailsOnce) {
  const Outcome outcome =
      fetch("http://127.0.0.1:" + std::to_string(refusedLoopbackPort()) + "/", "POST");
  EXPECT_EQ(outcome.finishes, 0);
  ASSERT_EQ(outcome.failures, 1);
  ASSERT_TRUE(outcome.error);
  EXPECT_FALSE(outcome.error->description.empty());
  EXPECT_FALSE(outcome.ticket->didSucceed());
  EXPECT_FALSE(outcome.ticket->response());
  EXPECT_EQ(outcome.ticket->request()->HTTPMethod(), "POST");
  EXPECT_TRUE(outcome.ticket->request()->signature());  // prepared before sending
}

}  // namespace
}  // namespace marigold
