#include "imaging/photo_preparation.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "base/translation.h"
#include "imaging/photo_metadata.h"
#include "imaging/vips_image.h"

namespace marigold::imaging {
namespace {

namespace fs = std::filesystem;

// Fit shrinks the long edge first, down to this; only then does it lower the JPEG quality.
constexpr int kFitEdgeFloor = 640;
constexpr int kFitQualityFloor = 50;
constexpr int kFitTries = 12;
// A fitted photo is done once its file is at least this share of its budget.
constexpr double kFitEnough = 0.93;
constexpr double kFitAim = 0.97;
// Fit holds a decoded picture in memory (to encode it at several sizes) up to this many pixels;
// a larger one is decoded from the file for each size tried, as it is read.
constexpr std::uint64_t kHeldPixels = 40'000'000;
// What a JPEG of a photo takes per pixel at the usual quality, for a first guess at a size when
// the original's own file size says nothing of it (PNG, TIFF, HEIC).
constexpr double kJpegBytesPerPixel = 0.4;

// What the first photo of a selection fitted to its share came to. Photos of one selection
// mostly come from one camera and compress alike, so the others start their search from here
// rather than from a guess, and most then need a single encode. Set once, before the others
// start, so that every run gives the same sizes.
struct FitSample {
  int sourceEdge = 0;
  std::uint64_t sourceBytes = 0;
  int edge = 0;
  double bytes = 0;
  double power = 2.0;  // how file size grows with the edge, measured on that photo
};

// What one photo may become: at most this long edge, and within this many bytes when set.
struct Target {
  int longEdge = INT_MAX;
  std::optional<std::uint64_t> budget;
  std::optional<FitSample> hint;
};

// When a file was last changed and how large it is: a kept preparation of it counts only while
// these are the same.
struct FileIdentity {
  std::uintmax_t size = 0;
  fs::file_time_type time;
  bool operator==(const FileIdentity&) const = default;
};

// One way a photo was prepared: the choices and share it was made for, written as text.
std::string preparationKey(const PreparationOptions& options, FileType type, const Target& target) {
  std::string key = std::string(photoSizeName(options.size)) + "|" +
                    std::to_string(options.quality) + "|" +
                    std::string(metadataChoiceName(options.metadata)) + "|" +
                    std::string(fileTypeName(type)) + "|" + std::to_string(target.longEdge) + "|" +
                    (target.budget ? std::to_string(*target.budget) : "-");
  if (target.hint) {
    char hint[160];
    std::snprintf(hint, sizeof hint, "|%d,%ju,%d,%.17g,%.17g", target.hint->sourceEdge,
                  static_cast<std::uintmax_t>(target.hint->sourceBytes), target.hint->edge,
                  target.hint->bytes, target.hint->power);
    key += hint;
  }
  return key;
}

}  // namespace

struct PreparationCache::Store {
  // A prepared file kept, and what it was.
  struct Kept {
    std::string key;
    PreparedPhoto photo;  // its path is the kept file
    std::optional<FitSample> sample;
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

  fs::path folder;
  std::uint64_t heldLimit = 0;
  mutable std::mutex lock;
  std::map<std::string, Entry> entries;
  std::uint64_t heldBytes = 0;
  std::uint64_t uses = 0;
  std::uint64_t files = 0;

  // The photo's entry, emptied first when its file is not the one it was made from.
  Entry& entryFor(const std::string& source, const FileIdentity& identity) {
    Entry& entry = entries[source];
    if (entry.identity != identity) {
      forget(entry);
      entry = Entry{};
      entry.identity = identity;
    }
    entry.lastUse = ++uses;
    return entry;
  }

  void forget(Entry& entry) {
    for (const Kept& kept : entry.kept) removeFile(kept.photo.path);
    entry.kept.clear();
    if (entry.held) heldBytes -= entry.held->bytes;
    entry.held.reset();
  }

  static void removeFile(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
  }

  // `to` made as a new name of `from`, or a copy where a link cannot be made.
  static bool linkOrCopy(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::create_hard_link(from, to, error);
    if (!error) return true;
    return fs::copy_file(from, to, error) && !error;
  }

