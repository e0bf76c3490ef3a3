// An error value: the domain it comes from, a code within that domain, a human-readable
// description and, optionally, the error recorded before it (its underlying error). Shared by the
// AES file operations, the JSON codec and the HTTP layer. Plain value; copies share the chain.
// Chains may be very long (one error per nesting level of a failed parse); releasing one never
// recurses, so any length is safe.
#pragma once

#include <memory>
#include <string>

namespace marigold {

struct Error {
  std::string domain;
  long code = 0;
  std::string description;
  // The description in the user's language, for the messages people read; empty when there is
  // none apart from `description`, which stays as written for the log.
  std::string localizedDescription;
  // Absent for the first error of a chain. Mutable only so that the destructor can unlink a chain
  // it solely owns one link at a time; treat it as read-only.
  mutable std::shared_ptr<const Error> underlying;

  Error() = default;
  Error(std::string domain, long code, std::string description,
        std::shared_ptr<const Error> underlying = nullptr);
  Error(const Error&) = default;
  Error(Error&&) noexcept = default;
  Error& operator=(const Error&) = default;
  Error& operator=(Error&&) noexcept = default;
  ~Error();

  // "DOMAIN code N: DESCRIPTION", for logs and messages.
  std::string text() const;
  // What a message shows: the localized description when there is one, else the description.
  const std::string& shownDescription() const {
    return localizedDescription.empty() ? description : localizedDescription;
  }
};

}  // namespace marigold
