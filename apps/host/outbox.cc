#include "host/outbox.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <system_error>

#include "base/translation.h"
#include "imaging/photo_preparation.h"
#include "json/json_categories.h"
#include "json/json_value.h"
#include "platform/atomic_file.h"
#include "platform/home_directory.h"

namespace marigold::host {
namespace {

namespace fs = std::filesystem;
using Time = OutboxEntry::Time;

constexpr const char* kRecordName = "entry.json";
constexpr const char* kNewPrefix = ".new-";    // an entry being made
constexpr const char* kGonePrefix = ".gone-";  // an entry being removed

Error fileError(const std::string& what, const fs::path& path, int code) {
  return Error("File", code, what + " " + path.string() + ": " + std::strerror(code));
}

std::optional<Time> timeOfText(const std::string& text) {
  std::tm utc{};
  int year = 0, month = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ", &year, &month, &utc.tm_mday,
                  &utc.tm_hour, &utc.tm_min, &utc.tm_sec) != 6) {
    return std::nullopt;
  }
  utc.tm_year = year - 1900;
  utc.tm_mon = month - 1;
  return std::chrono::system_clock::from_time_t(timegm(&utc));
}

// Sorts by the time it was made; the random end keeps two entries of one second apart.
std::string newIdentifier(Time now) {
  std::string stamp = outboxTimeText(now);  // 2024-05-01T12:00:00Z
  std::string id;
  for (char c : stamp) {
    if (c >= '0' && c <= '9') id += c;
    if (c == 'T') id += '-';
  }
  std::random_device random;
  char tail[16];
  std::snprintf(tail, sizeof tail, "-%06x", static_cast<unsigned>(random() & 0xFFFFFF));
  return id + tail;
}

bool isEntryName(const std::string& name) { return !name.empty() && name.front() != '.'; }

std::string textOf(const JsonValue& value) {
  const std::string* text = value.asString();
  return text != nullptr ? *text : std::string();
}

JsonValue recordOf(const OutboxEntry& entry) {
  JsonObject record;
  record.set("version", 1);
  record.set("kind", std::string(outboxKindName(entry.kind)));
  record.set("account", entry.post.account);
  record.set("blog", entry.post.blog);
  record.set("caption", entry.post.caption);
  record.set("tags", entry.post.tags);
  record.set("link", entry.post.link ? JsonValue(*entry.post.link) : JsonValue());
  record.set("state", entry.post.state);
  JsonValue::Array photos;
  for (const auto& photo : entry.post.photos)
    photos.push_back(JsonValue(photo.filename().string()));
  record.set("photos", JsonValue(std::move(photos)));
  record.set("created", outboxTimeText(entry.created));
  record.set("failed", outboxTimeText(entry.failed));
  record.set("reason", entry.reason);
  record.set("sendingSince",
             entry.sendingSince ? JsonValue(outboxTimeText(*entry.sendingSince)) : JsonValue());
  return JsonValue(std::move(record));
}

// The entry in `folder`, or absent when its record is missing or unreadable.
std::optional<OutboxEntry> readEntry(const fs::path& folder) {
  const std::optional<Bytes> bytes = readWholeFile(folder / kRecordName);
  if (!bytes) return std::nullopt;
  const std::optional<JsonValue> record = NSString_LxJSON::JSONValue(
      std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!record || !record->isObject()) return std::nullopt;
  OutboxEntry entry;
  entry.id = folder.filename().string();
  entry.kind = textOf(record->at("kind")) == outboxKindName(OutboxEntry::Kind::kMayBePosted)
                   ? OutboxEntry::Kind::kMayBePosted
                   : OutboxEntry::Kind::kWaiting;
  entry.post.account = textOf(record->at("account"));
  entry.post.blog = textOf(record->at("blog"));
  entry.post.caption = textOf(record->at("caption"));
  entry.post.tags = textOf(record->at("tags"));
  if (const std::string* link = record->at("link").asString()) entry.post.link = *link;
  entry.post.state = textOf(record->at("state"));
  for (const JsonValue& photo : record->at("photos").elements()) {
    const std::string name = textOf(photo);
    // Only a plain name inside the entry: a record never leads elsewhere.
    if (name.empty() || name.find('/') != std::string::npos || name.front() == '.') {
      return std::nullopt;
    }
    entry.post.photos.push_back(folder / name);
    std::error_code ignored;
    const auto size = fs::file_size(folder / name, ignored);
    if (!ignored) entry.bytes += size;
  }
  if (entry.post.photos.empty()) return std::nullopt;
  const auto created = timeOfText(textOf(record->at("created")));
  if (!created) return std::nullopt;
  entry.created = *created;
  entry.failed = timeOfText(textOf(record->at("failed"))).value_or(*created);
  entry.reason = textOf(record->at("reason"));
  entry.sendingSince = timeOfText(textOf(record->at("sendingSince")));
  return entry;
}

