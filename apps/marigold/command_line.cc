#include "command_line.h"

namespace marigold::cli {

CommandLine::CommandLine(const Args& args, const std::set<std::string>& valueOptions,
                         const std::set<std::string>& flags) {
  bool onlyOperands = false;
  for (std::size_t i = 0; i < args.size() && error_.empty(); ++i) {
    const std::string& arg = args[i];
    if (onlyOperands || !arg.starts_with("--")) {
      operands_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyOperands = true;
      continue;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> inlineValue;
    if (auto equals = name.find('='); equals != std::string::npos) {
      inlineValue = name.substr(equals + 1);
      name.resize(equals);
    }
    if (flags.contains(name) && !inlineValue) {
      flags_.insert(name);
    } else if (valueOptions.contains(name)) {
      if (inlineValue) {
        values_[name] = *inlineValue;
      } else if (i + 1 < args.size()) {
        values_[name] = args[++i];
      } else {
        error_ = "--" + name + " needs a value";
      }
    } else {
      error_ = "unknown option --" + name;
    }
  }
}

std::optional<std::string> CommandLine::value(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

}  // namespace marigold::cli
