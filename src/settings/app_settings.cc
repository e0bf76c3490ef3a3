#include "settings/app_settings.h"

#include <climits>
#include <cstdint>

#include "base/ascii.h"
#include "base/log.h"

namespace marigold {
namespace {

// The stored flags are texts ("1", "0") read as a C integer would be: leading blanks skipped, an
// optional sign, decimal digits (none gives 0), clamped to 32 bits, then kept to its low byte as a
// one-byte boolean is.
bool flagFrom(const PropertyList& value) {
  long long number = 0;
  if (const auto* text = value.get<std::string>()) {
    std::size_t i = 0;
    while (i < text->size() && isASCIISpace((*text)[i])) ++i;
    bool negative = false;
    if (i < text->size() && ((*text)[i] == '+' || (*text)[i] == '-'))
      negative = (*text)[i++] == '-';
    for (; i < text->size() && isASCIIDigit((*text)[i]); ++i) {
      number = std::min<long long>(number * 10 + ((*text)[i] - '0'), 1LL << 32);
    }
    if (negative) number = -number;
  } else if (const auto* integer = value.get<std::int64_t>()) {
    number = *integer;
  } else if (const auto* flag = value.get<bool>()) {
    number = *flag ? 1 : 0;
  }
  number = std::clamp<long long>(number, INT_MIN, INT_MAX);
  return static_cast<std::uint8_t>(number & 0xff) != 0;
}

ControlState stateFor(bool on) { return on ? ControlState::kOn : ControlState::kOff; }

PropertyList text(bool flag) { return PropertyList(flag ? "1" : "0"); }

}  // namespace

AppSettings::AppSettings(SettingsFile file, NotificationPoster post,
                         std::shared_ptr<SecretStore> secrets)
    : file_(std::move(file)), post_(std::move(post)), secrets_(std::move(secrets)) {
  log("initialising model");
  prefs_ = file_.load();
  if (prefs_) apply(*prefs_);
  if (!UID_.empty() || !accessToken_.empty()) fileSecretOwner_ = email_;
  lookUpSecret();
}

void AppSettings::lookUpSecret() {
  // A secret still in the file (written before the keyring was used) wins; it moves at the next
  // save.
  if (!secrets_ || !saveUID_ || email_.empty() || !UID_.empty() || !accessToken_.empty()) return;
  secretPending_ = true;
  secrets_->lookup(
      email_, [this, alive = std::weak_ptr<const bool>(alive_)](const SecretStore::Found& found) {
        if (alive.expired()) return;
        secretPending_ = false;
        if (const auto* failure = std::get_if<Error>(&found)) {
          log("keyring lookup failed: " + failure->description);
          loadFailure_ = *failure;
        } else if (const auto& secret = std::get<std::optional<StoredSecret>>(found)) {
          // Typed meanwhile: what the user typed stands.
          if (UID_.empty() && accessToken_.empty()) {
            if (secret->kind == StoredSecret::Kind::kToken) {
              accessToken_ = secret->value;
            } else {
              UID_ = secret->value;
              if (auto field = UID_fld(); field && field->stringValue().empty()) {
                field->setStringValue(UID_);
              }
            }
          }
        }
        if (secretLoaded_) secretLoaded_();
      });
}

std::string AppSettings::secretsLocation() const {
  return secrets_ ? SecretStore::kDescription
                  : "the encrypted settings file " + file_.encryptedPath().string();
}

void AppSettings::apply(const PropertyList::Dictionary& prefs) {
  if (const auto found = prefs.find("UID"); found != prefs.end()) {
    if (const auto* value = found->second.get<std::string>()) {
      UID_ = *value;
      if (auto field = UID_fld()) field->setStringValue(UID_);
    }
  }
  if (const auto found = prefs.find("token"); found != prefs.end()) {
    if (const auto* value = found->second.get<std::string>()) accessToken_ = *value;
  }
  if (const auto found = prefs.find("email"); found != prefs.end()) {
    if (const auto* value = found->second.get<std::string>()) {
      email_ = *value;
      if (auto field = email_fld()) field->setStringValue(email_);
    }
  }
  if (const auto found = prefs.find("saveUID"); found != prefs.end()) {
    saveUID_ = flagFrom(found->second);
    if (auto box = remember_login()) box->setState(stateFor(saveUID_));
  }
  if (const auto found = prefs.find("isValid"); found != prefs.end()) {
    isValid_ = flagFrom(found->second);
  }
}

void AppSettings::setInitialFieldValue() {
  if (auto field = UID_fld()) field->setStringValue(UID_);
  if (auto field = email_fld()) field->setStringValue(email_);
  if (auto box = remember_login()) box->setState(stateFor(saveUID_));
  if (post_) post_("modelLoaded", this);
}

void AppSettings::fieldsEnabled(bool enabled) {
  if (auto field = email_fld()) field->setEnabled(enabled);
  if (auto field = UID_fld()) field->setEnabled(enabled);
  if (auto box = remember_login()) box->setEnabled(enabled);
}

std::optional<Error> AppSettings::writeFile(bool withSecret) {
  // The stored validity describes the stored credentials, so it is kept only with "remember": a
  // stored name without a secret must not make the next showing of the pane sign in with an
  // empty password.
  PropertyList::Dictionary settings{{"email", PropertyList(email_)},
                                    {"UID", PropertyList(withSecret ? UID_ : std::string())},
                                    {"saveUID", text(saveUID_)},
                                    {"isValid", text(saveUID_ && isValid_)}};
  if (withSecret && !accessToken_.empty()) settings.emplace("token", PropertyList(accessToken_));
  auto failure = file_.save(settings);
  if (!failure) fileSecretOwner_ = withSecret ? email_ : std::string();
  return failure;
}

void AppSettings::reportSave(const std::optional<Error>& failure) {
  saveFailure_ = failure;
  if (saveFailure_) {
    log("setting write failed");
    log(saveFailure_->text());
  } else {
    log("settings written");
  }
}

bool AppSettings::refresh(Done done) {
  if (auto field = email_fld()) email_ = field->stringValue();
  if (auto field = UID_fld()) UID_ = field->stringValue();
  if (auto box = remember_login()) saveUID_ = box->state() == ControlState::kOn;
  // Without "remember" the secret stays in memory only; without a keyring it goes into the file.
  // With one, it goes into the file only while the file held it already (an older version kept
  // it there) and the keyring has not taken it: it must not be lost to a keyring that refuses.
  const bool fileKeepsSecret =
      saveUID_ && (!secrets_ || (!fileSecretOwner_.empty() && fileSecretOwner_ == email_));
  const std::optional<Error> fileFailure = writeFile(fileKeepsSecret);
  const std::uint64_t save = ++saves_;
  if (!secrets_) {
    reportSave(fileFailure);
    if (done) done(fileFailure);
    return !fileFailure;
  }
  saveFailure_ = fileFailure;
  keepSecret([this, alive = std::weak_ptr<const bool>(alive_), save, fileFailure,
              movesFromFile = fileKeepsSecret && !fileFailure,
              done](const std::optional<Error>& keyringFailure) {
    if (alive.expired()) return;
    std::optional<Error> outcome = fileFailure;
    if (keyringFailure && movesFromFile) {
      log("the desktop keyring did not take the saved sign-in; it stays in the settings file: " +
          keyringFailure->description);
    } else if (keyringFailure && !outcome) {
      outcome = keyringFailure;
    } else if (!keyringFailure && movesFromFile && save == saves_ && !fileSecretOwner_.empty()) {
      // The keyring has the secret now: the file no longer needs it.
      if (auto failure = writeFile(false)) {
        log("the sign-in stays in the settings file as well: " + failure->text());
      }
    }
    if (save == saves_) reportSave(outcome);
    if (done) done(outcome);
  });
  return !saveFailure_;
}

void AppSettings::keepSecret(SecretStore::Done done) {
  if (saveUID_ && !email_.empty() && !accessToken_.empty()) {
    secrets_->store(email_, {StoredSecret::Kind::kToken, accessToken_}, std::move(done));
  } else if (saveUID_ && !email_.empty() && !UID_.empty()) {
    secrets_->store(email_, {StoredSecret::Kind::kPassword, UID_}, std::move(done));
  } else {
    secrets_->clear(std::move(done));
  }
}

void AppSettings::writeValues(const View* /*sender*/) { refresh(); }

}  // namespace marigold