// Renames `from` to a hidden name and removes it, so that no half-removed entry is ever seen.
std::optional<Error> removeFolder(const fs::path& outbox, const fs::path& from) {
  const fs::path gone = outbox / (kGonePrefix + from.filename().string());
  if (::rename(from.c_str(), gone.c_str()) != 0) return fileError("removing", from, errno);
  syncFolder(outbox);
  std::error_code ignored;
  fs::remove_all(gone, ignored);
  return std::nullopt;
}

}  // namespace

std::string outboxTimeText(Time time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

const char* outboxKindName(OutboxEntry::Kind kind) {
  return kind == OutboxEntry::Kind::kMayBePosted ? "mayBePosted" : "waiting";
}

fs::path Outbox::defaultFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  const fs::path base = data != nullptr && fs::path(data).is_absolute()
                            ? fs::path(data)
                            : homeDirectory() / ".local" / "share";
  return base / "marigold" / "outbox";
}

Outbox::Outbox(fs::path folder, Limits limits) : folder_(std::move(folder)), limits_(limits) {}

std::variant<FolderLock, Error> Outbox::lockForChange() {
  if (auto error = makePrivateFolder(folder_)) return *error;
  Error error;
  std::optional<FolderLock> lock =
      FolderLock::acquire(folder_, FolderLock::Mode::kExclusive, &error, waitingNotice_);
  if (!lock) return error;
  // Under the lock no entry is being made or removed: what such work left behind is a crash's.
  std::error_code ignored;
  for (const auto& item : fs::directory_iterator(folder_, ignored)) {
    const std::string name = item.path().filename().string();
    if (name.starts_with(kNewPrefix) || name.starts_with(kGonePrefix)) {
      fs::remove_all(item.path(), ignored);
    }
  }
  return std::move(*lock);
}

std::variant<OutboxEntry, Error> Outbox::add(const OutboxPost& post, OutboxEntry::Kind kind,
                                             const std::string& reason) {
  auto locked = lockForChange();
  if (auto* error = std::get_if<Error>(&locked)) return *error;
  std::uint64_t adding = 0;
  for (const auto& photo : post.photos) {
    std::error_code failed;
    const auto size = fs::file_size(photo, failed);
    if (failed) return fileError("reading", photo, failed.value());
    adding += size;
  }
  std::uint64_t held = 0;
  const std::vector<OutboxEntry> present = entries();
  for (const auto& entry : present) held += entry.bytes;
  if (present.size() >= limits_.entries) {
    const std::string count = std::to_string(limits_.entries);
    return Error("Outbox", 1,
                 trn("The outbox already holds %1 post, as many as it keeps. Send or drop "
                     "some, then try again.",
                     "The outbox already holds %1 posts, as many as it keeps. Send or drop "
                     "some, then try again.",
                     limits_.entries, {count}));
  }
  if (held + adding > limits_.bytes) {
    return Error(
        "Outbox", 2,
        tr("The outbox keeps at most %1 MB of photos; it holds %2 MB, and this post has %3 MB. "
           "Send or drop some posts, then try again.",
           {imaging::megabytes(limits_.bytes), imaging::megabytes(held),
            imaging::megabytes(adding)}));
  }

  const Time now = std::chrono::system_clock::now();
  OutboxEntry entry;
  entry.id = newIdentifier(now);
  entry.kind = kind;
  entry.post = post;
  entry.post.photos.clear();
  entry.created = now;
  entry.failed = now;
  entry.reason = reason;
  entry.bytes = adding;
  const fs::path making = folder_ / (kNewPrefix + entry.id);
  if (::mkdir(making.c_str(), 0700) != 0) return fileError("making", making, errno);
  const auto abandon = [&](Error error) {
    std::error_code ignored;
    fs::remove_all(making, ignored);
    return error;
  };
  for (std::size_t i = 0; i < post.photos.size(); ++i) {
    const fs::path& source = post.photos[i];
    const std::optional<Bytes> bytes = readWholeFile(source);
    if (!bytes) return abandon(fileError("reading", source, errno != 0 ? errno : EIO));
    const fs::path copy = making / ("photo-" + std::to_string(i + 1) + source.extension().string());
    if (auto error = replaceFileAtomically(copy, *bytes)) return abandon(*error);
    entry.post.photos.push_back(folder_ / entry.id / copy.filename());
  }
  const std::optional<std::string> record = NSObject_LxJSON::JSONRepresentation(recordOf(entry));
  if (!record) return abandon(Error("Outbox", 3, "the entry's record could not be written"));
  if (auto error = replaceFileAtomically(
          making / kRecordName,
          ByteView(reinterpret_cast<const std::uint8_t*>(record->data()), record->size()))) {
    return abandon(*error);
  }
  const fs::path placed = entryFolder(entry.id);
  if (::rename(making.c_str(), placed.c_str()) != 0) {
    return abandon(fileError("placing", placed, errno));
  }
  syncFolder(folder_);
  return entry;
}

