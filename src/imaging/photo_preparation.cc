#include "imaging/photo_preparation.h"

#include <fcntl.h>
#include <sys/stat.h>
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
#include "imaging/gif_blocks.h"
#include "imaging/jpeg_segments.h"
#include "imaging/memory_budget.h"
#include "imaging/photo_metadata.h"
#include "imaging/preparation_cache.h"
#include "imaging/prepared_check.h"
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
constexpr double kFitAim = 0.965;
// Trial encodes of a few bands of a photo, at most, to predict the edge Fit encodes it at.
constexpr int kPredictionTrials = 2;
// Fit holds a decoded picture in memory (to encode it at several sizes) up to this many pixels;
// a larger one is decoded from the file for each size tried, as it is read.
constexpr std::uint64_t kHeldPixels = 40'000'000;
// What a JPEG of a photo takes per pixel at the usual quality, for a first guess at a size when
// the original's own file size says nothing of it (PNG, TIFF, HEIC).
constexpr double kJpegBytesPerPixel = 0.4;

// What one photo may become: at most this long edge, and within this many bytes when set.
struct Target {
  int longEdge = INT_MAX;
  std::optional<std::uint64_t> budget;
};

// One way a photo was prepared: the choices and share it was made for, written as text.
std::string preparationKey(const PreparationOptions& options, ImageFormat type,
                           const Target& target) {
  std::string key = std::string(photoSizeName(options.size)) + "|" +
                    std::to_string(options.quality) + "|" +
                    std::string(metadataChoiceName(options.metadata)) + "|" +
                    std::string(formatName(type)) + "|" + std::to_string(target.longEdge) + "|" +
                    (target.budget ? std::to_string(*target.budget) : "-");
  return key;
}

// The whole file, read at once into a buffer of its size; a file that grew since it was looked at
// is read on to its end.
Bytes readBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error(tr("cannot be read: %1", {systemError(errno)}));
  const auto fail = [fd] {
    const int error = errno;
    ::close(fd);
    return std::runtime_error(tr("cannot be read: %1", {systemError(error)}));
  };
  struct stat status {};
  if (::fstat(fd, &status) != 0) throw fail();
  Bytes bytes(static_cast<std::size_t>(std::max<off_t>(status.st_size, 0)));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw fail();
    if (n == 0) break;  // shrunk since it was looked at
    filled += static_cast<std::size_t>(n);
  }
  bytes.resize(filled);
  std::uint8_t more[1 << 14];
  for (;;) {
    const ssize_t n = ::read(fd, more, sizeof more);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw fail();
    if (n == 0) break;
    bytes.insert(bytes.end(), more, more + n);
  }
  ::close(fd);
  return bytes;
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
ImageFormat outputType(const PhotoHeader& header, const std::string& required) {
  if (required == "png") return ImageFormat::kPNG;
  if (required == "gif") return ImageFormat::kGIF;
  if (header.type == ImageFormat::kGIF && header.pages > 1) return ImageFormat::kGIF;
  return ImageFormat::kJPEG;
}

const char* extensionOf(ImageFormat type) {
  switch (type) {
    case ImageFormat::kPNG:
      return ".png";
    case ImageFormat::kGIF:
      return ".gif";
    default:
      return ".jpg";
  }
}

class PhotoJob {
 public:
  PhotoJob(std::string source, std::size_t index, const fs::path& folder,
           const PreparationOptions& options, PreparationCache::Store* cache, MemoryBudget& budget)
      : options_(options), cache_(cache), budget_(budget) {
    photo_.source = std::move(source);
    // A name of its own, short whatever the user's file is called: the user's name is only shown.
    char name[16];
    std::snprintf(name, sizeof name, "%02zu", index + 1);
    pathStem_ = folder / name;
  }

  // Reads the header; a photo that cannot be decoded, or is too large to, is left out here.
  bool probe() {
    const bool ok = guarded([&] {
      header_ = readHeader(photo_.source);
      photo_.sourceType = header_.type;
      photo_.type = outputType(header_, options_.requiredFileType);
      photo_.sourceWidth = header_.width;
      photo_.sourceHeight = header_.height;
      const std::optional<FileIdentity> identity = FileIdentity::of(photo_.source);
      if (!identity) throw std::runtime_error(tr("cannot be read: %1", {systemError(errno)}));
      identity_ = *identity;
      photo_.sourceBytes = identity_.size;
      // The image library decodes at most a few thousand frames of an animation and drops the
      // rest with a mere warning: the file's own count is the one that must be kept.
      sourceFrames_ = static_cast<std::size_t>(header_.pages);
      if (header_.type == ImageFormat::kGIF) {
        if (std::optional<GifLayout> layout = gifLayout(readBytes(photo_.source))) {
          sourceFrames_ = std::max(sourceFrames_, layout->frames);
          gifXmp_ = std::move(layout->xmp);
        }
      }
      // A photo whose decode alone would take more memory than the whole preparation may is
      // refused before any of it is decoded.
      if (memoryNeeded() > budget_.total()) {
        throw std::runtime_error(
            tr("needs %1 MB of memory to be prepared; a preparation may take %2 MB",
               {std::to_string(memoryNeeded() >> 20), std::to_string(budget_.total() >> 20)}));
      }
    });
    probed_ = photo_;
    return ok;
  }

