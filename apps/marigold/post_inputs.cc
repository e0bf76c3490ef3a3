#include "post_inputs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "encoding/utf8.h"
#include "host/photo_file.h"
#include "platform/url.h"

namespace marigold::cli {

namespace fs = std::filesystem;

std::optional<std::string> checkPhotos(const std::vector<std::string>& paths) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (auto problem = host::photoFileProblem(paths[i])) return problem;
    for (std::size_t j = 0; j < i; ++j) {
      std::error_code error;
      if (fs::equivalent(paths[i], paths[j], error)) {
        return "photo " + paths[i] + ": the same photo as " + paths[j] + " (named twice)";
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> checkText(const std::string& option, const std::string& text) {
  if (isValidUTF8(text)) return std::nullopt;
  return option + ": the text is not valid UTF-8";
}

std::optional<std::string> checkLink(const std::string& link) {
  auto url = URL::withString(link);
  if (url && (url->scheme() == "http" || url->scheme() == "https") && !url->host().empty()) {
    return std::nullopt;
  }
  return "--link " + link + ": not an http or https URL";
}

CaptionFile readCaptionFile(const std::string& path) {
  CaptionFile file;
  if (path == "-") {
    file.caption.assign(std::istreambuf_iterator<char>(std::cin), {});
    if (std::cin.bad()) file.error = "--caption-file -: cannot read standard input";
  } else {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      file.error = "--caption-file " + path + ": is a directory";
      return file;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      file.error = "--caption-file " + path + ": " + std::strerror(errno);
      return file;
    }
    file.caption.assign(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) file.error = "--caption-file " + path + ": cannot be read";
  }
  if (file.caption.ends_with('\n')) file.caption.pop_back();
  if (file.caption.ends_with('\r')) file.caption.pop_back();
  return file;
}

}  // namespace marigold::cli