std::vector<OutboxEntry> Outbox::entries() const {
  std::vector<OutboxEntry> found;
  std::error_code ignored;
  for (const auto& item : fs::directory_iterator(folder_, ignored)) {
    if (!isEntryName(item.path().filename().string())) continue;
    std::optional<OutboxEntry> entry = readEntry(item.path());
    if (!entry) continue;
    // Only a marked entry can be being sent; probing the others could make a sender taking
    // one think another has it.
    if (entry->sendingSince) {
      Error busy;
      if (!FolderLock::tryAcquire(item.path(), FolderLock::Mode::kExclusive, &busy) &&
          busy.code == EWOULDBLOCK) {
        entry->beingSent = true;
      } else {
        entry->kind = OutboxEntry::Kind::kMayBePosted;
      }
    }
    found.push_back(std::move(*entry));
  }
  std::sort(found.begin(), found.end(),
            [](const OutboxEntry& a, const OutboxEntry& b) { return a.id < b.id; });
  return found;
}

std::optional<OutboxEntry> Outbox::entry(const std::string& id) const {
  if (!isEntryName(id) || id.find('/') != std::string::npos) return std::nullopt;
  for (auto& entry : entries()) {
    if (entry.id == id) return entry;
  }
  return std::nullopt;
}

std::optional<Error> Outbox::writeRecord(const OutboxEntry& entry) {
  const std::optional<std::string> record = NSObject_LxJSON::JSONRepresentation(recordOf(entry));
  if (!record) return Error("Outbox", 3, "the entry's record could not be written");
  return replaceFileAtomically(
      entryFolder(entry.id) / kRecordName,
      ByteView(reinterpret_cast<const std::uint8_t*>(record->data()), record->size()));
}

std::optional<Error> Outbox::remove(const std::string& id) {
  return removeFolder(folder_, entryFolder(id));
}

std::optional<Error> Outbox::drop(const std::string& id) {
  if (!entry(id)) return Error("Outbox", ENOENT, tr("There is no post %1 in the outbox.", {id}));
  Error error;
  std::optional<FolderLock> held =
      FolderLock::tryAcquire(entryFolder(id), FolderLock::Mode::kExclusive, &error);
  if (!held) {
    return error.code == EWOULDBLOCK
               ? Error("Outbox", EWOULDBLOCK,
                       tr("The post %1 is being sent right now; it was not dropped.", {id}))
               : error;
  }
  auto locked = lockForChange();
  if (auto* failed = std::get_if<Error>(&locked)) return *failed;
  if (!readEntry(entryFolder(id))) {
    return Error("Outbox", ENOENT, tr("There is no post %1 in the outbox.", {id}));
  }
  return remove(id);
}

std::variant<Outbox::Send, Outbox::Refusal> Outbox::startSend(const std::string& id,
                                                              bool notPosted) {
  if (!isEntryName(id) || id.find('/') != std::string::npos) return Refusal::kMissing;
  Error error;
  std::optional<FolderLock> held =
      FolderLock::tryAcquire(entryFolder(id), FolderLock::Mode::kExclusive, &error);
  if (!held) return error.code == EWOULDBLOCK ? Refusal::kBusy : Refusal::kMissing;
  // Read again under the lock: a sender that held it before may have sent and removed it (the
  // folder locked then is no longer at its place), or left it marked.
  std::optional<OutboxEntry> entry = readEntry(entryFolder(id));
  if (!entry) return Refusal::kMissing;
  if ((entry->sendingSince || entry->kind == OutboxEntry::Kind::kMayBePosted) && !notPosted) {
    return Refusal::kMayBePosted;
  }
  return Send(*this, std::move(*entry), std::move(*held));
}

std::optional<Error> Outbox::Send::begin() {
  auto locked = outbox_->lockForChange();
  if (auto* error = std::get_if<Error>(&locked)) return *error;
  entry_.sendingSince = std::chrono::system_clock::now();
  return outbox_->writeRecord(entry_);
}

std::optional<Error> Outbox::Send::posted() {
  auto locked = outbox_->lockForChange();
  if (auto* error = std::get_if<Error>(&locked)) return *error;
  return outbox_->remove(entry_.id);
}

std::optional<Error> Outbox::Send::record(OutboxEntry::Kind kind, const std::string& reason) {
  auto locked = outbox_->lockForChange();
  if (auto* error = std::get_if<Error>(&locked)) return *error;
  entry_.kind = kind;
  entry_.sendingSince.reset();
  entry_.failed = std::chrono::system_clock::now();
  entry_.reason = reason;
  return outbox_->writeRecord(entry_);
}

std::optional<Error> Outbox::Send::keep(const std::string& reason) {
  return record(OutboxEntry::Kind::kWaiting, reason);
}

std::optional<Error> Outbox::Send::mayBePosted(const std::string& reason) {
  return record(OutboxEntry::Kind::kMayBePosted, reason);
}

}  // namespace marigold::host
