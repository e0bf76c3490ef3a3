// File queries by path for the plug-in: whether a file exists and how large it is. Whole-file
// reads are readWholeFile (platform/atomic_file.h); "~" paths are expanded by expandTilde
// (platform/home_directory.h). Stateless; any thread.
#pragma once

#include <cstdint>
#include <filesystem>

namespace marigold {

// True when something (file, folder, ...) exists at `path`; a dangling symbolic link does not
// count.
bool fileExists(const std::filesystem::path& path);

// The size in bytes of the regular file at `path` (symbolic links followed). A file that cannot be
// read, because it is missing, not a regular file or not readable by this process, counts as 0.
std::uint64_t fileSize(const std::filesystem::path& path);

}  // namespace marigold
