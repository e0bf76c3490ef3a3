// The checks of post's arguments made before anything is sent, each answering the message for the
// user (naming the argument) or nothing when the argument is fine.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace marigold::cli {

// Each photo must be a readable regular file, not empty, that starts like a JPEG, PNG, GIF, TIFF
// or HEIC image (its extension is not trusted), and no file may be named twice. The selection must
// be within the plug-in's 10 photos, so that nothing is sent for a post it refuses (the export
// step fits the photos' bytes within its limit).
std::optional<std::string> checkPhotos(const std::vector<std::string>& paths);

// Text for a field of the post must be UTF-8.
std::optional<std::string> checkText(const std::string& option, const std::string& text);

// The click-through link must be an http or https URL with a host.
std::optional<std::string> checkLink(const std::string& link);

// The longest caption read from a file, in bytes.
inline constexpr std::size_t kMaxCaptionBytes = 64 * 1024;

// The caption in the file at `path` ("-" for standard input), without its final line break, or
// the message saying why it cannot be used: it cannot be read, is longer than kMaxCaptionBytes or
// holds a NUL byte (it is not text).
struct CaptionFile {
  std::string caption;
  std::optional<std::string> error;
};
CaptionFile readCaptionFile(const std::string& path);

}  // namespace marigold::cli
