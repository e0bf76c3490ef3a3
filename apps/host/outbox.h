// The outbox: posts kept on the disk to be sent later, in $XDG_DATA_HOME/marigold/outbox
// (~/.local/share/marigold/outbox). Each entry is a folder of its own holding the prepared photos
// exactly as they were to be sent and a record (entry.json) of the caption, tags, link, state,
// blog, the account's user name and when and why the post failed; never a password or token.
// The outbox and its entries are private (folders 0700, files 0600).
//
// An entry is whole or absent: it is made in a hidden folder and renamed into place, its record is
// replaced atomically, and it is renamed away before it is removed. Every change is made under the
// outbox's folder lock; a send holds the entry's own lock from start to end, so two senders (two
// commands, or a window and a command) never send the same entry. Before anything is sent the
// record says "sending since T"; a record still saying so when its lock is free belongs to a send
// that ended without its outcome being recorded (a crash), and the entry is then treated as a post
// that may already be posted: it is never sent again unless the user says it did not post.
//
// Entries are never dropped unasked; the outbox holds at most Limits::entries entries and
// Limits::bytes bytes of photos, and refuses a post that would go over. Thread-compatible; several
// processes may use one outbox at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/error.h"
#include "platform/folder_lock.h"

namespace marigold::host {

// What a kept post is to become: the prepared photos and the pane's fields.
struct OutboxPost {
  std::vector<std::filesystem::path> photos;  // in the post's order
  std::string caption, tags;
  std::optional<std::string> link;
  std::string state;    // the post state's English name ("Published")
  std::string blog;     // as chosen; empty: the account's first blog when sent
  std::string account;  // the user name; empty: whoever is signed in when it is sent
};

struct OutboxEntry {
  enum class Kind {
    kWaiting,      // known not to be stored: sent by `send` when asked
    kMayBePosted,  // the whole post went out and no answer came, or a send was cut off: kept
                   // apart until the user says it did not post, or drops it
  };
  using Time = std::chrono::system_clock::time_point;

  std::string id;  // sortable by the time the entry was made
  Kind kind = Kind::kWaiting;
  OutboxPost post;  // its photos are the entry's own files
  Time created{};
  Time failed{};       // when it last failed (or was put in without sending)
  std::string reason;  // why, in the user's words at the time
  // When a send began that has not recorded its outcome. Seen on an entry that is not locked,
  // the send was cut off: the entry is then reported with kind kMayBePosted.
  std::optional<Time> sendingSince;
  bool beingSent = false;   // another send holds it right now
  std::uint64_t bytes = 0;  // the photos' bytes

  bool olderThan(std::chrono::hours age, Time now) const { return now - created > age; }
};

// How much an outbox holds at most.
struct OutboxLimits {
  std::size_t entries = 100;
  std::uint64_t bytes = std::uint64_t{1} << 30;  // 1 GiB
};

class Outbox {
 public:
  using Limits = OutboxLimits;
  // Entries older than this are offered for dropping.
  static constexpr std::chrono::hours kOldAge{24 * 30};

  // $XDG_DATA_HOME/marigold/outbox, "~/.local/share/marigold/outbox" when XDG_DATA_HOME is unset
  // or not an absolute path.
  static std::filesystem::path defaultFolder();

  // An outbox in `folder`, made (0700) when first written to.
  explicit Outbox(std::filesystem::path folder = defaultFolder(), Limits limits = {});

  const std::filesystem::path& folder() const { return folder_; }
  // Called once before a change waits for another process's change to the outbox to end.
  void setWaitingNotice(std::function<void()> notice) { waitingNotice_ = std::move(notice); }
  const Limits& limits() const { return limits_; }

  // Puts a post in: copies its photos and writes its record, as one step. Refused, with nothing
  // written, when the outbox would hold more than its limits (the error says which, and what the
  // user can do) or a photo cannot be copied. Answers the new entry.
  [[nodiscard]] std::variant<OutboxEntry, Error> add(const OutboxPost& post, OutboxEntry::Kind kind,
                                                     const std::string& reason);

  // The entries, oldest first. An entry cut off while sent shows as kMayBePosted (sendingSince
  // set); one being sent right now has beingSent. Unreadable entries are skipped.
  std::vector<OutboxEntry> entries() const;
  std::optional<OutboxEntry> entry(const std::string& id) const;

  // Removes the entry. Refused while it is being sent.
  [[nodiscard]] std::optional<Error> drop(const std::string& id);

  // One send of one entry, holding the entry's lock until it ends. The record says "sending
  // since" from begin() until the outcome is recorded by exactly one of posted(), keep() or
  // mayBePosted(); if none is (a crash), the entry stays with that mark.
  class Send {
   public:
    const OutboxEntry& entry() const { return entry_; }
    // Marks the record "sending since now", written to the disk before it answers; nothing may
    // be sent unless this succeeded.
    [[nodiscard]] std::optional<Error> begin();
    // The service took the post: the entry is removed.
    [[nodiscard]] std::optional<Error> posted();
    // Nothing was stored: the entry waits again, with the new failure.
    [[nodiscard]] std::optional<Error> keep(const std::string& reason);
    // The post may have been stored: the entry is kept apart.
    [[nodiscard]] std::optional<Error> mayBePosted(const std::string& reason);

   private:
    friend class Outbox;
    Send(Outbox& outbox, OutboxEntry entry, FolderLock lock)
        : outbox_(&outbox), entry_(std::move(entry)), lock_(std::move(lock)) {}
    std::optional<Error> record(OutboxEntry::Kind kind, const std::string& reason);
    Outbox* outbox_;
    OutboxEntry entry_;
    FolderLock lock_;
  };

  // Why an entry cannot be sent now.
  enum class Refusal {
    kMissing,      // no such entry (sent or dropped meanwhile)
    kBusy,         // another process is sending it
    kMayBePosted,  // it may already be posted, and `notPosted` was not given
  };

  // Takes the entry for sending; without waiting when another sender has it. An entry that may
  // already be posted is taken only with `notPosted` (the user said it did not post).
  [[nodiscard]] std::variant<Send, Refusal> startSend(const std::string& id, bool notPosted);

 private:
  std::filesystem::path entryFolder(const std::string& id) const { return folder_ / id; }
  // Locks the outbox for a change, making its folder when needed.
  std::variant<FolderLock, Error> lockForChange();
  std::optional<Error> writeRecord(const OutboxEntry& entry);
  std::optional<Error> remove(const std::string& id);

  std::filesystem::path folder_;
  Limits limits_;
  std::function<void()> waitingNotice_;
};

const char* outboxKindName(OutboxEntry::Kind kind);  // "waiting", "mayBePosted"
// "2024-05-01T12:00:00Z": a time as the record holds it.
std::string outboxTimeText(OutboxEntry::Time time);

}  // namespace marigold::host