  bool decodesWhole(const std::string& source, const FileIdentity& identity) {
    std::lock_guard guard(lock);
    return entryFor(source, identity).decodesWhole;
  }

  void markDecodesWhole(const std::string& source, const FileIdentity& identity) {
    std::lock_guard guard(lock);
    entryFor(source, identity).decodesWhole = true;
  }

  // The photo as it was prepared for `key`, its file linked to `path`; absent when it was not.
  std::optional<Kept> find(const std::string& source, const FileIdentity& identity,
                           const std::string& key, const fs::path& path) {
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

  void keep(const std::string& source, const FileIdentity& identity, const std::string& key,
            const PreparedPhoto& photo, const std::optional<FitSample>& sample) {
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
    entry.kept.push_front({key, std::move(kept), sample});
    while (entry.kept.size() > kKeptPerPhoto) {
      removeFile(entry.kept.back().photo.path);
      entry.kept.pop_back();
    }
  }

  // The picture held for the photo when it was decoded for `edge` or larger.
  VipsImagePtr heldPicture(const std::string& source, const FileIdentity& identity, int edge,
                           bool keepAlpha) {
    std::lock_guard guard(lock);
    Entry& entry = entryFor(source, identity);
    if (!entry.held || entry.held->edge < edge || entry.held->keepAlpha != keepAlpha) return {};
    return sharedReference(entry.held->picture.get());
  }

  // Holds the picture, letting the least recently used others go to stay within the limit.
  void hold(const std::string& source, const FileIdentity& identity, VipsImage* picture, int edge,
            bool keepAlpha) {
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
};

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

namespace {

std::vector<std::uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(tr("cannot be read: %1", {systemError(errno)}));
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A new file only we can read; an existing file is never overwritten.
void writeNewFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error(tr("cannot be written: %1", {systemError(errno)}));
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = errno;
      ::close(fd);
      std::error_code ignored;
      fs::remove(path, ignored);
      throw std::runtime_error(tr("cannot be written: %1", {systemError(error)}));
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    throw std::runtime_error(tr("cannot be written: %1", {systemError(errno)}));
  }
}

// What a photo becomes, from the photo alone: JPEG, except an animated GIF, which stays a GIF
// with all its frames. A plug-in that requires PNG or GIF gets that.
FileType outputType(const PhotoHeader& header, const std::string& required) {
  if (required == "png") return FileType::kPNG;
  if (required == "gif") return FileType::kGIF;
  if (header.type == FileType::kGIF && header.pages > 1) return FileType::kGIF;
  return FileType::kJPEG;
}

const char* extensionOf(FileType type) {
  switch (type) {
    case FileType::kPNG:
      return ".png";
    case FileType::kGIF:
      return ".gif";
    default:
      return ".jpg";
  }
}

class PhotoJob {
 public:
  PhotoJob(std::string source, std::size_t index, const fs::path& folder,
           const PreparationOptions& options, PreparationCache::Store* cache)
      : options_(options), cache_(cache) {
    photo_.source = std::move(source);
    const std::string stem = fs::path(photo_.source).stem().string();
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02zu-", index + 1);
    pathStem_ = folder / (prefix + (stem.empty() ? std::string("photo") : stem));
  }

  // Reads the header; a photo that cannot be decoded, or is too large to, is left out here.
  bool probe() {
    const bool ok = guarded([&] {
      header_ = readHeader(photo_.source);
      photo_.sourceType = header_.type;
      photo_.type = outputType(header_, options_.requiredFileType);
      photo_.sourceWidth = header_.width;
      photo_.sourceHeight = header_.height;
      photo_.sourceBytes = fs::file_size(photo_.source);
      identity_ = {photo_.sourceBytes, fs::last_write_time(photo_.source)};
    });
    probed_ = photo_;
    return ok;
  }

