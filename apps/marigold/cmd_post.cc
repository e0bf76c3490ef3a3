// marigold post: checks the photos and the post's fields, signs in, fills the plug-in's pane and
// exports, as a user would in the export dialog.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/translation.h"
#include "commands.h"
#include "host/outbox.h"
#include "host/photo_export.h"
#include "host/post_address.h"
#include "host/scratch_folder.h"
#include "host_session.h"
#include "imaging/photo_preparation.h"
#include "json/json_value.h"
#include "pane_post.h"
#include "plugin/pane_contract.h"
#include "post_inputs.h"
#include "sign_in.h"
#include "terminal_text.h"

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
  int progressFd = -1;
  CLI::Option* progressFdOption = nullptr;
  SignInOptions signIn;
  bool json = false;
  std::string size = "fit";
  int quality = imaging::kDefaultQuality;
  bool keepLocation = false, keepMetadata = false, stripMetadata = false;
  bool later = false;
};

imaging::PreparationOptions preparationOptions(const PostOptions& o) {
  imaging::PreparationOptions options;
  options.size = imaging::photoSizeFromName(o.size).value_or(imaging::PhotoSize::kFit);
  options.quality = o.quality;
  if (o.keepMetadata) {
    options.metadata = imaging::MetadataChoice::kKeepAll;
  } else if (o.stripMetadata) {
    options.metadata = imaging::MetadataChoice::kRemoveAll;
  } else if (o.keepLocation) {
    options.metadata = imaging::MetadataChoice::kKeepLocation;
  }
  return options;
}

// What preparing the photos did, for --json.
JsonValue preparationJson(const imaging::PreparationResult& result,
                          const imaging::PreparationOptions& options) {
  JsonObject document;
  document.set("size", std::string(imaging::photoSizeName(options.size)));
  document.set("metadata", std::string(imaging::metadataChoiceName(options.metadata)));
  document.set("bytes", static_cast<std::int64_t>(result.totalBytes()));
  document.set("limit", static_cast<std::int64_t>(options.byteLimit));
  document.set("summary", imaging::describePreparation(result, options, Rendering::english()));
  JsonValue::Array photos;
  for (const auto& photo : result.photos) {
    JsonObject item;
    item.set("file", photo.source);
    item.set("type", std::string(formatName(photo.type)));
    item.set("width", static_cast<std::int64_t>(photo.width));
    item.set("height", static_cast<std::int64_t>(photo.height));
    item.set("bytes", static_cast<std::int64_t>(photo.bytes));
    item.set("originalBytes", static_cast<std::int64_t>(photo.sourceBytes));
    item.set("scaled", photo.scaled);
    item.set("locationRemoved", photo.locationRemoved);
    item.set("unchanged", photo.unchanged);
    JsonValue::Array leftOut;
    for (const auto& part : photo.metadataLeftOut) leftOut.push_back(JsonValue(part));
    item.set("metadataLeftOut", JsonValue(std::move(leftOut)));
    photos.push_back(JsonValue(std::move(item)));
  }
  document.set("photos", JsonValue(std::move(photos)));
  return JsonValue(std::move(document));
}

constexpr const char* kSignInHelp = translatable(
    "Signs in by itself with a remembered sign-in (marigold login --remember), else give "
    "--user.\n");

std::string joined(const std::vector<std::string>& items, const char* separator) {
  std::string all;
  for (const auto& item : items) all += (all.empty() ? "" : separator) + item;
  return all;
}

// The pane's post state an option names, in any letter case; the menu shows the states in the
// user's language, the option names them in English.
std::optional<std::string> postStateNamed(const std::string& name) {
  for (const char* state : pane::kPostStates) {
    if (equalsIgnoringASCIICase(state, name)) return std::string(state);
  }
  return std::nullopt;
}

