// The inside of PreparationCache (photo_preparation.h): per photo, its prepared files for the last
// few choices and shares, and for Fit the decoded picture its sizes are encoded from. An entry
// counts only while the photo's file is the one it was made from: the same device, inode, size,
// modification and change time, as git's index tells a changed file. Thread-safe.
#pragma once

#include <filesystem>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "imaging/photo_preparation.h"
#include "imaging/vips_image.h"

namespace marigold::imaging {

struct PreparationCache::Store {
  // A prepared file kept, and what it was.
  struct Kept {
    std::string key;
    PreparedPhoto photo;  // its path is the kept file
  };
  // A decoded picture held for Fit, decoded for at least `edge` on its long edge.
  struct Held {
    VipsImagePtr picture;
    int edge = 0;
    bool keepAlpha = false;
    std::uint64_t bytes = 0;
  };
  struct Entry {
    FileIdentity identity;
    bool decodesWhole = false;  // decoded to its end once, without a fault
    std::list<Kept> kept;       // the newest first
    std::optional<Held> held;
    std::uint64_t lastUse = 0;
  };
  static constexpr std::size_t kKeptPerPhoto = 4;

  std::filesystem::path folder;
  std::uint64_t heldLimit = 0;
  mutable std::mutex lock;
  std::map<std::string, Entry> entries;
  std::uint64_t heldBytes = 0;
  std::uint64_t uses = 0;
  std::uint64_t files = 0;

  bool decodesWhole(const std::string& source, const FileIdentity& identity);
  void markDecodesWhole(const std::string& source, const FileIdentity& identity);
  // The photo as it was prepared for `key`, its file linked to `path`; absent when it was not.
  std::optional<Kept> find(const std::string& source, const FileIdentity& identity,
                           const std::string& key, const std::filesystem::path& path);
  void keep(const std::string& source, const FileIdentity& identity, const std::string& key,
            const PreparedPhoto& photo);
  // The picture held for the photo when it was decoded for `edge` or larger.
  VipsImagePtr heldPicture(const std::string& source, const FileIdentity& identity, int edge,
                           bool keepAlpha);
  // Holds the picture, letting the least recently used others go to stay within the limit.
  void hold(const std::string& source, const FileIdentity& identity, VipsImage* picture, int edge,
            bool keepAlpha);

 private:
  Entry& entryFor(const std::string& source, const FileIdentity& identity);
  void forget(Entry& entry);
};

}  // namespace marigold::imaging
