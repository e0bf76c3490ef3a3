#include "sign_in.h"

#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <optional>

namespace marigold::cli {
namespace {

// Reads the password: a line of standard input with --password-stdin, else a prompt without echo
// on the terminal. Absent when neither is possible.
std::optional<std::string> readPassword(const std::string& user, bool fromStdin) {
  std::string password;
  if (fromStdin) {
    if (!std::getline(std::cin, password)) return std::string();
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
  }
  if (isatty(STDIN_FILENO) == 0) return std::nullopt;
  std::fprintf(stderr, "Password for %s: ", user.c_str());
  std::fflush(stderr);
  termios saved{};
  tcgetattr(STDIN_FILENO, &saved);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  std::getline(std::cin, password);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::fputc('\n', stderr);
  return password;
}

}  // namespace

void addSignInOptions(CLI::App& command, SignInOptions& options) {
  command.add_option("-u,--user", options.user, "sign in as NAME (the password is asked)")
      ->option_text("NAME");
  command.add_flag("--password-stdin", options.passwordStdin,
                   "read the password from the first line of standard input");
  command.add_flag("--remember", options.remember,
                   "keep the sign-in for later commands (saved encrypted in your home folder)");
}

int ensureSignedIn(HostSession& session, const SignInOptions& options, Console& console) {
  if (options.user.empty()) {
    if (session.signedIn()) return kDone;
    // The remembered sign-in was tried and its alert printed.
    if (session.rememberedSignInFailed()) return kFailed;
    return console.error(
        "not signed in: run 'marigold login --user NAME --remember' first, or give --user NAME",
        kNotSignedIn);
  }
  std::optional<std::string> password = readPassword(options.user, options.passwordStdin);
  if (!password) {
    return console.error("no terminal to ask for the password: use --password-stdin", kUsage);
  }
  return session.signIn(options.user, *password, options.remember) ? kDone : kFailed;
}

int withSession(std::vector<std::string> photos, Console& console,
                const std::function<int(HostSession&)>& work,
                const HostSession::ExportStep& exportStep) {
  try {
    HostSession session(std::move(photos), console, exportStep);
    return work(session);
  } catch (const std::exception& e) {
    return console.error(e.what(), kFailed);
  }
}

}  // namespace marigold::cli
