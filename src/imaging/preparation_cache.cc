#include "imaging/preparation_cache.h"

#include <sys/stat.h>

#include <system_error>

namespace marigold::imaging {

namespace fs = std::filesystem;

namespace {

void removeFile(const fs::path& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

// `to` made as a new name of `from`, or a copy where a link cannot be made.
bool linkOrCopy(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::create_hard_link(from, to, error);
  if (!error) return true;
  return fs::copy_file(from, to, error) && !error;
}

std::int64_t nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

}  // namespace

std::optional<FileIdentity> FileIdentity::of(const fs::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino, static_cast<std::uintmax_t>(status.st_size),
                      nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)};
}

PreparationCache::Store::Entry& PreparationCache::Store::entryFor(const std::string& source,
                                                                  const FileIdentity& identity) {
  Entry& entry = entries[source];
  if (entry.identity != identity) {
    forget(entry);
    entry = Entry{};
    entry.identity = identity;
  }
  entry.lastUse = ++uses;
  return entry;
}

void PreparationCache::Store::forget(Entry& entry) {
  for (const Kept& kept : entry.kept) removeFile(kept.photo.path);
  entry.kept.clear();
  if (entry.held) heldBytes -= entry.held->bytes;
  entry.held.reset();
}

bool PreparationCache::Store::decodesWhole(const std::string& source,
                                           const FileIdentity& identity) {
  std::lock_guard guard(lock);
  return entryFor(source, identity).decodesWhole;
}

void PreparationCache::Store::markDecodesWhole(const std::string& source,
                                               const FileIdentity& identity) {
  std::lock_guard guard(lock);
  entryFor(source, identity).decodesWhole = true;
}

std::optional<PreparationCache::Store::Kept> PreparationCache::Store::find(
    const std::string& source, const FileIdentity& identity, const std::string& key,
    const fs::path& path) {
  std::lock_guard guard(lock);
  Entry& entry = entryFor(source, identity);
  for (auto it = entry.kept.begin(); it != entry.kept.end(); ++it) {
    if (it->key != key) continue;
    if (!linkOrCopy(it->photo.path, path)) return std::nullopt;
    entry.kept.splice(entry.kept.begin(), entry.kept, it);
    Kept found = entry.kept.front();
    found.photo.path = path;
    return found;
  }
  return std::nullopt;
}

void PreparationCache::Store::keep(const std::string& source, const FileIdentity& identity,
                                   const std::string& key, const PreparedPhoto& photo) {
  std::lock_guard guard(lock);
  Entry& entry = entryFor(source, identity);
  fs::path file = folder / (std::to_string(++files) + photo.path.extension().string());
  if (!linkOrCopy(photo.path, file)) return;
  std::erase_if(entry.kept, [&](const Kept& kept) {
    if (kept.key != key) return false;
    removeFile(kept.photo.path);
    return true;
  });
  PreparedPhoto kept = photo;
  kept.path = std::move(file);
  entry.kept.push_front({key, std::move(kept)});
  while (entry.kept.size() > kKeptPerPhoto) {
    removeFile(entry.kept.back().photo.path);
    entry.kept.pop_back();
  }
}

VipsImagePtr PreparationCache::Store::heldPicture(const std::string& source,
                                                  const FileIdentity& identity, int edge,
                                                  bool keepAlpha) {
  std::lock_guard guard(lock);
  Entry& entry = entryFor(source, identity);
  if (!entry.held || entry.held->edge < edge || entry.held->keepAlpha != keepAlpha) return {};
  return sharedReference(entry.held->picture.get());
}

void PreparationCache::Store::hold(const std::string& source, const FileIdentity& identity,
                                   VipsImage* picture, int edge, bool keepAlpha) {
  std::lock_guard guard(lock);
  const std::uint64_t bytes = pixelBytesOf(picture);
  if (bytes > heldLimit) return;
  Entry& entry = entryFor(source, identity);
  if (entry.held) heldBytes -= entry.held->bytes;
  entry.held.reset();
  while (heldBytes + bytes > heldLimit) {
    Entry* oldest = nullptr;
    for (auto& [name, other] : entries) {
      if (other.held && (!oldest || other.lastUse < oldest->lastUse)) oldest = &other;
    }
    if (!oldest) break;
    heldBytes -= oldest->held->bytes;
    oldest->held.reset();
  }
  entry.held = Held{sharedReference(picture), edge, keepAlpha, bytes};
  heldBytes += bytes;
}

PreparationCache::PreparationCache(fs::path folder, std::uint64_t heldBytes)
    : store_(std::make_unique<Store>()) {
  fs::create_directories(folder);
  store_->folder = std::move(folder);
  store_->heldLimit = heldBytes;
}

PreparationCache::~PreparationCache() {
  std::error_code ignored;
  fs::remove_all(store_->folder, ignored);
}

std::uint64_t PreparationCache::heldPixelBytes() const {
  std::lock_guard guard(store_->lock);
  return store_->heldBytes;
}

}  // namespace marigold::imaging
