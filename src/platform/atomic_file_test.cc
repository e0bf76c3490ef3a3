#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "testing/temporary_home.h"

namespace marigold {
namespace {

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::vector<std::string> folderContents(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AtomicFileTest, ReplacementIsCompleteBeforeItBecomesVisible) {
  TemporaryHome home;
  const auto target = home.path() / "file";
  ASSERT_FALSE(replaceFileAtomically(target, bytesOf("old content")));

  const Bytes fresh(100000, 0x5a);
  bool hookRan = false;
  AtomicWriteOptions options;
  options.mode = 0640;
  options.beforeReplace = [&](const std::filesystem::path& temporary) {
    hookRan = true;
    EXPECT_EQ(temporary.parent_path(), home.path());
    EXPECT_EQ(readWholeFile(temporary), fresh);  // complete before the swap
    EXPECT_EQ(readWholeFile(target), bytesOf("old content"));
    struct stat info {};
    EXPECT_EQ(::stat(temporary.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    return true;
  };
  EXPECT_FALSE(replaceFileAtomically(target, fresh, options));
  EXPECT_TRUE(hookRan);
  EXPECT_EQ(readWholeFile(target), fresh);
  EXPECT_EQ(folderContents(home.path()), std::vector<std::string>{"file"});
}

TEST(AtomicFileTest, FailuresLeaveTheOldFileAndNoTemporaryBehind) {
  TemporaryHome home;
  const auto target = home.path() / "file";
  ASSERT_FALSE(replaceFileAtomically(target, bytesOf("kept")));

  struct Case {
    std::string name;
    std::filesystem::path path;
    AtomicWriteOptions options;
    long code;
    std::string_view fragment;
  };
  AtomicWriteOptions abandon;
  abandon.beforeReplace = [](const std::filesystem::path&) { return false; };
  const Case cases[] = {
      {"abandoned", target, abandon, ECANCELED, "replacing "},
      {"missing folder", home.path() / "absent" / "file", {}, ENOENT, "temporary file beside"},
      {"target is a folder", home.path(), {}, 0, "replacing "},
  };
  for (const auto& c : cases) {
    const auto failure = replaceFileAtomically(c.path, bytesOf("new"), c.options);
    ASSERT_TRUE(failure) << c.name;
    EXPECT_EQ(failure->domain, "File") << c.name;
    if (c.code != 0) {
      EXPECT_EQ(failure->code, c.code) << c.name;
    }
    EXPECT_NE(failure->description.find(c.fragment), std::string::npos) << failure->description;
    EXPECT_EQ(readWholeFile(target), bytesOf("kept")) << c.name;
    EXPECT_EQ(folderContents(home.path()), std::vector<std::string>{"file"}) << c.name;
  }
}

TEST(AtomicFileTest, ReadingSomethingThatIsNotAFileGivesNothing) {
  TemporaryHome home;
  EXPECT_FALSE(readWholeFile(home.path()));
  EXPECT_FALSE(readWholeFile(home.path() / "absent"));
  ASSERT_FALSE(replaceFileAtomically(home.path() / "empty", Bytes{}));
  EXPECT_EQ(readWholeFile(home.path() / "empty"), Bytes{});
}

TEST(AtomicFileTest, TemporariesOfInterruptedReplacementsAreRemoved) {
  TemporaryHome home;
  const auto target = home.path() / "file";
  ASSERT_FALSE(replaceFileAtomically(target, bytesOf("kept")));
  // Left behind by replacements that died before the rename, beside look-alikes that stay.
  for (std::string name : {"file.tmp-a1B2c3", "file.tmp-zzzzzz", "file.tmp-short", "file.tmp-",
                           "other.tmp-a1B2c3", "xfile.tmp-a1B2c3"}) {
    ASSERT_FALSE(replaceFileAtomically(home.path() / name, bytesOf("partial")));
  }
  std::filesystem::create_directory(home.path() / "file.tmp-folder");
  EXPECT_EQ(removeInterruptedReplacements(target), 2u);
  EXPECT_EQ(folderContents(home.path()),
            (std::vector<std::string>{"file", "file.tmp-", "file.tmp-folder", "file.tmp-short",
                                      "other.tmp-a1B2c3", "xfile.tmp-a1B2c3"}));
  EXPECT_EQ(readWholeFile(target), bytesOf("kept"));
  EXPECT_EQ(removeInterruptedReplacements(home.path() / "absent" / "file"), 0u);
}

TEST(AtomicFileTest, WholeFilesAreReadExactlyAroundTheBlockSize) {
  TemporaryHome home;
  const std::size_t kSizes[] = {1,        4095,           (1u << 20) - 1,
                                1u << 20, (1u << 20) + 1, 3u * (1 << 20) + 7};
  for (std::size_t size : kSizes) {
    Bytes content(size);
    for (std::size_t i = 0; i < size; ++i)
      content[i] = static_cast<std::uint8_t>(i * 131 + i / 251);
    const auto path = home.path() / ("photo-" + std::to_string(size));
    ASSERT_FALSE(replaceFileAtomically(path, content));
    EXPECT_EQ(readWholeFile(path), content) << size;
  }
  // A file whose size is not known in advance is read to its end too.
  std::optional<Bytes> status = readWholeFile("/proc/self/status");
  ASSERT_TRUE(status);
  EXPECT_NE(std::string(status->begin(), status->end()).find("VmRSS:"), std::string::npos);
}

}  // namespace
}  // namespace marigold
