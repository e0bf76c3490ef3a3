// Reads every project include under src/, apps/ and testing/ and checks it against the layer table
// of HACKING.md: a file may include its own layer and the layers named beside it; tests may also
// include testing/. The table is the one statement of the rules, so the page and the code cannot
// drift apart.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace marigold {
namespace {

namespace fs = std::filesystem;
using Rules = std::map<std::string, std::set<std::string>>;

fs::path sourceDir() {
  const char* dir = std::getenv("MARIGOLD_SOURCE_DIR");
  return dir != nullptr ? fs::path(dir) : fs::current_path();
}

// The ```layers block of HACKING.md: "LAYER MAY-INCLUDE..." per line, "-" for none.
Rules readRules(const fs::path& page) {
  std::ifstream in(page);
  Rules rules;
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!inside) {
      inside = line == "```layers";
      continue;
    }
    if (line.starts_with("```")) break;
    std::istringstream words(line);
    std::string layer, other;
    if (!(words >> layer)) continue;
    auto& allowed = rules[layer];
    while (words >> other) {
      if (other != "-") allowed.insert(other);
    }
  }
  return rules;
}

// "src/json/lx_json_base.h" is in layer json, "apps/host/x.h" in host, "testing/x.h" in testing.
std::string layerOf(const fs::path& relative) {
  auto part = relative.begin();
  if (*part == "testing") return "testing";
  return (++part)->string();
}

// Every breach in the tree below `root`, as "FILE:LINE includes X (LAYER may include ...)".
std::vector<std::string> breaches(const fs::path& root, const Rules& rules) {
  std::vector<std::string> found;
  for (const char* top : {"src", "apps", "testing"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
      const fs::path& path = entry.path();
      if (path.extension() != ".h" && path.extension() != ".cc") continue;
      const fs::path relative = fs::relative(path, root);
      const std::string layer = layerOf(relative);
      const auto rule = rules.find(layer);
      if (rule == rules.end()) {
        found.push_back(relative.string() + ": layer " + layer + " is not in the table");
        continue;
      }
      const bool isTest = path.filename().string().ends_with("_test.cc");
      std::ifstream in(path);
      std::string line;
      for (int number = 1; std::getline(in, line); ++number) {
        if (!line.starts_with("#include \"")) continue;
        const auto slash = line.find('/');
        if (slash == std::string::npos) continue;  // a header of the same folder
        const std::string included = line.substr(10, slash - 10);
        if (included == layer || rule->second.contains(included)) continue;
        if (isTest && included == "testing") continue;
        std::string allowed;
        for (const auto& name : rule->second) allowed += " " + name;
        found.push_back(relative.string() + ":" + std::to_string(number) + " includes " +
                        line.substr(10, line.size() - 11) + " (" + layer + " may include" +
                        (allowed.empty() ? " nothing" : allowed) + ")");
      }
    }
  }
  return found;
}

TEST(LayeringTest, EveryIncludeKeepsTheLayerTableOfHacking) {
  const fs::path root = sourceDir();
  const Rules rules = readRules(root / "HACKING.md");
  ASSERT_FALSE(rules.empty()) << "no layer table in " << (root / "HACKING.md");
  std::string report;
  for (const std::string& breach : breaches(root, rules)) report += breach + "\n";
  EXPECT_EQ(report, "");
}

TEST(LayeringTest, FindsALowerLayerIncludingAHigherOne) {
  const fs::path root = fs::temp_directory_path() / ("layering-" + std::to_string(::getpid()));
  fs::create_directories(root / "src/json");
  fs::create_directories(root / "apps");
  fs::create_directories(root / "testing");
  std::ofstream(root / "src/json/value.cc") << "#include \"json/value.h\"\n"
                                               "#include \"base/error.h\"\n"
                                               "#include \"platform/url.h\"\n";
  const Rules rules = {{"base", {}}, {"json", {"base"}}, {"platform", {"base"}}};
  EXPECT_EQ(breaches(root, rules),
            std::vector<std::string>{
                "src/json/value.cc:3 includes platform/url.h (json may include base)"});
  fs::remove_all(root);
}

}  // namespace
}  // namespace marigold
