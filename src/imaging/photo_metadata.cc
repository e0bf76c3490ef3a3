#include "imaging/photo_metadata.h"

#include <exiv2/exiv2.hpp>
#include <mutex>
#include <stdexcept>
#include <string_view>

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

Metadata readSource(const std::string& path) {
  Metadata metadata;
  try {
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    metadata.exif = image->exifData();
    metadata.xmp = image->xmpData();
    metadata.iptc = image->iptcData();
    metadata.comment = image->comment();
  } catch (const std::exception&) {
    // A type exiv2 does not read, or metadata it cannot parse: the photo carries none we keep.
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

}  // namespace

MetadataOutcome applyMetadata(const std::string& sourcePath, MetadataTarget target,
                              MetadataChoice choice) {
  startExiv2();
  MetadataOutcome outcome;
  // GIF carries no metadata exiv2 can write; a kept file stays as it is when all is kept.
  if (target.type == FileType::kGIF || (!target.newPixels && choice == MetadataChoice::kKeepAll)) {
    outcome.bytes = std::move(target.bytes);
    return outcome;
  }
  try {
    auto image =
        Exiv2::ImageFactory::open(target.bytes.data(), static_cast<long>(target.bytes.size()));
    Metadata metadata;
    if (target.newPixels) {
      metadata = readSource(sourcePath);
    } else {
      image->readMetadata();
      metadata.exif = image->exifData();
      metadata.xmp = image->xmpData();
      metadata.iptc = image->iptcData();
      metadata.comment = image->comment();
    }
    outcome.locationRemoved =
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
    if (target.newPixels) {
      eraseIf(metadata.exif, isStorageTag);
      setExifIfPresent(metadata.exif, "Exif.Image.Orientation", 1);
      setExifIfPresent(metadata.exif, "Exif.Photo.PixelXDimension", target.width);
      setExifIfPresent(metadata.exif, "Exif.Photo.PixelYDimension", target.height);
      setXmpIfPresent(metadata.xmp, "Xmp.tiff.Orientation", 1);
      if (target.colourProfile) {
        Exiv2::DataBuf profile(target.colourProfile->data(),
                               static_cast<long>(target.colourProfile->size()));
        image->setIccProfile(profile, /*bTestValid=*/false);
      }
    }
    image->setExifData(metadata.exif);
    image->setXmpData(metadata.xmp);
    image->writeXmpFromPacket(false);
    image->setIptcData(metadata.iptc);
    image->setComment(metadata.comment);
    image->writeMetadata();
    outcome.bytes = bytesOf(image->io());
  } catch (const Exiv2::AnyError& e) {
    throw std::runtime_error(std::string("its metadata cannot be written: ") + e.what());
  }
  return outcome;
}

}  // namespace marigold::imaging
