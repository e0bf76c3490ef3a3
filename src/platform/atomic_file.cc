#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace marigold {
namespace {

// A temporary file is named after its target, this text and six random characters.
constexpr std::string_view kTemporarySuffix = ".tmp-";

Error fileError(const std::string& step, const std::filesystem::path& path, int code) {
  return Error("File", code,
               step + " " + path.string() + " failed: " + std::strerror(code) +
                   "; check that the folder exists, is writable and the disk has room");
}

// Owns the temporary file until it has been renamed: closes it and removes it on every early exit.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target)
      : path_(target.string() + std::string(kTemporarySuffix) + "XXXXXX") {
    std::string pattern = path_.string();
    fd_ = ::mkstemp(pattern.data());
    path_ = pattern;
  }
  ~TemporaryFile() {
    close();
    if (!renamed_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }
  int close() {
    int result = 0;
    if (fd_ >= 0) result = ::close(fd_);
    fd_ = -1;
    return result;
  }
  void renamed() { renamed_ = true; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool renamed_ = false;
};

bool writeAll(int fd, ByteView content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

// A folder that cannot be synced changes nothing for readers.
void syncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::optional<Error> replaceFileAtomically(const std::filesystem::path& path, ByteView content,
                                           const AtomicWriteOptions& options) {
  TemporaryFile temporary(path);
  if (temporary.fd() < 0) return fileError("creating a temporary file beside", path, errno);
  if (::fchmod(temporary.fd(), options.mode) != 0) {
    return fileError("setting the permissions of", temporary.path(), errno);
  }
  if (!writeAll(temporary.fd(), content)) return fileError("writing", temporary.path(), errno);
  if (::fsync(temporary.fd()) != 0) return fileError("flushing", temporary.path(), errno);
  if (temporary.close() != 0) return fileError("closing", temporary.path(), errno);
  if (options.beforeReplace && !options.beforeReplace(temporary.path())) {
    return fileError("replacing", path, ECANCELED);
  }
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
    return fileError("replacing", path, errno);
  }
  temporary.renamed();
  syncFolder(path.parent_path());
  return std::nullopt;
}

std::size_t removeInterruptedReplacements(const std::filesystem::path& path) {
  const std::string prefix = path.filename().string() + std::string(kTemporarySuffix);
  std::size_t removed = 0;
  std::error_code error;
  std::filesystem::directory_iterator entries(
      path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path(), error);
  if (error) return 0;
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (name.size() == prefix.size() + 6 && name.starts_with(prefix) &&
        entry.is_regular_file(error) && std::filesystem::remove(entry.path(), error)) {
      ++removed;
    }
  }
  return removed;
}

std::optional<Bytes> readWholeFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  // Read in large blocks into a buffer sized from the file; a file that grows or shrinks meanwhile
  // is still read to its end.
  Bytes bytes;
  std::uintmax_t expected = std::filesystem::file_size(path, error);
  if (!error) bytes.reserve(static_cast<std::size_t>(expected));
  constexpr std::size_t kBlock = 1 << 20;
  std::size_t used = 0;
  for (;;) {
    std::size_t room = bytes.capacity() > used ? bytes.capacity() - used : kBlock;
    bytes.resize(used + room);
    in.read(reinterpret_cast<char*>(bytes.data() + used), static_cast<std::streamsize>(room));
    used += static_cast<std::size_t>(in.gcount());
    if (!in || in.peek() == std::ifstream::traits_type::eof()) break;
  }
  if (in.bad()) return std::nullopt;
  bytes.resize(used);
  if (bytes.capacity() - used >= kBlock / 2) bytes.shrink_to_fit();
  return bytes;
}

}  // namespace marigold
