#include "plugin/blog_names.h"

#include <optional>

#include "json/lx_json_parser.h"
#include "platform/url.h"

namespace marigold {
namespace {

// A blog at the root of its own host ("https://NAME.plinth.example/") is named by that host;
// any other address (a path under a shared host, another scheme) cannot be turned into a name,
// so the blog's own name stands in.
std::optional<std::string> blogName(const JsonValue& blog) {
  if (const std::string* text = blog.at("url").asString()) {
    const auto url = URL::withString(*text);
    if (url && (url->scheme() == "http" || url->scheme() == "https") && url->path() == "/" &&
        !url->host().empty()) {
      return url->host();
    }
  }
  if (const std::string* name = blog.at("name").asString(); name && !name->empty()) return *name;
  return std::nullopt;
}

}  // namespace

std::vector<std::string> blogNamesFromReply(std::string_view replyText) {
  LxJsonParser parser;
  std::optional<JsonValue> reply = parser.objectWithString(replyText);
  std::vector<std::string> names;
  if (!reply) return names;
  for (const JsonValue& blog : reply->at("response").at("user").at("blogs").elements()) {
    if (auto name = blogName(blog)) names.push_back(std::move(*name));
  }
  return names;
}

std::string userNameFromReply(std::string_view replyText) {
  const std::optional<JsonValue> reply = LxJsonParser().objectWithString(replyText);
  if (!reply) return "";
  const std::string* name = reply->at("response").at("user").at("name").asString();
  return name != nullptr ? *name : "";
}

}  // namespace marigold
