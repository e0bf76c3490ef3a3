// Photo preparation with the files people have: made here with libvips and exiv2 (no sample
// files), prepared into a temporary folder and read back as a viewer would.
#include "imaging/photo_preparation.h"

#include <gtest/gtest.h>
#include <vips/vips.h>

#include <atomic>
#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "imaging/vips_image.h"
#include "testing/camera_photo.h"
#include "testing/temporary_home.h"

namespace marigold::imaging {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

VipsImagePtr made(VipsImage* image, int status) {
  if (status != 0 || image == nullptr) {
    vips_error_clear();
    throw std::runtime_error("test picture");
  }
  return VipsImagePtr(image);
}

// A noisy picture, `bands` bands of 8 bits (or 16 when `sixteen`).
VipsImagePtr noise(int width, int height, int bands, bool sixteen) {
  startImageLibraries();
  VipsImage* out = nullptr;
  VipsImagePtr grey =
      made(out, vips_gaussnoise(&out, width, height, "sigma", 40.0, "mean", 128.0, nullptr));
  std::vector<VipsImage*> copies(static_cast<std::size_t>(bands), grey.get());
  VipsImagePtr joined = made(out, vips_bandjoin(copies.data(), &out, bands, nullptr));
  if (sixteen) {
    VipsImagePtr scaled = made(out, vips_linear1(joined.get(), &out, 256.0, 0.0, nullptr));
    return made(out, vips_cast_ushort(scaled.get(), &out, nullptr));
  }
  return made(out, vips_cast_uchar(joined.get(), &out, nullptr));
}

void save(VipsImage* image, const fs::path& path, const std::string& options = "") {
  if (vips_image_write_to_file(image, (path.string() + options).c_str(), nullptr) != 0) {
    vips_error_clear();
    throw std::runtime_error("cannot write " + path.string());
  }
}

// What a viewer sees of a prepared file.
struct Seen {
  std::string loader;
  int width = 0, height = 0, pages = 1, bands = 0;
  bool eightBit = false, sRGB = false;
};

Seen look(const fs::path& path) {
  VipsImage* out = vips_image_new_from_file(path.c_str(), nullptr);
  VipsImagePtr image = made(out, out ? 0 : -1);
  Seen seen;
  const char* loader = "";
  vips_image_get_string(image.get(), "vips-loader", &loader);
  seen.loader = loader;
  seen.width = vips_image_get_width(image.get());
  seen.height = vips_image_get_page_height(image.get());
  seen.pages = vips_image_get_n_pages(image.get());
  seen.bands = vips_image_get_bands(image.get());
  seen.eightBit = vips_image_get_format(image.get()) == VIPS_FORMAT_UCHAR;
  const VipsInterpretation kind = vips_image_get_interpretation(image.get());
  seen.sRGB = kind == VIPS_INTERPRETATION_sRGB || kind == VIPS_INTERPRETATION_B_W;
  return seen;
}

std::uint32_t crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void putBigEndian(std::string& bytes, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    bytes[at + static_cast<std::size_t>(i)] =
        static_cast<char>((value >> (8 * (size - 1 - i))) & 0xFF);
  }
}

// A file whose header declares `width` x `height` while its data is that of a small picture.
void declareSize(const fs::path& path, int width, int height) {
  std::string bytes = readFile(path);
  if (bytes.starts_with("\x89PNG")) {
    putBigEndian(bytes, 16, static_cast<std::uint32_t>(width), 4);
    putBigEndian(bytes, 20, static_cast<std::uint32_t>(height), 4);
    putBigEndian(bytes, 29, crc32(bytes.substr(12, 17)), 4);  // IHDR's type and data
  } else {
    const std::size_t sof = bytes.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    putBigEndian(bytes, sof + 5, static_cast<std::uint32_t>(height), 2);
    putBigEndian(bytes, sof + 7, static_cast<std::uint32_t>(width), 2);
  }
  writeFile(path, bytes);
}

PreparationOptions choices(PhotoSize size,
                           MetadataChoice metadata = MetadataChoice::kRemoveLocation,
                           std::uint64_t limit = kDefaultByteLimit) {
  PreparationOptions options;
  options.size = size;
  options.metadata = metadata;
  options.byteLimit = limit;
  return options;
}

class PhotoPreparationTest : public ::testing::Test {
 protected:
  fs::path file(const std::string& name) const { return home_.path() / name; }

