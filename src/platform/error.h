// An error value: the domain it comes from, a code within that domain, a human-readable
// description and, optionally, the error recorded before it (its underlying error). Shared by the
// AES file operations, the JSON codec and the HTTP layer. Plain value; copies share the chain.
#pragma once

#include <memory>
#include <string>

namespace marigold {

struct Error {
  std::string domain;
  long code = 0;
  std::string description;
  std::shared_ptr<const Error> underlying;  // absent for the first error of a chain

  Error() = default;
  Error(std::string domain, long code, std::string description,
        std::shared_ptr<const Error> underlying = nullptr);

  // "DOMAIN code N: DESCRIPTION", for logs and messages.
  std::string text() const;
};

}  // namespace marigold