  // Prepares the photo for `target`; a photo prepared before is prepared again from the start.
  void prepare(const Target& target) {
    if (!probed_.ok()) return;
    discard();
    photo_ = probed_;
    sample_.reset();
    const std::string key = cache_ ? preparationKey(options_, photo_.type, target) : "";
    if (cache_) {
      fs::path path = pathStem_;
      path += extensionOf(photo_.type);
      if (auto kept = cache_->find(photo_.source, identity_, key, path)) {
        photo_ = std::move(kept->photo);
        sample_ = std::move(kept->sample);
        return;
      }
    }
    guarded([&] { run(target); });
    if (cache_ && photo_.ok()) cache_->keep(photo_.source, identity_, key, photo_, sample_);
  }

  const PreparedPhoto& photo() const { return photo_; }
  PreparedPhoto take() { return std::move(photo_); }
  // How this photo's fit came out, for the others of its selection.
  const std::optional<FitSample>& sample() const { return sample_; }
  std::size_t decodes() const { return decodes_; }

 private:
  // Runs a step that starts from the file; its failure leaves the photo out with its own reason.
  // A JPEG whose decoder only warned is decoded again past the warnings.
  template <typename Work>
  bool guarded(Work work) {
    if (!photo_.ok()) return false;
    for (;;) {
      try {
        runWithOwnErrors(work);
        return true;
      } catch (const VipsError& e) {
        if (e.onlyWarned() && !lenient_) {
          lenient_ = true;
          continue;
        }
        fail(e.what());
      } catch (const std::exception& e) {
        fail(e.what());
      }
      return false;
    }
  }

  void discard() {
    if (!photo_.path.empty()) {
      std::error_code ignored;
      fs::remove(photo_.path, ignored);
    }
    photo_.path.clear();
  }

  void fail(std::string problem) {
    discard();
    photo_.problem = std::move(problem);
  }

  int sourceLongEdge() const { return std::max(header_.width, header_.height); }
  bool keepsAlpha() const { return photo_.type != FileType::kJPEG; }
  DecodeOptions decodeOptions(bool inMemory) const {
    return {.keepAlpha = keepsAlpha(), .inMemory = inMemory, .lenient = lenient_};
  }

  // Decodes the whole picture at a small size: a file that is damaged or cut short fails here.
  // Once a file has decoded whole, a cache knows it does.
  void checkDecodes() {
    if (cache_ && cache_->decodesWhole(photo_.source, identity_)) return;
    decodeFile(32, decodeOptions(true));
    if (cache_) cache_->markDecodesWhole(photo_.source, identity_);
  }

  VipsImagePtr decodeFile(int longEdge, const DecodeOptions& decode) {
    ++decodes_;
    return decodeScaled(photo_.source, header_, longEdge, decode);
  }

  // The picture Fit encodes its sizes from: the one the cache holds when it is large enough,
  // else decoded (and then held).
  VipsImagePtr heldPicture(int edge) {
    if (cache_) {
      if (VipsImagePtr held = cache_->heldPicture(photo_.source, identity_, edge, keepsAlpha())) {
        return held;
      }
    }
    VipsImagePtr held = decodeFile(edge, decodeOptions(true));
    if (cache_) {
      cache_->hold(photo_.source, identity_, held.get(), edge, keepsAlpha());
      cache_->markDecodesWhole(photo_.source, identity_);
    }
    return held;
  }

  void run(const Target& target) {
    const bool sameType = photo_.type == header_.type && header_.plainSRGB;
    const int maxEdge = std::min(sourceLongEdge(), target.longEdge);
    if (options_.size == PhotoSize::kOriginal && options_.metadata == MetadataChoice::kKeepAll &&
        sameType) {
      // The user's way to post a file exactly as it is. It must still decode.
      checkDecodes();
      finish(readBytes(photo_.source), header_.width, header_.height, false);
      photo_.unchanged = true;
      return;
    }
    if (sameType && header_.orientation == 1 && maxEdge == sourceLongEdge() && keptAsItIs(target)) {
      return;
    }
    if (!target.budget) {
      // Decoded as it is encoded: held in memory only a strip at a time.
      VipsImagePtr pixels = decodeFile(maxEdge, decodeOptions(false));
      std::vector<std::uint8_t> bytes = encodeBytes(pixels.get(), options_.quality);
      finish(std::move(bytes), photo_.width, photo_.height, true);
      return;
    }
    fit(maxEdge, *target.budget, target.hint);
  }

