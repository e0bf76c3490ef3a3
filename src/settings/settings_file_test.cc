#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

#include "config/service_constants.h"
#include "crypto/aes_data.h"
#include "crypto/aes_file.h"
#include "platform/atomic_file.h"
#include "testing/temporary_home.h"

namespace marigold {
namespace {

using Dict = PropertyList::Dictionary;

constexpr std::string_view kPassword = "correct horse battery staple";

Dict credentials(std::string_view password) {
  return Dict{{"email", PropertyList("someone@example.org")},
              {"UID", PropertyList(std::string(password))},
              {"saveUID", PropertyList("1")},
              {"isValid", PropertyList("0")}};
}

std::vector<std::string> folderContents(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every file under `root` whose bytes contain `secret`.
std::vector<std::string> filesHolding(const std::filesystem::path& root, std::string_view secret) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const auto bytes = readWholeFile(entry.path());
    if (bytes && std::string(bytes->begin(), bytes->end()).find(secret) != std::string::npos) {
      found.push_back(entry.path().string());
    }
  }
  return found;
}

mode_t modeOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

void writeFile(const std::filesystem::path& path, std::string_view content) {
  std::ofstream(path, std::ios::binary) << content;
}

TEST(SettingsFileTest, SavedSettingsLoadInAFreshFileObject) {
  TemporaryHome home;
  SettingsFile file(SettingsFile::defaultFolder());
  EXPECT_EQ(file.encryptedPath(), home.path() / ".config" / "marigold" / "PckgSettings");
  EXPECT_FALSE(file.load());  // first run: nothing stored yet
  ASSERT_FALSE(file.save(credentials(kPassword)));
  EXPECT_EQ(SettingsFile(SettingsFile::defaultFolder()).load(), credentials(kPassword));
  EXPECT_EQ(folderContents(file.encryptedPath().parent_path()),
            std::vector<std::string>{"PckgSettings"});
  EXPECT_EQ(modeOf(file.encryptedPath()), 0600u);
  EXPECT_EQ(modeOf(file.encryptedPath().parent_path()), 0700u);
  EXPECT_EQ(filesHolding(home.path(), kPassword), std::vector<std::string>{});
}

TEST(SettingsFileTest, FileEncryptedFromAPlainListByTheFileOperationLoads) {
  // Lists as other property-list writers lay them out; the lengths make the padding differ.
  const std::string lists[] = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Example//DTD PLIST 1.0//EN\" \"http://example.org/p.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n\t<key>UID</key>\n\t<string>pw &amp; more</string>\n"
      "\t<key>email</key>\n\t<string>someone@example.org</string>\n\t<key>isValid</key>\n"
      "\t<string>1</string>\n\t<key>saveUID</key>\n\t<string>1</string>\n</dict>\n</plist>\n",
      "<plist version=\"1.0\"><dict><key>UID</key><string>pw &amp; more</string><key>email</key>"
      "<string>someone@example.org</string><key>isValid</key><string>1</string><key>saveUID</key>"
      "<string>1</string></dict></plist>",
  };
  const Dict want{{"UID", PropertyList("pw & more")},
                  {"email", PropertyList("someone@example.org")},
                  {"isValid", PropertyList("1")},
                  {"saveUID", PropertyList("1")}};
  for (const auto& list : lists) {
    TemporaryHome home;
    SettingsFile file(SettingsFile::defaultFolder());
    std::filesystem::create_directories(file.encryptedPath().parent_path());
    const auto plain = home.path() / "plain.plist";
    writeFile(plain, list);
    ASSERT_FALSE(aes::AESEncryptFile(plain, file.encryptedPath(), config::kSettingsPassphrase));
    std::filesystem::remove(plain);
    EXPECT_EQ(file.load(), want) << list.size() % 16 << " padding bytes";
  }
}

