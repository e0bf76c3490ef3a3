// The GNOME Files (Nautilus 43, extension API 4) extension: "Post to Plinth..." in the menu of a
// selection whose files are all local images, opening the window (marigold-gui) with them in the
// selection's order. Nothing is offered for any other selection. GNOME Files loads every module
// in its extensions folder and finds the menu provider through the three nautilus_module_*
// entry points. The window is the program named by MARIGOLD_GUI, else marigold-gui on the PATH.
#include <gio/gio.h>

// The header declares the module's entry points without C linkage.
extern "C" {
#include <nautilus-extension.h>
}

#include <string>
#include <vector>

#include "window_launcher.h"

namespace {

using marigold::integrations::tr;

GType providerType = 0;

// The local paths of `files`, in order; empty unless every one is a local file of an image type.
std::vector<std::string> photoPaths(GList* files) {
  std::vector<std::string> paths;
  for (GList* at = files; at != nullptr; at = at->next) {
    auto* file = NAUTILUS_FILE_INFO(at->data);
    g_autofree char* scheme = nautilus_file_info_get_uri_scheme(file);
    g_autofree char* type = nautilus_file_info_get_mime_type(file);
    if (scheme == nullptr || g_strcmp0(scheme, "file") != 0 || type == nullptr ||
        !g_str_has_prefix(type, "image/")) {
      return {};
    }
    g_autoptr(GFile) location = nautilus_file_info_get_location(file);
    g_autofree char* path = location != nullptr ? g_file_get_path(location) : nullptr;
    if (path == nullptr) return {};
    paths.emplace_back(path);
  }
  return paths;
}

void postActivated(NautilusMenuItem* item, gpointer) {
  const auto* paths =
      static_cast<std::vector<std::string>*>(g_object_get_data(G_OBJECT(item), "marigold-paths"));
  if (paths != nullptr) marigold::integrations::openWindow(*paths);
}

GList* fileItems(NautilusMenuProvider*, GList* files) {
  std::vector<std::string> paths = photoPaths(files);
  if (paths.empty()) return nullptr;
  NautilusMenuItem* item =
      nautilus_menu_item_new("Marigold::PostToPlinth", tr("Post to Plinth..."),
                             tr("Post photos to a Plinth blog"), "marigold-gui");
  g_object_set_data_full(
      G_OBJECT(item), "marigold-paths", new std::vector<std::string>(std::move(paths)),
      [](gpointer data) { delete static_cast<std::vector<std::string>*>(data); });
  g_signal_connect(item, "activate", G_CALLBACK(postActivated), nullptr);
  return g_list_append(nullptr, item);
}

void menuProviderInit(gpointer iface, gpointer) {
  static_cast<NautilusMenuProviderInterface*>(iface)->get_file_items = fileItems;
}

void registerProvider(GTypeModule* module) {
  const GTypeInfo info = {sizeof(GObjectClass), nullptr, nullptr, nullptr, nullptr, nullptr,
                          sizeof(GObject),      0,       nullptr, nullptr};
  providerType = g_type_module_register_type(module, G_TYPE_OBJECT, "MarigoldMenuProvider", &info,
                                             static_cast<GTypeFlags>(0));
  const GInterfaceInfo menuProvider = {menuProviderInit, nullptr, nullptr};
  g_type_module_add_interface(module, providerType, NAUTILUS_TYPE_MENU_PROVIDER, &menuProvider);
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void nautilus_module_initialize(GTypeModule* module) {
  marigold::integrations::useCatalogue(reinterpret_cast<void*>(&nautilus_module_initialize),
                                       MARIGOLD_RELATIVE_LOCALE);
  registerProvider(module);
}

G_MODULE_EXPORT void nautilus_module_shutdown(void) {}

G_MODULE_EXPORT void nautilus_module_list_types(const GType** types, int* count) {
  *types = &providerType;
  *count = 1;
}

}  // extern "C"
