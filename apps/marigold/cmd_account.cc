// The account commands, which work the sign-in part of the plug-in's pane: login, logout, blogs
// and status.
#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "host_session.h"
#include "json/json_value.h"
#include "sign_in.h"

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
  return session.alertShown() ? kFailed : console.error("your blogs could not be listed", kFailed);
}

int login(const AccountOptions& o, Console& console) {
  return withSession({}, console, [&](HostSession& session) {
    if (int status = ensureSignedIn(session, o.signIn, console); status != kDone) return status;
    const std::vector<std::string> blogs = session.blogs();
    if (blogs.empty()) return noBlogs(session, console);
    if (o.signIn.remember && session.signInWarned()) {
      // The plug-in's alert said why the sign-in was not kept.
      return kFailed;
    }
    if (!o.signIn.remember) {
      console.note(
          "Without --remember nothing is kept: the next command is not signed in. Run 'marigold "
          "login --user " +
          o.signIn.user + " --remember' to stay signed in.");
    }
    if (o.json) {
      JsonObject document;
      document.set("user", o.signIn.user);
      document.set("signedIn", true);
      document.set("remembered", o.signIn.remember);
      document.set("blogs", blogList(blogs));
      console.resultJson(JsonValue(std::move(document)));
      return kDone;
    }
    std::string text = "Signed in as " + o.signIn.user +
                       (o.signIn.remember ? " (remembered)" : " (for this command only)") +
                       ". Your blogs:\n";
    for (const auto& blog : blogs) text += "  " + blog + "\n";
    console.result(text);
    return kDone;
  });
}

int blogs(const AccountOptions& o, Console& console) {
  return withSession({}, console, [&](HostSession& session) {
    if (int status = ensureSignedIn(session, o.signIn, console); status != kDone) return status;
    const std::vector<std::string> blogs = session.blogs();
    if (blogs.empty()) return noBlogs(session, console);
    if (o.json) {
      JsonObject document;
      document.set("user", session.userName());
      document.set("blogs", blogList(blogs));
      console.resultJson(JsonValue(std::move(document)));
      return kDone;
    }
    std::string text;
    for (const auto& blog : blogs) text += blog + "\n";
    console.result(text);
    return kDone;
  });
}

int status(const AccountOptions& o, Console& console) {
  return withSession({}, console, [&](HostSession& session) {
    const std::string user = session.userName();
    const bool remembered = session.remembered();
    const bool signedIn = session.signedIn();
    if (o.json) {
      JsonObject document;
      document.set("user", user.empty() ? JsonValue() : JsonValue(user));
      document.set("remembered", remembered);
      document.set("signedIn", signedIn);
      console.resultJson(JsonValue(std::move(document)));
    } else {
      console.result("user name: " + (user.empty() ? std::string("(none)") : user) +
                     "\nremember:  " + (remembered ? "yes" : "no") +
                     "\nsigned in: " + (signedIn ? "yes" : "no") + "\n");
    }
    if (signedIn) return kDone;
    return session.rememberedSignInFailed() ? kFailed : kNotSignedIn;
  });
}

}  // namespace

CommandRun addLogin(CLI::App& app, Console& console) {
  auto options = std::make_shared<AccountOptions>();
  CLI::App* command =
      app.add_subcommand("login", "sign in; with --remember later commands stay signed in");
  command->footer(std::string("Without --remember the sign-in lasts only for this command.\n\n") +
                  kExitStatusHelp);
  addSignInOptions(*command, options->signIn);
  command->get_option("--user")->required();
  addOutputOptions(*command, options->json, console);
  return [options, &console] { return login(*options, console); };
}

CommandRun addLogout(CLI::App& app, Console& console) {
  CLI::App* command = app.add_subcommand(
      "logout", "sign out and forget the saved user name, password and \"remember\"");
  command->footer(kExitStatusHelp);
  return [&console] {
    return withSession({}, console, [&](HostSession& session) {
      session.signOut();
      console.result("Signed out; the saved user name and password are forgotten.\n");
      return kDone;
    });
  };
}

CommandRun addBlogs(CLI::App& app, Console& console) {
  auto options = std::make_shared<AccountOptions>();
  CLI::App* command = app.add_subcommand("blogs", "list your blogs, one per line");
  command->footer(kExitStatusHelp);
  addSignInOptions(*command, options->signIn);
  addOutputOptions(*command, options->json, console);
  return [options, &console] { return blogs(*options, console); };
}

CommandRun addStatus(CLI::App& app, Console& console) {
  auto options = std::make_shared<AccountOptions>();
  CLI::App* command = app.add_subcommand(
      "status", "show the saved user name, whether it is remembered and whether it signs in");
  command->footer(
      std::string("Exits 0 when signed in, 3 when not, 1 when the remembered sign-in failed.\n\n") +
      kExitStatusHelp);
  addOutputOptions(*command, options->json, console);
  return [options, &console] { return status(*options, console); };
}

}  // namespace marigold::cli
