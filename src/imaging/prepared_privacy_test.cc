// "Location removed" and "metadata removed" held against the files devices really write: each
// photo below is laid out as a phone, drone, camera or editor lays it out, with a position, place
// names and serials planted where that device puts them. The prepared files are judged by an
// independent reader (exiftool) and by the planted texts themselves, which must be in no byte.
#include <gtest/gtest.h>
#include <vips/vips.h>

#include <cstdio>
#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "imaging/photo_preparation.h"
#include "imaging/vips_image.h"
#include "testing/camera_photo.h"
#include "testing/temporary_home.h"

namespace marigold::imaging {
namespace {

namespace fs = std::filesystem;

// What devices plant, each of which must be gone from every prepared file.
constexpr const char* kPlanted[] = {
    testing::kCameraSerial,  // the camera's body serial, in EXIF
    "Ada Lovelace",          // the camera's owner, in EXIF
    "DJI-SN-0X7731",         // a drone's serial, in its own XMP namespace
    "48.85837",              // a drone's latitude, in its own XMP namespace
    "+48.8583+002.2945/",    // a motion photo's video: where it was filmed
    "Montmartre",            // a place name, in IPTC and XMP
};

// The drone's own XMP: position, altitude and serial in a namespace of its maker, and a city.
const std::string kDroneXmp =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
    "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
    "xmlns:drone-dji=\"http://www.dji.com/drone-dji/1.0/\" "
    "xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\" "
    "drone-dji:GpsLatitude=\"+48.85837\" drone-dji:GpsLongitude=\"+2.29448\" "
    "drone-dji:AbsoluteAltitude=\"+120.5\" drone-dji:DroneSerialNumber=\"DJI-SN-0X7731\" "
    "photoshop:City=\"Montmartre\"/></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string bigEndian(std::size_t value, int size) {
  std::string bytes;
  for (int i = size - 1; i >= 0; --i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

std::string segment(unsigned char marker, const std::string& payload) {
  return std::string("\xFF") + static_cast<char>(marker) + bigEndian(payload.size() + 2, 2) +
         payload;
}

// `bytes` with `segments` inserted after the JPEG's existing APP segments.
std::string withSegments(const std::string& bytes, const std::string& segments) {
  std::size_t at = 2;
  while (at + 4 <= bytes.size() && static_cast<unsigned char>(bytes[at + 1]) >= 0xE0 &&
         static_cast<unsigned char>(bytes[at + 1]) <= 0xEF) {
    at += 2 + ((static_cast<unsigned char>(bytes[at + 2]) << 8) |
               static_cast<unsigned char>(bytes[at + 3]));
  }
  return bytes.substr(0, at) + segments + bytes.substr(at);
}

// The first APP1 "Exif" segment of a JPEG, whole.
std::string exifSegmentOf(const std::string& jpeg) {
  const std::size_t at = jpeg.find(std::string("\xFF\xE1", 2));
  const std::size_t length =
      (static_cast<unsigned char>(jpeg[at + 2]) << 8) | static_cast<unsigned char>(jpeg[at + 3]);
  return jpeg.substr(at, 2 + length);
}

void withExiv2(const fs::path& path, const std::function<void(Exiv2::Image&)>& change) {
  Exiv2::XmpParser::initialize();
  auto image = Exiv2::ImageFactory::open(path.string());
  image->readMetadata();
  change(*image);
  image->writeMetadata();
}

// What exiftool reads in the file, one "[Group] Tag: value" a line, without its own lines about
// the file system.
std::string exiftoolSays(const fs::path& path) {
  const std::string command = "exiftool -a -u -G1 -s '" + path.string() + "' 2>&1";
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
      if (!std::string_view(line).starts_with("[System]")) text += line;
    }
    ::pclose(pipe);
  }
  return text;
}

bool hasExiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

// A line of exiftool's that tells a location or a serial.
const std::regex kRevealing(
    "^\\[[^\\]]*\\] *\\S*(GPS|Latitude|Longitude|Altitude|Serial|Owner|"
    "City|Location|Country)\\S*:",
    std::regex::icase | std::regex::multiline);

class PreparedPrivacyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!hasExiftool()) GTEST_SKIP() << "exiftool is not installed (scripts/bootstrap installs it)";
  }

  fs::path file(const std::string& name) const { return home_.path() / name; }

  // A camera JPEG stored upright (so that Original may keep its picture), with a copyright.
  fs::path camera(const std::string& name, int width = 1600, int height = 1200) {
    const fs::path path = file(name);
    testing::writeCameraPhoto(path, {.width = width, .height = height, .orientation = 1});
    return path;
  }

  // Prepares `photo` for each choice and size, and holds each prepared file against what was
  // planted and what exiftool reads; the summary line must say what the file holds.
  void expectCleaned(const fs::path& photo, const std::vector<PhotoSize>& sizes,
                     bool keepsDateAndCopyright) {
    for (MetadataChoice choice : {MetadataChoice::kRemoveLocation, MetadataChoice::kRemoveAll}) {
      for (PhotoSize size : sizes) {
        SCOPED_TRACE(photo.filename().string() + " " + std::string(photoSizeName(size)) + " " +
                     std::string(metadataChoiceName(choice)));
        const fs::path out = file("out-" + std::to_string(++runs_));
        fs::create_directories(out);
        PreparationOptions options;
        options.size = size;
        options.metadata = choice;
        const PreparationResult result = preparePhotos({photo.string()}, out, options);
        ASSERT_TRUE(result.leftOut().empty()) << result.photos[0].problem;
        const fs::path prepared = result.photos[0].path;
        const std::string bytes = readFile(prepared);
        for (const char* planted : kPlanted) {
          EXPECT_EQ(bytes.find(planted), std::string::npos) << planted;
        }
        const std::string said = exiftoolSays(prepared);
        std::smatch revealing;
        EXPECT_FALSE(std::regex_search(said, revealing, kRevealing)) << revealing.str() << said;
        EXPECT_EQ(said.find("Trailer"), std::string::npos) << said;
        const std::string summary = describePreparation(result, options, Rendering::english());
        if (choice == MetadataChoice::kRemoveAll) {
          EXPECT_NE(summary.find("metadata removed"), std::string::npos) << summary;
          EXPECT_EQ(said.find("DateTimeOriginal"), std::string::npos) << said;
        } else {
          EXPECT_NE(summary.find("location removed"), std::string::npos) << summary;
          if (keepsDateAndCopyright) {
            EXPECT_NE(said.find("DateTimeOriginal"), std::string::npos) << said;
            EXPECT_NE(said.find("Copyright"), std::string::npos) << said;
          }
        }
      }
    }
  }

  TemporaryHome home_;
  int runs_ = 0;
};

