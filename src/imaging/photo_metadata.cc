#include "imaging/photo_metadata.h"

#include <exiv2/exiv2.hpp>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "base/translation.h"
#include "imaging/metadata_policy.h"
#include "imaging/vips_image.h"

namespace marigold::imaging {

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

struct SourceMetadata::Data {
  Exiv2::ExifData exif;
  Exiv2::XmpData xmp;
  Exiv2::IptcData iptc;
  std::string comment;
  bool location = false;
  std::vector<std::string> leftOut;
};

namespace {

using Metadata = SourceMetadata::Data;

// Tags that describe how the source file stored its pixels (a TIFF's strips, the EXIF preview),
// which mean nothing in a file of new pixels, even when every other tag is kept.
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

// Keeps only the data `keep` answers true for.
template <typename Data, typename Keep>
void keepOnly(Data& data, Keep keep) {
  for (auto it = data.begin(); it != data.end();) {
    it = keep(it->key()) ? std::next(it) : data.erase(it);
  }
}

template <typename Data>
bool anyRevealsLocation(const Data& data) {
  for (const auto& datum : data) {
    if (revealsLocation(datum.key())) return true;
  }
  return false;
}

void decodeXmp(Metadata& metadata, std::string_view packet) {
  if (packet.empty()) return;
  bool parsed = false;
  try {
    parsed = Exiv2::XmpParser::decode(metadata.xmp, std::string(packet)) == 0;
  } catch (const std::exception&) {
  }
  if (!parsed) {
    metadata.xmp.clear();
    metadata.leftOut.push_back(translatable("the XMP data (damaged)"));
  }
}

// What the source carries. exiv2 reads most files; libvips reads the EXIF and XMP blocks of some
// it does not open (HEIC, when exiv2 is built without it) and of files whose other metadata is
// beyond exiv2; a GIF's XMP is in a block of its own. A block that cannot be parsed is named in
// `leftOut`.
void readSource(const std::string& path, ImageFormat type, std::string_view gifXmp,
                Metadata& metadata) {
  if (type == ImageFormat::kGIF) {
    decodeXmp(metadata, gifXmp);
    return;
  }
  bool read = false;
  try {
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    metadata.exif = image->exifData();
    metadata.xmp = image->xmpData();
    metadata.iptc = image->iptcData();
    metadata.comment = image->comment();
    read = true;
  } catch (const std::exception&) {
    metadata = Metadata{};
  }
  if (read && (!metadata.exif.empty() || !metadata.xmp.empty())) return;
  const EmbeddedMetadata blocks = embeddedMetadataOf(path);
  if (!blocks.exif.empty()) {
    try {
      Exiv2::ExifParser::decode(metadata.exif, blocks.exif.data(),
                                static_cast<std::uint32_t>(blocks.exif.size()));
    } catch (const std::exception&) {
      metadata.exif.clear();
    }
    if (metadata.exif.empty()) metadata.leftOut.push_back(translatable("the EXIF data (damaged)"));
  }
  decodeXmp(metadata, blocks.xmp);
}

void setExifIfPresent(Exiv2::ExifData& data, const char* key, long value) {
  auto it = data.findKey(Exiv2::ExifKey(key));
  if (it != data.end()) it->setValue(std::to_string(value));
}

void setXmpIfPresent(Exiv2::XmpData& data, const char* key, long value) {
  auto it = data.findKey(Exiv2::XmpKey(key));
  if (it != data.end()) it->setValue(std::to_string(value));
}

Bytes bytesOf(Exiv2::BasicIo& io) {
  io.seek(0, Exiv2::BasicIo::beg);
  Exiv2::DataBuf buffer = io.read(io.size());
  return Bytes(buffer.pData_, buffer.pData_ + buffer.size_);
}

// The file `bytes` with `metadata` written into it (XMP from the parsed properties, not a packet
// read); throws Exiv2::AnyError when it cannot be written.
Bytes written(const Bytes& bytes, const Metadata& metadata, const std::optional<Bytes>& profile) {
  auto image = Exiv2::ImageFactory::open(bytes.data(), static_cast<long>(bytes.size()));
  // The colour profile the file holds is read so that writing keeps it.
  image->readMetadata();
  if (profile) {
    Exiv2::DataBuf icc(profile->data(), static_cast<long>(profile->size()));
    image->setIccProfile(icc, /*bTestValid=*/false);
  }
  image->setExifData(metadata.exif);
  image->setXmpData(metadata.xmp);
  image->writeXmpFromPacket(false);
  image->setIptcData(metadata.iptc);
  image->setComment(metadata.comment);
  image->writeMetadata();
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
Bytes writtenLeavingOut(const Bytes& bytes, Metadata metadata, const std::optional<Bytes>& profile,
                        ImageFormat type, std::vector<std::string>& leftOut) {
  if (type == ImageFormat::kJPEG && metadata.comment.size() > kLargestComment) {
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
      Bytes result = written(bytes, without, profile);
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

SourceMetadata::SourceMetadata(std::unique_ptr<Data> data) : data_(std::move(data)) {}
SourceMetadata::SourceMetadata(SourceMetadata&&) noexcept = default;
SourceMetadata& SourceMetadata::operator=(SourceMetadata&&) noexcept = default;
SourceMetadata::~SourceMetadata() = default;

SourceMetadata SourceMetadata::read(const std::string& path, ImageFormat type,
                                    MetadataChoice choice, std::string_view gifXmp) {
  startExiv2();
  auto data = std::make_unique<Data>();
  readSource(path, type, gifXmp, *data);
  data->location = anyRevealsLocation(data->exif) || anyRevealsLocation(data->xmp) ||
                   anyRevealsLocation(data->iptc);
  // Only what the choice keeps is held, so that nothing else can reach a prepared file.
  const auto kept = [choice](std::string_view key) {
    return keeps(key, choice) && !isStorageTag(key);
  };
  keepOnly(data->exif, kept);
  keepOnly(data->xmp, kept);
  keepOnly(data->iptc, kept);
  if (choice != MetadataChoice::kKeepAll) data->comment.clear();
  if (choice == MetadataChoice::kRemoveAll) data->leftOut.clear();
  return SourceMetadata(std::move(data));
}

bool SourceMetadata::revealsLocation() const { return data_->location; }
const std::vector<std::string>& SourceMetadata::leftOut() const { return data_->leftOut; }

MetadataOutcome applyMetadata(const SourceMetadata& source, MetadataTarget target,
                              MetadataChoice choice) {
  startExiv2();
  MetadataOutcome outcome;
  outcome.leftOut = source.leftOut();
  // GIF carries no metadata exiv2 can write.
  if (target.type == ImageFormat::kGIF) {
    outcome.bytes = std::move(target.bytes);
    return outcome;
  }
  Metadata metadata = choice == MetadataChoice::kRemoveAll ? Metadata{} : source.data();
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

}  // namespace marigold::imaging
