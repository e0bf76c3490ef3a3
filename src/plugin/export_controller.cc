// The controller's answers to the host and the settings pane's rules.
#include "plugin/export_controller.h"

#include <utility>

#include "platform/alert.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/image.h"
#include "platform/log.h"
#include "platform/progress_indicator.h"
#include "platform/updater.h"
#include "platform/window.h"
#include "plugin/export_plugin_box.h"
#include "plugin/pane_definition.h"
#include "settings/app_settings.h"

namespace marigold {

KZExportController::KZExportController(ExportImageProtocol& exportManager, Environment environment)
    : mExportMgr(exportManager), environment_(std::move(environment)) {}

KZExportController::~KZExportController() {
  // The host may keep the pane and the sheets after the plug-in is gone; none of them may call
  // back into it (sheet handlers check alive_ themselves).
  if (outlets_.mSettingsBox) outlets_.mSettingsBox->setPlugin(nullptr);
  if (outlets_.loginButton) outlets_.loginButton->setAction(nullptr);
}

void KZExportController::connectOutlets(Outlets outlets) { outlets_ = std::move(outlets); }

void KZExportController::awakeFromNib() {
  environment_.application.updaterForBundle(environment_.bundlePath).resetUpdateCycle();
  loggedIn_ = false;
  resetFields();
}

std::shared_ptr<View> KZExportController::settingsView() { return outlets_.mSettingsBox; }

std::shared_ptr<View> KZExportController::firstView() { return outlets_.mFirstView; }

void KZExportController::viewWillBeActivated() { resetFields(); }

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

  // An automatic sign-in that got no reply is not repeated by the next reset (the host resets the
  // pane when it loads the plug-in and again when it shows it): one alert and one wait are enough;
  // the user signs in with the button once the service can be reached.
  if (outlets_.appModel && outlets_.appModel->saveUID() && outlets_.appModel->isValid() &&
      !signInUnanswered_) {
    login();
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
    outlets_.plinthClickthrough->setEnabled(false);
    outlets_.plinthClickthrough->setStringValue("Click through is not available for photo sets");
  } else {
    outlets_.plinthClickthrough->setEnabled(true);
    outlets_.plinthClickthrough->setStringValue("");
  }

  if (overLimit)
    outlets_.notificationField->setStringValue(overCount ? kOverCountNotice : kOverSizeNotice);
  outlets_.notificationField->setHidden(!overLimit);
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
