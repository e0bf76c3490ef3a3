// The export step a photo application runs before its export plug-in: each photo is prepared into
// a new file at the size the user chose, upright (its EXIF orientation applied to the pixels),
// with its metadata cleaned. What a photo becomes depends on the photo and the user's choices
// (and with Fit on its share of the limit): a JPEG in 8-bit sRGB (other colour spaces converted, 16
// bits made 8, transparency flattened on white), except an animated GIF, which stays a GIF with
// every frame. The originals are only read. Every prepared file is made anew, never patched: a new
// container holding the picture and the metadata the user's choice keeps, chosen from a list of
// what is known to be safe; then read back and checked against that choice. Only "Original" with
// all metadata kept hands a file over exactly as it is. A photo that cannot be decoded, is over 200
// megapixels, needs more memory than the preparation may take, or whose prepared file fails its
// check, is left out with the reason; nothing is written for it. Metadata that cannot be written
// never leaves a photo out: the photo goes without that part, and says so.
//
// preparePhotos is a pure function of its inputs: it may run on any thread, several at once (a
// graphical host runs it off its UI thread); it writes only new files, mode 0600, into the folder
// it is given. The image library is started on first use, once per process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/image_format.h"
#include "base/translation.h"
#include "imaging/photo_choices.h"

namespace marigold::imaging {

struct PreparedPhoto {
  std::string source;
  std::filesystem::path path;  // the prepared file; empty when the photo was left out
  std::string problem;         // why it was left out, e.g. "cannot be decoded: ..."; empty if not
  ImageFormat sourceType = ImageFormat::kJPEG;
  ImageFormat type = ImageFormat::kJPEG;
  int sourceWidth = 0, sourceHeight = 0;  // upright, in pixels
  int width = 0, height = 0;
  std::uint64_t sourceBytes = 0, bytes = 0;
  int quality = 0;               // the JPEG quality it was encoded at; 0 when not re-encoded
  bool scaled = false;           // smaller than the source
  bool rotated = false;          // the EXIF orientation was applied to the pixels
  bool reencoded = false;        // new pixels were encoded (else the bytes were kept)
  bool locationRemoved = false;  // its source tells a location, its prepared file none
  bool unchanged = false;        // handed over byte for byte (Original, all metadata kept)
  // Parts of its metadata the choice would keep but that could not be written, each with why,
  // e.g. "the comment (over 64 KiB)", in English (each a text of the catalogue); the photo went
  // without them.
  std::vector<std::string> metadataLeftOut;

  bool ok() const { return problem.empty(); }
  int longEdge() const { return width > height ? width : height; }
};

struct PreparationResult {
  std::vector<PreparedPhoto> photos;  // in the order given, left-out photos included
  bool cancelled = false;             // the progress callback stopped it; photos is incomplete
  // How often a photo's file was decoded for it; a photo taken from a PreparationCache, or
  // encoded again from the picture it holds, counts none.
  std::size_t decodes = 0;
  // How often a picture was encoded whole for a photo (Fit may encode one more than once when its
  // prediction misses), and how many trial encodes of a few bands of it the prediction took.
  std::size_t encodes = 0, trialEncodes = 0;

  std::uint64_t totalBytes() const;  // of the prepared photos
  std::vector<std::filesystem::path> preparedPaths() const;
  std::vector<const PreparedPhoto*> leftOut() const;
};

// Which file a path names and which state of it: a file replaced by another (a new inode, a
// rename over it), or rewritten with its time restored (`cp -p`, `touch -r`: the change time
// still moves), is another.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  std::uintmax_t size = 0;
  std::int64_t modified = 0, changed = 0;  // nanoseconds
  bool operator==(const FileIdentity&) const = default;

  // Of the file at `path` (links followed); absent when it cannot be looked at.
  static std::optional<FileIdentity> of(const std::filesystem::path& path);
};

// Called after each photo with the number done and the number in all, one call at a time, from
// whichever thread prepared it. Answers false to stop: the rest is not prepared.
using PreparationProgress = std::function<bool(std::size_t done, std::size_t total)>;

// What a host keeps from one preparation of a changing selection for the next, so that adding or
// removing a photo prepares only what the change needs. Per photo: its prepared files for the
// last few choices it was prepared with (linked into the cache's own folder, so no memory), and
// for Fit the decoded picture its sizes are encoded from, up to `heldBytes` of pixels in all (the
// least recently used let go first), so that a new share of the limit encodes again without
// decoding the file again. A photo whose file changed (another inode, size, modification or
// change time) is prepared anew. Thread-safe;
// the folder is made if needed and removed with the object.
class PreparationCache {
 public:
  static constexpr std::uint64_t kDefaultHeldBytes = std::uint64_t{256} << 20;

  explicit PreparationCache(std::filesystem::path folder,
                            std::uint64_t heldBytes = kDefaultHeldBytes);
  ~PreparationCache();
  PreparationCache(const PreparationCache&) = delete;
  PreparationCache& operator=(const PreparationCache&) = delete;

  std::uint64_t heldPixelBytes() const;  // of the decoded pictures held now

  struct Store;  // what preparePhotos reads and keeps
  Store& store() { return *store_; }

 private:
  std::unique_ptr<Store> store_;
};

// Prepares `sources` into `folder`, which must exist (the caller owns it and what is written).
// With a `cache`, what it kept is used and what is made is kept in it.
[[nodiscard]] PreparationResult preparePhotos(const std::vector<std::string>& sources,
                                              const std::filesystem::path& folder,
                                              const PreparationOptions& options,
                                              const PreparationProgress& progress = {},
                                              PreparationCache* cache = nullptr);

// The figure of a size in MB (MiB), with one decimal unless it is whole, written the same whatever
// the process's locale ("1.5"); a size above zero shows at least "0.1".
std::string megabytes(std::uint64_t bytes);

// One line saying what was done, e.g. "3 photos scaled to 2048 px, location removed: 4.7 MB of
// 5 MB" (MB of 1,048,576 bytes, as the limit is counted, with a decimal point in every language),
// in English for JSON and the log or in the user's language for people.
std::string describePreparation(const PreparationResult& result, const PreparationOptions& options,
                                const Rendering& say);

// A picture for display, decoded with shrink-on-load: at most `longEdge` pixels on its long edge,
// upright, sRGB, 8-bit RGBA rows without padding. Absent, with the reason in `problem` when given,
// when the file cannot be decoded. Thread-safe like preparePhotos.
struct Thumbnail {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgba;
};
std::optional<Thumbnail> decodeThumbnail(const std::string& path, int longEdge,
                                         std::string* problem = nullptr);

}  // namespace marigold::imaging