// Every check that needs nothing but the command line; answers kDone or the exit status.
int checkArguments(PostOptions& o, Console& console) {
  if (o.captionFileOption->count() > 0) {
    if (o.captionOption->count() > 0) {
      return console.error(tr("--caption and --caption-file: give the caption only once"));
    }
    if (o.captionFile == "-" && o.signIn.passwordStdin) {
      return console.error(
          tr("--caption-file - and --password-stdin cannot both read standard input"));
    }
    CaptionFile file = readCaptionFile(o.captionFile);
    if (file.error) return console.error(*file.error);
    o.caption = std::move(file.caption);
  }
  if (o.stateOption->count() > 0 && !postStateNamed(o.state)) {
    const std::vector<std::string> states(std::begin(pane::kPostStates),
                                          std::end(pane::kPostStates));
    return console.error(tr("--state %1: unknown post state (choose one of %2)",
                            {printable(o.state), joined(states, ", ")}));
  }
  if (o.blogOption->count() > 0 && o.blog.empty())
    return console.error(tr("--blog: empty blog name"));
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
    if (o.photos.size() > 1)
      return console.error(tr("--link: a link can only go with a single photo"));
  }
  if (auto problem = checkPhotos(o.photos)) return console.error(*problem);
  return kDone;
}

PaneFields paneFields(const PostOptions& o) {
  PaneFields fields;
  if (o.blogOption->count() > 0) fields.blog = o.blog;
  fields.caption = o.caption;
  fields.tags = o.tags;
  if (o.linkOption->count() > 0) fields.link = o.link;
  if (o.stateOption->count() > 0) fields.state = *postStateNamed(o.state);
  return fields;
}

// What the outbox keeps of this post's fields, its photos being `photos`.
host::OutboxPost outboxPost(const std::vector<std::string>& photos, const PostOptions& o,
                            std::string blog, std::string state, std::string account) {
  host::OutboxPost post;
  post.photos.assign(photos.begin(), photos.end());
  post.caption = o.caption;
  post.tags = o.tags;
  if (o.linkOption->count() > 0) post.link = o.link;
  post.state = std::move(state);
  post.blog = std::move(blog);
  post.account = std::move(account);
  return post;
}

// post --later: the prepared post goes in the outbox, nothing is sent.
int keepForLater(HostSession& session, const PostOptions& o, Console& console) {
  auto notice = session.control<TextField>(pane::kNotice);
  if (!notice->isHidden()) return console.error(notice->stringValue(), kUsage);
  host::Outbox outbox;
  const auto added = outbox.add(
      outboxPost(session.exportManager().photoPaths(), o, o.blog,
                 o.stateOption->count() > 0 ? *postStateNamed(o.state) : pane::kPostStates[0],
                 o.signIn.userGiven() ? o.signIn.user : std::string()),
      host::OutboxEntry::Kind::kWaiting, tr("kept to be sent later"));
  if (const auto* error = std::get_if<Error>(&added)) {
    return console.error(tr("The post was not kept in the outbox: %1", {error->shownDescription()}),
                         kFailed);
  }
  const std::string& id = std::get<host::OutboxEntry>(added).id;
  if (o.json) {
    JsonObject document;
    document.set("outbox", id);
    console.resultJson(JsonValue(std::move(document)));
  } else {
    console.result(tr("Kept in the outbox as %1; send it with 'marigold outbox send'.", {id}) +
                   "\n");
  }
  return kDone;
}

