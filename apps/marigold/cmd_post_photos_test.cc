// marigold post with photos as cameras and phones make them: the host's export step prepares each
// one before the plug-in reads it. What the simulator stored is checked as a viewer would see
// it (size, which way up, metadata read back with exiv2), the originals are checked unchanged,
// and the scratch folder is checked gone however the command ended.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "testing/camera_photo.h"
#include "testing/program_fixture.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;
using testing::CameraPhoto;

constexpr std::uint64_t kLimit = 5242880;

std::string sha256Of(const fs::path& path) {
  const std::string bytes = readText(path);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<const char*>(digest), length);
}

struct Dimensions {
  int width = 0, height = 0;
};

Dimensions dimensionsOf(const fs::path& path) {
  auto image = Exiv2::ImageFactory::open(path.string());
  image->readMetadata();
  return {image->pixelWidth(), image->pixelHeight()};
}

class MarigoldPostPhotosTest : public ProgramFixture {
 protected:
  void SetUp() override {
    startSimulator([this](sim::SimOptions& o) { o.dataDir = home_.path() / "service"; });
    tmp_ = home_.path() / "tmp";
    fs::create_directories(tmp_);
  }

  ProgramRun withTmp(ProgramRun how = {}) {
    how.input = "secret pass\n";
    how.environment["TMPDIR"] = tmp_.string();
    return how;
  }

  // What the simulator stored of post `id`, photo `index`.
  fs::path stored(std::int64_t id, std::size_t index) const {
    return home_.path() / "service" / "posts" / std::to_string(id) /
           ("photo-" + std::to_string(index) + ".bin");
  }

  bool scratchGone() const { return fs::is_empty(tmp_); }

  // Sends `signal` to the command `pid` once a prepared photo is in `place` ($TMPDIR unless
  // given; 10 s at most); answers whether one was.
  bool signalOncePrepared(pid_t pid, int signal, std::optional<fs::path> place = {}) const {
    bool prepared = false;
    for (int i = 0; i < 500 && !prepared; ++i) {
      for (const auto& entry : fs::recursive_directory_iterator(place.value_or(tmp_))) {
        prepared = prepared || entry.path().extension() == ".jpg";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, signal);
    return prepared;
  }

  fs::path tmp_;
};

std::vector<std::string> post(std::vector<std::string> photos) {
  std::vector<std::string> args = {"post", "--user", "ada", "--password-stdin"};
  args.insert(args.end(), photos.begin(), photos.end());
  return args;
}

TEST_F(MarigoldPostPhotosTest, CameraPhotosArePostedUprightSmallAndWithoutLocation) {
  const fs::path camera = home_.path() / "camera.jpg";
  testing::writeCameraPhoto(camera);
  ASSERT_GT(fs::file_size(camera), kLimit);
  std::vector<std::string> ten;
  for (int i = 0; i < 10; ++i) {
    const fs::path copy = home_.path() / ("IMG_" + std::to_string(1000 + i) + ".jpg");
    fs::copy_file(camera, copy);
    ten.push_back(copy.string());
  }
  const fs::path png = home_.path() / "screen.png";
  testing::writePng(png, 1200, 1600);
  const fs::path heic = home_.path() / "phone.heic";
  std::string noHeic;
  const bool haveHeic = testing::writeHeic(heic, 1512, 2016, noHeic);

  struct Case {
    std::string name;
    std::vector<std::string> photos;
    bool fromCamera;  // sideways with orientation 6, GPS, serial, date
    std::string summary;
  };
  std::vector<Case> cases = {
      {"one camera photo", {camera.string()}, true, "1 photo scaled to "},
      {"ten camera photos", ten, true, "10 photos scaled to "},
      // A single photo goes as the plug-in's required type, JPEG.
      {"a PNG", {png.string()}, false, "1 photo at its size, 1 made JPEG"},
  };
  if (haveHeic) {
    cases.push_back({"a HEIC", {heic.string()}, false, "1 photo at its size, 1 made JPEG"});
  } else {
    std::cout << "HEIC case skipped: " << noHeic << "\n";
  }
  std::map<std::string, std::string> hashes;
  for (const auto& c : cases) {
    for (const auto& photo : c.photos) hashes[photo] = sha256Of(photo);
  }

  std::int64_t postId = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramOutcome o = run(post(c.photos), withTmp());
    ASSERT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.err.find(c.summary), std::string::npos) << o.err;
    const auto posts = sim_->state().posts();
    ASSERT_EQ(posts.size(), static_cast<std::size_t>(++postId));
    const sim::StoredPost& stored = posts.back();
    ASSERT_EQ(stored.photos.size(), c.photos.size());
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < c.photos.size(); ++i) {
      const fs::path file = this->stored(stored.id, i);
      total += fs::file_size(file);
      const Dimensions size = dimensionsOf(file);
      // Upright: portrait, and the band at the top of the picture is the red one.
      EXPECT_LT(size.width, size.height) << file;
      const testing::Rgb top = testing::pixelAt(file, size.width / 2, 2);
      EXPECT_GT(top.r, 150) << file;
      EXPECT_LT(top.g, 90) << file;
      const testing::Rgb middle = testing::pixelAt(file, size.width / 2, size.height / 2);
      EXPECT_LT(middle.r - middle.g, 40) << file;
      if (!c.fromCamera) continue;
      auto image = Exiv2::ImageFactory::open(file.string());
      image->readMetadata();
      const Exiv2::ExifData& exif = image->exifData();
      auto value = [&](const char* key) {
        auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? std::string("(absent)") : it->toString();
      };
      EXPECT_EQ(value("Exif.Photo.DateTimeOriginal"), testing::kCameraDate);
      EXPECT_EQ(value("Exif.Image.Orientation"), "1");
      EXPECT_EQ(value("Exif.Photo.BodySerialNumber"), "(absent)");
      EXPECT_EQ(value("Exif.Photo.CameraOwnerName"), "(absent)");
      for (const auto& datum : exif) EXPECT_NE(datum.groupName(), "GPSInfo") << datum.key();
      EXPECT_EQ(readText(file).find(testing::kCameraSerial), std::string::npos);
    }
    EXPECT_LE(total, kLimit);
    if (c.fromCamera) {
      EXPECT_GT(total, kLimit / 2) << "Fit should use the room it has";
    }
    EXPECT_TRUE(scratchGone());
  }
  for (const auto& [photo, hash] : hashes) EXPECT_EQ(sha256Of(photo), hash) << photo;
}

