// One name/value pair of a request's parameters as the export controller keeps them: the pair's
// "key" and "value", both already in their wire form where the list holds body parameters.
// Ordered lists of them are the controller's `params` and the photo-post signer's protocol
// parameters; their order matters.
#pragma once

#include <string>
#include <vector>

namespace marigold {

struct ParameterEntry {
  std::string key;
  std::string value;

  bool operator==(const ParameterEntry&) const = default;
};

using ParameterList = std::vector<ParameterEntry>;

}  // namespace marigold