// A post that failed: one known not to be stored waits in the outbox; one that may be stored is
// kept apart there. Answers the post's exit status, which keeping it does not change.
int keepFailedPost(const std::vector<std::string>& photos, const std::string& account,
                   const PostOptions& o, const PanePost& post, Console& console) {
  const PostOutcome& outcome = post.outcome;
  const int status =
      outcome.mayBePosted ? kMayBePosted : (outcome.signInRefused ? kNotSignedIn : kFailed);
  if (!outcome.mayBePosted && !outcome.worthSendingLater) return status;
  host::Outbox outbox;
  const auto added = outbox.add(outboxPost(photos, o, post.blog, post.state, account),
                                outcome.mayBePosted ? host::OutboxEntry::Kind::kMayBePosted
                                                    : host::OutboxEntry::Kind::kWaiting,
                                outcome.failure);
  if (const auto* error = std::get_if<Error>(&added)) {
    console.error(tr("The post was not kept in the outbox: %1", {error->shownDescription()}),
                  status);
    return status;
  }
  const std::string& id = std::get<host::OutboxEntry>(added).id;
  if (outcome.mayBePosted) {
    console.note(
        tr("Kept apart in the outbox as %1, since it may already be posted. Check your "
           "blog: if it is not there, run 'marigold outbox send --not-posted %1'; if it "
           "is, run 'marigold outbox drop %1'.",
           {id}));
  } else {
    console.note(tr("Kept in the outbox as %1; send it with 'marigold outbox send'.", {id}));
  }
  return status;
}

int post(PostOptions& o, Console& console) {
  // First, so that a caller reading the stream learns of every refusal that follows.
  if (o.progressFdOption->count() > 0) {
    std::string problem;
    std::optional<ProgressStream> stream = ProgressStream::open(o.progressFd, problem);
    if (!stream) return console.error(problem);
    console.setProgressStream(std::move(*stream));
  }
  if (int status = checkArguments(o, console); status != kDone) return status;
  // The prepared photos live in a folder of our own, gone when the command ends however it ends.
  std::optional<host::ScratchFolder> scratch;
  try {
    scratch.emplace();
  } catch (const std::exception& e) {
    return console.error(e.what(), kFailed);
  }
  // An interruption removes it too (the command line takes its signals on a thread of its own);
  // one that comes as the command ends waits for the removal under way.
  const Interrupts::Registration removal =
      console.interrupts().onInterruptOrEnd([&scratch] { scratch->remove(); });
  imaging::PreparationOptions preparation = preparationOptions(o);
  std::optional<host::PreparedSelection> prepared;
  auto exportStep = [&](const std::string& requiredFileType) {
    preparation.requiredFileType = requiredFileType;
    if (ProgressStream* stream = console.progressStream()) stream->preparing();
    prepared = host::prepareSelection(*scratch, o.photos, preparation);
    // A photo that cannot be prepared stops the post before anything is sent.
    return prepared->result.leftOut().empty() ? prepared->paths() : std::vector<std::string>{};
  };
  const auto work = [&](HostSession& session, SettingsWorkspace& settings) {
    const auto leftOut = prepared->result.leftOut();
    for (const imaging::PreparedPhoto* photo : leftOut) {
      console.error(tr("photo %1: %2", {printable(photo->source), printable(photo->problem)}));
    }
    if (!leftOut.empty()) return kUsage;
    console.note(
        imaging::describePreparation(prepared->result, preparation, Rendering::usersLanguage()));
    if (o.later) return keepForLater(session, o, console);
    const PanePost post = postFromPane(session, settings, o.signIn, paneFields(o), console);
    if (post.status != kDone) return post.status;
    const PostOutcome& outcome = post.outcome;
    if (!outcome.posted) {
      return keepFailedPost(session.exportManager().photoPaths(), session.userName(), o, post,
                            console);
    }
    if (ProgressStream* stream = console.progressStream()) {
      stream->posted(outcome.postId, post.blog, host::postAddress(post.blog, outcome.postId));
    }
    const std::size_t count = o.photos.size();
    const std::string number = std::to_string(count);
    if (o.json) {
      JsonObject document;
      document.set("id", outcome.postId ? JsonValue(*outcome.postId) : JsonValue());
      document.set("blog", post.blog);
      document.set("state", post.state);
      document.set("photos", static_cast<std::int64_t>(count));
      document.set("prepared", preparationJson(prepared->result, preparation));
      console.resultJson(JsonValue(std::move(document)));
    } else {
      console.result(
          (outcome.postId
               ? trn("Posted %1 photo to %2 as post %3", "Posted %1 photos to %2 as post %3", count,
                     {number, printable(post.blog), printable(*outcome.postId)})
               : trn("Posted %1 photo to %2", "Posted %1 photos to %2", count,
                     {number, printable(post.blog)})) +
          "\n");
    }
    return kDone;
  };
  // --later needs no sign-in: the saved one is left alone, so nothing goes over the network.
  return withSession(o.photos, console,
                     o.later ? SettingsWorkspace::Use::kNone : o.signIn.settingsUse(), work,
                     exportStep);
}

}  // namespace

