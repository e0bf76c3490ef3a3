// The commands that work the plug-in's pane: post, login, logout, blogs and status.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "command_line.h"
#include "commands.h"
#include "host_session.h"
#include "settings/app_settings.h"

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

// Signs in with --user when given (or when the pane is not signed in yet). Answers 0 when signed
// in afterwards, else the exit status.
int ensureSignedIn(HostSession& session, const CommandLine& line) {
  std::optional<std::string> user = line.value("user");
  if (!user) {
    if (session.signedIn()) return 0;
    return fail(
        "not signed in: give --user NAME (and the password when asked), or run "
        "'marigold login' first");
  }
  std::optional<std::string> password = readPassword(*user, line.flag("password-stdin"));
  if (!password) return fail("no terminal to ask for the password: use --password-stdin");
  return session.signIn(*user, *password, line.flag("remember")) ? 0 : 1;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

void printBlogs(const std::vector<std::string>& blogs, std::FILE* out) {
  for (const auto& blog : blogs) std::fprintf(out, "  %s\n", blog.c_str());
}

int withSession(std::vector<std::string> photos, const std::function<int(HostSession&)>& work) {
  try {
    HostSession session(std::move(photos));
    return work(session);
  } catch (const std::exception& e) {
    return fail(e.what(), 1);
  }
}

const std::set<std::string> kSignInOptions = {"user"};
const std::set<std::string> kSignInFlags = {"password-stdin", "remember"};

}  // namespace

int runPost(const Args& args) {
  std::set<std::string> options = {"blog", "caption", "tags", "link", "state"};
  options.insert(kSignInOptions.begin(), kSignInOptions.end());
  CommandLine line(args, options, kSignInFlags);
  if (!line.error().empty()) return fail(line.error());
  if (line.operands().empty()) return fail("name at least one photo to post");
  for (const auto& photo : line.operands()) {
    if (!std::filesystem::is_regular_file(photo)) return fail("no such photo: " + photo, 1);
  }
  return withSession(line.operands(), [&](HostSession& session) {
    if (int status = ensureSignedIn(session, line); status != 0) return status;

    auto blogMenu = session.control<PopUpButton>("plinthSelect");
    std::vector<std::string> blogs = session.blogs();
    if (blogs.empty()) return fail("your account lists no blogs to post to", 1);
    if (auto blog = line.value("blog")) {
      // A blog is named by its full name or by the part before the first dot.
      auto match = std::find_if(blogs.begin(), blogs.end(), [&](const std::string& title) {
        return title == *blog || title.substr(0, title.find('.')) == *blog;
      });
      if (match == blogs.end()) {
        std::fprintf(stderr, "marigold: you have no blog named %s; your blogs are:\n",
                     blog->c_str());
        printBlogs(blogs, stderr);
        return 2;
      }
      blogMenu->selectItemWithTitle(*match);
    }
    if (auto state = line.value("state")) {
      auto states = session.control<PopUpButton>("plinthStatus");
      const auto& titles = states->itemTitles();
      auto match = std::find_if(titles.begin(), titles.end(), [&](const std::string& t) {
        return equalsIgnoringCase(t, *state);
      });
      if (match == titles.end()) {
        std::string known;
        for (const auto& t : titles) known += (known.empty() ? "" : ", ") + t;
        return fail("unknown post state " + *state + " (choose one of " + known + ")");
      }
      states->selectItemWithTitle(*match);
    }
    session.control<TextField>("plinthCaptions")
        ->setStringValue(line.value("caption").value_or(""));
    session.control<TextField>("plinthTags")->setStringValue(line.value("tags").value_or(""));
    auto link = session.control<TextField>("plinthClickthrough");
    if (auto value = line.value("link")) {
      if (!link->isEnabled()) return fail("a link can only be given for a single photo");
      link->setStringValue(*value);
    }
    auto notice = session.control<TextField>("notificationField");
    if (!notice->isHidden() || !session.exportManager().controlsEnabled()) {
      return fail(
          notice->isHidden() ? "the pane does not allow posting now" : notice->stringValue(), 1);
    }
    std::printf("Posting %zu photo%s to %s\n", line.operands().size(),
                line.operands().size() == 1 ? "" : "s",
                blogMenu->titleOfSelectedItem().value_or("").c_str());
    return session.exportAndWait() ? 0 : 1;
  });
}

int runLogin(const Args& args) {
  CommandLine line(args, kSignInOptions, kSignInFlags);
  if (!line.error().empty()) return fail(line.error());
  if (!line.operands().empty()) return fail("unexpected argument " + line.operands().front());
  if (!line.value("user")) return fail("give --user NAME");
  return withSession({}, [&](HostSession& session) {
    if (int status = ensureSignedIn(session, line); status != 0) return status;
    // What the settings file now holds, not what was asked: the save may have failed.
    const bool remembered = line.flag("remember") && AppSettings().isValid();
    std::printf("Signed in as %s%s. Your blogs:\n", line.value("user")->c_str(),
                remembered ? " (remembered)" : "");
    printBlogs(session.blogs(), stdout);
    if (line.flag("remember") && !remembered) {
      return fail("the sign-in could not be remembered; the next command will not be signed in", 1);
    }
    return 0;
  });
}

int runLogout(const Args& args) {
  if (!args.empty()) return fail("logout takes no arguments");
  return withSession({}, [](HostSession& session) {
    session.signOut();
    std::printf("Signed out; the saved user name and password are emptied.\n");
    return 0;
  });
}

int runBlogs(const Args& args) {
  CommandLine line(args, kSignInOptions, kSignInFlags);
  if (!line.error().empty()) return fail(line.error());
  return withSession({}, [&](HostSession& session) {
    if (int status = ensureSignedIn(session, line); status != 0) return status;
    printBlogs(session.blogs(), stdout);
    return 0;
  });
}

int runStatus(const Args& args) {
  if (!args.empty()) return fail("status takes no arguments");
  AppSettings settings;
  std::printf("user name: %s\nremember:  %s\nvalid:     %s\n",
              settings.email().empty() ? "(none)" : settings.email().c_str(),
              settings.saveUID() ? "yes" : "no", settings.isValid() ? "yes" : "no");
  return 0;
}

}  // namespace marigold::cli
