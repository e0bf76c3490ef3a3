// The controller's answers to the host and the settings pane's rules.
#include "plugin/export_controller.h"

#include <utility>

#include "base/log.h"
#include "base/translation.h"
#include "platform/alert.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/image.h"
#include "platform/progress_indicator.h"
#include "platform/updater.h"
#include "platform/window.h"
#include "plugin/export_plugin_box.h"
#include "plugin/pane_definition.h"
#include "settings/app_settings.h"

namespace marigold {

KZExportController::KZExportController(ExportImageProtocol& exportManager, Environment environment)
    : mExportMgr(exportManager), environment_(std::move(environment)) {
  if (environment_.log != nullptr) logRoute_.emplace(*environment_.log);
}

KZExportController::~KZExportController() {
  // The host may keep the pane and the sheets after the plug-in is gone; none of them may call
  // back into it (sheet handlers check alive_ themselves).
  if (outlets_.mSettingsBox) outlets_.mSettingsBox->setPlugin(nullptr);
  if (outlets_.loginButton) outlets_.loginButton->setAction(nullptr);
  if (outlets_.plinthUsername) outlets_.plinthUsername->setAction(nullptr);
  if (outlets_.plinthPassword) outlets_.plinthPassword->setAction(nullptr);
}

void KZExportController::connectOutlets(Outlets outlets) {
  outlets_ = std::move(outlets);
  if (!outlets_.appModel) return;
  // A keyring that answers later (while the window stays live) signs in when its answer comes.
  outlets_.appModel->setSecretLoaded([this, alive = std::weak_ptr<const bool>(alive_)] {
    if (alive.expired() || !signInAwaitsKeyring_) return;
    signInAwaitsKeyring_ = false;
    if (!loggedIn_) signInAsRemembered();
  });
}

void KZExportController::setParams(ParameterList params) {
  ownParams_ = std::move(params);
  params_ = post_signing::viewsOf(ownParams_);
  paramsInBody_ = false;
}

void KZExportController::setRequest(std::optional<URLRequest> request) {
  // Parameters that view the old request's body take copies of their text first.
  if (paramsInBody_) {
    ParameterList copies;
    copies.reserve(params_.size());
    for (const auto& p : params_) copies.push_back({std::string(p.key), std::string(p.value)});
    setParams(std::move(copies));
  }
  request_ = std::move(request);
}

void KZExportController::setPhotoDataArray(std::vector<Bytes> photos) {
  // The parameters may point at the old photos' bytes to sign them faster; their encoded text
  // alone serves as well.
  for (auto& parameter : params_) parameter.source.reset();
  photoDataArray_ = std::move(photos);
}

std::shared_ptr<TextField> KZExportController::notificationField() const {
  std::lock_guard hold(propertyLock_);
  return outlets_.notificationField;
}

void KZExportController::setNotificationField(std::shared_ptr<TextField> field) {
  std::lock_guard hold(propertyLock_);
  outlets_.notificationField = std::move(field);
}

std::shared_ptr<ImageView> KZExportController::completeView() const {
  std::lock_guard hold(propertyLock_);
  return outlets_.completeView;
}

void KZExportController::setCompleteView(std::shared_ptr<ImageView> view) {
  std::lock_guard hold(propertyLock_);
  outlets_.completeView = std::move(view);
}

std::shared_ptr<Button> KZExportController::loginButton() const {
  std::lock_guard hold(propertyLock_);
  return outlets_.loginButton;
}

void KZExportController::setLoginButton(std::shared_ptr<Button> button) {
  std::lock_guard hold(propertyLock_);
  outlets_.loginButton = std::move(button);
}

std::optional<OAConsumer> KZExportController::consumer() const {
  std::lock_guard hold(propertyLock_);
  return consumer_;
}

void KZExportController::setConsumer(std::optional<OAConsumer> consumer) {
  std::lock_guard hold(propertyLock_);
  consumer_ = std::move(consumer);
}

std::optional<OAToken> KZExportController::accessToken() const {
  std::lock_guard hold(propertyLock_);
  return accessToken_;
}

void KZExportController::setAccessToken(std::optional<OAToken> token) {
  std::lock_guard hold(propertyLock_);
  accessToken_ = std::move(token);
}

void KZExportController::awakeFromNib() {
  environment_.application.updaterForBundle(environment_.bundlePath).resetUpdateCycle();
  loggedIn_ = false;
  activated_ = false;
  resetFields();
}

std::shared_ptr<View> KZExportController::settingsView() { return outlets_.mSettingsBox; }

std::shared_ptr<View> KZExportController::firstView() { return outlets_.mFirstView; }

void KZExportController::viewWillBeActivated() {
  // Awakening and the first activation show the pane once; any later activation shows it anew.
  if (activated_) signInUnanswered_ = false;
  activated_ = true;
  resetFields();
}

std::string KZExportController::requiredFileType() {
  return mExportMgr.imageCount() > 1 ? "" : "jpg";
}

std::string KZExportController::defaultFileName() {
  return mExportMgr.imageCount() > 1 ? "" : "kze-0";
}

void KZExportController::resetFields() {
  if (outlets_.appModel) outlets_.appModel->setInitialFieldValue();
  outlets_.plinthCaptions->setStringValue("");
  outlets_.plinthTags->setStringValue("");

  std::optional<Image> preview;
  if (mExportMgr.imageCount() > 0) {
    if (auto bytes = readWholeFile(mExportMgr.imagePathAtIndex(0))) {
      preview = Image::fromData(*bytes);
    }
  }
  outlets_.imagePreview->setImage(std::move(preview));

  // An automatic sign-in that got no reply is not repeated by another reset within the same
  // showing (the host resets the pane when it loads the plug-in and again when it shows it): one
  // alert and one wait are enough. The next showing tries again.
  if (outlets_.appModel && outlets_.appModel->saveUID() && outlets_.appModel->isValid() &&
      !signInUnanswered_) {
    signInAwaitsKeyring_ = outlets_.appModel->secretPending();
    if (!signInAwaitsKeyring_) signInAsRemembered();
  }

  // Summed in 64 bits: a selection of several GiB must not wrap round to a small total.
  std::uint64_t total = 0;
  const std::uint32_t count = mExportMgr.imageCount();
  for (std::uint32_t i = 0; i < count; ++i) total += fileSize(mExportMgr.imagePathAtIndex(i));
  const bool overSize = total > kMaxUploadBytes;
  const bool overCount = count > kMaxUploadPhotos;
  const bool overLimit = overSize || overCount;
  log("total size " + std::to_string(total));
  log("max size " + std::to_string(kMaxUploadBytes));

  overLimit_ = overLimit;
  postEnabled(loggedIn_);

  if (count > 1) {
    disableClickThroughForPhotoSet();
  } else {
    outlets_.plinthClickthrough->setEnabled(true);
    outlets_.plinthClickthrough->setStringValue("");
  }

  if (overLimit)
    outlets_.notificationField->setStringValue(tr(overCount ? kOverCountNotice : kOverSizeNotice));
  outlets_.notificationField->setHidden(!overLimit);
}

void KZExportController::signInAsRemembered() {
  if (const auto& failure = outlets_.appModel->loadFailure()) {
    // The keyring could not give the saved secret (locked, its prompt dismissed, refused): say so
    // rather than send an empty password or fall back to another store.
    signInUnanswered_ = true;
    showLoginFailure(
        tr("Your saved sign-in could not be read: %1.", {failure->shownDescription()}));
  } else if (outlets_.appModel->UID().empty() && outlets_.appModel->accessToken().empty()) {
    // A user name kept without its password (the keyring holds none for it, or it was kept
    // where this host cannot read it): the pane stays signed out for the password to be typed,
    // rather than sending an empty one and blaming the user for the refusal.
    log("the saved sign-in has no password; not signing in");
  } else {
    login();
  }
}

void KZExportController::postEnabled(bool enabled) {
  // A selection over the limits stays unpostable whatever asks for posting (a sign-in with the
  // button after the pane was shown, say), until the next pane reset looks at it again.
  enabled = enabled && !overLimit_;
  outlets_.plinthSelect->setEnabled(enabled);
  outlets_.plinthStatus->setEnabled(enabled);
  outlets_.plinthCaptions->setEnabled(enabled);
  outlets_.plinthClickthrough->setEnabled(enabled);
  outlets_.plinthTags->setEnabled(enabled);
  if (enabled) {
    mExportMgr.enableControls();
  } else {
    mExportMgr.disableControls();
  }
}

void KZExportController::disableClickThroughForPhotoSet() {
  outlets_.plinthClickthrough->setEnabled(false);
  outlets_.plinthClickthrough->setStringValue(tr("Click through is not available for photo sets"));
}

void KZExportController::endPluginRun() {
  resetFields();
  if (auto window = mExportMgr.window()) window->close();
}

Alert::EndHandler KZExportController::sheetEndHandler() {
  return [this, alive = std::weak_ptr<const bool>(alive_)](ModalResponse response) {
    if (!alive.expired()) publishedSuccessfullyDidEnd(response);
  };
}

void KZExportController::publishedSuccessfullyDidEnd(long /*returnCode*/) {
  environment_.application.stopModal();
  if (auto window = mExportMgr.window()) window->close();
}

}  // namespace marigold