  // The source's own bytes, its metadata cleaned in place, when that is all it needs and it fits
  // the budget. Not when its metadata cannot be read or written as it is: then it is re-encoded.
  bool keptAsItIs(const Target& target) {
    checkDecodes();
    MetadataTarget kept;
    kept.bytes = readBytes(photo_.source);
    kept.type = photo_.type;
    std::optional<MetadataOutcome> cleaned =
        cleanInPlace(photo_.source, std::move(kept), options_.metadata);
    if (!cleaned || (target.budget && cleaned->bytes.size() > *target.budget)) return false;
    photo_.locationRemoved = cleaned->locationRemoved;
    photo_.unchanged = options_.metadata == MetadataChoice::kKeepAll;
    finish(std::move(cleaned->bytes), header_.width, header_.height, false);
    return true;
  }

  // The largest long edge (then the highest quality) whose file is within `budget`. The photo is
  // decoded once, a little larger than the first guess, and scaled from there; a size beyond it
  // is decoded again from the file.
  void fit(int maxEdge, std::uint64_t budget, const std::optional<FitSample>& hint) {
    int edge = firstGuess(budget, hint);
    edge = std::clamp(edge, std::min(maxEdge, kFitEdgeFloor), maxEdge);
    const int heldEdge = decodeEdgeFor(edge, maxEdge);
    VipsImagePtr held;
    if (pixelsAt(heldEdge) <= kHeldPixels) {
      held = heldPicture(heldEdge);
    }
    const int heldLongEdge = held ? std::max(widthOf(held.get()), frameHeightOf(held.get())) : 0;
    auto pictureAt = [&](int longEdge) -> VipsImagePtr {
      if (held && longEdge < heldLongEdge) return scaledDown(held.get(), longEdge);
      if (held && longEdge == heldLongEdge) return nullptr;  // the held picture itself
      return decodeFile(longEdge, decodeOptions(false));
    };
    int quality = options_.quality;
    // The largest edge known to fit and the smallest known not to, at the current quality.
    int fitEdge = 0, overEdge = INT_MAX;
    int lastEdge = 0;
    double lastSize = 0;
    double power = 2.0;
    std::optional<PreparedPhoto> best;
    for (int attempt = 0; attempt < kFitTries; ++attempt) {
      edge = std::clamp(edge, 1, maxEdge);
      VipsImagePtr picture = pictureAt(edge);
      std::vector<std::uint8_t> bytes = encodeBytes(picture ? picture.get() : held.get(), quality);
      const double size = static_cast<double>(bytes.size());
      if (bytes.size() <= budget) {
        if (edge > fitEdge) {
          fitEdge = edge;
          best = photo_;
          candidate_ = std::move(bytes);
        }
        if (size >= kFitEnough * static_cast<double>(budget) || edge >= maxEdge) break;
      } else {
        overEdge = std::min(overEdge, edge);
      }
      // File size grows as a power of the edge, about the square; once two sizes are known, their
      // own power gives the next guess, which is kept inside what is known.
      if (lastEdge > 0 && lastEdge != edge && lastSize != size) {
        power = std::clamp(std::log(size / lastSize) / std::log(double(edge) / lastEdge), 1.0, 4.0);
      }
      lastEdge = edge;
      lastSize = size;
      int next = static_cast<int>(
          edge * std::pow(kFitAim * static_cast<double>(budget) / size, 1.0 / power));
      if (fitEdge > 0 && overEdge != INT_MAX) {
        if (overEdge - fitEdge <= std::max(2, fitEdge / 100)) break;
        next = std::clamp(next, fitEdge + 1, overEdge - 1);
      } else if (fitEdge == 0 && next < kFitEdgeFloor && edge > kFitEdgeFloor / 2 &&
                 quality > kFitQualityFloor) {
        // Small enough already: lower the quality before the size.
        quality = std::max(kFitQualityFloor, quality - 10);
        next = std::max(next, std::min(edge, kFitEdgeFloor));
        overEdge = INT_MAX;
        lastEdge = 0;
      }
      if (next == edge && overEdge != INT_MAX) next = edge - 1;
      edge = next;
    }
    if (!best)
      throw std::runtime_error(tr("cannot be made small enough for its share of the limit"));
    photo_ = *best;
    if (quality == options_.quality) {
      sample_ = FitSample{.sourceEdge = sourceLongEdge(),
                          .sourceBytes = photo_.sourceBytes,
                          .edge = fitEdge,
                          .bytes = static_cast<double>(candidate_.size()),
                          .power = power};
    }
    finish(std::move(candidate_), photo_.width, photo_.height, true);
  }

