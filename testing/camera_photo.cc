#include "testing/camera_photo.h"

#include <vips/vips.h>

#include <exiv2/exiv2.hpp>
#include <memory>
#include <stdexcept>
#include <vector>

#include "imaging/vips_image.h"

namespace marigold::testing {
namespace {

using imaging::VipsImagePtr;

VipsImagePtr take(VipsImage* image, int status, const char* what) {
  if (status != 0 || image == nullptr) {
    vips_error_clear();
    throw std::runtime_error(std::string("test photo: ") + what);
  }
  return VipsImagePtr(image);
}

// A noisy gradient, `width` x `height`, with a red band `band` pixels wide along the left edge
// (stored sideways) or the top (upright).
VipsImagePtr picture(int width, int height, bool redOnLeft) {
  imaging::startImageLibraries();
  VipsImage* out = nullptr;
  // A small tile of noise repeated: as costly to compress as noise, quick to make.
  VipsImagePtr noise =
      take(out, vips_gaussnoise(&out, 512, 512, "sigma", 14.0, "mean", 0.0, nullptr), "noise");
  VipsImagePtr tiled =
      take(out, vips_replicate(noise.get(), &out, width / 512 + 1, height / 512 + 1, nullptr),
           "replicate");
  VipsImagePtr cut = take(out, vips_crop(tiled.get(), &out, 0, 0, width, height, nullptr), "crop");
  VipsImagePtr xy = take(out, vips_xyz(&out, width, height, nullptr), "xyz");
  VipsImagePtr x = take(out, vips_extract_band(xy.get(), &out, 0, nullptr), "band");
  VipsImagePtr ramp = take(out, vips_linear1(x.get(), &out, 120.0 / width, 60.0, nullptr), "ramp");
  VipsImagePtr sum = take(out, vips_add(ramp.get(), cut.get(), &out, nullptr), "add");
  VipsImage* grey[] = {sum.get(), sum.get(), sum.get()};
  VipsImagePtr rgb = take(out, vips_bandjoin(grey, &out, 3, nullptr), "bands");
  const int band = std::max(8, (redOnLeft ? width : height) / 20);
  double red[] = {220.0, 20.0, 20.0};
  VipsImagePtr eightBit = take(out, vips_cast_uchar(rgb.get(), &out, nullptr), "cast");
  // Drawing paints in place, on pixels held in memory.
  VipsImage* memory = vips_image_copy_memory(eightBit.get());
  VipsImagePtr painted = take(memory, memory ? 0 : -1, "memory");
  if (vips_draw_rect(painted.get(), red, 3, 0, 0, redOnLeft ? band : width,
                     redOnLeft ? height : band, "fill", TRUE, nullptr) != 0) {
    throw std::runtime_error("test photo: draw");
  }
  VipsImagePtr tagged(painted.release());
  vips_image_set_int(tagged.get(), "interpretation", VIPS_INTERPRETATION_sRGB);
  return tagged;
}

void save(VipsImage* image, const std::filesystem::path& path, const char* options) {
  const std::string target = path.string() + options;
  if (vips_image_write_to_file(image, target.c_str(), nullptr) != 0) {
    vips_error_clear();
    throw std::runtime_error("test photo: cannot write " + path.string());
  }
}

}  // namespace

void writeCameraPhoto(const std::filesystem::path& path, const CameraPhoto& photo) {
  const bool sideways = photo.orientation >= 5;
  VipsImagePtr pixels = picture(photo.width, photo.height, sideways);
  save(pixels.get(), path, ("[Q=" + std::to_string(photo.quality) + ",strip]").c_str());
  Exiv2::XmpParser::initialize();
  auto image = Exiv2::ImageFactory::open(path.string());
  image->readMetadata();
  Exiv2::ExifData& exif = image->exifData();
  exif["Exif.Image.Orientation"] = static_cast<std::uint16_t>(photo.orientation);
  if (photo.metadata) {
    exif["Exif.Image.Make"] = "Marigold Optics";
    exif["Exif.Image.Model"] = "MX-1";
    exif["Exif.Image.Copyright"] = "Ada";
    exif["Exif.Photo.DateTimeOriginal"] = kCameraDate;
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(56, 10);
    exif["Exif.Photo.BodySerialNumber"] = kCameraSerial;
    exif["Exif.Photo.CameraOwnerName"] = "Ada Lovelace";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "51/1 30/1 0/1";
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "W";
    exif["Exif.GPSInfo.GPSLongitude"] = "0/1 7/1 0/1";
  }
  image->writeMetadata();
}

void writePng(const std::filesystem::path& path, int width, int height) {
  VipsImagePtr pixels = picture(width, height, false);
  save(pixels.get(), path, "[strip]");
}

bool writeHeic(const std::filesystem::path& path, int width, int height, std::string& whyNot) {
  VipsImagePtr pixels = picture(width, height, false);
  const std::string target = path.string() + "[compression=hevc,Q=80]";
  if (vips_image_write_to_file(pixels.get(), target.c_str(), nullptr) != 0) {
    char* text = vips_error_buffer_copy();
    whyNot = std::string("libvips cannot write HEIC here: ") + (text ? text : "");
    g_free(text);
    return false;
  }
  return true;
}

Rgb pixelAt(const std::filesystem::path& path, int x, int y) {
  imaging::startImageLibraries();
  VipsImage* out = vips_image_new_from_file(path.c_str(), nullptr);
  VipsImagePtr image = take(out, out ? 0 : -1, "open");
  double* values = nullptr;
  int count = 0;
  if (vips_getpoint(image.get(), &values, &count, x, y, nullptr) != 0 || count < 3) {
    g_free(values);
    vips_error_clear();
    throw std::runtime_error("test photo: cannot read a pixel of " + path.string());
  }
  Rgb rgb{static_cast<int>(values[0]), static_cast<int>(values[1]), static_cast<int>(values[2])};
  g_free(values);
  return rgb;
}

}  // namespace marigold::testing