CommandRun addPost(CLI::App& app, Console& console) {
  auto options = std::make_shared<PostOptions>();
  CLI::App* command = app.add_subcommand("post", tr("post photos to a blog as one photo post"));
  command->footer(tr(kPostLimitsHelp) + tr(kPhotoRuleHelp) + tr(kSignInHelp) + "\n" +
                  tr(kExitStatusHelp));
  PostOptions& o = *options;
  command->add_option("photos", o.photos, tr("the photos, in the post's order"))
      ->required()
      ->option_text("PHOTO...");
  o.blogOption = command->add_option("-b,--blog", o.blog,
                                     tr("post to this blog (its name or the part before the "
                                        "first dot); the first blog by default"));
  o.captionOption = command->add_option("-c,--caption", o.caption, tr("the caption"));
  o.captionFileOption = command
                            ->add_option("--caption-file", o.captionFile,
                                         tr("read the caption from FILE (- for standard input; "
                                            "text of at most 64 KiB)"))
                            ->option_text("FILE");
  command->add_option("-t,--tags", o.tags, tr("tags, separated by commas"));
  o.linkOption = command
                     ->add_option("-l,--link", o.link,
                                  tr("click-through link, http or https (single photo only)"))
                     ->option_text("URL");
  o.stateOption =
      command
          ->add_option("-s,--state", o.state, tr("post state: Published, Draft, Queue or Private"))
          ->option_text("STATE");
  command
      ->add_option("--size", o.size,
                   tr("photo size: fit (the default: the largest that fits the limit), original, "
                      "or the long edge 2048, 1280 or 1024"))
      ->check(CLI::IsMember({"fit", "original", "2048", "1280", "1024"}))
      ->option_text("SIZE");
  command
      ->add_option(
          "--quality", o.quality,
          tr("JPEG quality of photos that are re-encoded, 1-100 (default 85; fit may go lower)"))
      ->check(CLI::Range(1, 100))
      ->option_text("N");
  auto* keepLocation =
      command->add_flag("--keep-location", o.keepLocation,
                        tr("also keep the location: GPS and place names (serials and owner "
                           "names are still removed)"));
  auto* keepMetadata = command->add_flag("--keep-metadata", o.keepMetadata,
                                         tr("keep all metadata; with --size original, a JPEG "
                                            "in sRGB or an animated GIF is sent exactly as it is"));
  auto* stripMetadata = command->add_flag("--strip-metadata", o.stripMetadata,
                                          tr("remove all metadata but the colour profile"));
  keepLocation->excludes(keepMetadata)->excludes(stripMetadata);
  keepMetadata->excludes(stripMetadata);
  o.progressFdOption =
      command
          ->add_option("--progress-fd", o.progressFd,
                       tr("write the progress as JSON lines on file descriptor N (opened by the "
                          "caller), for a program that shows it"))
          ->option_text("N");
  command->add_flag("--later", o.later,
                    tr("keep the post in the outbox to be sent later (marigold outbox send); "
                       "nothing is sent and no sign-in is needed"));
  addSignInOptions(*command, o.signIn);
  addOutputOptions(*command, o.json, console);
  return [options, &console] { return post(*options, console); };
}

}  // namespace marigold::cli
