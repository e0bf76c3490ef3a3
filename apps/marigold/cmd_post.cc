// marigold post: checks the photos and the post's fields, signs in, fills the plug-in's pane and
// exports, as a user would in the export dialog.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "host_session.h"
#include "json/json_value.h"
#include "post_inputs.h"
#include "sign_in.h"

namespace marigold::cli {
namespace {

struct PostOptions {
  std::vector<std::string> photos;
  std::string blog, caption, captionFile, tags, link, state;
  CLI::Option* blogOption = nullptr;
  CLI::Option* captionOption = nullptr;
  CLI::Option* captionFileOption = nullptr;
  CLI::Option* linkOption = nullptr;
  CLI::Option* stateOption = nullptr;
  SignInOptions signIn;
  bool json = false;
};

constexpr const char* kSignInHelp =
    "Signs in by itself with a remembered sign-in (marigold login --remember), else give --user.\n";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
  std::string all;
  for (const auto& item : items) all += (all.empty() ? "" : separator) + item;
  return all;
}

// Every check that needs nothing but the command line; answers kDone or the exit status.
int checkArguments(PostOptions& o, Console& console) {
  if (o.captionFileOption->count() > 0) {
    if (o.captionOption->count() > 0) {
      return console.error("--caption and --caption-file: give the caption only once");
    }
    if (o.captionFile == "-" && o.signIn.passwordStdin) {
      return console.error("--caption-file - and --password-stdin cannot both read standard input");
    }
    CaptionFile file = readCaptionFile(o.captionFile);
    if (file.error) return console.error(*file.error);
    o.caption = std::move(file.caption);
  }
  if (o.blogOption->count() > 0 && o.blog.empty()) return console.error("--blog: empty blog name");
  const std::pair<const char*, const std::string*> texts[] = {
      {o.captionFileOption->count() > 0 ? "--caption-file" : "--caption", &o.caption},
      {"--tags", &o.tags},
      {"--link", &o.link},
      {"--blog", &o.blog}};
  for (const auto& [option, text] : texts) {
    if (auto problem = checkText(option, *text)) return console.error(*problem);
  }
  if (o.linkOption->count() > 0) {
    if (auto problem = checkLink(o.link)) return console.error(*problem);
    if (o.photos.size() > 1) return console.error("--link: a link can only go with a single photo");
  }
  if (auto problem = checkPhotos(o.photos)) return console.error(*problem);
  return kDone;
}

// Picks the blog in the pane; answers kDone or the exit status.
int chooseBlog(HostSession& session, const PostOptions& o, Console& console) {
  auto blogMenu = session.control<PopUpButton>("plinthSelect");
  std::vector<std::string> blogs = session.blogs();
  if (blogs.empty()) {
    return session.alertShown() ? kFailed
                                : console.error("your account lists no blogs to post to", kFailed);
  }
  if (o.blogOption->count() > 0) {
    // A blog is named by its full name or by the part before the first dot.
    auto match = std::find_if(blogs.begin(), blogs.end(), [&](const std::string& title) {
      return title == o.blog || title.substr(0, title.find('.')) == o.blog;
    });
    if (match == blogs.end()) {
      return console.error("--blog " + o.blog + ": you have no blog of that name; your blogs are " +
                           joined(blogs, ", "));
    }
    blogMenu->selectItemWithTitle(*match);
  }
  return kDone;
}

// Picks the post state in the pane. The pane offers its states before any sign-in, so a state it
// does not know is refused as a usage error before anything is sent.
int chooseState(HostSession& session, const PostOptions& o, Console& console) {
  if (o.stateOption->count() == 0) return kDone;
  auto states = session.control<PopUpButton>("plinthStatus");
  const auto& titles = states->itemTitles();
  auto match = std::find_if(titles.begin(), titles.end(),
                            [&](const std::string& t) { return equalsIgnoringCase(t, o.state); });
  if (match == titles.end()) {
    return console.error("--state " + o.state + ": unknown post state (choose one of " +
                         joined(titles, ", ") + ")");
  }
  states->selectItemWithTitle(*match);
  return kDone;
}

int post(PostOptions& o, Console& console) {
  if (int status = checkArguments(o, console); status != kDone) return status;
  return withSession(o.photos, console, [&](HostSession& session) {
    if (int status = chooseState(session, o, console); status != kDone) return status;
    if (int status = ensureSignedIn(session, o.signIn, console); status != kDone) return status;
    if (int status = chooseBlog(session, o, console); status != kDone) return status;
    session.control<TextField>("plinthCaptions")->setStringValue(o.caption);
    session.control<TextField>("plinthTags")->setStringValue(o.tags);
    if (o.linkOption->count() > 0) {
      session.control<TextField>("plinthClickthrough")->setStringValue(o.link);
    }
    auto notice = session.control<TextField>("notificationField");
    if (!notice->isHidden()) return console.error(notice->stringValue(), kUsage);
    if (!session.exportManager().controlsEnabled()) {
      return console.error("the pane does not allow posting now", kFailed);
    }
    const std::string blog =
        session.control<PopUpButton>("plinthSelect")->titleOfSelectedItem().value_or("");
    const std::string state =
        session.control<PopUpButton>("plinthStatus")->titleOfSelectedItem().value_or("");
    const std::size_t count = o.photos.size();
    const std::string photos = std::to_string(count) + (count == 1 ? " photo" : " photos");
    console.note("Posting " + photos + " to " + blog);
    const PostOutcome outcome = session.exportAndWait();
    if (!outcome.posted) return kFailed;
    if (o.json) {
      JsonObject document;
      document.set("id", outcome.postId ? JsonValue(*outcome.postId) : JsonValue());
      document.set("blog", blog);
      document.set("state", state);
      document.set("photos", static_cast<std::int64_t>(count));
      console.resultJson(JsonValue(std::move(document)));
    } else {
      console.result("Posted " + photos + " to " + blog +
                     (outcome.postId ? " as post " + *outcome.postId : "") + "\n");
    }
    return kDone;
  });
}

}  // namespace

CommandRun addPost(CLI::App& app, Console& console) {
  auto options = std::make_shared<PostOptions>();
  CLI::App* command = app.add_subcommand("post", "post photos to a blog as one photo post");
  command->footer(std::string(kPostLimitsHelp) + kSignInHelp + "\n" + kExitStatusHelp);
  PostOptions& o = *options;
  command->add_option("photos", o.photos, "the photos, in the post's order")
      ->required()
      ->option_text("PHOTO...");
  o.blogOption = command->add_option("-b,--blog", o.blog,
                                     "post to this blog (its name or the part before the first "
                                     "dot); the first blog by default");
  o.captionOption = command->add_option("-c,--caption", o.caption, "the caption");
  o.captionFileOption = command
                            ->add_option("--caption-file", o.captionFile,
                                         "read the caption from FILE (- for "
                                         "standard input)")
                            ->option_text("FILE");
  command->add_option("-t,--tags", o.tags, "tags, separated by commas");
  o.linkOption =
      command
          ->add_option("-l,--link", o.link, "click-through link, http or https (single photo only)")
          ->option_text("URL");
  o.stateOption =
      command->add_option("-s,--state", o.state, "post state: Published, Draft, Queue or Private")
          ->option_text("STATE");
  addSignInOptions(*command, o.signIn);
  addOutputOptions(*command, o.json, console);
  return [options, &console] { return post(*options, console); };
}

}  // namespace marigold::cli
