// marigold outbox: lists the posts kept to be sent later, sends them (each as `post` would, with
// the saved sign-in) and drops them. An entry that may already be posted is sent only when the
// user names it with --not-posted.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "base/translation.h"
#include "commands.h"
#include "host/outbox.h"
#include "imaging/photo_preparation.h"
#include "json/json_value.h"
#include "pane_post.h"
#include "sign_in.h"
#include "terminal_text.h"

namespace marigold::cli {
namespace {

using host::Outbox;
using host::OutboxEntry;

struct OutboxOptions {
  bool json = false;
  std::vector<std::string> ids;
  bool notPosted = false;
  CLI::App* send = nullptr;
  CLI::App* drop = nullptr;
};

constexpr const char* kMayBePostedAdvice = translatable(
    "%1 may already be posted, so it is not sent by itself. Check your blog: if it "
    "is not there, run 'marigold outbox send --not-posted %1'; if it is, run "
    "'marigold outbox drop %1'.");

// The exit status of several sends: the one that most needs the user's attention.
int worse(int a, int b) {
  constexpr int kOrder[] = {kDone, kUsage, kFailed, kNotSignedIn, kMayBePosted};
  const auto rank = [&](int status) {
    return std::find(std::begin(kOrder), std::end(kOrder), status) - std::begin(kOrder);
  };
  return rank(a) >= rank(b) ? a : b;
}

std::string localTime(OutboxEntry::Time time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

const char* statusName(const OutboxEntry& entry) {
  if (entry.beingSent) return "sending";
  return host::outboxKindName(entry.kind);
}

std::string statusWords(const OutboxEntry& entry) {
  if (entry.beingSent) return tr("being sent");
  return entry.kind == OutboxEntry::Kind::kMayBePosted ? tr("may already be posted")
                                                       : tr("waiting");
}

JsonValue entryJson(const OutboxEntry& entry, bool old) {
  JsonObject item;
  item.set("id", entry.id);
  item.set("status", std::string(statusName(entry)));
  item.set("account", entry.post.account);
  item.set("blog", entry.post.blog);
  item.set("state", entry.post.state);
  item.set("caption", entry.post.caption);
  item.set("tags", entry.post.tags);
  item.set("link", entry.post.link ? JsonValue(*entry.post.link) : JsonValue());
  item.set("photos", static_cast<std::int64_t>(entry.post.photos.size()));
  item.set("bytes", static_cast<std::int64_t>(entry.bytes));
  item.set("created", host::outboxTimeText(entry.created));
  item.set("failed", host::outboxTimeText(entry.failed));
  item.set("reason", entry.reason);
  item.set("sendingSince",
           entry.sendingSince ? JsonValue(host::outboxTimeText(*entry.sendingSince)) : JsonValue());
  item.set("old", old);
  return JsonValue(std::move(item));
}

int list(const OutboxOptions& o, Console& console) {
  const Outbox outbox;
  std::vector<OutboxEntry> entries = outbox.entries();
  // The posts that may already be posted are listed apart, after the ones waiting to be sent.
  std::stable_partition(entries.begin(), entries.end(), [](const OutboxEntry& entry) {
    return entry.kind == OutboxEntry::Kind::kWaiting;
  });
  const auto now = std::chrono::system_clock::now();
  std::uint64_t bytes = 0;
  std::size_t old = 0, apart = 0;
  JsonValue::Array items;
  std::string lines;
  for (const auto& entry : entries) {
    bytes += entry.bytes;
    const bool aged = entry.olderThan(Outbox::kOldAge, now);
    if (aged) ++old;
    if (entry.kind == OutboxEntry::Kind::kMayBePosted && !entry.beingSent) ++apart;
    items.push_back(entryJson(entry, aged));
    const std::size_t count = entry.post.photos.size();
    std::string line =
        entry.id + "  " + statusWords(entry) + "  " +
        trn("%1 photo", "%1 photos", count, {std::to_string(count)}) + ", " +
        tr("%1 MB", {imaging::megabytes(entry.bytes)}) + ", " +
        tr("to %1", {entry.post.blog.empty() ? tr("the first blog") : printable(entry.post.blog)}) +
        ", " + localTime(entry.failed) + ": " + printable(entry.reason);
    if (aged) line += "  (" + tr("older than 30 days") + ")";
    lines += line + "\n";
  }
  if (o.json) {
    JsonObject document;
    document.set("entries", JsonValue(std::move(items)));
    document.set("count", static_cast<std::int64_t>(entries.size()));
    document.set("bytes", static_cast<std::int64_t>(bytes));
    document.set("maxCount", static_cast<std::int64_t>(outbox.limits().entries));
    document.set("maxBytes", static_cast<std::int64_t>(outbox.limits().bytes));
    console.resultJson(JsonValue(std::move(document)));
  } else {
    console.result(lines);
  }
  if (entries.empty()) {
    console.note(tr("The outbox is empty."));
    return kDone;
  }
  console.note(trn("%1 post in the outbox: %2 MB of at most %3 MB.",
                   "%1 posts in the outbox: %2 MB of at most %3 MB.", entries.size(),
                   {std::to_string(entries.size()), imaging::megabytes(bytes),
                    imaging::megabytes(outbox.limits().bytes)}));
  if (apart > 0) {
    console.note(
        tr("A post that may already be posted is never sent by itself: check your blog, "
           "then run 'marigold outbox send --not-posted ID' or 'marigold outbox drop "
           "ID'."));
  }
  if (old > 0) {
    console.note(
        trn("%1 post is older than 30 days: drop it with 'marigold outbox drop ID' if "
            "it is no longer wanted.",
            "%1 posts are older than 30 days: drop them with 'marigold outbox drop ID' "
            "if they are no longer wanted.",
            old, {std::to_string(old)}));
  }
  return kDone;
}

// Sends one entry it holds, with the saved sign-in; answers the exit status `post` would.
int sendOne(Outbox::Send& send, bool json, JsonValue::Array& results, Console& console) {
  const OutboxEntry& entry = send.entry();
  const std::vector<std::string> photos(entry.post.photos.begin(), entry.post.photos.end());
  PaneFields fields;
  if (!entry.post.blog.empty()) fields.blog = entry.post.blog;
  fields.caption = entry.post.caption;
  fields.tags = entry.post.tags;
  fields.link = entry.post.link;
  if (!entry.post.state.empty()) fields.state = entry.post.state;
  const SignInOptions savedSignIn;
  JsonObject result;
  result.set("outbox", entry.id);
  const int status = withSession(
      photos, console, SettingsWorkspace::Use::kSaved,
      [&](HostSession& session, SettingsWorkspace& settings) {
        const PanePost post = postFromPane(
            session, settings, savedSignIn, fields, console, [&](HostSession& signedIn) {
              const std::string user = signedIn.userName();
              if (!entry.post.account.empty() && user != entry.post.account) {
                return console.error(
                    tr("%1 was kept for the account %2, but you are signed in as %3. Sign in as "
                       "%2 (marigold login --user %2 --remember), then send it again.",
                       {entry.id, printable(entry.post.account), printable(user)}),
                    kNotSignedIn);
              }
              // Written before anything is sent: a send cut off from here on is never repeated
              // by itself.
              if (auto error = send.begin()) {
                return console.error(tr("%1 could not be marked as being sent, so it was not "
                                        "sent: %2",
                                        {entry.id, error->shownDescription()}),
                                     kFailed);
              }
              return kDone;
            });
        if (post.status != kDone) return post.status;
        const PostOutcome& outcome = post.outcome;
        std::optional<Error> recorded;
        int sent = kDone;
        if (outcome.posted && outcome.postId) {
          recorded = send.posted();
          result.set("status", "posted");
          result.set("id", *outcome.postId);
          const std::size_t count = photos.size();
          if (!json) {
            console.result(
                trn("Posted %1 photo to %2 as post %3", "Posted %1 photos to %2 as post %3", count,
                    {std::to_string(count), printable(post.blog), printable(*outcome.postId)}) +
                "\n");
          }
        } else if (outcome.posted || outcome.mayBePosted) {
          recorded = send.mayBePosted(outcome.posted ? tr("Plinth took the post but gave no id")
                                                     : outcome.failure);
          result.set("status", "mayBePosted");
          console.note(tr(kMayBePostedAdvice, {entry.id}));
          sent = kMayBePosted;
        } else {
          recorded = send.keep(outcome.failure);
          result.set("status", "waiting");
          console.note(tr("%1 stays in the outbox; send it again later.", {entry.id}));
          sent = outcome.signInRefused ? kNotSignedIn : kFailed;
        }
        if (recorded) {
          console.error(tr("the outbox could not record how sending %1 ended: %2. It will not "
                           "be sent again by itself.",
                           {entry.id, recorded->shownDescription()}),
                        kFailed);
          sent = worse(sent, kFailed);
        }
        return sent;
      });
  if (!result.find("status")) result.set("status", "waiting");
  results.push_back(JsonValue(std::move(result)));
  return status;
}

// The user's outbox, saying so when a change waits for another command's.
Outbox outboxFor(Console& console) {
  Outbox outbox;
  outbox.setWaitingNotice(
      [&console] { console.note(tr("waiting for another marigold to finish with the outbox")); });
  return outbox;
}

int sendEntries(const OutboxOptions& o, Console& console) {
  Outbox outbox = outboxFor(console);
  if (o.notPosted && o.ids.empty()) {
    return console.error(tr("--not-posted needs the IDs of the posts you checked"));
  }
  const bool named = !o.ids.empty();
  std::vector<std::string> ids = o.ids;
  if (!named) {
    for (const auto& entry : outbox.entries()) ids.push_back(entry.id);
  }
  if (ids.empty()) console.note(tr("The outbox is empty."));
  int status = kDone;
  JsonValue::Array results;
  for (const auto& id : ids) {
    auto started = outbox.startSend(id, o.notPosted);
    if (auto* refusal = std::get_if<Outbox::Refusal>(&started)) {
      switch (*refusal) {
        case Outbox::Refusal::kMissing:
          // Sent or dropped by another command since the list was read.
          if (named) {
            status = worse(
                status, console.error(tr("There is no post %1 in the outbox.", {printable(id)})));
          }
          break;
        case Outbox::Refusal::kBusy:
          console.note(tr("%1 is being sent by another marigold; it is left to that one.", {id}));
          break;
        case Outbox::Refusal::kMayBePosted:
          status = worse(status, console.error(tr(kMayBePostedAdvice, {id}), kMayBePosted));
          break;
      }
      continue;
    }
    const int sent = sendOne(std::get<Outbox::Send>(started), o.json, results, console);
    status = worse(status, sent);
    // Without a sign-in the next entries would fail the same way.
    if (sent == kNotSignedIn) break;
  }
  if (o.json) {
    JsonObject document;
    document.set("sent", JsonValue(std::move(results)));
    console.resultJson(JsonValue(std::move(document)));
  }
  return status;
}

int dropEntries(const OutboxOptions& o, Console& console) {
  Outbox outbox = outboxFor(console);
  int status = kDone;
  for (const auto& id : o.ids) {
    if (auto error = outbox.drop(id)) {
      status = worse(status, console.error(error->shownDescription(),
                                           error->code == ENOENT ? kUsage : kFailed));
    } else {
      console.note(tr("Dropped %1 from the outbox.", {id}));
    }
  }
  return status;
}

}  // namespace

CommandRun addOutbox(CLI::App& app, Console& console) {
  auto options = std::make_shared<OutboxOptions>();
  OutboxOptions& o = *options;
  CLI::App* command = app.add_subcommand(
      "outbox", tr("list the posts kept to be sent later (one line each); send or drop them"));
  command->require_subcommand(0, 1);
  command->footer(
      tr("A post that failed before Plinth could store it (no connection, a server error, ...) "
         "or that was put in with 'post --later' waits in the outbox, ~/.local/share/marigold/"
         "outbox ($XDG_DATA_HOME). A post whose whole body was sent but whose answer was lost is "
         "kept apart as \"may already be posted\" and is only sent with --not-posted. At most 100 "
         "posts and 1 GiB; nothing is dropped unasked.\n") +
      "\n" + tr(kExitStatusHelp));
  addOutputOptions(*command, o.json, console);

  o.send = command->add_subcommand(
      "send", tr("send the posts in the outbox, oldest first, or the ones named, in order"));
  o.send->add_option("ids", o.ids, tr("the posts to send (all that wait, by default)"))
      ->option_text("ID...");
  o.send->add_flag("--not-posted", o.notPosted,
                   tr("send the named posts even though they may already be posted: you checked "
                      "your blog and they are not there"));
  o.send->footer(tr("Signs in with the saved sign-in (marigold login --remember). An entry is "
                    "removed only once Plinth answered with its post id.") +
                 "\n\n" + tr(kExitStatusHelp));
  addOutputOptions(*o.send, o.json, console);

  o.drop = command->add_subcommand("drop", tr("remove posts from the outbox without sending them"));
  o.drop->add_option("ids", o.ids, tr("the posts to drop"))->required()->option_text("ID...");
  o.drop->add_flag(
      "-q,--quiet", [&console](std::int64_t) { console.setQuiet(true); },
      tr("print nothing on standard error but errors"));

  return [options, &console] {
    const OutboxOptions& chosen = *options;
    if (chosen.send->parsed()) return sendEntries(chosen, console);
    if (chosen.drop->parsed()) return dropEntries(chosen, console);
    return list(chosen, console);
  };
}

}  // namespace marigold::cli
