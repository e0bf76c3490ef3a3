#include "host/photo_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/image.h"

namespace marigold::host {

std::optional<std::string> photoFileProblem(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error) return "photo " + path + ": " + error.message();
  if (fs::is_directory(status)) return "photo " + path + ": is a directory";
  if (!fs::is_regular_file(status)) return "photo " + path + ": not a regular file";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "photo " + path + ": cannot be read: " + std::strerror(errno);
  Bytes start(kSniffBytes);
  in.read(reinterpret_cast<char*>(start.data()), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<std::size_t>(in.gcount()));
  if (start.empty()) return "photo " + path + ": the file is empty";
  if (!sniffFormat(start)) return "photo " + path + ": not a JPEG, PNG, GIF, TIFF or HEIC image";
  return std::nullopt;
}

}  // namespace marigold::host