// Each as a device writes it; Original keeps the picture in a rebuilt container, 1024 encodes it
// anew.
TEST_F(PreparedPrivacyTest, JpegLayoutsOfPhonesDronesAndEditors) {
  const std::string second = readFile(camera("second.jpg", 320, 240));
  struct Layout {
    std::string name;
    std::function<std::string(const std::string&)> make;
  } layouts[] = {
      {"drone-xmp.jpg",
       [&](const std::string& jpeg) {
         return withSegments(
             jpeg, segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) + kDroneXmp));
       }},
      {"extended-xmp.jpg",
       [&](const std::string& jpeg) {
         const std::string id("http://ns.adobe.com/xmp/extension/\0", 35);
         const std::string guid(32, 'A');
         return withSegments(jpeg, segment(0xE1, id + guid + bigEndian(kDroneXmp.size(), 4) +
                                                     bigEndian(0, 4) + kDroneXmp));
       }},
      {"second-exif.jpg",
       [&](const std::string& jpeg) { return withSegments(jpeg, exifSegmentOf(second)); }},
      {"multi-picture.jpg",
       [&](const std::string& jpeg) {
         // The index of a phone's multi-picture file, and its second picture after the first.
         return withSegments(jpeg, segment(0xE2, std::string("MPF\0MM\0*\0\0\0\x08", 12))) + second;
       }},
      {"motion-photo.jpg",
       [&](const std::string& jpeg) {
         // A motion photo's video after the picture, with the place it was filmed.
         return jpeg +
                std::string(
                    "\0\0\0\x18"
                    "ftypmp42\0\0\0\0mp42isom",
                    24) +
                std::string("\0\0\0\x1E\xA9xyz\0\x12\x15\xC7", 12) + "+48.8583+002.2945/" +
                testing::kCameraSerial;
       }},
      {"iptc-city.jpg", [](const std::string& jpeg) { return jpeg; }},
      {"thumbnail.jpg", [](const std::string& jpeg) { return jpeg; }},
  };
  for (const Layout& layout : layouts) {
    const fs::path path = camera(layout.name);
    writeFile(path, layout.make(readFile(path)));
    if (layout.name == "iptc-city.jpg") {
      withExiv2(path, [](Exiv2::Image& image) {
        image.iptcData()["Iptc.Application2.City"] = "Montmartre";
        image.iptcData()["Iptc.Application2.Copyright"] = "Ada";
      });
    } else if (layout.name == "thumbnail.jpg") {
      // The EXIF preview: the picture before an editor cropped it, with the camera's own EXIF.
      const fs::path small = camera("preview.jpg", 160, 120);
      withExiv2(path, [&](Exiv2::Image& image) {
        Exiv2::ExifThumb(image.exifData()).setJpegThumbnail(small.string());
      });
    }
    expectCleaned(path, {PhotoSize::kOriginal, PhotoSize::kLongEdge1024},
                  /*keepsDateAndCopyright=*/true);
  }
}

