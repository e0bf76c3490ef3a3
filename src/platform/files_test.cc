#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/home_directory.h"
#include "testing/temporary_home.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, std::size_t size) {
  std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

TEST(FilesTest, ExistenceAndSizeByKindOfPath) {
  TemporaryHome home;
  const fs::path dir = home.path();
  writeFile(dir / "photo.jpg", 5242881);
  writeFile(dir / "empty", 0);
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "photo.jpg", dir / "link");
  fs::create_symlink(dir / "gone", dir / "dangling");
  // A sparse file past 4 GiB: the size must not wrap in 32 bits.
  {
    const int fd = ::open((dir / "huge").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 5LL << 30), 0);
    ::close(fd);
  }
  struct Case {
    std::string name;
    bool exists;
    std::uint64_t size;
  };
  const std::vector<Case> cases = {
      {"photo.jpg", true, 5242881}, {"empty", true, 0},     {"folder", true, 0},
      {"link", true, 5242881},      {"dangling", false, 0}, {"missing", false, 0},
      {"huge", true, 5ULL << 30},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fileExists(dir / c.name), c.exists) << c.name;
    EXPECT_EQ(fileSize(dir / c.name), c.size) << c.name;
  }
}

TEST(FilesTest, UnreadableFileCountsAsEmpty) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
  TemporaryHome home;
  const fs::path path = home.path() / "secret.jpg";
  writeFile(path, 100);
  ::chmod(path.c_str(), 0);
  EXPECT_TRUE(fileExists(path));
  EXPECT_EQ(fileSize(path), 0u);
}

TEST(FilesTest, TildePathsLeadIntoTheTemporaryHome) {
  TemporaryHome home;
  writeFile(home.path() / "a.png", 3);
  EXPECT_TRUE(fileExists(expandTilde("~/a.png")));
  EXPECT_EQ(fileSize(expandTilde("~/a.png")), 3u);
  EXPECT_FALSE(fileExists(expandTilde("~/b.png")));
}

}  // namespace
}  // namespace marigold
