// The loadable module's one export.
#include "plugin/plugin_entry.h"

#include <filesystem>

#include "plugin/export_controller.h"
#include "plugin/pane_definition.h"

namespace marigold {
namespace {

std::unique_ptr<ExportPluginProtocol> createPlugin(ExportImageProtocol& exportManager,
                                                   const PluginServices& services) {
  const ServiceConfiguration& service = services.service;
  auto controller = std::make_unique<KZExportController>(
      exportManager,
      KZExportController::Environment{
          services.application, services.runLoop,
          ServiceEndpoints::configured(service.authBase, service.apiBase,
                                       service.trustedAuthorityFile),
          services.bundlePath,
          ConsumerCredentials::fromConfiguration(
              {service.consumerKey, service.consumerSecret, service.configurationHome}),
          services.log, services.postEnded, services.uploadProgressed});
  const std::filesystem::path folder = services.settingsFolder.empty()
                                           ? SettingsFile::defaultFolder()
                                           : std::filesystem::path(services.settingsFolder);
  SettingsFile settings = services.settingsInMemory
                              ? SettingsFile::inMemory(services.settingsInMemory, folder)
                              : SettingsFile(folder);
  loadPaneDefinition(*controller, std::move(settings), services.useDesktopKeyring,
                     services.keyringInBackground ? &services.runLoop : nullptr);
  return controller;
}

}  // namespace
}  // namespace marigold

// The single-declaration form of extern "C" gives the constant external linkage.
extern "C" __attribute__((visibility("default")))
const marigold::PluginEntry marigoldPluginEntry = {marigold::kPluginABIVersion,
                                                   &marigold::createPlugin};
