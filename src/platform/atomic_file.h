// Replacing a file's content in one step: the new bytes go to a temporary file in the same folder,
// are flushed to the disk, and the temporary file is then renamed over the old one. A reader sees
// either the whole old content or the whole new one; a failure at any point leaves the old file as
// it was and removes the temporary file. Used for files whose loss would lose the user's data (the
// settings file, the user-defaults store). Stateless; any thread.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "base/bytes.h"
#include "base/error.h"

namespace marigold {

struct AtomicWriteOptions {
  // Permission bits of the new file.
  mode_t mode = 0600;
  // Called with the temporary file's path once it is complete and on the disk, just before it
  // replaces the file. Answering false abandons the replacement like a failed write would.
  std::function<bool(const std::filesystem::path& temporary)> beforeReplace;
};

// Writes `content` as the new content of `path` (whose folder must exist). Absent on success;
// otherwise the error (domain "File", code errno) says which step failed for which file.
[[nodiscard]] std::optional<Error> replaceFileAtomically(const std::filesystem::path& path,
                                                         ByteView content,
                                                         const AtomicWriteOptions& options = {});

// Removes the temporary files that replacements of `path` left beside it when their process died
// before the rename; the file itself is not touched. Answers how many were removed.
std::size_t removeInterruptedReplacements(const std::filesystem::path& path);

// Flushes the folder's own entries to the disk, so that a rename or a new file in it is durable.
void syncFolder(const std::filesystem::path& folder);

// The whole content of a file, or absent when it cannot be read.
std::optional<Bytes> readWholeFile(const std::filesystem::path& path);

}  // namespace marigold
