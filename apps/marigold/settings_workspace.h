// The saved sign-in as the command line keeps it. Each command's plug-in works on a private
// settings folder of its own, made empty or with a copy of the user's saved settings; only what the
// command means to keep is copied back to the user's folder, under a lock on that folder. So a
// one-off sign-in changes nothing, `status` writes nothing, and two commands never undo each
// other: the one the user gave last wins. Not copyable.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "console.h"
#include "host/scratch_folder.h"
#include "interrupts.h"
#include "platform/folder_lock.h"

namespace marigold::cli {

class SettingsWorkspace {
 public:
  enum class Use {
    kNone,       // a one-off sign-in: the saved sign-in is neither used nor changed
    kSaved,      // the saved sign-in, used as it is; keepChanges() keeps what the service said
    kLookOnly,   // the saved sign-in, used but never changed (status)
    kReplacing,  // login --remember, logout: the user's folder stays locked until keep()
  };

  // Makes the private folder; for kSaved copies the saved settings into it, warning on standard
  // error when the saved file cannot be used. Throws std::runtime_error saying why it cannot.
  SettingsWorkspace(Use use, Console& console);
  SettingsWorkspace(const SettingsWorkspace&) = delete;
  SettingsWorkspace& operator=(const SettingsWorkspace&) = delete;

  // The folder the plug-in keeps its settings in.
  std::string folder() const { return scratch_.path().string(); }

  // kReplacing: makes the saved sign-in what the private folder holds now (none when it holds
  // none) and releases the lock. Answers why it could not, the saved sign-in then being as it was.
  [[nodiscard]] std::optional<std::string> keep();

  // kSaved (nothing otherwise): keeps what the plug-in changed in its copy (a sign-in the service
  // refused is marked so), unless another command changed the saved sign-in since this one copied
  // (or last kept) it. May be called again for later changes.
  void keepChanges();

 private:
  struct Contents {
    std::optional<Bytes> encrypted, plain;
    bool operator==(const Contents&) const = default;
  };
  static Contents contentsOf(const std::filesystem::path& folder);
  std::optional<FolderLock> lockSaved(FolderLock::Mode mode, bool create, std::string* problem);
  std::optional<std::string> replaceSaved(const Contents& contents);

  Console& console_;
  Use use_;
  std::filesystem::path saved_;  // the user's settings folder
  host::ScratchFolder scratch_;
  Interrupts::Registration removal_;
  Contents copied_;  // what the saved folder held when it was copied
  std::optional<FolderLock> lock_;
  std::string lockProblem_;
};

}  // namespace marigold::cli
