// The blog menu's names from the service's user-information reply. A blog's name is what goes into
// the post URL (/v2/blog/NAME/post), so it must name the blog whatever form its url takes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marigold {

// The blog names of a user-information reply (response.user.blogs), in the reply's order. For a
// blog whose "url" is http or https with an empty or "/" path, the url's host; for any other url,
// the blog's "name" member; a blog with neither is left out. None when the reply is not JSON or
// lacks the list. The parser's default nesting limit applies, so a hostile reply cannot exhaust
// the stack.
std::vector<std::string> blogNamesFromReply(std::string_view replyText);

// The user's name in a user-information reply (response.user.name); empty when there is none.
std::string userNameFromReply(std::string_view replyText);

}  // namespace marigold
