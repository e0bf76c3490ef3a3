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
  auto found = secrets_->lookup(email_);
  if (auto* failure = std::get_if<Error>(&found)) {
    log("keyring lookup failed: " + failure->description);
    loadFailure_ = std::move(*failure);
    return;
  }
  const auto& secret = std::get<std::optional<StoredSecret>>(found);
  if (!secret) return;
  if (secret->kind == StoredSecret::Kind::kToken) {
    accessToken_ = secret->value;
  } else {
    UID_ = secret->value;
  }
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

bool AppSettings::refresh() {
  if (auto field = email_fld()) email_ = field->stringValue();
  if (auto field = UID_fld()) UID_ = field->stringValue();
  if (auto box = remember_login()) saveUID_ = box->state() == ControlState::kOn;
  std::optional<Error> keyringFailure = keepSecret();
  // Without "remember" the secret stays in memory only; with a keyring it goes into the file only
  // while the file held it already (an older version kept it there) and the keyring has not
  // taken it: it must not be lost to a locked keyring. The stored validity describes the stored
  // credentials, so it is kept only with "remember": a stored name without a secret must not make
  // the next showing of the pane sign in with an empty password.
  const bool fileKeepsOldSecret =
      keyringFailure && !fileSecretOwner_.empty() && fileSecretOwner_ == email_ && saveUID_;
  const bool secretInFile = saveUID_ && (!secrets_ || fileKeepsOldSecret);
  PropertyList::Dictionary settings{{"email", PropertyList(email_)},
                                    {"UID", PropertyList(secretInFile ? UID_ : std::string())},
                                    {"saveUID", text(saveUID_)},
                                    {"isValid", text(saveUID_ && isValid_)}};
  if (secretInFile && !accessToken_.empty()) settings.emplace("token", PropertyList(accessToken_));
  if (fileKeepsOldSecret) {
    log("the desktop keyring did not take the saved sign-in; it stays in the settings file: " +
        keyringFailure->description);
    keyringFailure.reset();
  }
  saveFailure_ = file_.save(settings);
  if (!saveFailure_ && secretInFile) fileSecretOwner_ = email_;
  if (!saveFailure_ && !secretInFile) fileSecretOwner_.clear();
  if (!saveFailure_) saveFailure_ = std::move(keyringFailure);
  if (saveFailure_) {
    log("setting write failed");
    log(saveFailure_->text());
    return false;
  }
  log("settings written");
  return true;
}

std::optional<Error> AppSettings::keepSecret() {
  if (!secrets_) return std::nullopt;
  if (saveUID_ && !email_.empty() && !accessToken_.empty()) {
    return secrets_->store(email_, {StoredSecret::Kind::kToken, accessToken_});
  }
  if (saveUID_ && !email_.empty() && !UID_.empty()) {
    return secrets_->store(email_, {StoredSecret::Kind::kPassword, UID_});
  }
  return secrets_->clear();
}

void AppSettings::writeValues(const View* /*sender*/) { refresh(); }

}  // namespace marigold
