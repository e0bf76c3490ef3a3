#include "crypto/aes_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "crypto/aes_key.h"
#include "crypto/rijndael.h"

namespace marigold::aes {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

using Block = std::array<std::uint8_t, kRijndaelBlockLength>;

enum class Direction { kEncrypt, kDecrypt };

Error aesError(const char* message, const std::string& reason) {
  return Error(std::string(kAESErrorDomain), kAESErrorCode, message,
               std::make_shared<const Error>("POSIX", 0, reason));
}

Error aesError(const char* message, const std::string& what, const std::filesystem::path& path,
               int error) {
  const std::string reason =
      what + " " + path.string() + ": " + std::generic_category().message(error);
  return Error(std::string(kAESErrorDomain), kAESErrorCode, message,
               std::make_shared<const Error>("POSIX", error, reason));
}

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ignored;
  return std::filesystem::equivalent(a, b, ignored);
}

std::optional<Error> transformFile(const std::filesystem::path& source,
                                   const std::filesystem::path& destination,
                                   std::string_view passphrase, Direction direction) {
  RijndaelSchedule schedule{};
  const auto key = AESKeyFromPassphrase(passphrase);
  const int rounds = direction == Direction::kEncrypt
                         ? rijndaelSetupEncrypt(schedule, key, kAESKeyBits)
                         : rijndaelSetupDecrypt(schedule, key, kAESKeyBits);

  File in(std::fopen(source.c_str(), "rb"));
  if (!in) {
    const int error = errno;
    return aesError("File Open Error", "cannot open for reading", source, error);
  }
  // Opening the destination truncates it, which would destroy a source that is the same file.
  if (sameFile(source, destination)) {
    return aesError("File Open Error",
                    "source and destination are the same file: " + destination.string());
  }
  File out(std::fopen(destination.c_str(), "wb"));
  if (!out) {
    const int error = errno;
    return aesError("File Open Error", "cannot open for writing", destination, error);
  }

  for (;;) {
    Block block;
    const std::size_t got = std::fread(block.data(), 1, block.size(), in.get());
    if (got < block.size() && std::ferror(in.get())) {
      const int error = errno;
      return aesError("File read error", "cannot read", source, error);
    }
    if (direction == Direction::kEncrypt) {
      if (got == 0) break;
      std::fill(block.begin() + static_cast<std::ptrdiff_t>(got), block.end(), ' ');
      rijndaelEncrypt(schedule, rounds, block, block);
    } else {
      if (got < block.size()) break;  // a trailing partial block is not cipher data
      rijndaelDecrypt(schedule, rounds, block, block);
    }
    if (std::fwrite(block.data(), 1, block.size(), out.get()) != block.size()) {
      const int error = errno;
      return aesError("File write error", "cannot write", destination, error);
    }
    if (got < block.size()) break;
  }
  // Buffered blocks reach the file only here; a failing close means they were lost.
  if (std::fclose(out.release()) != 0) {
    const int error = errno;
    return aesError("File write error", "cannot write", destination, error);
  }
  return std::nullopt;
}

}  // namespace

std::optional<Error> AESEncryptFile(const std::filesystem::path& source,
                                    const std::filesystem::path& destination,
                                    std::string_view passphrase) {
  return transformFile(source, destination, passphrase, Direction::kEncrypt);
}

std::optional<Error> AESDecryptFile(const std::filesystem::path& source,
                                    const std::filesystem::path& destination,
                                    std::string_view passphrase) {
  return transformFile(source, destination, passphrase, Direction::kDecrypt);
}

}  // namespace marigold::aes
