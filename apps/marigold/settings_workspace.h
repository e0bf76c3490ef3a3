// The saved sign-in as the command line keeps it. Each command's plug-in works on a private copy
// of its own, empty or with the user's saved settings, held in memory only: no disk ever holds it,
// so a command that is killed leaves no copy of the sign-in behind. Only what the command means to
// keep is written back to the user's folder, under a lock on that folder. So a one-off sign-in
// changes nothing, `status` writes nothing, and two commands never undo each other: the one the
// user gave last wins. Not copyable.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "console.h"
#include "platform/folder_lock.h"
#include "settings/settings_file.h"

namespace marigold::cli {

class SettingsWorkspace {
 public:
  enum class Use {
    kNone,       // a one-off sign-in: the saved sign-in is neither used nor changed
    kSaved,      // the saved sign-in, used as it is; keepChanges() keeps what the service said
    kLookOnly,   // the saved sign-in, used but never changed (status)
    kReplacing,  // login --remember, logout: the user's folder stays locked until keep()
  };

  // Makes the private copy; for kSaved and kLookOnly with the saved settings, warning on standard
  // error when the saved file cannot be used.
  SettingsWorkspace(Use use, Console& console);
  SettingsWorkspace(const SettingsWorkspace&) = delete;
  SettingsWorkspace& operator=(const SettingsWorkspace&) = delete;

  // Where the plug-in keeps its settings: the private copy.
  const std::shared_ptr<SettingsFile::Stored>& memory() const { return copy_; }
  // The user's settings folder, resolved once for the command.
  const std::filesystem::path& folder() const { return saved_; }

  // kReplacing: makes the saved sign-in what the private copy holds now (none when it holds
  // none) and releases the lock. Answers why it could not, the saved sign-in then being as it was.
  [[nodiscard]] std::optional<std::string> keep();

  // kSaved (nothing otherwise): keeps what the plug-in changed in its copy (a sign-in the service
  // refused is marked so), unless another command changed the saved sign-in since this one copied
  // (or last kept) it. May be called again for later changes.
  void keepChanges();

 private:
  using Contents = SettingsFile::Stored;
  static Contents contentsOf(const std::filesystem::path& folder);
  std::optional<FolderLock> lockSaved(FolderLock::Mode mode, bool create, std::string* problem);
  std::optional<std::string> replaceSaved(const Contents& contents);

  Console& console_;
  Use use_;
  std::filesystem::path saved_;  // the user's settings folder
  std::shared_ptr<Contents> copy_ = std::make_shared<Contents>();
  Contents copied_;  // what the saved folder held when it was copied
  std::optional<FolderLock> lock_;
  std::string lockProblem_;
};

}  // namespace marigold::cli
