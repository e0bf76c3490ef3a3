// The model behind the sign-in fields of the settings pane: the user name (`email`), the password
// (`UID`) or, after a sign-in approved in the browser, the access token (`accessToken`), the
// remember-login choice (`saveUID`) and whether these credentials were accepted at the last
// sign-in (`isValid`). It loads them from the encrypted settings file when it is created, shows
// them in the pane's fields, and saves the fields' contents on request. The secret (password or
// token) is kept only with "remember": in the desktop keyring when a SecretStore is given (the
// settings file then holds an empty "UID"), else in the settings file; a password found in an old
// settings file moves to the keyring at the next save, and stays in the file until the keyring
// has taken it. A store that answers on a run loop answers later: the secret it keeps then
// arrives after creation (secretPending()), and a save's keyring part ends after refresh returns.
// It refers to the pane's views without owning them (the pane's interface definition owns them)
// and works without them: a field that is not attached is skipped, so the model then saves its own
// values. Owns its texts and the dictionary it loaded. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/property_list.h"
#include "platform/views.h"
#include "settings/secret_store.h"
#include "settings/settings_file.h"

namespace marigold {

class AppSettings {
 public:
  // Posts a named notification with its sender, as NotificationCenter::postNotificationName of
  // the default center does (the pane's interface definition connects the two).
  using NotificationPoster = std::function<void(std::string name, const void* sender)>;

  // Creates the model and loads the settings from `file`: logs "initialising model", then takes
  // "UID", "email", "saveUID" and "isValid" from the stored dictionary; a missing or unreadable
  // file leaves the defaults (empty texts, both flags false). "modelLoaded" goes to `post` (none
  // is posted without one). With `secrets`, a remembered sign-in's secret is looked up there; a
  // keyring that could not be read leaves it empty and loadFailure() says why. Until the keyring
  // has answered, secretPending() holds.
  explicit AppSettings(SettingsFile file, NotificationPoster post = nullptr,
                       std::shared_ptr<SecretStore> secrets = nullptr);
  AppSettings(const AppSettings&) = delete;
  AppSettings& operator=(const AppSettings&) = delete;

  // Shows the values in the attached fields and check box, then posts "modelLoaded" with this
  // model as sender.
  void setInitialFieldValue();

  // Enables or disables the user-name field, the password field and the check box, in that order.
  void fieldsEnabled(bool enabled);

  // Takes the values from the attached fields and check box and saves them to the settings
  // file, and the secret to the keyring. Without "remember" (`saveUID` false) the file holds the
  // user name but an empty password and a false "isValid"; the values in memory keep the password
  // for this run. Logs "settings written", or "setting write failed" and the reason (the previous
  // file is then unchanged; the in-memory values already follow the fields; saveFailure() holds
  // the reason until the next save works). `done`, when given, is told the outcome once the
  // keyring has answered too: nothing when all was kept, else why not. Answers whether it saved,
  // as far as known on return (a keyring that answers on a loop has not answered yet).
  using Done = std::function<void(const std::optional<Error>&)>;
  bool refresh(Done done = nullptr);
  const std::optional<Error>& saveFailure() const { return saveFailure_; }
  const std::optional<Error>& loadFailure() const { return loadFailure_; }
  // The keyring has not yet answered the lookup of the remembered secret.
  bool secretPending() const { return secretPending_; }
  // Called (once per lookup) when the keyring's answer has arrived; replaces an earlier handler.
  void setSecretLoaded(std::function<void()> handler) { secretLoaded_ = std::move(handler); }
  // Where a remembered secret is kept: the keyring's or the settings file's description.
  std::string secretsLocation() const;
  // The interface action of the pane: exactly `refresh`; the sender is ignored.
  void writeValues(const View* sender);

  const std::string& UID() const { return UID_; }
  void setUID(std::string UID) { UID_ = std::move(UID); }
  const std::string& email() const { return email_; }
  void setEmail(std::string email) { email_ = std::move(email); }
  // The access token of a sign-in approved in the browser, as a token reply
  // ("oauth_token=K&oauth_token_secret=S"); empty for a sign-in with a password.
  const std::string& accessToken() const { return accessToken_; }
  void setAccessToken(std::string token) { accessToken_ = std::move(token); }
  bool saveUID() const { return saveUID_; }
  void setSaveUID(bool saveUID) { saveUID_ = saveUID; }
  bool isValid() const { return isValid_; }
  void setIsValid(bool isValid) { isValid_ = isValid; }
  bool logged_in() const { return logged_in_; }
  void setLogged_in(bool loggedIn) { logged_in_ = loggedIn; }
  // The dictionary read from the settings file at creation; absent if there was none. Never
  // written back.
  const std::optional<PropertyList::Dictionary>& _prefs() const { return prefs_; }
  void set_prefs(std::optional<PropertyList::Dictionary> prefs) { prefs_ = std::move(prefs); }

  // The pane's views, held without ownership: a view that has gone away counts as not attached.
  std::shared_ptr<SecureTextField> UID_fld() const { return UID_fld_.lock(); }
  void setUID_fld(const std::shared_ptr<SecureTextField>& field) { UID_fld_ = field; }
  std::shared_ptr<TextField> email_fld() const { return email_fld_.lock(); }
  void setEmail_fld(const std::shared_ptr<TextField>& field) { email_fld_ = field; }
  std::shared_ptr<Button> sign_in() const { return sign_in_.lock(); }
  void setSign_in(const std::shared_ptr<Button>& button) { sign_in_ = button; }
  std::shared_ptr<CheckBox> remember_login() const { return remember_login_.lock(); }
  void setRemember_login(const std::shared_ptr<CheckBox>& box) { remember_login_ = box; }

  const SettingsFile& settingsFile() const { return file_; }

 private:
  void apply(const PropertyList::Dictionary& prefs);
  void lookUpSecret();
  void keepSecret(SecretStore::Done done);
  // Writes the settings file, the secret in it when `withSecret`.
  std::optional<Error> writeFile(bool withSecret);
  void reportSave(const std::optional<Error>& failure);

  SettingsFile file_;
  NotificationPoster post_;
  std::shared_ptr<SecretStore> secrets_;
  std::string UID_;
  std::string accessToken_;
  std::string email_;
  bool saveUID_ = false;
  bool isValid_ = false;
  bool logged_in_ = false;
  std::optional<PropertyList::Dictionary> prefs_;
  // The user whose secret the settings file holds (empty: none): a secret written there by an
  // older version stays until the keyring has taken it.
  std::string fileSecretOwner_;
  std::optional<Error> saveFailure_;
  std::optional<Error> loadFailure_;
  bool secretPending_ = false;
  std::function<void()> secretLoaded_;
  std::uint64_t saves_ = 0;  // refreshes so far; a keyring answer acts for the latest only
  // Answers that come after the model has gone are dropped.
  std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
  std::weak_ptr<SecureTextField> UID_fld_;
  std::weak_ptr<TextField> email_fld_;
  std::weak_ptr<Button> sign_in_;
  std::weak_ptr<CheckBox> remember_login_;
};

}  // namespace marigold
