// The post a user was writing when the window was ended by a signal (a session's logout, Ctrl+C,
// a termination request): the photos (the originals, in the post's order), the caption, tags and
// link as typed, the blog's name and the post state's English name. Kept in
// stateFolder()/draft.plist (a private folder, 0700, and file, 0600, replaced atomically), never
// with a password or token, and offered at the next start. Plain value; the file functions are
// stateless and may be called from any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"

namespace marigold::gui {

struct PostDraft {
  std::vector<std::string> photos;
  std::string caption;
  std::string tags;
  std::string link;
  std::string blog;   // empty: none chosen
  std::string state;  // "published", "draft", ...; empty: none chosen

  bool operator==(const PostDraft&) const = default;
};

// Where the draft is kept: stateFolder()/draft.plist as the environment says now.
std::filesystem::path draftFile();

// Writes `draft` in place of any kept one. Absent on success, else what failed for which file.
[[nodiscard]] std::optional<Error> keepDraft(const PostDraft& draft,
                                             const std::filesystem::path& file = draftFile());
// The kept draft; absent when there is none or it cannot be read (a file that is not a draft is
// left where it is, never taken for one).
std::optional<PostDraft> keptDraft(const std::filesystem::path& file = draftFile());
// Removes the kept draft, if any.
void forgetDraft(const std::filesystem::path& file = draftFile());

}  // namespace marigold::gui