  // Prepares `photos` into a new folder.
  PreparationResult prepare(const std::vector<fs::path>& photos, PreparationOptions options = {}) {
    const fs::path out = home_.path() / ("out-" + std::to_string(++runs_));
    fs::create_directories(out);
    std::vector<std::string> sources;
    for (const auto& p : photos) sources.push_back(p.string());
    return preparePhotos(sources, out, options);
  }

  PreparationResult prepareWith(PreparationCache& cache, const std::vector<fs::path>& photos,
                                PreparationOptions options) {
    const fs::path out = home_.path() / ("out-" + std::to_string(++runs_));
    fs::create_directories(out);
    std::vector<std::string> sources;
    for (const auto& p : photos) sources.push_back(p.string());
    return preparePhotos(sources, out, options, {}, &cache);
  }

  fs::path cameraPhoto(const std::string& name, testing::CameraPhoto photo = {}) {
    const fs::path path = file(name);
    testing::writeCameraPhoto(path, photo);
    return path;
  }

  TemporaryHome home_;
  std::atomic<int> runs_{0};
};

TEST_F(PhotoPreparationTest, PicturesTooLargeOrNotFilledAreRefusedInEveryMode) {
  const fs::path bigPng = file("declares-50000.png");
  VipsImagePtr small = noise(64, 64, 3, false);
  save(small.get(), bigPng);
  declareSize(bigPng, 50000, 50000);
  const fs::path bigJpeg = cameraPhoto("declares-65000.jpg", {.width = 1200, .height = 800});
  declareSize(bigJpeg, 65000, 65000);
  const fs::path lying = cameraPhoto("declares-8000.jpg", {.width = 1200, .height = 800});
  declareSize(lying, 8000, 8000);
  const fs::path cut = file("cut.png");
  save(noise(800, 600, 3, false).get(), cut);
  writeFile(cut, readFile(cut).substr(0, 20000));

  struct Case {
    fs::path photo;
    std::string reason;
  } cases[] = {
      {bigPng, "50000x50000 pixels (2500 megapixels); photos of up to 200 megapixels"},
      {bigJpeg, "65000x65000 pixels (4225 megapixels)"},
      {lying, "cannot be decoded: the file ends before the picture does"},
      {cut, "cannot be decoded: the file ends before the picture does"},
  };
  for (const Case& c : cases) {
    for (PhotoSize size : kPhotoSizes) {
      for (MetadataChoice metadata : {MetadataChoice::kKeepAll, MetadataChoice::kRemoveLocation}) {
        SCOPED_TRACE(c.photo.filename().string() + " " + std::string(photoSizeName(size)) + " " +
                     std::string(metadataChoiceName(metadata)));
        const PreparationResult result = prepare({c.photo}, choices(size, metadata));
        ASSERT_EQ(result.photos.size(), 1u);
        EXPECT_NE(result.photos[0].problem.find(c.reason), std::string::npos)
            << result.photos[0].problem;
        EXPECT_TRUE(result.preparedPaths().empty());
      }
    }
  }
}

