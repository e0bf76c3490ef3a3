// Reads a command's arguments: options that take a value ("--blog NAME" or "--blog=NAME"), flags
// ("--remember") and the remaining operands, in one pass. A usage error is kept as a message.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "commands.h"

namespace marigold::cli {

class CommandLine {
 public:
  CommandLine(const Args& args, const std::set<std::string>& valueOptions,
              const std::set<std::string>& flags);

  const std::string& error() const { return error_; }  // empty when the arguments are usable
  std::optional<std::string> value(const std::string& name) const;
  bool flag(const std::string& name) const { return flags_.contains(name); }
  const std::vector<std::string>& operands() const { return operands_; }

 private:
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  std::vector<std::string> operands_;
  std::string error_;
};

}  // namespace marigold::cli