TEST(SettingsFileTest, DamagedOrForeignFilesGiveNoSettings) {
  const std::string good = [] {
    const std::string xml = PropertyList(credentials(kPassword)).toXML();
    const auto cipher = aes::AESEncryptWithPassphrase(
        ByteView(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()),
        config::kSettingsPassphrase);
    return std::string(cipher.begin(), cipher.end());
  }();
  auto encrypted = [](std::string_view plain, std::string_view passphrase) {
    const auto cipher = aes::AESEncryptWithPassphrase(
        ByteView(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()), passphrase);
    return std::string(cipher.begin(), cipher.end());
  };
  std::string flipped = good;
  flipped[flipped.size() / 2] ^= 0x40;
  struct Case {
    std::string name;
    std::string content;
  };
  const Case cases[] = {
      {"empty", ""},
      {"shorter than a block", good.substr(0, 7)},
      {"truncated by a block", good.substr(0, good.size() - 16)},
      {"truncated in a block", good.substr(0, good.size() - 5)},
      {"flipped byte", flipped},
      {"plain list, not encrypted", PropertyList(credentials(kPassword)).toXML()},
      {"other passphrase", encrypted(PropertyList(credentials(kPassword)).toXML(),
                                     "another passphrase of at least thirty-two bytes")},
      {"array root",
       encrypted(PropertyList(PropertyList::Array{}).toXML(), config::kSettingsPassphrase)},
      {"foreign bytes", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
  };
  for (const auto& c : cases) {
    TemporaryHome home;
    SettingsFile file(SettingsFile::defaultFolder());
    std::filesystem::create_directories(file.encryptedPath().parent_path());
    writeFile(file.encryptedPath(), c.content);
    EXPECT_FALSE(file.load()) << c.name;
  }
  TemporaryHome home;
  SettingsFile file(SettingsFile::defaultFolder());
  std::filesystem::create_directories(file.encryptedPath());  // a folder where the file should be
  EXPECT_FALSE(file.load());
}

TEST(SettingsFileTest, LeftoverPlainListIsReadOnceAndDeleted) {
  TemporaryHome home;
  SettingsFile file(SettingsFile::defaultFolder());
  std::filesystem::create_directories(file.leftoverPlainPath().parent_path());
  writeFile(file.leftoverPlainPath(), PropertyList(credentials("left over")).toXML() + "   ");
  EXPECT_EQ(file.load(), credentials("left over"));
  EXPECT_FALSE(std::filesystem::exists(file.leftoverPlainPath()));
  EXPECT_FALSE(file.load());

  // Beside an encrypted file the leftover is stale: the encrypted file wins, the leftover goes.
  ASSERT_FALSE(file.save(credentials(kPassword)));
  writeFile(file.leftoverPlainPath(), PropertyList(credentials("stale")).toXML());
  EXPECT_EQ(file.load(), credentials(kPassword));
  EXPECT_EQ(folderContents(file.encryptedPath().parent_path()),
            std::vector<std::string>{"PckgSettings"});
}

TEST(SettingsFileTest, NoPlainPasswordOnDiskWhileSaving) {
  TemporaryHome home;
  SettingsFile file(SettingsFile::defaultFolder());
  int checks = 0;
  file.setBeforeReplace([&](const std::filesystem::path& temporary) {
    ++checks;
    EXPECT_EQ(temporary.parent_path(), file.encryptedPath().parent_path());
    EXPECT_EQ(modeOf(temporary), 0600u);
    EXPECT_EQ(filesHolding(home.path(), kPassword), std::vector<std::string>{});
    EXPECT_EQ(filesHolding(home.path(), "<plist"), std::vector<std::string>{});
    return true;
  });
  ASSERT_FALSE(file.save(credentials(kPassword)));
  ASSERT_FALSE(file.save(credentials(std::string(kPassword) + " again")));
  EXPECT_EQ(checks, 2);
  EXPECT_EQ(filesHolding(home.path(), kPassword), std::vector<std::string>{});
  // Loading writes nothing at all.
  const auto before = std::filesystem::last_write_time(file.encryptedPath().parent_path());
  EXPECT_TRUE(file.load());
  EXPECT_EQ(folderContents(file.encryptedPath().parent_path()),
            std::vector<std::string>{"PckgSettings"});
  EXPECT_EQ(std::filesystem::last_write_time(file.encryptedPath().parent_path()), before);
}

TEST(SettingsFileTest, SaveFailingHalfWayKeepsThePreviousFile) {
  TemporaryHome home;
  SettingsFile file(SettingsFile::defaultFolder());
  ASSERT_FALSE(file.save(credentials("first")));
  file.setBeforeReplace([](const std::filesystem::path&) { return false; });
  const auto failure = file.save(credentials("second"));
  ASSERT_TRUE(failure);
  EXPECT_NE(failure->description.find("PckgSettings"), std::string::npos) << failure->description;
  EXPECT_EQ(SettingsFile(SettingsFile::defaultFolder()).load(), credentials("first"));
  EXPECT_EQ(folderContents(file.encryptedPath().parent_path()),
            std::vector<std::string>{"PckgSettings"});
}

TEST(SettingsFileTest, UncreatableFolderIsReported) {
  TemporaryHome home;
  writeFile(home.path() / ".config", "a file where the folder should be");
  const auto failure = SettingsFile(SettingsFile::defaultFolder()).save(credentials(kPassword));
  ASSERT_TRUE(failure);
  EXPECT_NE(failure->description.find("creating the settings folder"), std::string::npos);
  EXPECT_EQ(filesHolding(home.path(), kPassword), std::vector<std::string>{});
}

// The user's folder: a settings file in the former folder is moved to the configuration folder
// once (whatever the umask, the folders made are private), or used where it is when it cannot be.
TEST(SettingsFileTest, FormerSettingsMoveOnceToTheConfigurationFolder) {
  struct Case {
    std::string_view name;
    std::optional<std::string_view> configurationHome;  // XDG_CONFIG_HOME, under HOME if relative
    bool configurationIsAFile;  // the configuration folder cannot be made (even by root)
    bool newSettingsThere;      // the configuration folder already holds settings
    bool otherFileInFormer;     // something of the user's beside the settings
    std::string_view wantFolder;
    bool formerRemoved;
  };
  const Case kCases[] = {
      {"moved", std::nullopt, false, false, false, ".config/marigold", true},
      {"moved to XDG_CONFIG_HOME", "/xdg", false, false, false, "xdg/marigold", true},
      {"relative XDG_CONFIG_HOME ignored", "xdg", false, false, false, ".config/marigold", true},
      {"other files stay", std::nullopt, false, false, true, ".config/marigold", false},
      {"newer settings win", std::nullopt, false, true, false, ".config/marigold", false},
      {"cannot be moved", std::nullopt, true, false, false, "Library/Fernhill", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TemporaryHome home;
    const auto former = home.path() / "Library" / "Fernhill";
    ASSERT_FALSE(SettingsFile(former).save(credentials("old password")));
    const auto oldBytes = readWholeFile(former / "PckgSettings");
    if (c.otherFileInFormer) writeFile(former / "notes.txt", "mine");
    if (c.configurationHome) {
      const std::string value(*c.configurationHome);
      ::setenv("XDG_CONFIG_HOME",
               value.starts_with('/') ? (home.path().string() + value).c_str() : value.c_str(), 1);
    }
    if (c.configurationIsAFile) writeFile(home.path() / ".config", "in the way");
    if (c.newSettingsThere) {
      ASSERT_FALSE(SettingsFile(home.path() / ".config/marigold").save(credentials("newer")));
    }

    const mode_t umask = ::umask(0);
    const auto folder = SettingsFile::defaultFolder();
    ::umask(umask);

    EXPECT_EQ(folder, home.path() / c.wantFolder);
    EXPECT_EQ(SettingsFile(folder).load(),
              credentials(c.newSettingsThere ? "newer" : "old password"));
    EXPECT_EQ(std::filesystem::exists(former), !c.formerRemoved);
    EXPECT_EQ(std::filesystem::exists(home.path() / "Library"), !c.formerRemoved);
    if (!c.configurationIsAFile) {
      EXPECT_EQ(modeOf(folder), 0700u);
      EXPECT_EQ(modeOf(folder.parent_path()), 0700u);
    }
    if (c.newSettingsThere || c.configurationIsAFile) {
      EXPECT_EQ(readWholeFile(former / "PckgSettings"), oldBytes) << "the former file is kept";
    } else {
      EXPECT_EQ(readWholeFile(folder / "PckgSettings"), oldBytes) << "moved unchanged";
    }
    if (c.otherFileInFormer) {
      EXPECT_EQ(folderContents(former), std::vector<std::string>{"notes.txt"});
    }
    // Once moved, the next call has nothing to move and answers the same folder.
    EXPECT_EQ(SettingsFile::defaultFolder(), folder);
  }
}

// Runs `work` in a child process and kills it with SIGKILL after `delay`; without a delay the work
// ends or kills itself. The child never returns into the test.
template <typename Work>
void runAndKill(Work work, std::optional<std::chrono::microseconds> delay) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0) << "fork failed";
  if (child == 0) {
    work();
    ::_exit(0);  // no destructors: the temporary HOME belongs to the parent
  }
  if (delay) {
    std::this_thread::sleep_for(*delay);
    ::kill(child, SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the save ran to its end";
}

// After a save died at any point, the file holds the old or a new list, never a damaged one, and
// nothing in the folder holds the password in plain text.
void expectOldOrNew(const std::filesystem::path& home, const std::vector<std::string>& passwords) {
  const auto folder = home / ".config" / "marigold";
  const auto loaded = SettingsFile(SettingsFile::defaultFolder()).load();
  ASSERT_TRUE(loaded) << "the settings file is damaged";
  bool known = false;
  for (const auto& password : passwords) known = known || *loaded == credentials(password);
  EXPECT_TRUE(known) << PropertyList(*loaded).toXML();
  for (const auto& password : passwords) {
    EXPECT_EQ(filesHolding(home, password), std::vector<std::string>{});
  }
  EXPECT_EQ(filesHolding(home, "<plist"), std::vector<std::string>{});
  // The load cleared away what an interrupted save left behind.
  EXPECT_EQ(folderContents(folder), std::vector<std::string>{"PckgSettings"});
}

TEST(SettingsFileTest, SaveKilledJustBeforeTheReplacementKeepsTheOldFile) {
  TemporaryHome home;
  ASSERT_FALSE(SettingsFile(SettingsFile::defaultFolder()).save(credentials("old password")));
  runAndKill(
      [] {
        SettingsFile file(SettingsFile::defaultFolder());
        file.setBeforeReplace([](const std::filesystem::path&) {
          ::raise(SIGKILL);  // the new file is complete and on the disk, not yet in place
          return true;
        });
        (void)file.save(credentials("new password"));
      },
      std::nullopt);
  EXPECT_EQ(folderContents(home.path() / ".config" / "marigold").size(), 2u)
      << "the killed save leaves its temporary file";
  EXPECT_EQ(SettingsFile(SettingsFile::defaultFolder()).load(), credentials("old password"));
  expectOldOrNew(home.path(), {"old password"});
}

TEST(SettingsFileTest, SaveKilledAtRandomPointsLeavesOldOrNewSettings) {
  TemporaryHome home;
  const std::vector<std::string> passwords = {"old password", "new password A", "new password B"};
  ASSERT_FALSE(SettingsFile(SettingsFile::defaultFolder()).save(credentials(passwords[0])));
  std::mt19937 random(20261207);  // fixed seed: the same kill points on every run
  std::uniform_int_distribution<int> delay(0, 15000);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    runAndKill(
        [&] {
          const SettingsFile file(SettingsFile::defaultFolder());
          for (int i = 0; i < 100000; ++i) (void)file.save(credentials(passwords[1 + i % 2]));
        },
        std::chrono::microseconds(delay(random)));
    expectOldOrNew(home.path(), passwords);
  }
}

}  // namespace
}  // namespace marigold
