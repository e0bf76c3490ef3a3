#include "plugin/blog_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marigold {
namespace {

std::string replyWithBlogs(const std::string& blogs) {
  return R"({"meta":{"status":200},"response":{"user":{"blogs":[)" + blogs + "]}}}";
}

TEST(BlogNamesTest, HostOfARootUrlElseTheBlogsNameElseLeftOut) {
  struct Case {
    const char* blog;
    std::vector<std::string> names;
  };
  const Case kCases[] = {
      {R"({"url":"https://Ada.plinth.example"})", {"Ada.plinth.example"}},
      {R"({"url":"http://plinth.example:8080/","name":"x"})", {"plinth.example"}},
      {R"({"url":"http://plinth.example/blogs/ada/","name":"ada"})", {"ada"}},
      {R"({"url":"ftp://ada.plinth.example/","name":"ada"})", {"ada"}},
      {R"({"url":42,"name":"ada"})", {"ada"}},
      {R"({"url":"http://plinth.example/blogs/ada/"})", {}},
      {R"({"url":"not a url","name":""})", {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.blog);
    EXPECT_EQ(blogNamesFromReply(replyWithBlogs(c.blog)), c.names);
  }
}

}  // namespace
}  // namespace marigold