  std::uint64_t pixelsAt(int longEdge) const {
    const double scale = static_cast<double>(longEdge) / std::max(1, sourceLongEdge());
    return static_cast<std::uint64_t>(scale * scale * header_.width * header_.height *
                                      std::max(1, header_.pages));
  }

  // Where the search starts: from a photo of the same size fitted before, its file scaled by how
  // the two originals' sizes compare; else from this photo's own file size (a JPEG) or its pixels.
  int firstGuess(std::uint64_t budget, const std::optional<FitSample>& hint) const {
    const double target = kFitAim * static_cast<double>(budget);
    if (hint && hint->sourceEdge == sourceLongEdge() && hint->sourceBytes > 0) {
      const double expected = hint->bytes * static_cast<double>(photo_.sourceBytes) /
                              static_cast<double>(hint->sourceBytes);
      return static_cast<int>(hint->edge * std::pow(target / expected, 1.0 / hint->power));
    }
    if (header_.type == FileType::kJPEG) {
      const double ratio = static_cast<double>(budget) / static_cast<double>(photo_.sourceBytes);
      // A camera's JPEG is stored at a higher quality than ours: the first guess allows for it.
      return static_cast<int>(sourceLongEdge() * std::sqrt(2.0 * ratio));
    }
    const double expected = kJpegBytesPerPixel * static_cast<double>(pixelsAt(sourceLongEdge()));
    return static_cast<int>(sourceLongEdge() * std::sqrt(target / expected));
  }

  // How large to decode for a first guess of `edge`: room to grow, at no extra cost for a JPEG,
  // which decodes at 1/2, 1/4 or 1/8 of its size as fast as it decodes smaller.
  int decodeEdgeFor(int edge, int maxEdge) const {
    const int source = sourceLongEdge();
    if (header_.type == FileType::kJPEG) {
      for (int shrink = 8; shrink >= 2; shrink /= 2) {
        if (source / shrink >= edge * 1.15) return std::min(maxEdge, source / shrink);
      }
      return maxEdge;
    }
    return std::min(maxEdge, static_cast<int>(edge * 1.3));
  }

  // Encodes the picture with its metadata into candidate bytes, describing them in photo_.
  std::vector<std::uint8_t> encodeBytes(VipsImage* pixels, int quality) {
    const int width = widthOf(pixels), height = frameHeightOf(pixels);
    MetadataOutcome outcome = applyMetadata(photo_.source,
                                            {.bytes = encode(pixels, photo_.type, quality),
                                             .type = photo_.type,
                                             .newPixels = true,
                                             .width = width,
                                             .height = height,
                                             .colourProfile = colourProfileOf(pixels)},
                                            options_.metadata);
    photo_.width = width;
    photo_.height = height;
    photo_.quality = photo_.type == FileType::kJPEG ? quality : 0;
    photo_.locationRemoved = outcome.locationRemoved;
    photo_.metadataLeftOut = outcome.leftOut;
    photo_.rotated = header_.orientation != 1;
    photo_.reencoded = true;
    return std::move(outcome.bytes);
  }

  void finish(std::vector<std::uint8_t> bytes, int width, int height, bool reencoded) {
    photo_.width = width;
    photo_.height = height;
    photo_.reencoded = reencoded;
    photo_.scaled = std::max(width, height) < sourceLongEdge();
    photo_.bytes = bytes.size();
    photo_.path = pathStem_;
    photo_.path += extensionOf(photo_.type);
    writeNewFile(photo_.path, bytes);
  }

