// One name/value pair of a request (a query or form field, or an OAuth protocol parameter), with
// the percent-encoded forms used in signature base strings, query texts and form bodies. Plain
// value. Name or value is absent when it came from text that could not be decoded.
#pragma once

#include <optional>
#include <string>

namespace marigold {

class OARequestParameter {
 public:
  OARequestParameter() = default;
  OARequestParameter(std::optional<std::string> name, std::optional<std::string> value);
  static OARequestParameter requestParameter(std::optional<std::string> name,
                                             std::optional<std::string> value);

  const std::optional<std::string>& name() const { return name_; }
  const std::optional<std::string>& value() const { return value_; }
  void setName(std::optional<std::string> name) { name_ = std::move(name); }
  void setValue(std::optional<std::string> value) { value_ = std::move(value); }

  // Name and value with everything but letters, digits, "-", ".", "_" and "~" written as UTF-8
  // percent escapes. An absent field, or one that is not valid UTF-8, encodes as the empty text.
  std::string URLEncodedName() const;
  std::string URLEncodedValue() const;
  std::string URLEncodedNameValuePair() const;  // "name=value", both encoded

  // True when both names and both values are present and equal.
  bool isEqualToRequestParameter(const OARequestParameter& other) const;

 private:
  std::optional<std::string> name_;
  std::optional<std::string> value_;
};

}  // namespace marigold
