#include "host/photo_file.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "base/translation.h"
#include "platform/image.h"

namespace marigold::host {

std::optional<std::string> photoFileProblem(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error) return tr("photo %1: %2", {path, systemError(error.value())});
  if (fs::is_directory(status)) return tr("photo %1: is a directory", {path});
  if (!fs::is_regular_file(status)) return tr("photo %1: not a regular file", {path});
  std::ifstream in(path, std::ios::binary);
  if (!in) return tr("photo %1: cannot be read: %2", {path, systemError(errno)});
  Bytes start(kSniffBytes);
  in.read(reinterpret_cast<char*>(start.data()), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<std::size_t>(in.gcount()));
  if (start.empty()) return tr("photo %1: the file is empty", {path});
  if (!sniffFormat(start)) {
    return tr("photo %1: not a JPEG, PNG, GIF, TIFF or HEIC image", {path});
  }
  return std::nullopt;
}

}  // namespace marigold::host
