#include "settings/app_settings.h"

#include <cctype>
#include <climits>
#include <cstdint>

#include "platform/log.h"

namespace marigold {
namespace {

// The stored flags are texts ("1", "0") read as a C integer would be: leading blanks skipped, an
// optional sign, decimal digits (none gives 0), clamped to 32 bits, then kept to its low byte as a
// one-byte boolean is.
bool flagFrom(const PropertyList& value) {
  long long number = 0;
  if (const auto* text = value.get<std::string>()) {
    std::size_t i = 0;
    while (i < text->size() && std::isspace(static_cast<unsigned char>((*text)[i]))) ++i;
    bool negative = false;
    if (i < text->size() && ((*text)[i] == '+' || (*text)[i] == '-'))
      negative = (*text)[i++] == '-';
    for (; i < text->size() && std::isdigit(static_cast<unsigned char>((*text)[i])); ++i) {
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

AppSettings::AppSettings(SettingsFile file, NotificationPoster post)
    : file_(std::move(file)), post_(std::move(post)) {
  log("initialising model");
  prefs_ = file_.load();
  if (prefs_) apply(*prefs_);
}

void AppSettings::apply(const PropertyList::Dictionary& prefs) {
  if (const auto found = prefs.find("UID"); found != prefs.end()) {
    if (const auto* value = found->second.get<std::string>()) {
      UID_ = *value;
      if (auto field = UID_fld()) field->setStringValue(UID_);
    }
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
  // Without "remember" the password stays in memory only. The stored validity describes the
  // stored credentials, so it is kept only with the password: a stored name without a password
  // must not make the next showing of the pane sign in with an empty one.
  const PropertyList::Dictionary settings{{"email", PropertyList(email_)},
                                          {"UID", PropertyList(saveUID_ ? UID_ : std::string())},
                                          {"saveUID", text(saveUID_)},
                                          {"isValid", text(saveUID_ && isValid_)}};
  saveFailure_ = file_.save(settings);
  if (saveFailure_) {
    log("setting write failed");
    log(saveFailure_->text());
    return false;
  }
  log("settings written");
  return true;
}

void AppSettings::writeValues(const View* /*sender*/) { refresh(); }

}  // namespace marigold