// GIF keeps only its frames and loop count: no comment, plain text, XMP or bytes after its end.
TEST_F(PreparedPrivacyTest, GifBlocksOfEditors) {
  startImageLibraries();
  VipsImage* out = nullptr;
  ASSERT_EQ(vips_gaussnoise(&out, 1100, 3 * 200, "sigma", 40.0, "mean", 128.0, nullptr), 0);
  VipsImagePtr noise(out);
  ASSERT_EQ(vips_cast_uchar(noise.get(), &out, nullptr), 0);
  VipsImagePtr frames(out);
  ASSERT_EQ(vips_copy(frames.get(), &out, nullptr), 0);
  VipsImagePtr animation(out);
  vips_image_set_int(animation.get(), "page-height", 200);
  const fs::path plain = file("plain.gif");
  ASSERT_EQ(vips_image_write_to_file(animation.get(), plain.c_str(), nullptr), 0);

  std::string gif = readFile(plain);
  ASSERT_EQ(gif.back(), ';');
  gif.pop_back();
  auto subBlocks = [](const std::string& data) {
    std::string blocks;
    for (std::size_t at = 0; at < data.size(); at += 255) {
      const std::string part = data.substr(at, 255);
      blocks += static_cast<char>(part.size()) + part;
    }
    return blocks + '\0';
  };
  std::string magic("\x01", 1);
  for (int i = 255; i >= 0; --i) magic += static_cast<char>(i);
  magic += '\0';
  gif += "\x21\xFE" + subBlocks("shot at Montmartre by Ada Lovelace");
  gif += std::string("\x21\x01\x0C", 3) + std::string(12, '\0') + subBlocks("+48.85837");
  gif += std::string("\x21\xFF\x0B", 3) + "XMP DataXMP" + kDroneXmp + magic;
  gif += ";" + std::string(testing::kCameraSerial);
  const fs::path planted = file("editor.gif");
  writeFile(planted, gif);
  ASSERT_NE(exiftoolSays(planted).find("DJI-SN-0X7731"), std::string::npos);  // readable there
  expectCleaned(planted, {PhotoSize::kOriginal, PhotoSize::kLongEdge1024},
                /*keepsDateAndCopyright=*/false);
}

// PNG, TIFF and HEIC are made JPEG; what they carry in their own containers stays behind.
TEST_F(PreparedPrivacyTest, PngChunksTiffTagsAndHeicItems) {
  const std::string exif = exifSegmentOf(readFile(camera("exif-source.jpg", 64, 64)));
  const std::string tiffExif = exif.substr(4 + 6);  // after the marker, length and "Exif\0\0"
  auto plant = [&](Exiv2::Image& image) {
    Exiv2::ExifParser::decode(image.exifData(),
                              reinterpret_cast<const Exiv2::byte*>(tiffExif.data()),
                              static_cast<std::uint32_t>(tiffExif.size()));
    image.exifData()["Exif.Image.Orientation"] = std::uint16_t{1};
    Exiv2::XmpParser::decode(image.xmpData(), kDroneXmp);
    image.setXmpPacket(kDroneXmp);
  };

  const fs::path png = file("screen.png");
  testing::writePng(png, 1200, 900);
  withExiv2(png, plant);
  // A tEXt chunk of an editor's own, before the end.
  std::string bytes = readFile(png);
  const std::string text("Location\0Montmartre", 18);
  std::string chunk = "tEXt" + text;
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : chunk) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  bytes.insert(bytes.size() - 12, bigEndian(18, 4) + chunk + bigEndian(~crc, 4));
  writeFile(png, bytes);
  expectCleaned(png, {PhotoSize::kOriginal, PhotoSize::kLongEdge1024}, true);

  const fs::path tiff = file("scan.tif");
  testing::writePng(file("scan.png"), 1200, 900);
  {
    VipsImage* in = vips_image_new_from_file(file("scan.png").c_str(), nullptr);
    ASSERT_NE(in, nullptr);
    VipsImagePtr picture(in);
    ASSERT_EQ(vips_image_write_to_file(picture.get(), tiff.c_str(), nullptr), 0);
  }
  withExiv2(tiff, plant);
  expectCleaned(tiff, {PhotoSize::kOriginal}, true);

  std::string whyNot;
  const fs::path heicPlain = file("plain.heic");
  if (!testing::writeHeic(heicPlain, 1200, 900, whyNot)) {
    GTEST_SKIP() << whyNot;
  }
  // A phone's HEIC: its EXIF and XMP items written by the encoder from the picture's metadata.
  VipsImage* in = vips_image_new_from_file(heicPlain.c_str(), nullptr);
  ASSERT_NE(in, nullptr);
  VipsImagePtr picture(in);
  VipsImage* copy = nullptr;
  ASSERT_EQ(vips_copy(picture.get(), &copy, nullptr), 0);
  VipsImagePtr tagged(copy);
  const std::string exifBlob = exif.substr(4);
  vips_image_set_blob_copy(tagged.get(), VIPS_META_EXIF_NAME, exifBlob.data(), exifBlob.size());
  vips_image_set_blob_copy(tagged.get(), VIPS_META_XMP_NAME, kDroneXmp.data(), kDroneXmp.size());
  const fs::path heic = file("phone.heic");
  ASSERT_EQ(vips_image_write_to_file(tagged.get(), (heic.string() + "[compression=hevc]").c_str(),
                                     nullptr),
            0);
  ASSERT_NE(exiftoolSays(heic).find("GPSLatitude"), std::string::npos);
  expectCleaned(heic, {PhotoSize::kOriginal}, true);
}

}  // namespace
}  // namespace marigold::imaging
