// What every host checks of a photo before it joins the selection: a readable regular file, not
// empty, that starts like a JPEG, PNG, GIF, TIFF or HEIC image. The file's extension is not
// trusted; its first bytes are read.
#pragma once

#include <optional>
#include <string>

namespace marigold::host {

// The message for the user ("photo PATH: is a directory", ...), or nothing when the file is fine.
std::optional<std::string> photoFileProblem(const std::string& path);

}  // namespace marigold::host
