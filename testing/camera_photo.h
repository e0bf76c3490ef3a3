// For tests and benchmarks: photos made as cameras and phones make them, without sample files. A
// camera JPEG has sensor-like noise over a gradient (so it is as large as a real one, 8-14 MB at
// 6000x4000), its pixels stored sideways with an EXIF Orientation saying how to turn them, and
// the EXIF a camera writes: date, exposure, make and model, serial number, owner and GPS position.
// The band that is at the top once the photo is turned upright is red.
#pragma once

#include <filesystem>
#include <string>

namespace marigold::testing {

struct CameraPhoto {
  int width = 6000, height = 4000;  // as stored, before the orientation is applied
  int orientation = 6;              // EXIF; 6: turn 90 degrees clockwise to show it upright
  int quality = 92;
  bool metadata = true;  // date, exposure, camera serial, owner and GPS position
};

inline constexpr const char* kCameraDate = "2026:05:17 08:30:00";
inline constexpr const char* kCameraSerial = "SN-4711-0815";

// Writes a JPEG to `path`. Throws std::runtime_error when it cannot.
void writeCameraPhoto(const std::filesystem::path& path, const CameraPhoto& photo = {});

// Writes a PNG (no metadata) or, through libheif's encoder, a HEIC of the same upright picture
// (`width` x `height`, red band at the top). writeHeic answers false, with the reason, when this
// libvips cannot write HEIC.
void writePng(const std::filesystem::path& path, int width, int height);
bool writeHeic(const std::filesystem::path& path, int width, int height, std::string& whyNot);

// The pixel at (x, y) of the decoded image file, as red, green, blue.
struct Rgb {
  int r = 0, g = 0, b = 0;
};
Rgb pixelAt(const std::filesystem::path& path, int x, int y);

}  // namespace marigold::testing
