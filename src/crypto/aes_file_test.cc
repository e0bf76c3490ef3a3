#include "crypto/aes_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crypto/aes_data.h"

namespace marigold::aes {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kPassphrase =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVabcdefghijklmnopqrstuvwxyz+/0123456789";

class AESFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "aes_file_test.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  fs::path path(std::string_view name) const { return dir_ / name; }

  static void write(const fs::path& file, const Bytes& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  static Bytes read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static void expectError(const std::optional<Error>& error, std::string_view description) {
    ASSERT_TRUE(error.has_value()) << "expected " << description;
    EXPECT_EQ(error->domain, "AES Encryption");
    EXPECT_EQ(error->code, 1000);
    EXPECT_EQ(error->description, description);
    ASSERT_NE(error->underlying, nullptr);
    EXPECT_FALSE(error->underlying->description.empty());
  }

  fs::path dir_;
};

Bytes counting(std::size_t length) {
  Bytes out(length);
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return out;
}

TEST_F(AESFileTest, RoundTripGivesPlainBytesAndPaddingSpaces) {
  for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 100u, 1000u}) {
    const Bytes plain = counting(length);
    write(path("plain"), plain);
    ASSERT_EQ(AESEncryptFile(path("plain"), path("cipher"), kPassphrase), std::nullopt) << length;
    const Bytes cipher = read(path("cipher"));
    EXPECT_EQ(cipher.size(), (length + 15) / 16 * 16) << length;
    EXPECT_EQ(cipher, AESEncryptWithPassphrase(plain, kPassphrase)) << length;

    ASSERT_EQ(AESDecryptFile(path("cipher"), path("back"), kPassphrase), std::nullopt) << length;
    Bytes want = plain;
    want.resize(length + (16 - length % 16) % 16, ' ');
    EXPECT_EQ(read(path("back")), want) << length;
  }
}

TEST_F(AESFileTest, TrailingPieceOfCipherFileIsIgnored) {
  write(path("cipher"), counting(20));
  ASSERT_EQ(AESDecryptFile(path("cipher"), path("plain"), kPassphrase), std::nullopt);
  EXPECT_EQ(read(path("plain")), AESDecryptWithPassphrase(counting(16), kPassphrase));
}

TEST_F(AESFileTest, DestinationIsTruncated) {
  write(path("plain"), counting(5));
  write(path("cipher"), counting(500));
  ASSERT_EQ(AESEncryptFile(path("plain"), path("cipher"), kPassphrase), std::nullopt);
  EXPECT_EQ(read(path("cipher")).size(), 16u);
}

TEST_F(AESFileTest, UnopenableFilesGiveFileOpenError) {
  write(path("plain"), counting(40));
  fs::create_directory(path("folder"));
  struct Case {
    const char* name;
    fs::path source;
    fs::path destination;
  };
  const Case cases[] = {
      {"destination in a missing folder", path("plain"), path("missing/out")},
      {"destination is a folder", path("plain"), path("folder")},
      {"missing source", path("absent"), path("out")},
      {"same file", path("plain"), path("plain")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectError(AESEncryptFile(c.source, c.destination, kPassphrase), "File Open Error");
    expectError(AESDecryptFile(c.source, c.destination, kPassphrase), "File Open Error");
  }
  EXPECT_FALSE(fs::exists(path("out")));         // nothing created for a missing source
  EXPECT_EQ(read(path("plain")), counting(40));  // the source survives being its own destination
}

TEST_F(AESFileTest, FullDeviceGivesFileWriteError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  write(path("plain"), counting(100));
  expectError(AESEncryptFile(path("plain"), "/dev/full", kPassphrase), "File write error");
  expectError(AESDecryptFile(path("plain"), "/dev/full", kPassphrase), "File write error");
}

TEST_F(AESFileTest, UnreadableSourceIsNotReportedAsSuccess) {
  fs::create_directory(path("folder"));
  expectError(AESEncryptFile(path("folder"), path("out"), kPassphrase), "File read error");
  expectError(AESDecryptFile(path("folder"), path("out"), kPassphrase), "File read error");
}

}  // namespace
}  // namespace marigold::aes
