// The application's OAuth consumer: the key and secret the service issued to it. Plain value; copy
// freely. Either field may be absent (distinct from empty); every caller in the product passes
// both.
#pragma once

#include <optional>
#include <string>

namespace marigold {

class OAConsumer {
 public:
  OAConsumer() = default;
  OAConsumer(std::optional<std::string> key, std::optional<std::string> secret);

  const std::optional<std::string>& key() const { return key_; }
  const std::optional<std::string>& secret() const { return secret_; }
  void setKey(std::optional<std::string> key) { key_ = std::move(key); }
  void setSecret(std::optional<std::string> secret) { secret_ = std::move(secret); }

  // True when both keys and both secrets are present and equal; an absent field on either side
  // makes consumers unequal.
  bool isEqualToConsumer(const OAConsumer& other) const;

 private:
  std::optional<std::string> key_;
  std::optional<std::string> secret_;
};

}  // namespace marigold
