#include "oauth/refusal.h"

#include <gtest/gtest.h>

namespace marigold {
namespace {

// Replies as services word them, hostile ones included: the problem read, and what it means for
// the sign-in.
TEST(OARefusalTest, ProblemOfReplyAndWhatItRefuses) {
  struct Case {
    long status;
    const char* challenge;  // WWW-Authenticate; nullptr: none
    const char* body;
    std::optional<std::string> problem;
    OARefusal refusal;
  };
  using enum OARefusal;
  const Case kCases[] = {
      {401, R"(OAuth oauth_problem="token_expired")", "{}", "token_expired", kCredentials},
      {401, R"(OAuth realm="p", oauth_problem=signature_invalid, x=1)", "", "signature_invalid",
       kCredentials},
      {403, R"(OAuth oauth_problem_advice="token_rejected", oauth_problem = "token_revoked")", "",
       "token_revoked", kCredentials},
      {401, nullptr, "oauth_problem=token_used&oauth_problem_advice=x", "token_used", kCredentials},
      {401, R"(OAuth oauth_problem="nonce_used")", "", "nonce_used", kNonceOrTimestamp},
      {400, nullptr, "oauth_problem=timestamp_refused&x=1", "timestamp_refused", kNonceOrTimestamp},
      {401, R"(OAuth oauth_problem="permission_denied")", "", "permission_denied", kOther},
      {401, R"(OAuth oauth_problem="consumer_key_unknown")", "", "consumer_key_unknown", kOther},
      // A 401 naming no problem refuses the credentials; other statuses without one do not.
      {401, nullptr, R"({"meta":{"status":401}})", std::nullopt, kCredentials},
      {403, nullptr, "", std::nullopt, kOther},
      {403, R"(OAuth oauth_problem="nonce_used")", "", "nonce_used", kNonceOrTimestamp},
      // Not a problem name: read as none.
      {401, R"(OAuth xoauth_problem="permission_denied")", "", std::nullopt, kCredentials},
      {401, R"(OAuth oauth_problem="a b\u001b[2J")", "", std::nullopt, kCredentials},
      {401, R"(OAuth oauth_problem="")", "", std::nullopt, kCredentials},
      // Sign-in problems do not count outside 401 and 403, nor in a server error.
      {400, R"(OAuth oauth_problem="token_expired")", "", "token_expired", kOther},
      {500, R"(OAuth oauth_problem="token_rejected")", "", "token_rejected", kOther},
      {503, R"(OAuth oauth_problem="nonce_used")", "", "nonce_used", kOther},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + (c.challenge ? c.challenge : "") + c.body);
    std::vector<HTTPURLResponse::HeaderField> headers = {{"Content-Type", "text/plain"}};
    if (c.challenge) headers.emplace_back("www-authenticate", c.challenge);
    const HTTPURLResponse response(*URL::withString("http://api.example/v2/x"), c.status, headers);
    const auto problem = oauthProblemOfReply(response, asBytes(c.body));
    EXPECT_EQ(problem, c.problem);
    EXPECT_EQ(refusalOf(c.status, problem), c.refusal);
  }
}

}  // namespace
}  // namespace marigold
