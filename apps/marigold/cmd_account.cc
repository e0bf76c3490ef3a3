// The account commands, which work the sign-in part of the plug-in's pane: login, logout, blogs
// and status.
#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "base/translation.h"
#include "commands.h"
#include "host/service_environment.h"
#include "host_session.h"
#include "json/json_value.h"
#include "settings/consumer_credentials.h"
#include "settings/secret_store.h"
#include "settings/settings_file.h"
#include "sign_in.h"
#include "terminal_text.h"

namespace marigold::cli {
namespace {

struct AccountOptions {
  SignInOptions signIn;
  bool json = false;
};

JsonValue blogList(const std::vector<std::string>& blogs) {
  JsonValue::Array list;
  for (const auto& blog : blogs) list.emplace_back(blog);
  return JsonValue(std::move(list));
}

// The plug-in's alert has said why the blogs could not be listed.
int noBlogs(const HostSession& session, Console& console) {
  return session.alertShown() ? kFailed
                              : console.error(tr("your blogs could not be listed"), kFailed);
}

// Signs in as `o` says and lists the blogs, which `report` then prints: login and blogs.
template <typename Report>
int withBlogs(const AccountOptions& o, Console& console, Report report) {
  return withSession(
      {}, console, o.signIn.settingsUse(), [&](HostSession& session, SettingsWorkspace& settings) {
        if (int status = ensureSignedIn(session, settings, o.signIn, console); status != kDone) {
          return status;
        }
        const std::vector<std::string> blogs = session.blogs();
        if (blogs.empty()) return noBlogs(session, console);
        return report(session, blogs);
      });
}

int login(const AccountOptions& o, Console& console) {
  return withBlogs(o, console, [&](HostSession& session, const std::vector<std::string>& blogs) {
    const std::string user = o.signIn.browser ? session.userName() : o.signIn.user;
    // The plug-in's alert (printed above) said why the sign-in could not be kept.
    const bool notKept = o.signIn.remember && session.signInWarned();
    if (!o.signIn.remember) {
      const std::string again =
          "marigold login " +
          (o.signIn.browser ? std::string("--browser") : "--user " + printable(user)) +
          " --remember";
      console.note(
          tr("Without --remember this sign-in is not kept, and a saved sign-in stays as it was. "
             "Run '%1' to stay signed in.",
             {again}));
    }
    if (o.json) {
      JsonObject document;
      document.set("user", user);
      document.set("signedIn", true);
      document.set("remembered", o.signIn.remember && !notKept);
      document.set("blogs", blogList(blogs));
      console.resultJson(JsonValue(std::move(document)));
      return notKept ? kFailed : kDone;
    }
    std::string text =
        (notKept ? tr("Signed in as %1 for this command only: not remembered (why is said above). "
                      "Your blogs:",
                      {printable(user)})
         : o.signIn.remember
             ? tr("Signed in as %1 (remembered). Your blogs:", {printable(user)})
             : tr("Signed in as %1 (for this command only). Your blogs:", {printable(user)})) +
        "\n";
    for (const auto& blog : blogs) text += "  " + printable(blog) + "\n";
    console.result(text);
    return notKept ? kFailed : kDone;
  });
}

int blogs(const AccountOptions& o, Console& console) {
  return withBlogs(o, console, [&](HostSession& session, const std::vector<std::string>& blogs) {
    if (o.json) {
      JsonObject document;
      document.set("user", session.userName());
      document.set("blogs", blogList(blogs));
      console.resultJson(JsonValue(std::move(document)));
      return kDone;
    }
    std::string text;
    for (const auto& blog : blogs) text += printable(blog) + "\n";
    console.result(text);
    return kDone;
  });
}

int status(const AccountOptions& o, Console& console) {
  using Use = SettingsWorkspace::Use;
  return withSession(
      {}, console, Use::kLookOnly, [&](HostSession& session, SettingsWorkspace& settings) {
        const std::string user = session.userName();
        const bool remembered = session.remembered();
        const bool signedIn = session.signedIn();
        Message noKeyring;
        const bool keyring = SecretStore::connect(&noKeyring) != nullptr;
        const std::string settingsFile = SettingsFile(settings.folder()).encryptedPath().string();
        const std::string store =
            keyring ? tr(SecretStore::kDescription)
                    : tr("the encrypted settings file %1 (no desktop keyring: %2)",
                         {settingsFile, noKeyring.shown()});
        const ServiceConfiguration service = host::serviceFromEnvironment();
        const ConsumerCredentials application = ConsumerCredentials::fromConfiguration(
            {service.consumerKey, service.consumerSecret, service.configurationHome});
        if (o.json) {
          JsonObject document;
          document.set("user", user.empty() ? JsonValue() : JsonValue(user));
          document.set("remembered", remembered);
          document.set("signedIn", signedIn);
          document.set("secretStore", keyring ? "keyring" : "file");
          JsonObject app;
          app.set("builtIn", application.isBuiltIn());
          app.set("key", application.key);
          app.set("source", application.source);
          if (!application.problem.empty()) app.set("problem", application.problem.english());
          if (!application.warning.empty()) app.set("warning", application.warning.english());
          document.set("application", JsonValue(std::move(app)));
          console.resultJson(JsonValue(std::move(document)));
        } else {
          const auto yesNo = [](bool yes) { return yes ? tr("yes") : tr("no"); };
          console.result(
              tr("user name: %1\n"
                 "remember:  %2\n"
                 "signed in: %3\n"
                 "secrets:   %4\n"
                 "settings:  %5\n"
                 "app:       %6\n",
                 {user.empty() ? tr("(none)") : printable(user), yesNo(remembered), yesNo(signedIn),
                  store, printable(settingsFile),
                  printable(application.description(Rendering::usersLanguage()))}));
        }
        if (signedIn) return kDone;
        return session.rememberedSignInFailed() ? kFailed : kNotSignedIn;
      });
}

// Forgets the saved sign-in without signing in: the saved settings are replaced by none.
int logout(Console& console) {
  try {
    SettingsWorkspace settings(SettingsWorkspace::Use::kReplacing, console);
    if (auto problem = settings.keep()) {
      return console.error(
          tr("could not sign out: %1. The saved sign-in is still there.", {printable(*problem)}),
          kFailed);
    }
    // The remembered secret lives in the desktop keyring when there is one; a locked keyring
    // keeps it until it is unlocked.
    if (const auto keyring = SecretStore::connect()) {
      std::optional<Error> failed;  // answered before clear returns: no loop is given
      keyring->clear([&failed](const std::optional<Error>& failure) { failed = failure; });
      if (failed) {
        return console.error(tr("the saved user name is forgotten, but not the password: %1.",
                                {printable(failed->shownDescription())}),
                             kFailed);
      }
    }
  } catch (const std::exception& e) {
    return console.error(tr("could not sign out: %1", {printable(e.what())}), kFailed);
  }
  console.result(tr("Signed out; the saved user name and password are forgotten.") + "\n");
  return kDone;
}

}  // namespace

CommandRun addLogin(CLI::App& app, Console& console) {
  auto options = std::make_shared<AccountOptions>();
  CLI::App* command =
      app.add_subcommand("login", tr("sign in; with --remember later commands stay signed in"));
  command->footer(
      tr("Give --user NAME or --browser. Without --remember the sign-in lasts only for this "
         "command and a\nsaved sign-in stays as it was; with it, it replaces the saved one once "
         "it works. The password\n(or the browser's approval) is kept in the desktop keyring "
         "when there is one, else in the\nencrypted settings file.\n") +
      "\n" + tr(kExitStatusHelp));
  addSignInOptions(*command, options->signIn);
  CLI::Option* browser = command->add_flag(
      "--browser", options->signIn.browser,
      tr("approve the sign-in on Plinth's page in your browser instead of giving Marigold your "
         "password (the page's address is printed and opened with xdg-open where there is a "
         "display; Ctrl+C cancels, 5 minutes at most)"));
  command->get_option("--user")->excludes(browser);
  command->get_option("--password-stdin")->excludes(browser);
  addOutputOptions(*command, options->json, console);
  return [options, &console] {
    if (!options->signIn.userGiven() && !options->signIn.browser) {
      return console.error(tr("login needs --user NAME or --browser") + "\n  " +
                               tr("Run '%1 --help' for usage.", {"marigold login"}),
                           kUsage);
    }
    return login(*options, console);
  };
}

CommandRun addLogout(CLI::App& app, Console& console) {
  CLI::App* command = app.add_subcommand(
      "logout", tr("sign out and forget the saved user name, password and \"remember\""));
  command->footer(tr(kExitStatusHelp));
  return [&console] { return logout(console); };
}

CommandRun addBlogs(CLI::App& app, Console& console) {
  auto options = std::make_shared<AccountOptions>();
  CLI::App* command = app.add_subcommand("blogs", tr("list your blogs, one per line"));
  command->footer(tr(kExitStatusHelp));
  addSignInOptions(*command, options->signIn);
  addOutputOptions(*command, options->json, console);
  return [options, &console] { return blogs(*options, console); };
}

CommandRun addStatus(CLI::App& app, Console& console) {
  auto options = std::make_shared<AccountOptions>();
  CLI::App* command = app.add_subcommand(
      "status", tr("show the saved user name, whether it is remembered and whether it signs in"));
  command->footer(tr("Exits 0 when signed in, 3 when not, 1 when the remembered sign-in failed.") +
                  "\n\n" + tr(kExitStatusHelp));
  addOutputOptions(*command, options->json, console);
  return [options, &console] { return status(*options, console); };
}

}  // namespace marigold::cli
