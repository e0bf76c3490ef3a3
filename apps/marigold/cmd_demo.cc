// marigold demo: the whole export against a simulator started on loopback, with a temporary home
// folder, so that nothing of the user's is touched and no account is needed.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "commands.h"
#include "host/simulator_process.h"
#include "host_session.h"
#include "json/lx_json_parser.h"
#include "json/lx_json_writer.h"
#include "platform/url_connection.h"

namespace marigold::cli {
namespace {

// The demo account of the simulator.
constexpr const char* kDemoUser = "demo";
constexpr const char* kDemoPassword = "demo-password";

// A folder that is removed with everything in it when the object goes away.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "marigold-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::filesystem::path examplesFolder() {
  if (const char* folder = std::getenv("MARIGOLD_EXAMPLES"); folder != nullptr && *folder != '\0') {
    return folder;
  }
  return MARIGOLD_EXAMPLES_PATH;
}

bool post(const std::vector<std::string>& photos, const std::string& caption,
          const std::string& tags, const std::string& link, const std::string& state) {
  HostSession session(photos);
  if (!session.signedIn()) {
    std::fprintf(stderr, "marigold: the remembered sign-in did not take place\n");
    return false;
  }
  session.control<PopUpButton>("plinthStatus")->selectItemWithTitle(state);
  session.control<TextField>("plinthCaptions")->setStringValue(caption);
  session.control<TextField>("plinthTags")->setStringValue(tags);
  if (!link.empty()) session.control<TextField>("plinthClickthrough")->setStringValue(link);
  std::printf(
      "\n== Posting %zu photo%s to %s (%s)\n", photos.size(), photos.size() == 1 ? "" : "s",
      session.control<PopUpButton>("plinthSelect")->titleOfSelectedItem().value_or("").c_str(),
      state.c_str());
  return session.exportAndWait();
}

// What the simulator stored, as indented JSON.
std::string storedPosts(const std::string& apiBase) {
  auto url = URL::withString(apiBase + "/sim/posts");
  if (!url) return "(no posts URL)";
  SynchronousReply reply = sendSynchronousRequest(URLRequest(*url));
  if (!reply.body) return reply.error ? reply.error->description : "(no reply)";
  LxJsonParser parser;
  auto value = parser.objectWithString(
      std::string_view(reinterpret_cast<const char*>(reply.body->data()), reply.body->size()));
  if (!value) return std::string(reply.body->begin(), reply.body->end());
  LxJsonWriter writer;
  writer.setHumanReadable(true);
  return writer.stringWithObject(*value).value_or("(not writable)");
}

}  // namespace

int runDemo(const Args& args) {
  if (!args.empty()) return fail("demo takes no arguments");
  try {
    ScratchFolder scratch;
    auto home = scratch.path() / "home";
    auto data = scratch.path() / "service";
    std::filesystem::create_directories(home);
    host::SimulatorProcess simulator(host::defaultSimulatorPath(), {"--data", data.string()});
    setenv("HOME", home.c_str(), 1);
    setenv("MARIGOLD_AUTH_BASE", simulator.authBase().c_str(), 1);
    setenv("MARIGOLD_API_BASE", simulator.apiBase().c_str(), 1);
    setenv("MARIGOLD_CA_FILE", simulator.caFile().c_str(), 1);
    std::printf("Plinth simulator: token endpoint %s, API %s\n", simulator.authBase().c_str(),
                simulator.apiBase().c_str());

    {
      HostSession session({});
      std::printf("\n== Signing in as %s (remembered)\n", kDemoUser);
      if (!session.signIn(kDemoUser, kDemoPassword, true)) return 1;
      std::printf("Signed in. Blogs:");
      for (const auto& blog : session.blogs()) std::printf(" %s", blog.c_str());
      std::printf("\n");
    }

    auto examples = examplesFolder();
    if (!post({(examples / "sunrise.jpg").string()}, "Sunrise over the bay", "morning,sea",
              "https://example.com/sunrise", "Published")) {
      return 1;
    }
    if (!post({(examples / "harbour.jpg").string(), (examples / "meadow.jpg").string(),
               (examples / "dusk.jpg").string()},
              "A day in three photos", "travel,set", "", "Draft")) {
      return 1;
    }

    std::printf("\n== What the service stored\n%s\n", storedPosts(simulator.apiBase()).c_str());
    return 0;
  } catch (const std::exception& e) {
    return fail(std::string("demo: ") + e.what(), 1);
  }
}

}  // namespace marigold::cli
