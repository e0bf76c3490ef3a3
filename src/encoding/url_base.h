// The OAuth library's URL operation (the `OABaseAdditions` category), taking the URL's absolute
// text so that the encoding library needs no URL type. Stateless; any thread.
#pragma once

#include <string>
#include <string_view>

namespace marigold::OABaseAdditions {

// The absolute URL text up to, not including, the first "?"; the whole text when there is none
// (a fragment then stays). Scheme and host keep their case and an explicit port stays.
std::string URLStringWithoutQuery(std::string_view absoluteURL);

}  // namespace marigold::OABaseAdditions
