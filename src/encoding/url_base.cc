#include "encoding/url_base.h"

namespace marigold::OABaseAdditions {

std::string URLStringWithoutQuery(std::string_view absoluteURL) {
  return std::string(absoluteURL.substr(0, absoluteURL.find('?')));
}

}  // namespace marigold::OABaseAdditions