TEST_F(MarigoldPostPhotosTest, UndecodablePhotoIsRefusedBeforeAnythingIsSent) {
  const fs::path good = home_.path() / "good.jpg";
  testing::writeCameraPhoto(good, {.width = 1200, .height = 800});
  // A JPEG cut short half-way: its header is fine, its pixels are not all there.
  const fs::path cut = home_.path() / "cut.jpg";
  const std::string bytes = readText(good);
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  const ProgramOutcome o = run(post({good.string(), cut.string()}), withTmp());
  EXPECT_EQ(o.exitCode, 2) << o.err;
  EXPECT_NE(o.err.find("photo " + cut.string() + ": cannot be decoded"), std::string::npos)
      << o.err;
  EXPECT_EQ(o.err.find("good.jpg"), std::string::npos) << o.err;
  EXPECT_EQ(sim_->state().posts().size(), 0u);
  EXPECT_TRUE(scratchGone());
}

TEST_F(MarigoldPostPhotosTest, ScratchFolderGoesWithSigterm) {
  const fs::path photo = home_.path() / "camera.jpg";
  testing::writeCameraPhoto(photo, {.width = 1200, .height = 800});
  // The upload crawls, so that the command is still running, its photos prepared, when it is
  // told to stop.
  startSimulator([this](sim::SimOptions& o) {
    o.dataDir = home_.path() / "service";
    o.faults.slowPostRate = 2000;
  });
  bool sawPrepared = false;
  ProgramRun how = withTmp();
  how.during = [&](pid_t pid) { sawPrepared = signalOncePrepared(pid, SIGTERM); };
  const ProgramOutcome o = run(post({photo.string()}), how);
  EXPECT_TRUE(sawPrepared);
  EXPECT_EQ(o.signal, SIGTERM) << o.exitCode << o.err;
  EXPECT_TRUE(scratchGone());
}

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Ctrl-C at any point of the demo leaves nothing in the scratch place. A command killed outright
// leaves its scratch folder only until the next command that makes one there ($XDG_RUNTIME_DIR
// when set), which removes it, but never the folder of a process still running.
TEST_F(MarigoldPostPhotosTest, NoScratchFolderOutlivesItsProcessForLong) {
  for (const char* point :
       {"Plinth simulator:", "Signed in.", "Posted as post 1", "Posting 3 photos"}) {
    SCOPED_TRACE(point);
    ProgramRun demo = withTmp();
    demo.interruptAfter = point;
    const ProgramOutcome o = run({"demo"}, demo);
    EXPECT_TRUE(o.signal == SIGINT || o.exitCode == 4 || o.exitCode == 0)
        << o.signal << " " << o.exitCode << o.err;
    EXPECT_EQ(namesIn(tmp_), std::vector<std::string>{});
  }

  const fs::path photo = home_.path() / "camera.jpg";
  testing::writeCameraPhoto(photo, {.width = 1200, .height = 800});
  // Cut short half-way: a quick command that makes its scratch folder, then stops.
  const fs::path cut = home_.path() / "cut.jpg";
  const std::string bytes = readText(photo);
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  startSimulator([this](sim::SimOptions& o) {
    o.dataDir = home_.path() / "service";
    o.faults.slowPostRate = 2000;  // still sending when it is killed
  });
  const fs::path runtime = home_.path() / "runtime";
  fs::create_directories(runtime);
  for (const bool inRuntime : {false, true}) {
    SCOPED_TRACE(inRuntime ? "XDG_RUNTIME_DIR" : "TMPDIR");
    const fs::path place = inRuntime ? runtime : tmp_;
    ProgramRun how = withTmp();
    if (inRuntime) how.environment["XDG_RUNTIME_DIR"] = runtime.string();
    // The scratch folder of a process that still runs, as it holds it.
    fs::create_directory(place / "marigold-Held01");
    const int held = ::open((place / "marigold-Held01").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    bool sawPrepared = false;
    how.during = [&](pid_t pid) { sawPrepared = signalOncePrepared(pid, SIGKILL, place); };
    ProgramOutcome o = run(post({photo.string()}), how);
    EXPECT_TRUE(sawPrepared);
    EXPECT_EQ(o.signal, SIGKILL) << o.exitCode << o.err;
    EXPECT_EQ(namesIn(place).size(), 2u);
    EXPECT_EQ(scratchGone(), inRuntime);

    how.during = nullptr;
    o = run(post({cut.string()}), how);
    EXPECT_EQ(o.exitCode, 2) << o.err;
    EXPECT_EQ(namesIn(place), std::vector<std::string>{"marigold-Held01"});
    ::close(held);
    fs::remove(place / "marigold-Held01");
  }
}

// A command killed outright (SIGKILL: nothing of it runs any more) leaves no copy of the saved
// sign-in in $TMPDIR: its working copy was never written to a disk.
TEST_F(MarigoldPostPhotosTest, KilledCommandLeavesNoSignInBehind) {
  const fs::path photo = home_.path() / "camera.jpg";
  testing::writeCameraPhoto(photo, {.width = 1200, .height = 800});
  startSimulator([this](sim::SimOptions& o) {
    o.dataDir = home_.path() / "service";
    o.faults.slowPostRate = 2000;
  });
  // Without a desktop keyring the saved settings file holds the password.
  ASSERT_EQ(run({"login", "--user", "ada", "--password-stdin", "--remember"}, withTmp()).exitCode,
            0);
  bool sawPrepared = false;
  ProgramRun how = withTmp();
  how.during = [&](pid_t pid) { sawPrepared = signalOncePrepared(pid, SIGKILL); };
  const ProgramOutcome o = run({"post", photo.string()}, how);  // the saved sign-in
  EXPECT_TRUE(sawPrepared);
  EXPECT_EQ(o.signal, SIGKILL) << o.exitCode << o.err;
  for (const auto& entry : fs::recursive_directory_iterator(tmp_)) {
    EXPECT_NE(entry.path().filename(), "PckgSettings") << entry.path();
    EXPECT_NE(entry.path().filename(), "settings.plist") << entry.path();
    if (entry.is_regular_file()) {
      EXPECT_EQ(readText(entry.path()).find("secret pass"), std::string::npos) << entry.path();
    }
  }
}

}  // namespace
}  // namespace marigold