  const PreparationOptions& options_;
  PreparationCache::Store* cache_;
  FileIdentity identity_;
  std::size_t decodes_ = 0;
  PreparedPhoto photo_;
  PreparedPhoto probed_;  // as the header described it, before any preparation
  PhotoHeader header_;
  bool lenient_ = false;
  fs::path pathStem_;
  std::vector<std::uint8_t> candidate_;
  std::optional<FitSample> sample_;
};

// Runs `work(i)` for each index on a few threads; stops handing out indices once `stop` is set.
template <typename Work>
void inParallel(const std::vector<std::size_t>& indices, const std::atomic<bool>& stop, Work work) {
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (std::size_t i = next++; i < indices.size() && !stop; i = next++) work(indices[i]);
  };
  const std::size_t threads =
      std::min<std::size_t>(indices.size(), std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::jthread> pool;
  for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
}

// Fits the photos `indices` of `jobs` together within `limit`. Photos that fit an equal share as
// they are go first, each within that share; what they leave is shared equally by the rest, so
// the total never passes the limit. The first of the rest is fitted alone and the others start
// from what it came to. Photos that came out whole below their share leave the remainder to the
// ones that were scaled, which are fitted again to the larger share (a few rounds at most). Each
// step depends only on the photos, never on which thread finished first.
template <typename Done>
void fitSelection(std::vector<PhotoJob>& jobs, const std::vector<std::size_t>& indices,
                  std::uint64_t limit, const std::atomic<bool>& stop, Done oneDone) {
  const std::uint64_t equalShare = limit / indices.size();
  std::vector<std::size_t> small, large;
  for (std::size_t i : indices) {
    (jobs[i].photo().sourceBytes <= equalShare ? small : large).push_back(i);
  }
  std::vector<std::uint64_t> shares(jobs.size(), 0);
  inParallel(small, stop, [&](std::size_t i) {
    shares[i] = equalShare;
    jobs[i].prepare({.budget = equalShare, .hint = std::nullopt});
    oneDone();
  });
  auto bytesOf = [&](const std::vector<std::size_t>& some) {
    std::uint64_t used = 0;
    for (std::size_t i : some) used += jobs[i].photo().ok() ? jobs[i].photo().bytes : 0;
    return used;
  };
  std::optional<FitSample> hint;
  if (!large.empty() && !stop) {
    const std::uint64_t share = (limit - std::min(bytesOf(small), limit)) / large.size();
    for (std::size_t i : large) shares[i] = share;
    jobs[large.front()].prepare({.budget = share, .hint = std::nullopt});
    hint = jobs[large.front()].sample();
    oneDone();
    const std::vector<std::size_t> rest(large.begin() + 1, large.end());
    inParallel(rest, stop, [&](std::size_t i) {
      jobs[i].prepare({.budget = share, .hint = hint});
      oneDone();
    });
  }
  for (int round = 0; round < 3 && !stop; ++round) {
    std::vector<std::size_t> whole, scaled;
    for (std::size_t i : indices) {
      const PreparedPhoto& photo = jobs[i].photo();
      if (photo.ok()) (photo.scaled ? scaled : whole).push_back(i);
    }
    if (scaled.empty()) break;
    const std::uint64_t share = (limit - std::min(bytesOf(whole), limit)) / scaled.size();
    std::vector<std::size_t> again;
    for (std::size_t i : scaled) {
      if (static_cast<double>(shares[i]) < kFitEnough * static_cast<double>(share)) {
        again.push_back(i);
      }
    }
    if (again.empty()) break;
    // Each takes the new share only if the others' current files leave room for it.
    const std::uint64_t keep = bytesOf(whole) + bytesOf(scaled) - bytesOf(again);
    const std::uint64_t grown = (limit - std::min(keep, limit)) / again.size();
    inParallel(again, stop, [&](std::size_t i) {
      shares[i] = grown;
      jobs[i].prepare({.budget = grown, .hint = hint});
    });
  }
}

// The figure of a size in MB, with one decimal unless it is whole, written the same whatever
// the process's locale.
std::string megabytes(std::uint64_t bytes) {
  const double mb = static_cast<double>(bytes) / 1048576.0;
  const bool whole = mb == std::floor(mb);
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, whole ? mb : std::max(mb, 0.1),
                                     std::chars_format::fixed, whole ? 0 : 1);
  return std::string(text, written.ptr);
}

// "A, B and C".
std::string listed(const std::vector<std::string>& items, const Rendering& say) {
  std::string list;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i == 0) {
      list = items[i];
    } else if (i + 1 == items.size()) {
      list = say.tr("%1 and %2", {list, items[i]});
    } else {
      list = say.tr("%1, %2", {list, items[i]});
    }
  }
  return list;
}

}  // namespace

