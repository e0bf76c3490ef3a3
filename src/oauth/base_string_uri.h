// The request address that an OAuth 1.0 signature base string names (RFC 5849, section 3.4.1.2):
// the scheme and host in lower case, the port only when it is not the scheme's default, then the
// path as written ("/" when there is none); no query, no fragment. Both signers of this product,
// the library's signed request and the plug-in's photo post, take it from here. Protocol text:
// letters are folded as ASCII, whatever the process's locale.
#pragma once

#include <string>

#include "platform/url.h"

namespace marigold {

// "http://api.plinth.example/v2/blog/b/post" for "HTTP://API.Plinth.example:80/v2/blog/b/post?x#y".
std::string oauthBaseStringURI(const URL& url);

}  // namespace marigold
