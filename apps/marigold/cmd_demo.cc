// marigold demo: the whole export against a simulator started on loopback, with a settings folder
// of its own, so that nothing of the user's is touched and no account is needed.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "host/photo_export.h"
#include "host/scratch_folder.h"
#include "host/simulator_process.h"
#include "host_session.h"
#include "imaging/photo_preparation.h"
#include "json/lx_json_parser.h"
#include "json/lx_json_writer.h"
#include "oauth/exchange_bounds.h"
#include "platform/url_connection.h"
#include "plugin/pane_contract.h"
#include "settings/settings_file.h"

namespace marigold::cli {
namespace {

// The demo account of the simulator.
constexpr const char* kDemoUser = "demo";
constexpr const char* kDemoPassword = "demo-password";

bool post(const std::vector<std::string>& photos, const std::string& caption,
          const std::string& tags, const std::string& link, const std::string& state,
          const host::ScratchFolder& scratch, const host::PluginSetup& setup, Console& console) {
  // The export step as marigold post runs it, with its defaults.
  imaging::PreparationOptions options;
  std::optional<host::PreparedSelection> prepared;
  HostSession session(photos, console, setup, [&](const std::string& requiredFileType) {
    options.requiredFileType = requiredFileType;
    prepared = host::prepareSelection(scratch, photos, options);
    return prepared->paths();
  });
  if (!session.signedIn()) {
    console.error(tr("the remembered sign-in did not take place"), kFailed);
    return false;
  }
  session.choosePostState(state);
  session.control<TextField>(pane::kCaption)->setStringValue(caption);
  session.control<TextField>(pane::kTags)->setStringValue(tags);
  if (!link.empty()) session.control<TextField>(pane::kClickThrough)->setStringValue(link);
  const std::string blog =
      session.control<PopUpButton>(pane::kBlogMenu)->titleOfSelectedItem().value_or("");
  console.result("\n== " +
                 trn("Posting %1 photo to %2 (%3)", "Posting %1 photos to %2 (%3)", photos.size(),
                     {std::to_string(photos.size()), blog, state}) +
                 "\n");
  console.flush();
  console.note(imaging::describePreparation(prepared->result, options, Rendering::usersLanguage()));
  const PostOutcome outcome = session.exportAndWait();
  if (outcome.posted)
    console.result(tr("Posted as post %1", {outcome.postId.value_or("?")}) + "\n");
  return outcome.posted;
}

// What the simulator stored, as indented JSON.
std::string storedPosts(const std::string& apiBase) {
  auto url = URL::withString(apiBase + "/sim/posts");
  if (!url) return "(no posts URL)";
  URLRequest request(*url);
  request.setBounds(exchange_bounds::simulatorPosts());
  SynchronousReply reply = sendSynchronousRequest(request);
  if (!reply.body) return reply.error ? reply.error->description : "(no reply)";
  LxJsonParser parser;
  auto value = parser.objectWithString(
      std::string_view(reinterpret_cast<const char*>(reply.body->data()), reply.body->size()));
  if (!value) return std::string(reply.body->begin(), reply.body->end());
  LxJsonWriter writer;
  writer.setHumanReadable(true);
  return writer.stringWithObject(*value).value_or("(not writable)");
}

int demo(Console& console) {
  try {
    // Interrupted, the demo stops its simulator before its folder (with the simulator's private
    // key) goes.
    host::ScratchFolder scratch;
    const Interrupts::Registration removal =
        console.interrupts().onInterruptOrEnd([&scratch] { scratch.remove(); });
    const auto data = scratch.newFolder("service");
    host::SimulatorProcess simulator(host::defaultSimulatorPath(), {"--data", data.string()});
    const Interrupts::Registration stopSimulator =
        console.interrupts().onInterrupt([&simulator] { simulator.stop(); });
    // The demo's sign-in is remembered in memory only: nothing writes into the scratch folder by
    // its path, which would make it again after an interruption removed it.
    host::PluginSetup setup = simulator.demoSetup(scratch.path());
    setup.settingsInMemory = std::make_shared<SettingsFile::Stored>();
    console.result(tr("Plinth simulator: token endpoint %1, API %2",
                      {simulator.authBase(), simulator.apiBase()}) +
                   "\n");

    {
      HostSession session({}, console, setup);
      console.result("\n== " + tr("Signing in as %1 (remembered)", {kDemoUser}) + "\n");
      console.flush();
      if (!session.signIn(kDemoUser, kDemoPassword, true)) return kFailed;
      std::string blogs;
      for (const auto& blog : session.blogs()) blogs += " " + blog;
      console.result(tr("Signed in. Blogs:%1", {blogs}) + "\n");
      console.flush();
    }

    const std::filesystem::path examples = host::defaultExamplesFolder();
    if (!post({(examples / "sunrise.jpg").string()}, "Sunrise over the bay", "morning,sea",
              "https://example.com/sunrise", "Published", scratch, setup, console)) {
      return kFailed;
    }
    if (!post({(examples / "harbour.jpg").string(), (examples / "meadow.jpg").string(),
               (examples / "dusk.jpg").string()},
              "A day in three photos", "travel,set", "", "Draft", scratch, setup, console)) {
      return kFailed;
    }

    console.result("\n== " + tr("What the service stored") + "\n" +
                   storedPosts(simulator.apiBase()) + "\n");
    return kDone;
  } catch (const std::exception& e) {
    return console.error(tr("demo: %1", {e.what()}), kFailed);
  }
}

}  // namespace

CommandRun addDemo(CLI::App& app, Console& console) {
  CLI::App* command = app.add_subcommand(
      "demo",
      tr("post sample photos to a simulator started on loopback (nothing of yours is used)"));
  command->footer(tr(kExitStatusHelp));
  return [&console] { return demo(console); };
}

}  // namespace marigold::cli
