#include "imaging/photo_metadata.h"

#include <exiv2/exiv2.hpp>
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "base/translation.h"
#include "imaging/vips_image.h"

namespace marigold::imaging {
namespace {

void startExiv2() {
  static std::once_flag once;
  std::call_once(once, [] {
    static std::mutex xmpLock;
    Exiv2::XmpParser::initialize(
        [](void* data, bool lock) {
          auto* mutex = static_cast<std::mutex*>(data);
          lock ? mutex->lock() : mutex->unlock();
        },
        &xmpLock);
    Exiv2::enableBMFF(true);  // HEIC's metadata
    // Oddities in a photo's metadata are not the user's business; failures are thrown.
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
  });
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Where a photo was taken, in each of the three metadata families.
bool isLocation(std::string_view key) {
  constexpr std::string_view kKeys[] = {
      "Exif.GPSInfo.",
      "Exif.Image.GPSTag",
      "Xmp.exif.GPS",
      "Xmp.photoshop.City",
      "Xmp.photoshop.State",
      "Xmp.photoshop.Country",
      "Xmp.iptc.Location",
      "Xmp.iptc.CountryCode",
      "Xmp.iptcExt.Location",
      "Iptc.Application2.City",
      "Iptc.Application2.SubLocation",
      "Iptc.Application2.ProvinceState",
      "Iptc.Application2.Country",
      "Iptc.Application2.Location",
  };
  for (std::string_view prefix : kKeys) {
    if (key.starts_with(prefix)) return true;
  }
  return false;
}

// Who owns the camera and which one it is: serial numbers and owner names wherever they are, and
// the makers' private notes, which carry both in forms of their own.
bool isCameraDetail(std::string_view key) {
  if (contains(key, "Serial") || contains(key, "OwnerName")) return true;
  if (key == "Exif.Photo.MakerNote" || key.starts_with("Exif.MakerNote.")) return true;
  if (!key.starts_with("Exif.")) return false;
  // Keys of the standard EXIF groups; every other EXIF group is a maker's note.
  constexpr std::string_view kStandard[] = {"Exif.Image.",   "Exif.Photo.",     "Exif.Iop.",
                                            "Exif.GPSInfo.", "Exif.Thumbnail.", "Exif.Image2.",
                                            "Exif.MpfInfo."};
  for (std::string_view group : kStandard) {
    if (key.starts_with(group)) return false;
  }
  return true;
}

// Tags that describe how the source file stored its pixels (a TIFF's strips, the EXIF preview),
// which mean nothing in a file of new pixels.
bool isStorageTag(std::string_view key) {
  if (key.starts_with("Exif.Thumbnail.")) return true;
  constexpr std::string_view kKeys[] = {
      "Exif.Image.ImageWidth",
      "Exif.Image.ImageLength",
      "Exif.Image.BitsPerSample",
      "Exif.Image.Compression",
      "Exif.Image.PhotometricInterpretation",
      "Exif.Image.StripOffsets",
      "Exif.Image.SamplesPerPixel",
      "Exif.Image.RowsPerStrip",
      "Exif.Image.StripByteCounts",
      "Exif.Image.PlanarConfiguration",
      "Exif.Image.TileWidth",
      "Exif.Image.TileLength",
      "Exif.Image.TileOffsets",
      "Exif.Image.TileByteCounts",
      "Exif.Image.SubIFDs",
      "Exif.Image.NewSubfileType",
      "Exif.Image.JPEGInterchangeFormat",
      "Exif.Image.JPEGInterchangeFormatLength",
  };
  for (std::string_view k : kKeys) {
    if (key == k) return true;
  }
  return false;
}

template <typename Data>
bool eraseIf(Data& data, bool (*drop)(std::string_view)) {
  bool erased = false;
  for (auto it = data.begin(); it != data.end();) {
    if (drop(it->key())) {
      it = data.erase(it);
      erased = true;
    } else {
      ++it;
    }
  }
  return erased;
}

bool hasLocationOrDetail(std::string_view key) { return isLocation(key) || isCameraDetail(key); }

struct Metadata {
  Exiv2::ExifData exif;
  Exiv2::XmpData xmp;
  Exiv2::IptcData iptc;
  std::string comment;
};

// The metadata of an opened image; throws Exiv2::AnyError when it cannot be read.
Metadata metadataOf(Exiv2::Image& image) {
  image.readMetadata();
  return Metadata{image.exifData(), image.xmpData(), image.iptcData(), image.comment()};
}

// Writes `metadata` into an opened image in place of what it carried (XMP from the parsed
// properties, not the packet read); throws Exiv2::AnyError when it cannot be written.
void writeMetadata(Exiv2::Image& image, const Metadata& metadata) {
  image.setExifData(metadata.exif);
  image.setXmpData(metadata.xmp);
  image.writeXmpFromPacket(false);
  image.setIptcData(metadata.iptc);
  image.setComment(metadata.comment);
  image.writeMetadata();
}

// What the source carries. exiv2 reads most files; libvips reads the EXIF and XMP blocks of some
// it does not open (HEIC, when exiv2 is built without it) and of files whose other metadata is
// beyond exiv2. A block that cannot be parsed is named in `leftOut`.
Metadata readSource(const std::string& path, std::vector<std::string>& leftOut) {
  Metadata metadata;
  bool read = false;
  try {
    auto image = Exiv2::ImageFactory::open(path);
    metadata = metadataOf(*image);
    read = true;
  } catch (const std::exception&) {
    metadata = Metadata{};
  }
  if (read && (!metadata.exif.empty() || !metadata.xmp.empty())) return metadata;
  const EmbeddedMetadata blocks = embeddedMetadataOf(path);
  if (!blocks.exif.empty()) {
    try {
      Exiv2::ExifParser::decode(metadata.exif, blocks.exif.data(),
                                static_cast<std::uint32_t>(blocks.exif.size()));
    } catch (const std::exception&) {
      metadata.exif.clear();
    }
    if (metadata.exif.empty()) leftOut.push_back(translatable("the EXIF data (damaged)"));
  }
  if (!blocks.xmp.empty()) {
    bool parsed = false;
    try {
      parsed = Exiv2::XmpParser::decode(metadata.xmp, blocks.xmp) == 0;
    } catch (const std::exception&) {
    }
    if (!parsed) {
      metadata.xmp.clear();
      leftOut.push_back(translatable("the XMP data (damaged)"));
    }
  }
  return metadata;
}

bool anyLocation(const Metadata& m) {
  auto has = [](const auto& data) {
    for (const auto& datum : data) {
      if (isLocation(datum.key())) return true;
    }
    return false;
  };
  return has(m.exif) || has(m.xmp) || has(m.iptc);
}

void setExifIfPresent(Exiv2::ExifData& data, const char* key, long value) {
  auto it = data.findKey(Exiv2::ExifKey(key));
  if (it != data.end()) it->setValue(std::to_string(value));
}

void setXmpIfPresent(Exiv2::XmpData& data, const char* key, long value) {
  auto it = data.findKey(Exiv2::XmpKey(key));
  if (it != data.end()) it->setValue(std::to_string(value));
}

std::vector<std::uint8_t> bytesOf(Exiv2::BasicIo& io) {
  io.seek(0, Exiv2::BasicIo::beg);
  Exiv2::DataBuf buffer = io.read(io.size());
  return std::vector<std::uint8_t>(buffer.pData_, buffer.pData_ + buffer.size_);
}

// Keeps what `choice` keeps of `metadata`; answers whether a location was dropped.
bool choose(Metadata& metadata, MetadataChoice choice) {
  const bool locationRemoved =
      (choice == MetadataChoice::kRemoveLocation || choice == MetadataChoice::kRemoveAll) &&
      anyLocation(metadata);
  if (choice == MetadataChoice::kRemoveAll) {
    metadata = Metadata{};
  } else if (choice == MetadataChoice::kRemoveLocation) {
    eraseIf(metadata.exif, hasLocationOrDetail);
    eraseIf(metadata.xmp, hasLocationOrDetail);
    eraseIf(metadata.iptc, hasLocationOrDetail);
  } else if (choice == MetadataChoice::kKeepLocation) {
    eraseIf(metadata.exif, isCameraDetail);
    eraseIf(metadata.xmp, isCameraDetail);
    eraseIf(metadata.iptc, isCameraDetail);
  }
  return locationRemoved;
}

// The file `bytes` with `metadata` written into it; throws Exiv2::AnyError when it cannot be.
std::vector<std::uint8_t> written(const std::vector<std::uint8_t>& bytes, const Metadata& metadata,
                                  const std::optional<std::vector<std::uint8_t>>& profile) {
  auto image = Exiv2::ImageFactory::open(bytes.data(), static_cast<long>(bytes.size()));
  if (profile) {
    Exiv2::DataBuf icc(profile->data(), static_cast<long>(profile->size()));
    image->setIccProfile(icc, /*bTestValid=*/false);
  }
  writeMetadata(*image, metadata);
  return bytesOf(image->io());
}

// A JPEG comment is one segment of at most 65,533 bytes.
constexpr std::size_t kLargestComment = 65533;

enum class Part { kComment, kIptc, kXmp, kExif };

bool has(const Metadata& m, Part part) {
  switch (part) {
    case Part::kComment:
      return !m.comment.empty();
    case Part::kIptc:
      return !m.iptc.empty();
    case Part::kXmp:
      return !m.xmp.empty();
    default:
      return !m.exif.empty();
  }
}

void drop(Metadata& m, Part part) {
  switch (part) {
    case Part::kComment:
      m.comment.clear();
      break;
    case Part::kIptc:
      m.iptc.clear();
      break;
    case Part::kXmp:
      m.xmp.clear();
      break;
    default:
      m.exif.clear();
      break;
  }
}

// Each name is a whole text, kept in English and translated where it is shown.
std::string nameOf(Part part, const std::string& error) {
  constexpr const char* kTooLarge[] = {
      translatable("the comment (over 64 KiB)"), translatable("the IPTC data (over 64 KiB)"),
      translatable("the XMP data (over 64 KiB)"), translatable("the EXIF data (over 64 KiB)")};
  constexpr const char* kDamaged[] = {
      translatable("the comment (damaged)"), translatable("the IPTC data (damaged)"),
      translatable("the XMP data (damaged)"), translatable("the EXIF data (damaged)")};
  const bool tooLarge =
      error.find("too large") != std::string::npos || error.find("Size") != std::string::npos;
  return (tooLarge ? kTooLarge : kDamaged)[static_cast<int>(part)];
}

// Writes `metadata`; a part that cannot be written is left out (each part alone first, then all
// of them) and named in `leftOut`.
std::vector<std::uint8_t> writtenLeavingOut(const std::vector<std::uint8_t>& bytes,
                                            Metadata metadata,
                                            const std::optional<std::vector<std::uint8_t>>& profile,
                                            FileType type, std::vector<std::string>& leftOut) {
  if (type == FileType::kJPEG && metadata.comment.size() > kLargestComment) {
    metadata.comment.clear();
    leftOut.push_back(translatable("the comment (over 64 KiB)"));
  }
  std::string error;
  try {
    return written(bytes, metadata, profile);
  } catch (const Exiv2::AnyError& e) {
    error = e.what();
  }
  constexpr Part kParts[] = {Part::kComment, Part::kIptc, Part::kXmp, Part::kExif};
  for (Part part : kParts) {
    if (!has(metadata, part)) continue;
    Metadata without = metadata;
    drop(without, part);
    try {
      std::vector<std::uint8_t> result = written(bytes, without, profile);
      leftOut.push_back(nameOf(part, error));
      return result;
    } catch (const Exiv2::AnyError&) {
    }
  }
  for (Part part : kParts) {
    if (has(metadata, part)) leftOut.push_back(nameOf(part, error));
  }
  try {
    return written(bytes, Metadata{}, profile);
  } catch (const Exiv2::AnyError&) {
    leftOut.push_back(translatable("the colour profile (damaged)"));
    return written(bytes, Metadata{}, std::nullopt);
  }
}

}  // namespace

MetadataOutcome applyMetadata(const std::string& sourcePath, MetadataTarget target,
                              MetadataChoice choice) {
  startExiv2();
  MetadataOutcome outcome;
  // GIF carries no metadata exiv2 can write.
  if (target.type == FileType::kGIF) {
    outcome.bytes = std::move(target.bytes);
    return outcome;
  }
  Metadata metadata;
  if (choice != MetadataChoice::kRemoveAll) metadata = readSource(sourcePath, outcome.leftOut);
  outcome.locationRemoved = choose(metadata, choice);
  eraseIf(metadata.exif, isStorageTag);
  setExifIfPresent(metadata.exif, "Exif.Image.Orientation", 1);
  setExifIfPresent(metadata.exif, "Exif.Photo.PixelXDimension", target.width);
  setExifIfPresent(metadata.exif, "Exif.Photo.PixelYDimension", target.height);
  setXmpIfPresent(metadata.xmp, "Xmp.tiff.Orientation", 1);
  try {
    outcome.bytes = writtenLeavingOut(target.bytes, std::move(metadata), target.colourProfile,
                                      target.type, outcome.leftOut);
  } catch (const Exiv2::AnyError& e) {
    throw std::runtime_error(tr("cannot be written: %1", {e.what()}));
  }
  return outcome;
}

std::optional<MetadataOutcome> cleanInPlace(const std::string&, MetadataTarget target,
                                            MetadataChoice choice) {
  startExiv2();
  MetadataOutcome outcome;
  if (target.type == FileType::kGIF || choice == MetadataChoice::kKeepAll) {
    outcome.bytes = std::move(target.bytes);
    return outcome;
  }
  try {
    auto image =
        Exiv2::ImageFactory::open(target.bytes.data(), static_cast<long>(target.bytes.size()));
    Metadata metadata = metadataOf(*image);
    outcome.locationRemoved = choose(metadata, choice);
    writeMetadata(*image, metadata);
    outcome.bytes = bytesOf(image->io());
  } catch (const Exiv2::AnyError&) {
    return std::nullopt;
  }
  return outcome;
}

}  // namespace marigold::imaging
