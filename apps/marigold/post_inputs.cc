#include "post_inputs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "base/translation.h"
#include "encoding/utf8.h"
#include "host/photo_file.h"
#include "platform/url.h"
#include "plugin/pane_definition.h"
#include "terminal_text.h"

namespace marigold::cli {

namespace fs = std::filesystem;

std::optional<std::string> checkPhotos(const std::vector<std::string>& paths) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (auto problem = host::photoFileProblem(paths[i])) {
      // The message names the file as given; shown, its name must not reach the terminal raw.
      if (auto at = problem->find(paths[i]); at != std::string::npos) {
        problem->replace(at, paths[i].size(), printable(paths[i]));
      }
      return problem;
    }
    for (std::size_t j = 0; j < i; ++j) {
      std::error_code error;
      if (fs::equivalent(paths[i], paths[j], error)) {
        return tr("photo %1: the same photo as %2 (named twice)",
                  {printable(paths[i]), printable(paths[j])});
      }
    }
  }
  if (paths.size() > KZExportController::kMaxUploadPhotos) {
    return tr("%1 photos: %2", {std::to_string(paths.size()), tr(kOverCountNotice)});
  }
  return std::nullopt;
}

std::optional<std::string> checkText(const std::string& option, const std::string& text) {
  if (isValidUTF8(text)) return std::nullopt;
  return tr("%1: the text is not valid UTF-8", {option});
}

std::optional<std::string> checkLink(const std::string& link) {
  auto url = URL::withString(link);
  if (url && (url->scheme() == "http" || url->scheme() == "https") && !url->host().empty()) {
    return std::nullopt;
  }
  return tr("--link %1: not an http or https URL", {printable(link)});
}

namespace {

// Reads at most `limit` + 1 bytes of `in` into `text`; answers false on a read error.
bool readUpTo(std::istream& in, std::size_t limit, std::string& text) {
  char chunk[16384];
  while (text.size() <= limit && in.read(chunk, sizeof chunk).gcount() > 0) {
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  return !in.bad();
}

}  // namespace

CaptionFile readCaptionFile(const std::string& path) {
  CaptionFile file;
  const std::string option = "--caption-file " + printable(path);
  bool read = false;
  if (path == "-") {
    read = readUpTo(std::cin, kMaxCaptionBytes, file.caption);
  } else {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      file.error = tr("%1: is a directory", {option});
      return file;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      file.error = option + ": " + std::strerror(errno);
      return file;
    }
    read = readUpTo(in, kMaxCaptionBytes, file.caption);
  }
  if (!read) {
    file.error = tr("%1: cannot be read", {option});
  } else if (const auto nul = file.caption.find('\0'); nul != std::string::npos) {
    file.error =
        tr("%1: a NUL byte at offset %2; a caption must be text", {option, std::to_string(nul)});
  } else if (file.caption.size() > kMaxCaptionBytes) {
    file.error = tr("%1: longer than 64 KiB, the most a caption may be", {option});
  }
  if (file.error) return file;
  if (file.caption.ends_with('\n')) file.caption.pop_back();
  if (file.caption.ends_with('\r')) file.caption.pop_back();
  return file;
}

}  // namespace marigold::cli
