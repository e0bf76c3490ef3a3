// The check a prepared photo passes before it is handed over: its file is read back as a viewer
// or an attacker would (every metadata field exiv2 finds, every block of its container) and held
// against what the user's choice promises. A photo whose file breaks the promise is not posted.
// Independent of how the file was made: it judges with metadata_policy's tests of what reveals a
// location or a camera, not with the list that chose what to keep. Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/image_format.h"
#include "imaging/photo_choices.h"

namespace marigold::imaging {

struct PreparedContents {
  std::vector<std::string> keys;  // every metadata field found, as exiv2 names it
  bool comment = false;
  // Container parts a prepared photo never holds: "APP2 MPF", "comment", "12345 bytes after the
  // end of the picture", ...
  std::vector<std::string> strayParts;
  bool readable = true;  // false when its metadata or container could not be read

  bool revealsLocation() const;
  bool revealsCamera() const;
};

PreparedContents inspectPrepared(ByteView bytes, ImageFormat type);

// Why the file breaks what `choice` promises, in words for the user; absent when it keeps it.
// kKeepAll promises nothing; kRemoveAll no metadata at all; kRemoveLocation neither location nor
// camera serial nor owner; kKeepLocation no serial or owner. Every choice but kKeepAll promises a
// container without stray parts.
std::optional<std::string> brokenPromise(const PreparedContents& contents, MetadataChoice choice);

}  // namespace marigold::imaging
