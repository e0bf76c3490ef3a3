#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

namespace marigold {

bool fileExists(const std::filesystem::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::uint64_t fileSize(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  if (::access(path.c_str(), R_OK) != 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace marigold