  // Prepares the photo for `target`; a photo prepared before is prepared again from the start.
  void prepare(const Target& target) {
    if (!probed_.ok()) return;
    discard();
    photo_ = probed_;
    const std::string key = cache_ ? preparationKey(options_, photo_.type, target) : "";
    if (cache_) {
      fs::path path = pathStem_;
      path += extensionOf(photo_.type);
      if (auto kept = cache_->find(photo_.source, identity_, key, path)) {
        photo_ = std::move(kept->photo);
        return;
      }
    }
    {
      const MemoryBudget::Share share = budget_.take(memoryNeeded());
      guarded([&] { run(target); });
    }
    if (cache_ && photo_.ok()) cache_->keep(photo_.source, identity_, key, photo_);
  }

  const PreparedPhoto& photo() const { return photo_; }
  PreparedPhoto take() { return std::move(photo_); }
  std::size_t decodes() const { return decodes_; }
  std::size_t encodes() const { return encodes_; }
  std::size_t trialEncodes() const { return samples_; }

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
  bool keepsAlpha() const { return photo_.type != ImageFormat::kJPEG; }
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
      Bytes bytes = readBytes(photo_.source);
      photo_.unchanged = true;
      finish(std::move(bytes), header_.width, header_.height, false);
      return;
    }
    if (sameType && header_.orientation == 1 && maxEdge == sourceLongEdge() && asItIs(target)) {
      return;
    }
    if (sourceFrames_ > static_cast<std::size_t>(header_.pages)) {
      throw std::runtime_error(
          tr("has %1 frames; animations of up to %2 frames can be scaled or converted",
             {std::to_string(sourceFrames_), std::to_string(header_.pages)}));
    }
    if (!target.budget) {
      // Decoded as it is encoded: held in memory only a strip at a time.
      VipsImagePtr pixels = decodeFile(maxEdge, decodeOptions(false));
      std::vector<std::uint8_t> bytes = encodeBytes(pixels.get(), options_.quality);
      finish(std::move(bytes), photo_.width, photo_.height, true);
      return;
    }
    fit(maxEdge, *target.budget);
  }

  // The source's own picture in a rebuilt container (a JPEG's tables, frame and scans, a GIF's
  // frames) with the metadata the choice keeps, when that is all it needs and it fits the
  // budget: no new pixels. Not when its container cannot be rebuilt: then it is encoded anew.
  bool asItIs(const Target& target) {
    if (target.budget && photo_.sourceBytes > *target.budget) return false;
    if (photo_.type != ImageFormat::kJPEG && photo_.type != ImageFormat::kGIF) return false;
    checkDecodes();
    const Bytes bytes = readBytes(photo_.source);
    std::optional<Bytes> container;
    if (photo_.type == ImageFormat::kJPEG) {
      container = rebuiltJpeg(bytes);
    } else {
      container = options_.metadata == MetadataChoice::kKeepAll ? bytes : rebuiltGif(bytes);
    }
    if (!container) return false;
    MetadataOutcome outcome = applyMetadata(metadata(),
                                            {.bytes = std::move(*container),
                                             .type = photo_.type,
                                             .width = header_.width,
                                             .height = header_.height,
                                             .colourProfile = std::nullopt},
                                            options_.metadata);
    if (target.budget && outcome.bytes.size() > *target.budget) return false;
    photo_.metadataLeftOut = outcome.leftOut;
    finish(std::move(outcome.bytes), header_.width, header_.height, false);
    return true;
  }

  // The largest long edge (then the highest quality) whose file is within `budget`. The photo is
  // decoded once, a little larger than the first guess, and held; the edge whose file should
  // come to the aim is predicted from a few bands of it, and encoded, scaled as it is encoded.
  // Only when the prediction misses does a search follow; a size beyond the held picture is
  // decoded again from the file.
  void fit(int maxEdge, std::uint64_t budget) {
    int edge = std::clamp(firstGuess(budget), std::min(maxEdge, kFitEdgeFloor), maxEdge);
    const int heldEdge = decodeEdgeFor(edge, maxEdge);
    VipsImagePtr held;
    if (pixelsAt(heldEdge) <= kHeldPixels) {
      held = heldPicture(heldEdge);
    }
    const int heldLongEdge = held ? std::max(widthOf(held.get()), frameHeightOf(held.get())) : 0;
    if (held && photo_.type == ImageFormat::kJPEG) {
      edge = predictedEdge(held.get(), edge, std::min(maxEdge, heldLongEdge), budget);
    }
    auto pictureAt = [&](int longEdge) -> VipsImagePtr {
      if (held && longEdge < heldLongEdge) return scaledDown(held.get(), longEdge, false);
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
    finish(std::move(candidate_), photo_.width, photo_.height, true);
  }

  // What the source carries, read once for every size tried.
  const SourceMetadata& metadata() {
    if (!metadata_) {
      metadata_ = SourceMetadata::read(photo_.source, header_.type, options_.metadata, gifXmp_);
    }
    return *metadata_;
  }

  // The memory preparing the photo holds at most, from its header: the whole picture where its
  // decoder needs it at once (an interlaced PNG or GIF, a progressive JPEG's coefficients, a
  // HEIC), the picture Fit holds to encode its sizes from, and the file's bytes a few times.
  std::uint64_t memoryNeeded() const {
    constexpr std::uint64_t kWorking = std::uint64_t{32} << 20;
    const std::uint64_t pixels = static_cast<std::uint64_t>(header_.width) *
                                 static_cast<std::uint64_t>(header_.height) *
                                 static_cast<std::uint64_t>(std::max(1, header_.pages));
    std::uint64_t whole = 0;
    switch (header_.type) {
      case ImageFormat::kPNG:
        // The decoder's picture and the image library's copy of it.
        if (header_.interlaced) whole = 2 * pixels * header_.bytesPerPixel;
        break;
      case ImageFormat::kJPEG:
        if (header_.interlaced) whole = pixels * header_.bands * 2;  // 16-bit coefficients
        break;
      case ImageFormat::kGIF:
        whole = pixels * 4;
        break;
      case ImageFormat::kHEIC:
        whole = pixels * header_.bytesPerPixel;
        break;
      case ImageFormat::kTIFF:
        break;
    }
    const std::uint64_t held =
        options_.size == PhotoSize::kFit ? 2 * std::min(pixels, kHeldPixels) * 4 : 0;
    return kWorking + whole + held + 3 * photo_.sourceBytes;
  }

  std::uint64_t pixelsAt(int longEdge) const {
    const double scale = static_cast<double>(longEdge) / std::max(1, sourceLongEdge());
    return static_cast<std::uint64_t>(scale * scale * header_.width * header_.height *
                                      std::max(1, header_.pages));
  }

  // How large to decode: from this photo's own file size (a JPEG) or its pixels.
  int firstGuess(std::uint64_t budget) const {
    const double target = kFitAim * static_cast<double>(budget);
    if (header_.type == ImageFormat::kJPEG) {
      const double ratio = static_cast<double>(budget) / static_cast<double>(photo_.sourceBytes);
      // A camera's JPEG is stored at a higher quality than ours: the first guess allows for it.
      return static_cast<int>(sourceLongEdge() * std::sqrt(2.0 * ratio));
    }
    const double expected = kJpegBytesPerPixel * static_cast<double>(pixelsAt(sourceLongEdge()));
    return static_cast<int>(sourceLongEdge() * std::sqrt(target / expected));
  }

  // The long edge, at most `maxEdge`, whose file should come to the aim, predicted from bands of
  // the held picture encoded at trial edges (each a sixth of an encode), starting at `guess`: file
  // size grows as a power of the edge, about the square, and two trials give its own power. The
  // metadata the file will carry is added as it is.
  int predictedEdge(VipsImage* held, int guess, int maxEdge, std::uint64_t budget) {
    const double aim = kFitAim * static_cast<double>(budget);
    const double metadataBytes = static_cast<double>(metadataSize());
    int edge = std::clamp(guess, 1, maxEdge);
    int lastEdge = 0;
    double lastSize = 0;
    // A photo made smaller keeps more detail in each pixel: its file grows faster than its area.
    double power = 2.5;
    for (int trial = 0; trial < kPredictionTrials; ++trial) {
      const double size = estimatedJpegBytes(held, edge, options_.quality) + metadataBytes;
      ++samples_;
      // Trials a few percent apart or more give the power; closer ones say more of the bands'
      // noise than of the picture.
      if (lastEdge > 0 && std::abs(edge - lastEdge) * 33 >= edge && lastSize != size) {
        power = std::clamp(std::log(size / lastSize) / std::log(double(edge) / lastEdge), 1.2, 3.0);
      }
      const int next =
          std::clamp(static_cast<int>(edge * std::pow(aim / size, 1.0 / power)), 1, maxEdge);
      if (std::abs(next - edge) * 100 <= edge) return next;
      lastEdge = edge;
      lastSize = size;
      edge = next;
    }
    return edge;
  }

  // The bytes the kept metadata adds to a file: written into a small one and measured.
  std::size_t metadataSize() {
    static const Bytes kSmall = blankJpeg(16);
    if (kSmall.empty()) return 0;
    const MetadataOutcome outcome = applyMetadata(metadata(),
                                                  {.bytes = kSmall,
                                                   .type = ImageFormat::kJPEG,
                                                   .width = 16,
                                                   .height = 16,
                                                   .colourProfile = std::nullopt},
                                                  options_.metadata);
    return outcome.bytes.size() > kSmall.size() ? outcome.bytes.size() - kSmall.size() : 0;
  }

  // How large to decode for a first guess of `edge`: room to grow, at no extra cost for a JPEG,
  // which decodes at 1/2, 1/4 or 1/8 of its size as fast as it decodes smaller.
  int decodeEdgeFor(int edge, int maxEdge) const {
    const int source = sourceLongEdge();
    if (header_.type == ImageFormat::kJPEG) {
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
    Bytes encoded = encode(pixels, photo_.type, quality);
    ++encodes_;
    if (photo_.type == ImageFormat::kGIF && options_.metadata != MetadataChoice::kKeepAll) {
      // Whatever the encoder adds besides the frames and the loop count goes too.
      if (std::optional<Bytes> rebuilt = rebuiltGif(encoded)) encoded = std::move(*rebuilt);
    }
    MetadataOutcome outcome = applyMetadata(metadata(),
                                            {.bytes = std::move(encoded),
                                             .type = photo_.type,
                                             .width = width,
                                             .height = height,
                                             .colourProfile = colourProfileOf(pixels)},
                                            options_.metadata);
    photo_.width = width;
    photo_.height = height;
    photo_.quality = photo_.type == ImageFormat::kJPEG ? quality : 0;
    photo_.metadataLeftOut = outcome.leftOut;
    photo_.rotated = header_.orientation != 1;
    photo_.reencoded = true;
    return std::move(outcome.bytes);
  }

  // Writes the prepared file, once it is read back and holds what the user's choice promises
  // (the file handed over unchanged promises nothing but itself). An animation must keep every
  // frame.
  void finish(Bytes bytes, int width, int height, bool reencoded) {
    if (photo_.type == ImageFormat::kGIF) {
      const std::optional<GifLayout> layout = gifLayout(bytes);
      const std::size_t frames = layout ? layout->frames : 0;
      if (frames != sourceFrames_) {
        throw std::runtime_error(tr("cannot be prepared with all its frames: %1 of %2 were kept",
                                    {std::to_string(frames), std::to_string(sourceFrames_)}));
      }
    }
    if (!photo_.unchanged) {
      const PreparedContents contents = inspectPrepared(bytes, photo_.type);
      if (std::optional<std::string> broken = brokenPromise(contents, options_.metadata)) {
        throw std::runtime_error(*broken);
      }
      photo_.locationRemoved = metadata().revealsLocation() && !contents.revealsLocation();
    }
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
  MemoryBudget& budget_;
  FileIdentity identity_;
  std::size_t decodes_ = 0;
  PreparedPhoto photo_;
  PreparedPhoto probed_;  // as the header described it, before any preparation
  PhotoHeader header_;
  std::size_t sourceFrames_ = 1;
  std::string gifXmp_;  // a GIF's XMP packet, taken from its blocks when its frames are counted
  bool lenient_ = false;
  fs::path pathStem_;
  std::vector<std::uint8_t> candidate_;
  std::optional<SourceMetadata> metadata_;
  std::size_t samples_ = 0;
  std::size_t encodes_ = 0;
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
// the total never passes the limit; each is fitted on its own, all at once. Photos that came out
// whole below their share leave the remainder to the ones that were scaled, which are fitted again
// to the larger share (a few rounds at most). Each step depends only on the photos, never on which
// thread finished first.
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
    jobs[i].prepare({.budget = equalShare});
    oneDone();
  });
  auto bytesOf = [&](const std::vector<std::size_t>& some) {
    std::uint64_t used = 0;
    for (std::size_t i : some) used += jobs[i].photo().ok() ? jobs[i].photo().bytes : 0;
    return used;
  };
  if (!large.empty() && !stop) {
    const std::uint64_t share = (limit - std::min(bytesOf(small), limit)) / large.size();
    for (std::size_t i : large) shares[i] = share;
    inParallel(large, stop, [&](std::size_t i) {
      jobs[i].prepare({.budget = share});
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
      jobs[i].prepare({.budget = grown});
    });
  }
}

}  // namespace

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
  MemoryBudget budget(options.memoryBudget);
  std::vector<PhotoJob> jobs;
  jobs.reserve(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i)
    jobs.emplace_back(sources[i], i, folder, options, cache ? &cache->store() : nullptr, budget);

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
    result.encodes += job.encodes();
    result.trialEncodes += job.trialEncodes();
    result.photos.push_back(job.take());
  }
  return result;
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
