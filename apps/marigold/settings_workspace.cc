#include "settings_workspace.h"

#include "base/translation.h"
#include "platform/atomic_file.h"
#include "platform/home_directory.h"
#include "settings/settings_file.h"
#include "terminal_text.h"

namespace marigold::cli {

namespace fs = std::filesystem;

SettingsWorkspace::SettingsWorkspace(Use use, Console& console)
    : console_(console), use_(use), saved_(SettingsFile::defaultFolder()) {
  if (use_ == Use::kReplacing) {
    lock_ = lockSaved(FolderLock::Mode::kExclusive, true, &lockProblem_);
    return;
  }
  if (use_ != Use::kSaved && use_ != Use::kLookOnly) return;
  {
    const auto lock = lockSaved(FolderLock::Mode::kShared, false, nullptr);
    copied_ = contentsOf(saved_);
  }
  if (auto problem = SettingsFile(saved_).unreadable()) {
    console_.note(
        tr("marigold: warning: the saved sign-in cannot be used: %1. Sign in again with "
           "'marigold login --user NAME --remember'.",
           {printable(*problem)}));
  }
  *copy_ = copied_;
}

SettingsWorkspace::Contents SettingsWorkspace::contentsOf(const fs::path& folder) {
  const SettingsFile file(folder);
  return {readWholeFile(file.encryptedPath()), readWholeFile(file.leftoverPlainPath())};
}

std::optional<FolderLock> SettingsWorkspace::lockSaved(FolderLock::Mode mode, bool create,
                                                       std::string* problem) {
  std::error_code error;
  if (create && !fs::is_directory(saved_, error)) (void)makePrivateFolder(saved_);
  if (!fs::is_directory(saved_, error)) {
    if (problem != nullptr) *problem = tr("the folder %1 cannot be made", {saved_.string()});
    return std::nullopt;
  }
  Error failure;
  auto lock = FolderLock::acquire(saved_, mode, &failure, [this] {
    console_.note(tr("Waiting for another marigold command to finish with the saved sign-in..."));
  });
  if (!lock && problem != nullptr) *problem = failure.description;
  return lock;
}

std::optional<std::string> SettingsWorkspace::replaceSaved(const Contents& contents) {
  const SettingsFile file(saved_);
  if (contents.encrypted) {
    if (auto failure = replaceFileAtomically(file.encryptedPath(), *contents.encrypted)) {
      return failure->description;
    }
  } else {
    std::error_code error;
    fs::remove(file.encryptedPath(), error);
    if (error) {
      return tr("removing %1 failed: %2",
                {file.encryptedPath().string(), systemError(error.value())});
    }
  }
  // The plain list of an older version is only ever read once; a copy of it must not stay behind.
  std::error_code error;
  fs::remove(file.leftoverPlainPath(), error);
  if (error) {
    return tr("removing %1 failed: %2",
              {file.leftoverPlainPath().string(), systemError(error.value())});
  }
  return std::nullopt;
}

std::optional<std::string> SettingsWorkspace::keep() {
  const Contents wanted = *copy_;
  std::optional<std::string> problem;
  if (!lock_) {
    // Without the folder there is nothing to forget; anything else cannot be kept.
    if (wanted != Contents{}) problem = lockProblem_;
  } else {
    problem = replaceSaved(wanted);
  }
  lock_.reset();
  return problem;
}

void SettingsWorkspace::keepChanges() {
  if (use_ != Use::kSaved) return;
  const Contents now = *copy_;
  if (now == copied_) return;
  const auto lock = lockSaved(FolderLock::Mode::kExclusive, false, nullptr);
  if (!lock || contentsOf(saved_) != copied_) return;
  if (auto problem = replaceSaved(now)) {
    console_.note(
        tr("marigold: warning: the saved sign-in could not be updated: %1", {printable(*problem)}));
    return;
  }
  copied_ = now;  // the saved folder holds it now: a later change is kept over it
}

}  // namespace marigold::cli