TEST_F(PhotoPreparationTest, EveryPhotoBecomesEightBitSRGBJpegAloneOrInASetButAnimationsStayGif) {
  const fs::path cmyk = file("cmyk.jpg");
  {
    VipsImagePtr four = noise(900, 600, 4, false);
    VipsImage* out = nullptr;
    VipsImagePtr tagged =
        made(out, vips_copy(four.get(), &out, "interpretation", VIPS_INTERPRETATION_CMYK, nullptr));
    save(tagged.get(), cmyk);
  }
  const fs::path rgba16 = file("rgba16.png");
  {
    VipsImagePtr colours = noise(900, 600, 3, true);
    VipsImage* out = nullptr;
    // Transparent on the left half, opaque on the right.
    VipsImagePtr xy = made(out, vips_xyz(&out, 900, 600, nullptr));
    VipsImagePtr x = made(out, vips_extract_band(xy.get(), &out, 0, nullptr));
    VipsImagePtr right = made(out, vips_moreeq_const1(x.get(), &out, 450.0, nullptr));
    VipsImagePtr alpha = made(out, vips_linear1(right.get(), &out, 257.0, 0.0, nullptr));
    VipsImagePtr alpha16 = made(out, vips_cast_ushort(alpha.get(), &out, nullptr));
    VipsImage* both[] = {colours.get(), alpha16.get()};
    VipsImagePtr joined = made(out, vips_bandjoin(both, &out, 2, nullptr));
    VipsImagePtr tagged = made(
        out, vips_copy(joined.get(), &out, "interpretation", VIPS_INTERPRETATION_RGB16, nullptr));
    save(tagged.get(), rgba16);
  }
  const fs::path tiff8 = file("scan8.tif"), tiff16 = file("scan16.tif");
  save(noise(900, 600, 3, false).get(), tiff8);
  {
    VipsImagePtr sixteen = noise(900, 600, 3, true);
    VipsImage* out = nullptr;
    VipsImagePtr tagged = made(
        out, vips_copy(sixteen.get(), &out, "interpretation", VIPS_INTERPRETATION_RGB16, nullptr));
    save(tagged.get(), tiff16);
  }
  const fs::path gif = file("moving.gif");
  {
    VipsImagePtr frames = noise(1600, 3 * 1200, 3, false);
    VipsImage* out = nullptr;
    VipsImagePtr copy = made(out, vips_copy(frames.get(), &out, nullptr));
    vips_image_set_int(copy.get(), "page-height", 1200);
    save(copy.get(), gif);
  }
  const fs::path camera = cameraPhoto("camera.jpg", {.width = 1500, .height = 1000});

  struct Case {
    fs::path photo;
    std::string loader;
    int pages;
  } cases[] = {
      {cmyk, "jpegload", 1},   {rgba16, "jpegload", 1}, {tiff8, "jpegload", 1},
      {tiff16, "jpegload", 1}, {gif, "gifload", 3},
  };
  for (PhotoSize size : {PhotoSize::kLongEdge1024, PhotoSize::kOriginal, PhotoSize::kFit}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.photo.filename().string() + " " + std::string(photoSizeName(size)));
      const PreparationOptions options = choices(size, MetadataChoice::kKeepAll);
      const PreparationResult alone = prepare({c.photo}, options);
      const PreparationResult inSet = prepare({camera, c.photo}, options);
      ASSERT_TRUE(alone.leftOut().empty()) << alone.photos[0].problem;
      ASSERT_TRUE(inSet.leftOut().empty());
      const fs::path prepared = alone.photos[0].path;
      const Seen seen = look(prepared);
      EXPECT_EQ(seen.loader.substr(0, seen.loader.find('_')), c.loader);
      EXPECT_TRUE(seen.eightBit);
      EXPECT_TRUE(seen.sRGB);
      EXPECT_EQ(seen.pages, c.pages);
      if (c.loader == "jpegload") {
        EXPECT_EQ(seen.bands, 3);
      }
      if (size == PhotoSize::kLongEdge1024) {
        EXPECT_EQ(
            std::max(seen.width, seen.height),
            std::min(1024, std::max(alone.photos[0].sourceWidth, alone.photos[0].sourceHeight)));
      }
      if (size != PhotoSize::kFit) {
        // What a photo becomes does not depend on what else is selected.
        EXPECT_EQ(readFile(prepared), readFile(inSet.photos[1].path));
      }
    }
  }
  // The transparent half is white, the opaque half keeps its noise.
  const PreparationResult flat = prepare({rgba16}, choices(PhotoSize::kOriginal));
  const testing::Rgb left = testing::pixelAt(flat.photos[0].path, 100, 300);
  EXPECT_GT(std::min({left.r, left.g, left.b}), 245);
}

// A camera JPEG whose EXIF block has an entry pointing outside it.
fs::path withDamagedExif(const fs::path& photo) {
  std::string bytes = readFile(photo);
  const std::size_t tiff = bytes.find("Exif\0\0", 0, 6) + 6;
  const bool little = bytes[tiff] == 'I';
  auto read = [&](std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
      value |=
          little ? std::uint32_t(byte) << (8 * i) : std::uint32_t(byte) << (8 * (size - 1 - i));
    }
    return value;
  };
  const std::size_t ifd = tiff + read(tiff + 4, 4);
  const std::uint32_t entries = read(ifd, 2);
  for (std::uint32_t e = 0; e < entries; ++e) {
    const std::size_t entry = ifd + 2 + 12 * e;
    if (read(entry, 2) == 0x010F) {  // Make, an ASCII text stored elsewhere
      for (int i = 0; i < 4; ++i) bytes[entry + 8 + static_cast<std::size_t>(i)] = '\x7F';
    }
  }
  const fs::path damaged = photo.parent_path() / ("damaged-" + photo.filename().string());
  writeFile(damaged, bytes);
  return damaged;
}

