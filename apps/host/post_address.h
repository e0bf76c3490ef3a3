// The address of a post on its blog, as the hosts offer it after a post went through ("View Post"
// in the window, "url" in the command line's progress stream). The blog menu lists blogs by host
// name, and the service's post pages sit under /post/ID.
#pragma once

#include <optional>
#include <string>

namespace marigold::host {

// "http://BLOG/post/ID" (the id percent-encoded), or "http://BLOG/" when the service gave no id.
// Absent for a blog listed by its name rather than its host (no dot in it: it has no address of
// its own here) or one that makes no valid address.
std::optional<std::string> postAddress(const std::string& blog,
                                       const std::optional<std::string>& postId);

}  // namespace marigold::host
