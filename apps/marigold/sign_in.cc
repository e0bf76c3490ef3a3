#include "sign_in.h"

#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <optional>

#include "base/translation.h"
#include "host/service_environment.h"
#include "settings/consumer_credentials.h"
#include "terminal_text.h"

namespace marigold::cli {
namespace {

// The password, or the message saying why there is none.
struct Password {
  std::string text;
  std::optional<std::string> problem;
};

// One line of standard input without its line break: at most kMaxPasswordBytes, no NUL.
Password readPasswordLine(const std::string& source) {
  Password password;
  for (int c; (c = std::cin.get()) != std::char_traits<char>::eof() && c != '\n';) {
    if (c == '\0') {
      password.problem = tr("%1: the password holds a NUL byte; it must be text", {source});
      return password;
    }
    if (password.text.size() == kMaxPasswordBytes) {
      password.problem = tr("%1: the password is longer than %2 bytes",
                            {source, std::to_string(kMaxPasswordBytes)});
      return password;
    }
    password.text.push_back(static_cast<char>(c));
  }
  if (!password.text.empty() && password.text.back() == '\r') password.text.pop_back();
  return password;
}

// Reads the password: a line of standard input with --password-stdin, else a prompt without echo
// on the terminal; an interruption at the prompt gives the terminal its echo back.
Password readPassword(const std::string& user, bool fromStdin, Console& console) {
  if (fromStdin) return readPasswordLine("--password-stdin");
  if (isatty(STDIN_FILENO) == 0) {
    return {"", tr("no terminal to ask for the password: use --password-stdin")};
  }
  std::fputs(tr("Password for %1: ", {printable(user)}).c_str(), stderr);
  std::fflush(stderr);
  termios saved{};
  const bool restore = tcgetattr(STDIN_FILENO, &saved) == 0;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  Interrupts::Registration echoBack;
  if (restore) {
    echoBack = console.interrupts().onInterrupt([saved] {
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
      std::fputc('\n', stderr);
    });
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  Password password = readPasswordLine(tr("the password"));
  if (restore) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::fputc('\n', stderr);
  return password;
}

}  // namespace

bool SignInOptions::userGiven() const { return userOption != nullptr && userOption->count() > 0; }

SettingsWorkspace::Use SignInOptions::settingsUse() const {
  if (!userGiven() && !browser) return SettingsWorkspace::Use::kSaved;
  return remember ? SettingsWorkspace::Use::kReplacing : SettingsWorkspace::Use::kNone;
}

void addSignInOptions(CLI::App& command, SignInOptions& options) {
  options.userOption =
      command.add_option("-u,--user", options.user, tr("sign in as NAME (the password is asked)"))
          ->option_text("NAME")
          ->check([](const std::string& name) {
            return name.empty() ? tr("empty user name") : std::string();
          });
  command.add_flag("--password-stdin", options.passwordStdin,
                   tr("read the password from the first line of standard input (at most 4096 "
                      "bytes)"));
  command.add_flag("--remember", options.remember,
                   tr("keep the sign-in for later commands (saved encrypted in your home folder)"));
}

int ensureSignedIn(HostSession& session, SettingsWorkspace& settings, const SignInOptions& options,
                   Console& console) {
  if (options.browser) {
    if (!session.signInWithBrowser(options.remember)) return kFailed;
    if (options.remember && !session.signInWarned()) {
      if (auto problem = settings.keep()) {
        return console.error(
            tr("Your sign-in could not be remembered.\n  %1.", {printable(*problem)}), kFailed);
      }
    }
    return kDone;
  }
  if (!options.userGiven()) {
    if (session.signedIn()) return kDone;
    // The saved sign-in was tried and its alert printed.
    if (session.rememberedSignInFailed()) return kFailed;
    if (const std::string user = session.userName(); session.remembered() && !user.empty()) {
      return console.error(tr("not signed in: no password is saved for %1. Sign in again with "
                              "'marigold login --user %1 --remember'.",
                              {printable(user)}),
                           kNotSignedIn);
    }
    return console.error(
        tr("not signed in: run 'marigold login --user NAME --remember' first, or give --user NAME"),
        kNotSignedIn);
  }
  const Password password = readPassword(options.user, options.passwordStdin, console);
  if (password.problem) return console.error(*password.problem, kUsage);
  if (!session.signIn(options.user, password.text, options.remember)) return kFailed;
  // A sign-in whose secret could not be kept (its alert was printed) leaves the saved sign-in as
  // it was, rather than saving a user name without its password.
  if (options.remember && !session.signInWarned()) {
    if (auto problem = settings.keep()) {
      return console.error(
          tr("Your sign-in could not be remembered.\n  %1.", {printable(*problem)}), kFailed);
    }
  }
  return kDone;
}

int withSession(std::vector<std::string> photos, Console& console, SettingsWorkspace::Use use,
                const std::function<int(HostSession&, SettingsWorkspace&)>& work,
                const HostSession::ExportStep& exportStep) {
  try {
    // As ssh does for a key: said on every command that uses the file, until it is made private.
    const ServiceConfiguration service = host::serviceFromEnvironment();
    const ConsumerCredentials application = ConsumerCredentials::fromConfiguration(
        {service.consumerKey, service.consumerSecret, service.configurationHome});
    if (!application.warning.empty()) {
      console.note(tr("marigold: warning: %1", {printable(application.warning.shown())}));
    }
    SettingsWorkspace settings(use, console);
    // A one-off sign-in keeps nothing, in the settings or in the desktop keyring: its plug-in
    // keeps the secret out of the keyring, in the private copy that goes with the command.
    HostSession session(std::move(photos), console,
                        {.settingsFolder = settings.folder().string(),
                         .settingsInMemory = settings.memory(),
                         .useDesktopKeyring = use != SettingsWorkspace::Use::kNone},
                        exportStep);
    // What showing the pane changed (a saved sign-in the service refused) is kept before the
    // work, which may be interrupted, and what the work changed (a post that found the sign-in
    // refused) after it.
    settings.keepChanges();
    const int status = work(session, settings);
    settings.keepChanges();
    return status;
  } catch (const std::exception& e) {
    return console.error(printable(e.what()), kFailed);
  }
}

}  // namespace marigold::cli