std::string_view photoSizeName(PhotoSize size) {
  switch (size) {
    case PhotoSize::kFit:
      return "fit";
    case PhotoSize::kOriginal:
      return "original";
    case PhotoSize::kLongEdge2048:
      return "2048";
    case PhotoSize::kLongEdge1280:
      return "1280";
    case PhotoSize::kLongEdge1024:
      return "1024";
  }
  return "fit";
}

std::optional<PhotoSize> photoSizeFromName(std::string_view name) {
  for (PhotoSize size : kPhotoSizes) {
    if (photoSizeName(size) == name) return size;
  }
  return std::nullopt;
}

std::string photoSizeLabel(PhotoSize size) {
  if (auto edge = longEdgeOf(size)) return std::to_string(*edge) + " px";
  return size == PhotoSize::kFit ? "Fit" : "Original";
}

std::optional<int> longEdgeOf(PhotoSize size) {
  switch (size) {
    case PhotoSize::kLongEdge2048:
      return 2048;
    case PhotoSize::kLongEdge1280:
      return 1280;
    case PhotoSize::kLongEdge1024:
      return 1024;
    default:
      return std::nullopt;
  }
}

std::string_view metadataChoiceName(MetadataChoice choice) {
  switch (choice) {
    case MetadataChoice::kKeepLocation:
      return "keep-location";
    case MetadataChoice::kKeepAll:
      return "keep";
    case MetadataChoice::kRemoveAll:
      return "strip";
    default:
      return "remove-location";
  }
}

std::string_view fileTypeName(FileType type) {
  constexpr std::string_view kNames[] = {"JPEG", "PNG", "GIF", "TIFF", "HEIC"};
  return kNames[static_cast<int>(type)];
}

std::uint64_t PreparationResult::totalBytes() const {
  std::uint64_t total = 0;
  for (const auto& photo : photos) total += photo.ok() ? photo.bytes : 0;
  return total;
}

std::vector<fs::path> PreparationResult::preparedPaths() const {
  std::vector<fs::path> paths;
  for (const auto& photo : photos) {
    if (photo.ok()) paths.push_back(photo.path);
  }
  return paths;
}

std::vector<const PreparedPhoto*> PreparationResult::leftOut() const {
  std::vector<const PreparedPhoto*> out;
  for (const auto& photo : photos) {
    if (!photo.ok()) out.push_back(&photo);
  }
  return out;
}

