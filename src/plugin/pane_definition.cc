#include "plugin/pane_definition.h"

#include "base/log.h"
#include "platform/notification_center.h"
#include "plugin/export_plugin_box.h"
#include "plugin/pane_contract.h"
#include "settings/app_settings.h"

namespace marigold {
namespace {

template <typename T>
std::shared_ptr<T> control(Box& box, const char* identifier, Rect frame) {
  auto view = std::make_shared<T>(frame);
  view->setIdentifier(identifier);
  box.addSubview(view);
  return view;
}

}  // namespace

void loadPaneDefinition(KZExportController& controller, SettingsFile settingsFile,
                        bool useDesktopKeyring, RunLoop* keyringAnswersOn) {
  KZExportController::Outlets o;
  o.mSettingsBox = std::make_shared<KZExportPluginBox>(Rect{0, 0, 520, 360});
  o.mSettingsBox->setTitle("Plinth");  // the service's name, the same in every language
  o.mSettingsBox->setIdentifier(pane::kSettingsBox);
  o.mSettingsBox->setPlugin(&controller);
  Box& box = *o.mSettingsBox;

  o.plinthUsername = control<TextField>(box, pane::kUserName, {20, 320, 240, 22});
  o.plinthPassword = control<SecureTextField>(box, pane::kPassword, {20, 290, 240, 22});
  o.plinthRememberMe = control<CheckBox>(box, pane::kRememberMe, {20, 260, 240, 18});
  o.plinthRememberMe->setTitle(tr("Remember me"));
  o.loginButton = control<Button>(box, pane::kLoginButton, {280, 290, 100, 28});
  o.loginButton->setTitle(tr(kLogInTitle));
  o.browserLoginButton = control<Button>(box, pane::kBrowserLoginButton, {280, 255, 180, 28});
  o.browserLoginButton->setTitle(tr("Sign in with browser"));
  o.plinthSelect = control<PopUpButton>(box, pane::kBlogMenu, {20, 220, 240, 26});
  o.plinthStatus = control<PopUpButton>(box, pane::kStateMenu, {280, 220, 140, 26});
  for (const char* state : pane::kPostStates) o.plinthStatus->addItemWithTitle(tr(state));
  o.plinthCaptions = control<TextField>(box, pane::kCaption, {20, 180, 400, 22});
  o.plinthTags = control<TextField>(box, pane::kTags, {20, 150, 400, 22});
  o.plinthClickthrough = control<TextField>(box, pane::kClickThrough, {20, 120, 400, 22});
  o.notificationField = control<TextField>(box, pane::kNotice, {20, 90, 400, 22});
  o.notificationField->setStringValue(tr(kOverSizeNotice));
  o.notificationField->setHidden(true);
  o.imagePreview = control<ImageView>(box, pane::kPreview, {440, 120, 64, 64});
  o.completeView = std::make_shared<ImageView>(Rect{0, 0, 64, 64});
  o.completeView->setIdentifier(pane::kCompleteView);
  o.mFirstView = o.plinthUsername;

  NotificationCenter& center = controller.application().notificationCenter();
  // The desktop keyring keeps the remembered secret where there is one; else the settings file.
  Message noKeyring;
  std::shared_ptr<SecretStore> secrets =
      useDesktopKeyring ? SecretStore::connect(&noKeyring, keyringAnswersOn) : nullptr;
  if (!secrets) {
    log("secrets kept in the settings file: " +
        (useDesktopKeyring ? noKeyring.english()
                           : std::string("the host keeps them out of the desktop keyring")));
  }
  o.appModel = std::make_shared<AppSettings>(
      std::move(settingsFile),
      [&center](std::string name, const void* sender) {
        center.postNotificationName(std::move(name), sender);
      },
      std::move(secrets));
  o.appModel->setEmail_fld(o.plinthUsername);
  o.appModel->setUID_fld(o.plinthPassword);
  o.appModel->setRemember_login(o.plinthRememberMe);
  o.appModel->setSign_in(o.loginButton);
  o.loginButton->setAction([&controller] { controller.login(nullptr); });
  // Return in the user name or the password field signs in, as the button does.
  o.plinthUsername->setAction([&controller] { controller.login(nullptr); });
  o.plinthPassword->setAction([&controller] { controller.login(nullptr); });
  o.browserLoginButton->setAction([&controller] { controller.browserLogin(); });
  // Toggling "Remember me" saves the fields, as the model's interface action does.
  std::weak_ptr<AppSettings> model = o.appModel;
  o.plinthRememberMe->setAction([model] {
    if (auto settings = model.lock()) settings->writeValues(nullptr);
  });

  controller.connectOutlets(std::move(o));
  controller.awakeFromNib();
}

}  // namespace marigold
