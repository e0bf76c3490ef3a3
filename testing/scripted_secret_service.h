// For tests: a Secret Service of the test's own making on a private bus, whose behaviour the test
// sets: no default collection (storing asks to create one), a locked collection (reading or
// storing asks to unlock it), how its prompts end (accepted, dismissed, or held until the test
// ends them) and which calls it refuses ("access denied", as a keyring's policy refuses). It keeps
// its items in memory in one collection, speaks the plain (unencrypted) session only, and serves
// the bus from a thread of its own, so a test can look at it while the code under test waits for
// it. A prompt held longer than kHoldSeconds is dismissed by itself, so that no test waits for
// ever. Thread-safe. Not copyable.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>

namespace marigold {

class ScriptedSecretService {
 public:
  enum class PromptAnswer { kAccept, kDismiss, kHold };
  static constexpr int kHoldSeconds = 20;

  // Connects to the bus at `busAddress` and takes the Secret Service's name there. `ready()` is
  // false, with the reason in `why()`, when it could not.
  explicit ScriptedSecretService(const std::string& busAddress);
  ~ScriptedSecretService();
  ScriptedSecretService(const ScriptedSecretService&) = delete;
  ScriptedSecretService& operator=(const ScriptedSecretService&) = delete;

  bool ready() const;
  std::string why() const;

  // Takes away the default collection and its items. The next store asks to create one; or, with
  // `aliasStays`, the default alias still names the collection that is gone, as GNOME Keyring's
  // does when its login keyring was never made ("Object does not exist at path ...").
  void removeDefaultCollection(bool aliasStays = false);
  // Locks the collection and its items, as the desktop does when the screen locks.
  void lock();
  void setPromptAnswer(PromptAnswer answer);
  // Refuses these calls (method names such as "CreateItem", "SearchItems", "Unlock") with
  // org.freedesktop.DBus.Error.AccessDenied; an empty set refuses none.
  void refuse(std::set<std::string> methods);

  // Keeps `value` for `user` as Marigold's schema does, as if stored earlier.
  void put(const std::string& user, const std::string& kind, const std::string& value);
  // The value kept for `user` and `kind`; absent when none is.
  std::optional<std::string> secret(const std::string& user, const std::string& kind) const;
  std::size_t itemCount() const;

  // How many prompts were shown (Prompt called), and whether one is shown and not yet ended.
  int promptsShown() const;
  bool promptPending() const;
  // Ends the prompt that is held: accepted or dismissed.
  void endHeldPrompt(bool accept);

  struct State;  // the service's objects, shared with its thread (defined in the .cc)

 private:
  std::shared_ptr<State> state_;
};

}  // namespace marigold
