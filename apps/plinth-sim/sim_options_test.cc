#include "sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marigold::sim {
namespace {

TEST(SimOptionsTest, DefaultsToTheDemoAccountOnFreePorts) {
  const CommandLine c = parseCommandLine({});
  ASSERT_EQ(c.error, "");
  EXPECT_EQ(c.options.authPort, 0);
  EXPECT_EQ(c.options.apiPort, 0);
  ASSERT_EQ(c.options.accounts.size(), 1u);
  EXPECT_EQ(c.options.accounts[0].name, "demo");
  EXPECT_EQ(c.options.accounts[0].password, "demo-password");
  EXPECT_EQ(c.options.accounts[0].blogs, (std::vector<std::string>{"demo-blog", "demo-travel"}));
  EXPECT_EQ(c.options.authorizeAs, "demo");
  EXPECT_EQ(c.options.maxBody, 16u * 1024 * 1024);
}

TEST(SimOptionsTest, ReadsEverySwitch) {
  const CommandLine c = parseCommandLine({"--auth-port",
                                          "8443",
                                          "--api-port=8080",
                                          "--account",
                                          "alice:pa:ss:a-1,b2",
                                          "--account=bob:x:bob",
                                          "--authorize-as",
                                          "bob",
                                          "--data",
                                          "/tmp/d",
                                          "--token-duration",
                                          "60",
                                          "--max-body",
                                          "100",
                                          "--verbose",
                                          "--delay",
                                          "250",
                                          "--close-after",
                                          "0",
                                          "--slow-post",
                                          "65536",
                                          "--post-status",
                                          "401",
                                          "--deep-user-info",
                                          "--token-without-key",
                                          "--token-without-secret",
                                          "--redirect-loop",
                                          "--refuse-user-info-once",
                                          "nonce_used",
                                          "--refuse-posts",
                                          "timestamp_refused,none",
                                          "--stall",
                                          "post",
                                          "--token-status",
                                          "299",
                                          "--blog-url=path"});
  ASSERT_EQ(c.error, "");
  const SimOptions& o = c.options;
  EXPECT_EQ(o.authPort, 8443);
  EXPECT_EQ(o.apiPort, 8080);
  ASSERT_EQ(o.accounts.size(), 2u);
  EXPECT_EQ(o.accounts[0].name, "alice");
  EXPECT_EQ(o.accounts[0].password, "pa:ss");  // a password may hold ":"
  EXPECT_EQ(o.accounts[0].blogs, (std::vector<std::string>{"a-1", "b2"}));
  EXPECT_EQ(o.authorizeAs, "bob");
  EXPECT_EQ(o.dataDir, std::filesystem::path("/tmp/d"));
  EXPECT_EQ(o.tokenDuration, 60);
  EXPECT_EQ(o.maxBody, 100u);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.faults.delayMs, 250);
  EXPECT_EQ(o.faults.closeAfter, std::optional<std::size_t>(0));
  EXPECT_EQ(o.faults.slowPostRate, 65536u);
  EXPECT_EQ(o.faults.postStatus, 401);
  EXPECT_TRUE(o.faults.deepUserInfo);
  EXPECT_TRUE(o.faults.tokenWithoutKey);
  EXPECT_TRUE(o.faults.tokenWithoutSecret);
  EXPECT_TRUE(o.faults.redirectLoop);
  EXPECT_EQ(o.faults.refuseUserInfoOnce, "nonce_used");
  EXPECT_EQ(o.faults.refusePosts, (std::vector<std::string>{"timestamp_refused", "none"}));
  EXPECT_EQ(o.faults.stall, StallTarget::kPost);
  EXPECT_EQ(o.faults.tokenStatus, 299);
  EXPECT_EQ(o.blogUrlForm, BlogUrlForm::kPath);
}

TEST(SimOptionsTest, RefusesUnusableArguments) {
  struct Case {
    std::vector<std::string> args;
    std::string wantInError;
  };
  const Case cases[] = {
      {{"--auth-port", "65536"}, "--auth-port"},
      {{"--api-port", "-1"}, "--api-port"},
      {{"--api-port"}, "missing value"},
      {{"--account", "alice"}, "--account"},
      {{"--account", "alice:pw:"}, "--account"},
      {{"--account", "alice:pw:Upper"}, "--account"},
      {{"--account", ":pw:blog"}, "--account"},
      {{"--account", "a:1:b", "--account", "a:2:c"}, "twice"},
      {{"--authorize-as", "nobody"}, "nobody"},
      {{"--token-duration", "0"}, "--token-duration"},
      {{"--post-status", "502"}, "401, 500 or 503"},
      {{"--stall", "forever"}, "--stall"},
      {{"--slow-post", "1023"}, "--slow-post"},
      {{"--token-status", "99"}, "--token-status"},
      {{"--token-status", "600"}, "--token-status"},
      {{"--blog-url", "ftp"}, "--blog-url"},
      {{"--refuse-user-info-once", "Nonce-Used"}, "--refuse-user-info-once"},
      {{"--refuse-posts", "nonce_used,token expired"}, "--refuse-posts"},
      {{"--delay", "soon"}, "--delay"},
      {{"--verbose=yes"}, "takes no value"},
      {{"--broken-user-info", "--deep-user-info"}, "at most one"},
      {{"--frobnicate", "1"}, "unknown switch --frobnicate"},
  };
  for (const Case& c : cases) {
    const CommandLine parsed = parseCommandLine(c.args);
    EXPECT_NE(parsed.error.find(c.wantInError), std::string::npos)
        << c.args[0] << ": " << parsed.error;
  }
}

TEST(SimOptionsTest, HelpDocumentsEverySwitchAndTheReadyLine) {
  const std::string help = helpText();
  for (const char* name : {"--auth-port",
                           "--api-port",
                           "--account",
                           "--authorize-as",
                           "--token-duration",
                           "--data",
                           "--max-body",
                           "--verbose",
                           "--help",
                           "--delay",
                           "--close-after",
                           "--post-status",
                           "--broken-user-info",
                           "--deep-user-info",
                           "--huge-user-info",
                           "--non-utf8-user-info",
                           "--token-without-key",
                           "--token-without-secret",
                           "--redirect-loop",
                           "--refuse-user-info-once",
                           "--refuse-posts",
                           "--stall",
                           "--token-status",
                           "--blog-url"}) {
    EXPECT_NE(help.find(std::string("  ") + name + " "), std::string::npos) << name;
  }
  EXPECT_NE(help.find("plinth-sim ready auth=https://127.0.0.1:PORT api=http://127.0.0.1:PORT "
                      "ca=PATH"),
            std::string::npos);
}

}  // namespace
}  // namespace marigold::sim
