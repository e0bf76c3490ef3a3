// A request or access token of an OAuth 1.0 service, with the optional session-extension fields
// (session handle, lifetime, attributes, creation time, renewability). Plain value; copy freely.
// Not thread-safe. Texts distinguish absent from empty.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "base/clock.h"

namespace marigold {

class OAToken {
 public:
  using Attributes = std::map<std::string, std::string>;
  using TimePoint = Clock::Wall::time_point;

  OAToken() = default;
  OAToken(std::optional<std::string> key, std::optional<std::string> secret);
  OAToken(std::optional<std::string> key, std::optional<std::string> secret,
          std::optional<std::string> session, std::optional<std::int32_t> duration,
          std::optional<Attributes> attributes, std::optional<TimePoint> created, bool renewable);

  // Parses a form-encoded token reply ("oauth_token=...&oauth_token_secret=..."). Values are taken
  // as they stand (only the attribute text is percent-decoded) and end at a further "=". Unknown
  // pairs are ignored, a later duplicate wins, and a recognised pair without "=" is skipped. A
  // reply without oauth_token gives a token that is not valid. A duration sets `created` to `now`.
  static OAToken withHTTPResponseBody(std::string_view body,
                                      TimePoint now = Clock::real().wallNow());

  const std::optional<std::string>& key() const { return key_; }
  const std::optional<std::string>& secret() const { return secret_; }
  const std::optional<std::string>& session() const { return session_; }
  const std::optional<std::int32_t>& duration() const { return duration_; }
  const std::optional<Attributes>& attributes() const { return attributes_; }
  const std::optional<TimePoint>& created() const { return created_; }
  bool renewable() const { return renewable_; }
  bool isForRenewal() const { return forRenewal_; }

  void setKey(std::optional<std::string> key) { key_ = std::move(key); }
  void setSecret(std::optional<std::string> secret) { secret_ = std::move(secret); }
  void setSession(std::optional<std::string> session) { session_ = std::move(session); }
  void setDuration(std::optional<std::int32_t> duration) { duration_ = duration; }
  void setAttributes(std::optional<Attributes> attributes) { attributes_ = std::move(attributes); }
  void setCreated(std::optional<TimePoint> created) { created_ = created; }
  void setRenewable(bool renewable) { renewable_ = renewable; }
  // Marks the token to be sent for renewal, which adds its session handle to `parameters`.
  void setForRenewal(bool forRenewal) { forRenewal_ = forRenewal; }

  bool isValid() const;  // key and secret present and not empty

  // The token's OAuth protocol parameters. With a key: oauth_token, plus oauth_session_handle when
  // marked for renewal and a session handle is present. Without a key: oauth_token_duration and
  // oauth_token_attributes, each when there is something to send.
  std::map<std::string, std::string> parameters() const;

  // Same key, same secret (both present) and the same creation time or none on both sides.
  // Session, duration, attributes and renewability do not count.
  bool isEqualToToken(const OAToken& other) const;

  // Key "KEY" Secret:"SECRET" (an absent field shows as nothing between the quotes).
  std::string description() const;
  // As description(), with a secret that is not empty shown as "***": the form the log shows.
  std::string descriptionForLog() const;

  // Seconds in a duration text: a decimal count with an optional unit letter S, H, D, W,
  // M (30 days) or Y (365 days), any case; an unknown letter counts as seconds. "2h" is 7200,
  // "abc" is 0. Results outside the 32-bit range are clamped. Absent for the empty text.
  static std::optional<std::int32_t> durationWithString(std::string_view text);

  // Attribute text "name:value;name:value" (no encoding) to a map and back. Items without ":" are
  // skipped; a later duplicate name wins; text after a second ":" in an item is dropped.
  static Attributes attributesWithString(std::string_view text);
  std::string attributeString() const;  // empty unless hasAttributes
  bool hasAttributes() const;           // attributes present with at least one entry

  // Stores `value` under `name`, creating the map when there is none.
  void setAttribute(std::string name, std::string value);
  // The value stored under `name`; absent when there is no such attribute or no map.
  std::optional<std::string> attribute(std::string_view name) const;
  void setAttributesWithString(std::string_view text) { attributes_ = attributesWithString(text); }
  void setDurationWithString(std::string_view text) { duration_ = durationWithString(text); }

  // The lifetime runs from `created` for `duration` seconds (none when absent); renewal is possible
  // until twice that. A token without `created` never expires and cannot be renewed.
  bool hasExpired(TimePoint now = Clock::real().wallNow()) const;
  // A session handle, the renewable flag, and less than twice the duration since `created`.
  bool isRenewable(TimePoint now = Clock::real().wallNow()) const;

 private:
  std::string describedWithSecret(std::string_view secret) const;

  std::optional<std::string> key_;
  std::optional<std::string> secret_;
  std::optional<std::string> session_;
  std::optional<std::int32_t> duration_;
  std::optional<Attributes> attributes_;
  std::optional<TimePoint> created_;
  bool renewable_ = false;
  bool forRenewal_ = false;
};

}  // namespace marigold
