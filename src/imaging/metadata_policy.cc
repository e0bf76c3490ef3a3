#include "imaging/metadata_policy.h"

#include <algorithm>
#include <string>

#include "base/ascii.h"

namespace marigold::imaging {
namespace {

// The safe fields. A name matches its key, and the items and fields of an XMP array or structure
// under it ("Xmp.dc.title", "Xmp.exif.Flash/exif:Fired").
constexpr std::string_view kSafe[] = {
    // EXIF: the camera and lens models, the date, the exposure, and the owner's own words.
    "Exif.Image.Make",
    "Exif.Image.Model",
    "Exif.Image.Orientation",
    "Exif.Image.DateTime",
    "Exif.Image.ImageDescription",
    "Exif.Image.Artist",
    "Exif.Image.Copyright",
    "Exif.Image.XResolution",
    "Exif.Image.YResolution",
    "Exif.Image.ResolutionUnit",
    "Exif.Image.YCbCrPositioning",
    "Exif.Image.Rating",
    "Exif.Image.RatingPercent",
    "Exif.Image.XPTitle",
    "Exif.Image.XPKeywords",
    "Exif.Image.XPAuthor",
    "Exif.Image.XPSubject",
    "Exif.Photo.ExifVersion",
    "Exif.Photo.FlashpixVersion",
    "Exif.Photo.ColorSpace",
    "Exif.Photo.ComponentsConfiguration",
    "Exif.Photo.PixelXDimension",
    "Exif.Photo.PixelYDimension",
    "Exif.Photo.DateTimeOriginal",
    "Exif.Photo.DateTimeDigitized",
    "Exif.Photo.OffsetTime",
    "Exif.Photo.OffsetTimeOriginal",
    "Exif.Photo.OffsetTimeDigitized",
    "Exif.Photo.SubSecTime",
    "Exif.Photo.SubSecTimeOriginal",
    "Exif.Photo.SubSecTimeDigitized",
    "Exif.Photo.ExposureTime",
    "Exif.Photo.FNumber",
    "Exif.Photo.ExposureProgram",
    "Exif.Photo.ISOSpeedRatings",
    "Exif.Photo.SensitivityType",
    "Exif.Photo.RecommendedExposureIndex",
    "Exif.Photo.ShutterSpeedValue",
    "Exif.Photo.ApertureValue",
    "Exif.Photo.BrightnessValue",
    "Exif.Photo.ExposureBiasValue",
    "Exif.Photo.MaxApertureValue",
    "Exif.Photo.MeteringMode",
    "Exif.Photo.LightSource",
    "Exif.Photo.Flash",
    "Exif.Photo.FocalLength",
    "Exif.Photo.ExposureMode",
    "Exif.Photo.WhiteBalance",
    "Exif.Photo.DigitalZoomRatio",
    "Exif.Photo.FocalLengthIn35mmFilm",
    "Exif.Photo.SceneCaptureType",
    "Exif.Photo.Contrast",
    "Exif.Photo.Saturation",
    "Exif.Photo.Sharpness",
    "Exif.Photo.LensSpecification",
    "Exif.Photo.LensMake",
    "Exif.Photo.LensModel",
    // XMP: Dublin Core's title, description, keywords, creator and rights; the dates, rating and
    // exposure; the camera and lens models.
    "Xmp.dc.title",
    "Xmp.dc.description",
    "Xmp.dc.subject",
    "Xmp.dc.creator",
    "Xmp.dc.rights",
    "Xmp.xmp.CreateDate",
    "Xmp.xmp.ModifyDate",
    "Xmp.xmp.MetadataDate",
    "Xmp.xmp.Rating",
    "Xmp.xmpRights.Marked",
    "Xmp.xmpRights.UsageTerms",
    "Xmp.xmpRights.WebStatement",
    "Xmp.photoshop.DateCreated",
    "Xmp.photoshop.Headline",
    "Xmp.photoshop.Credit",
    "Xmp.lr.hierarchicalSubject",
    "Xmp.tiff.Make",
    "Xmp.tiff.Model",
    "Xmp.tiff.Orientation",
    "Xmp.tiff.Artist",
    "Xmp.tiff.Copyright",
    "Xmp.tiff.ImageDescription",
    "Xmp.tiff.DateTime",
    "Xmp.exif.DateTimeOriginal",
    "Xmp.exif.DateTimeDigitized",
    "Xmp.exif.ExposureTime",
    "Xmp.exif.FNumber",
    "Xmp.exif.ExposureProgram",
    "Xmp.exif.ISOSpeedRatings",
    "Xmp.exif.ExposureBiasValue",
    "Xmp.exif.ApertureValue",
    "Xmp.exif.ShutterSpeedValue",
    "Xmp.exif.MaxApertureValue",
    "Xmp.exif.MeteringMode",
    "Xmp.exif.Flash",
    "Xmp.exif.FocalLength",
    "Xmp.exif.FocalLengthIn35mmFilm",
    "Xmp.exif.WhiteBalance",
    "Xmp.exifEX.LensMake",
    "Xmp.exifEX.LensModel",
    "Xmp.exifEX.LensSpecification",
    "Xmp.aux.Lens",
    // IPTC: the same, in its own names.
    "Iptc.Envelope.CharacterSet",
    "Iptc.Application2.RecordVersion",
    "Iptc.Application2.ObjectName",
    "Iptc.Application2.Caption",
    "Iptc.Application2.Headline",
    "Iptc.Application2.Keywords",
    "Iptc.Application2.Byline",
    "Iptc.Application2.BylineTitle",
    "Iptc.Application2.Credit",
    "Iptc.Application2.Copyright",
    "Iptc.Application2.DateCreated",
    "Iptc.Application2.TimeCreated",
    "Iptc.Application2.DigitizationDate",
    "Iptc.Application2.DigitizationTime",
};

// The standard location fields, kept when the user keeps the location.
constexpr std::string_view kLocation[] = {
    "Exif.GPSInfo.",
    "Xmp.exif.GPS",
    "Xmp.photoshop.City",
    "Xmp.photoshop.State",
    "Xmp.photoshop.Country",
    "Xmp.iptc.Location",
    "Xmp.iptc.CountryCode",
    "Xmp.iptcExt.LocationShown",
    "Xmp.iptcExt.LocationCreated",
    "Iptc.Application2.City",
    "Iptc.Application2.SubLocation",
    "Iptc.Application2.ProvinceState",
    "Iptc.Application2.CountryCode",
    "Iptc.Application2.CountryName",
    "Iptc.Application2.LocationCode",
    "Iptc.Application2.LocationName",
};

bool namedBy(std::string_view key, std::string_view name) {
  if (!key.starts_with(name)) return false;
  if (key.size() == name.size()) return true;
  const char next = key[name.size()];
  return next == '/' || next == '[';
}

bool safe(std::string_view key) {
  return std::any_of(std::begin(kSafe), std::end(kSafe),
                     [&](std::string_view name) { return namedBy(key, name); });
}

bool standardLocation(std::string_view key) {
  return std::any_of(std::begin(kLocation), std::end(kLocation),
                     [&](std::string_view prefix) { return key.starts_with(prefix); });
}

bool mentionsAny(const std::string& lowered, std::initializer_list<std::string_view> words) {
  return std::any_of(words.begin(), words.end(), [&](std::string_view word) {
    return lowered.find(word) != std::string::npos;
  });
}

}  // namespace

bool keeps(std::string_view key, MetadataChoice choice) {
  switch (choice) {
    case MetadataChoice::kKeepAll:
      return true;
    case MetadataChoice::kRemoveAll:
      return false;
    case MetadataChoice::kKeepLocation:
      return safe(key) || standardLocation(key);
    case MetadataChoice::kRemoveLocation:
      return safe(key);
  }
  return false;
}

bool revealsLocation(std::string_view key) {
  if (standardLocation(key)) return true;
  // The field's own name (after the namespace) and the namespace itself, in any letter case:
  // vendors write "GpsLatitude", "GPSLongitude", "latitude", "geo:lat".
  const std::string lowered = lowerASCII(key);
  return mentionsAny(lowered,
                     {"gps", "latitude", "longitude", "altitude", "location", "city", "country",
                      "provincestate", "photoshop.state", "geotag", ".geo", "geo:"});
}

bool revealsCamera(std::string_view key) {
  const std::string lowered = lowerASCII(key);
  if (mentionsAny(lowered, {"serial", "owner", "makernote", "uniqueid", "imei"})) return true;
  // EXIF groups other than the standard ones are a maker's note, decoded.
  if (!key.starts_with("Exif.")) return false;
  constexpr std::string_view kStandard[] = {"Exif.Image.",   "Exif.Photo.",     "Exif.Iop.",
                                            "Exif.GPSInfo.", "Exif.Thumbnail.", "Exif.Image2.",
                                            "Exif.MpfInfo."};
  return std::none_of(std::begin(kStandard), std::end(kStandard),
                      [&](std::string_view group) { return key.starts_with(group); });
}

}  // namespace marigold::imaging