TEST_F(PhotoPreparationTest, EachMetadataChoiceKeepsWhatItSaysAndDamagedMetadataNeverRefuses) {
  const fs::path camera = cameraPhoto("camera.jpg", {.width = 1500, .height = 1000});
  const fs::path damaged = withDamagedExif(camera);
  const fs::path commented = file("commented.png");
  save(noise(600, 400, 3, false).get(), commented);
  {
    Exiv2::XmpParser::initialize();
    auto image = Exiv2::ImageFactory::open(commented.string());
    image->readMetadata();
    image->setComment(std::string(70000, 'c'));
    image->exifData()["Exif.Image.Copyright"] = "Ada";
    image->writeMetadata();
  }

  auto keys = [](const fs::path& path) {
    auto image = Exiv2::ImageFactory::open(path.string());
    image->readMetadata();
    std::map<std::string, std::string> found;
    for (const auto& datum : image->exifData()) found[datum.key()] = datum.toString();
    found["comment"] = std::to_string(image->comment().size());
    return found;
  };
  struct Case {
    MetadataChoice choice;
    bool date, gps, serial;
    std::string summary;
  } cases[] = {
      {MetadataChoice::kRemoveLocation, true, false, false, "location removed"},
      {MetadataChoice::kKeepLocation, true, true, false, "location kept"},
      {MetadataChoice::kKeepAll, true, true, true, "metadata kept"},
      {MetadataChoice::kRemoveAll, false, false, false, "metadata removed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(metadataChoiceName(c.choice)));
    const PreparationOptions options = choices(PhotoSize::kLongEdge1024, c.choice);
    const PreparationResult result = prepare({camera}, options);
    ASSERT_TRUE(result.leftOut().empty());
    auto found = keys(result.photos[0].path);
    EXPECT_EQ(found.count("Exif.Photo.DateTimeOriginal"), c.date ? 1u : 0u);
    EXPECT_EQ(found.count("Exif.GPSInfo.GPSLatitude"), c.gps ? 1u : 0u);
    EXPECT_EQ(found.count("Exif.Photo.BodySerialNumber"), c.serial ? 1u : 0u);
    EXPECT_EQ(found["Exif.Image.Orientation"], c.date ? "1" : "");
    EXPECT_NE(describePreparation(result, options, Rendering::english()).find(c.summary),
              std::string::npos);

    // The damaged ones are posted all the same; what could not be kept is named.
    const PreparationResult rough = prepare({damaged, commented}, options);
    ASSERT_TRUE(rough.leftOut().empty()) << rough.photos[0].problem << rough.photos[1].problem;
    const std::string line = describePreparation(rough, options, Rendering::english());
    const auto comment = keys(rough.photos[1].path);
    EXPECT_EQ(comment.at("comment"), "0");
    if (c.choice == MetadataChoice::kRemoveAll) continue;
    EXPECT_EQ(comment.count("Exif.Image.Copyright"), 1u);
    // A comment is free text, not on the list of what is known to be safe: only "keep" keeps it.
    if (c.choice != MetadataChoice::kKeepAll) continue;
    EXPECT_NE(line.find("the comment (over 64 KiB) of commented.png"), std::string::npos) << line;
    EXPECT_EQ(line.find(c.summary + ":"), std::string::npos) << line;
  }
}

TEST_F(PhotoPreparationTest, FitFillsTheLimitForEveryTypeAndGivesTheSameBytesEveryRun) {
  constexpr std::uint64_t kLimit = 1024 * 1024;
  std::vector<fs::path> cameras;
  for (int i = 0; i < 3; ++i) {
    cameras.push_back(cameraPhoto("IMG_" + std::to_string(i) + ".jpg",
                                  {.width = 3000, .height = 2000, .quality = 90 + i}));
  }
  const fs::path tiff8 = file("scan8.tif"), tiff16 = file("scan16.tif");
  save(noise(3000, 2000, 3, false).get(), tiff8);
  save(noise(3000, 2000, 3, true).get(), tiff16);
  const fs::path png16 = file("screen16.png");
  save(noise(2400, 1600, 4, true).get(), png16);
  const fs::path tiny = cameraPhoto("tiny.jpg", {.width = 300, .height = 200});
  const fs::path tiny2 = cameraPhoto("tiny2.jpg", {.width = 320, .height = 240});

  const std::vector<std::vector<fs::path>> selections = {
      {cameras[0]},
      cameras,
      {tiff8},
      {tiff16},
      {png16},
      {tiff8, tiff16, cameras[1]},
      {tiny, cameras[2], tiny2},  // one large photo among small ones
      {tiny, tiny2},              // all fit whole
  };
  for (const auto& selection : selections) {
    std::string names;
    for (const auto& p : selection) names += p.filename().string() + " ";
    SCOPED_TRACE(names);
    const PreparationOptions options =
        choices(PhotoSize::kFit, MetadataChoice::kRemoveLocation, kLimit);
    const PreparationResult first = prepare(selection, options);
    ASSERT_TRUE(first.leftOut().empty());
    bool allWhole = true;
    for (const auto& photo : first.photos) allWhole = allWhole && !photo.scaled;
    EXPECT_LE(first.totalBytes(), kLimit);
    if (!allWhole) {
      EXPECT_GE(first.totalBytes(), kLimit * 9 / 10);
    }
    // Each photo encoded whole once: the edge predicted from a few bands of it lands in its share.
    EXPECT_EQ(first.encodes, selection.size());
    const PreparationResult second = prepare(selection, options);
    for (std::size_t i = 0; i < selection.size(); ++i) {
      EXPECT_EQ(readFile(first.photos[i].path), readFile(second.photos[i].path));
    }
  }
}

// A selection prepared again with a photo removed, added or changed, with what the last
// preparations left in a cache: only a new or changed file is decoded. A fixed size gives the
// same bytes as a preparation from nothing; Fit encodes the others again for their new share
// from the pictures it holds, and the whole still fills the limit without passing it. A cache
// whose bound holds no picture decodes again rather than grow.
TEST_F(PhotoPreparationTest, ACachedSelectionDecodesOnlyWhatIsNewOrChanged) {
  constexpr std::uint64_t kLimit = 1024 * 1024;
  std::vector<fs::path> photos;
  for (int i = 0; i < 4; ++i) {
    photos.push_back(cameraPhoto("IMG_" + std::to_string(i) + ".jpg",
                                 {.width = 2000, .height = 1500, .quality = 90 + i}));
  }
  const std::vector<fs::path> three(photos.begin(), photos.begin() + 3);
  struct Case {
    PhotoSize size;
    std::uint64_t heldBytes;
    std::size_t decodesAfterRemoval;
  };
  const Case cases[] = {
      {PhotoSize::kLongEdge1280, PreparationCache::kDefaultHeldBytes, 0},
      {PhotoSize::kFit, PreparationCache::kDefaultHeldBytes, 0},
      {PhotoSize::kFit, 1, 3},  // nothing held: each decoded again
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(photoSizeName(c.size)) + " holding " + std::to_string(c.heldBytes));
    const PreparationOptions options = choices(c.size, MetadataChoice::kRemoveLocation, kLimit);
    PreparationCache cache(home_.path() / ("kept-" + std::to_string(++runs_)), c.heldBytes);
    const PreparationResult all = prepareWith(cache, photos, options);
    ASSERT_TRUE(all.leftOut().empty());
    EXPECT_GE(all.decodes, photos.size());
    EXPECT_LE(cache.heldPixelBytes(), c.heldBytes);

    const PreparationResult removed = prepareWith(cache, three, options);
    ASSERT_TRUE(removed.leftOut().empty());
    EXPECT_EQ(removed.decodes, c.decodesAfterRemoval);
    const PreparationResult fresh = prepare(three, options);
    if (c.size == PhotoSize::kFit) {
      EXPECT_LE(removed.totalBytes(), kLimit);
      EXPECT_GE(removed.totalBytes(), kLimit * 9 / 10);
      EXPECT_GT(removed.photos[0].bytes, all.photos[0].bytes);  // a larger share each
    } else {
      for (std::size_t i = 0; i < three.size(); ++i) {
        EXPECT_EQ(readFile(removed.photos[i].path), readFile(fresh.photos[i].path));
      }
    }
    if (c.heldBytes == 1) continue;

    EXPECT_EQ(prepareWith(cache, photos, options).decodes, 0u);             // as it was at first
    testing::writeCameraPhoto(photos[1], {.width = 1600, .height = 1200});  // the file changed
    const PreparationResult changed = prepareWith(cache, photos, options);
    EXPECT_EQ(changed.decodes, 1u);
    EXPECT_EQ(changed.photos[1].sourceWidth, 1200);  // upright
    const fs::path added = cameraPhoto("IMG_new.jpg", {.width = 2000, .height = 1500});
    std::vector<fs::path> more = photos;
    more.push_back(added);
    EXPECT_EQ(prepareWith(cache, more, options).decodes, 1u);
    testing::writeCameraPhoto(photos[1], {.width = 2000, .height = 1500, .quality = 91});
  }
}