PreparationResult preparePhotos(const std::vector<std::string>& sources, const fs::path& folder,
                                const PreparationOptions& options,
                                const PreparationProgress& progress, PreparationCache* cache) {
  startImageLibraries();
  std::vector<PhotoJob> jobs;
  jobs.reserve(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i)
    jobs.emplace_back(sources[i], i, folder, options, cache ? &cache->store() : nullptr);

  std::atomic<bool> stop{false};
  std::mutex progressLock;
  std::size_t done = 0;
  auto oneDone = [&] {
    std::lock_guard lock(progressLock);
    ++done;
    if (progress && !progress(done, jobs.size())) stop = true;
  };
  std::vector<std::size_t> all(jobs.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  std::vector<std::size_t> good;
  inParallel(all, stop, [&](std::size_t i) {
    if (!jobs[i].probe()) oneDone();
  });
  for (std::size_t i : all) {
    if (jobs[i].photo().ok()) good.push_back(i);
  }

  Target fixed;
  if (auto edge = longEdgeOf(options.size)) fixed.longEdge = *edge;
  if (options.size != PhotoSize::kFit) {
    inParallel(good, stop, [&](std::size_t i) {
      jobs[i].prepare(fixed);
      oneDone();
    });
  } else if (!good.empty()) {
    fitSelection(jobs, good, options.byteLimit, stop, oneDone);
  }

  PreparationResult result;
  result.cancelled = stop;
  for (auto& job : jobs) {
    result.decodes += job.decodes();
    result.photos.push_back(job.take());
  }
  return result;
}

std::string describePreparation(const PreparationResult& result, const PreparationOptions& options,
                                const Rendering& say) {
  std::size_t count = 0, scaled = 0, converted = 0, located = 0;
  int smallest = INT_MAX, largest = 0;
  std::vector<std::string> leftOut;
  for (const auto& photo : result.photos) {
    if (!photo.ok()) continue;
    ++count;
    if (photo.type != photo.sourceType && photo.type == FileType::kJPEG) ++converted;
    if (photo.locationRemoved) ++located;
    if (photo.scaled) {
      ++scaled;
      smallest = std::min(smallest, photo.longEdge());
      largest = std::max(largest, photo.longEdge());
    }
    for (const std::string& part : photo.metadataLeftOut) {
      leftOut.push_back(
          say.tr("%1 of %2", {say.tr(part.c_str()), fs::path(photo.source).filename().string()}));
    }
  }
  const std::string photos = std::to_string(count);
  std::string line;
  if (scaled == 0) {
    line = say.trn("%1 photo at its size", "%1 photos at their size", count, {photos});
  } else {
    const std::string edges = smallest == largest
                                  ? std::to_string(largest)
                                  : std::to_string(smallest) + "-" + std::to_string(largest);
    line = scaled == count
               ? say.trn("%1 photo scaled to %2 px", "%1 photos scaled to %2 px", count,
                         {photos, edges})
               // Some but not all: several photos, of which the number scaled counts.
               : say.trn("%1 photos, %2 scaled to %3 px", "%1 photos, %2 scaled to %3 px", scaled,
                         {photos, std::to_string(scaled), edges});
  }
  const auto add = [&](const std::string& clause) { line = say.tr("%1, %2", {line, clause}); };
  if (converted > 0) {
    add(say.trn("%1 made JPEG", "%1 made JPEG", converted, {std::to_string(converted)}));
  }
  const std::string parts = listed(leftOut, say);
  switch (options.metadata) {
    case MetadataChoice::kKeepAll:
      add(leftOut.empty() ? say.tr("metadata kept") : say.tr("metadata kept but for %1", {parts}));
      break;
    case MetadataChoice::kRemoveAll:
      add(say.tr("metadata removed"));
      break;
    case MetadataChoice::kKeepLocation:
      add(leftOut.empty() ? say.tr("location kept") : say.tr("location kept but for %1", {parts}));
      break;
    default:
      if (located > 0) add(say.tr("location removed"));
      if (!leftOut.empty()) add(say.tr("left out: %1", {parts}));
      break;
  }
  return say.tr("%1: %2 of %3", {line, say.tr("%1 MB", {megabytes(result.totalBytes())}),
                                 say.tr("%1 MB", {megabytes(options.byteLimit)})});
}

std::optional<Thumbnail> decodeThumbnail(const std::string& path, int longEdge,
                                         std::string* problem) {
  std::optional<Thumbnail> thumbnail;
  bool lenient = false;
  for (;;) {
    try {
      runWithOwnErrors([&] {
        PhotoHeader firstFrame = readHeader(path);
        firstFrame.pages = 1;
        VipsImagePtr pixels =
            decodeScaled(path, firstFrame, std::max(1, longEdge),
                         {.keepAlpha = true, .inMemory = false, .lenient = lenient});
        thumbnail = toThumbnail(pixels.get());
      });
      return thumbnail;
    } catch (const VipsError& e) {
      if (e.onlyWarned() && !lenient) {
        lenient = true;
        continue;
      }
      if (problem) *problem = e.what();
    } catch (const std::exception& e) {
      if (problem) *problem = e.what();
    }
    return std::nullopt;
  }
}

}  // namespace marigold::imaging
