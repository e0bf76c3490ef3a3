#include "oauth/problem.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace marigold {
namespace {

TEST(OAProblemTest, ResponseBodies) {
  struct Case {
    std::string_view body;
    std::optional<std::string_view> problem;  // absent: no problem report recognised
    std::int32_t code;
  };
  const Case kCases[] = {
      {"oauth_problem=token_expired&oauth_problem_advice=x", "token_expired", 8},
      {"x=1&oauth_problem=nonce_used", "nonce_used", 6},
      {"oauth_problem=signature_method_rejected", "signature_method_rejected", 0},
      {"oauth_problem=token_not_renewable", "token_not_renewable", 9},
      {"oauth_problem=something_else", std::nullopt, 0},
      {"oauth_problem=", std::nullopt, 0},
      {"", std::nullopt, 0},
      {"a=b&c=d", std::nullopt, 0},
      // Only the first report counts, even when a later one is known.
      {"oauth_problem=bogus&oauth_problem=nonce_used", std::nullopt, 0},
      {"oauth_problem=token_rejected&oauth_problem=nonce_used", "token_rejected", 4},
      // The value ends at a further "=".
      {"oauth_problem=timestamp_refused=later", "timestamp_refused", 7},
      // Not decoded, and the name must start the item.
      {"oauth_problem=token%5Fexpired", std::nullopt, 0},
      {"xoauth_problem=nonce_used", std::nullopt, 0},
      {"OAUTH_PROBLEM=nonce_used", std::nullopt, 0},
      {"oauth_problem_advice=x&oauth_problem=version_rejected", "version_rejected", 2},
      {"&&oauth_problem=parameter_absent&", "parameter_absent", 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.body);
    const std::optional<OAProblem> got = OAProblem::problemWithResponseBody(c.body);
    ASSERT_EQ(got.has_value(), c.problem.has_value());
    if (!got) continue;
    EXPECT_EQ(got->problem(), *c.problem);
    EXPECT_EQ(got->code(), c.code);
    EXPECT_EQ(got->description(), "OAuth Problem: " + std::string(*c.problem));
  }
}

TEST(OAProblemTest, FactoriesHoldTheirNamesInCodeOrder) {
  const OAProblem kFactories[] = {
      OAProblem::SignatureMethodRejected(),
      OAProblem::ParameterAbsent(),
      OAProblem::VersionRejected(),
      OAProblem::ConsumerKeyUnknown(),
      OAProblem::TokenRejected(),
      OAProblem::SignatureInvalid(),
      OAProblem::NonceUsed(),
      OAProblem::TimestampRefused(),
      OAProblem::TokenExpired(),
      OAProblem::TokenNotRenewable(),
  };
  const char* const kNames[] = {"signature_method_rejected",
                                "parameter_absent",
                                "version_rejected",
                                "consumer_key_unknown",
                                "token_rejected",
                                "signature_invalid",
                                "nonce_used",
                                "timestamp_refused",
                                "token_expired",
                                "token_not_renewable"};
  ASSERT_EQ(OAProblem::validProblems().size(), 10u);
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(kNames[i]);
    EXPECT_EQ(OAProblem::validProblems()[i], kNames[i]);
    EXPECT_EQ(kFactories[i].problem(), kNames[i]);
    EXPECT_EQ(kFactories[i].code(), i);
    ASSERT_TRUE(OAProblem::withProblem(kNames[i]));
    EXPECT_TRUE(OAProblem::withProblem(kNames[i])->isEqualToProblem(kFactories[i]));
  }
}

TEST(OAProblemTest, AnyTextAndComparisons) {
  const OAProblem odd = OAProblem::withPointer("not_a_problem");
  EXPECT_EQ(odd.problem(), "not_a_problem");
  EXPECT_EQ(odd.code(), -1);
  EXPECT_FALSE(OAProblem::withProblem("not_a_problem"));
  EXPECT_FALSE(OAProblem::withProblem("Token_Expired"));

  const OAProblem expired = OAProblem::TokenExpired();
  EXPECT_TRUE(expired.isEqualTo("token_expired"));
  EXPECT_TRUE(expired.isEqualTo(std::string("token_expired")));
  EXPECT_TRUE(expired.isEqualTo(OAProblem::withPointer("token_expired")));
  EXPECT_FALSE(expired.isEqualTo(OAProblem::NonceUsed()));
  EXPECT_FALSE(expired.isEqualTo("nonce_used"));
  EXPECT_FALSE(expired.isEqualTo(8));
  EXPECT_FALSE(expired.isEqualTo(8.0));
}

}  // namespace
}  // namespace marigold