TEST_F(PhotoPreparationTest, TwoDamagedPhotosPreparedAtOnceEachGetTheirOwnReason) {
  const fs::path cut = file("cut.png");
  save(noise(800, 600, 3, false).get(), cut);
  writeFile(cut, readFile(cut).substr(0, 20000));
  const fs::path text = file("notes.jpg");
  writeFile(text, "these are notes, not a picture\n");
  for (int round = 0; round < 10; ++round) {
    std::string cutReason, textReason;
    std::thread other(
        [&] { textReason = prepare({text}, choices(PhotoSize::kLongEdge1024)).photos[0].problem; });
    cutReason = prepare({cut}, choices(PhotoSize::kLongEdge1024)).photos[0].problem;
    other.join();
    EXPECT_EQ(cutReason, "cannot be decoded: the file ends before the picture does");
    EXPECT_EQ(textReason, "not a JPEG, PNG, GIF, TIFF or HEIC image");
  }
}

}  // namespace
}  // namespace marigold::imaging

namespace marigold::imaging {
namespace {

// A GIF of `frames` one-pixel frames on a screen of `width` x 10, looping: each frame a few bytes.
std::string manyFrameGif(int width, int frames) {
  std::string gif = "GIF89a";
  gif += static_cast<char>(width & 0xFF);
  gif += static_cast<char>(width >> 8);
  gif += std::string("\x0A\x00\x80\x00\x00", 5);  // height 10, a global table of two colours
  gif += std::string("\x00\x00\x00\xFF\xFF\xFF", 6);
  gif += std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
  for (int i = 0; i < frames; ++i) {
    gif += std::string("\x21\xF9\x04\x00\x01\x00\x00\x00", 8);  // 10 ms
    gif += std::string("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);
    gif += std::string("\x02\x02\x44\x01\x00", 5);  // one pixel of colour 0
  }
  return gif + ";";
}

// The longest name a file system allows (255 bytes) is the user's; the prepared copy takes a short
// name of its own.
TEST_F(PhotoPreparationTest, AnyFileNameTheFileSystemAllowsCanBePrepared) {
  const fs::path longest =
      cameraPhoto(std::string(251, 'p') + ".jpg", {.width = 300, .height = 200});
  const PreparationResult result = prepare({longest}, choices(PhotoSize::kLongEdge1024));
  ASSERT_TRUE(result.leftOut().empty()) << result.photos[0].problem;
  EXPECT_EQ(result.photos[0].path.filename(), "01.jpg");
  EXPECT_EQ(result.photos[0].source, longest.string());
}

TEST_F(PhotoPreparationTest, AnAnimationKeepsEveryFrameOrIsRefusedWithItsCount) {
  const fs::path many = file("many.gif");
  writeFile(many, manyFrameGif(1100, 5000));
  // Small enough to go as it is: every frame stays, even beyond what can be decoded.
  const PreparationResult whole = prepare({many}, choices(PhotoSize::kOriginal));
  ASSERT_TRUE(whole.leftOut().empty()) << whole.photos[0].problem;
  const std::string kept = readFile(whole.photos[0].path);
  const std::string frame("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02", 11);
  std::size_t frames = 0;
  for (std::size_t at = kept.find(frame); at != std::string::npos; at = kept.find(frame, at + 1)) {
    ++frames;
  }
  EXPECT_EQ(frames, 5000u);
  // To be scaled: refused with its count and the limit, never posted with frames missing.
  const PreparationResult scaled = prepare({many}, choices(PhotoSize::kLongEdge1024));
  ASSERT_EQ(scaled.leftOut().size(), 1u);
  EXPECT_EQ(scaled.photos[0].problem,
            "has 5000 frames; animations of up to 4097 frames can be scaled or converted");
}

}  // namespace
}  // namespace marigold::imaging
