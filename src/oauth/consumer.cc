#include "oauth/consumer.h"

#include "oauth/optional_text.h"

namespace marigold {

OAConsumer::OAConsumer(std::optional<std::string> key, std::optional<std::string> secret)
    : key_(std::move(key)), secret_(std::move(secret)) {}

bool OAConsumer::isEqualToConsumer(const OAConsumer& other) const {
  return presentAndEqual(key_, other.key_) && presentAndEqual(secret_, other.secret_);
}

}  // namespace marigold
