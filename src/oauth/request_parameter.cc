#include "oauth/request_parameter.h"

#include "encoding/oauth_url_encoding.h"
#include "oauth/optional_text.h"

namespace marigold {
namespace {

std::string encoded(const std::optional<std::string>& text) {
  if (!text) return {};
  return OAURLEncodingAdditions::encodedURLParameterString(*text).value_or(std::string());
}

}  // namespace

OARequestParameter::OARequestParameter(std::optional<std::string> name,
                                       std::optional<std::string> value)
    : name_(std::move(name)), value_(std::move(value)) {}

OARequestParameter OARequestParameter::requestParameter(std::optional<std::string> name,
                                                        std::optional<std::string> value) {
  return OARequestParameter(std::move(name), std::move(value));
}

std::string OARequestParameter::URLEncodedName() const { return encoded(name_); }

std::string OARequestParameter::URLEncodedValue() const { return encoded(value_); }

std::string OARequestParameter::URLEncodedNameValuePair() const {
  return URLEncodedName() + "=" + URLEncodedValue();
}

bool OARequestParameter::isEqualToRequestParameter(const OARequestParameter& other) const {
  return presentAndEqual(name_, other.name_) && presentAndEqual(value_, other.value_);
}

}  // namespace marigold
