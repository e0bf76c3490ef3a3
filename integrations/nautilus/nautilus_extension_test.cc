// The GNOME Files extension as GNOME Files loads it: the built module opened with dlopen, its
// provider registered through nautilus_module_initialize on a type module, found through
// nautilus_module_list_types, and asked for its items for selections of files that answer as
// GNOME Files' own files do. The item's activation starts MARIGOLD_GUI, here a script that writes
// down what it was given.
#include <dlfcn.h>
#include <gtest/gtest.h>
extern "C" {
#include <nautilus-extension.h>
}

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/temporary_home.h"

namespace {

namespace fs = std::filesystem;

// A file as GNOME Files describes it to extensions: its URI and MIME type.
struct TestFile {
  GObject parent;
  char* uri;
  char* mimeType;
};
struct TestFileClass {
  GObjectClass parent;
};

char* testFileUri(NautilusFileInfo* info) { return g_strdup(((TestFile*)info)->uri); }
char* testFileScheme(NautilusFileInfo* info) { return g_uri_parse_scheme(((TestFile*)info)->uri); }
char* testFileMimeType(NautilusFileInfo* info) { return g_strdup(((TestFile*)info)->mimeType); }
GFile* testFileLocation(NautilusFileInfo* info) {
  return g_file_new_for_uri(((TestFile*)info)->uri);
}
void testFileFinalize(GObject* object) {
  g_free(((TestFile*)object)->uri);
  g_free(((TestFile*)object)->mimeType);
}

GType testFileType() {
  static GType type = 0;
  if (type != 0) return type;
  const GTypeInfo info = {
      sizeof(TestFileClass),
      nullptr,
      nullptr,
      [](gpointer klass, gpointer) { G_OBJECT_CLASS(klass)->finalize = testFileFinalize; },
      nullptr,
      nullptr,
      sizeof(TestFile),
      0,
      nullptr,
      nullptr};
  type =
      g_type_register_static(G_TYPE_OBJECT, "MarigoldTestFile", &info, static_cast<GTypeFlags>(0));
  const GInterfaceInfo fileInfo = {[](gpointer iface, gpointer) {
                                     auto* i = static_cast<NautilusFileInfoInterface*>(iface);
                                     i->get_uri = testFileUri;
                                     i->get_uri_scheme = testFileScheme;
                                     i->get_mime_type = testFileMimeType;
                                     i->get_location = testFileLocation;
                                   },
                                   nullptr, nullptr};
  g_type_add_interface_static(type, NAUTILUS_TYPE_FILE_INFO, &fileInfo);
  return type;
}

GObject* newTestFile(const std::string& uri, const std::string& mimeType) {
  auto* file = static_cast<TestFile*>(g_object_new(testFileType(), nullptr));
  file->uri = g_strdup(uri.c_str());
  file->mimeType = g_strdup(mimeType.c_str());
  return G_OBJECT(file);
}

// The type module GNOME Files makes for each extension: loading it opens the module and calls
// its initialize entry point.
struct ExtensionModule {
  GTypeModule parent;
  void* handle;
};
struct ExtensionModuleClass {
  GTypeModuleClass parent;
};
using Initialize = void (*)(GTypeModule*);
using ListTypes = void (*)(const GType**, int*);

gboolean extensionLoad(GTypeModule* module) {
  auto* self = reinterpret_cast<ExtensionModule*>(module);
  self->handle = dlopen(MARIGOLD_NAUTILUS_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (self->handle == nullptr) return FALSE;
  auto initialize = reinterpret_cast<Initialize>(dlsym(self->handle, "nautilus_module_initialize"));
  if (initialize == nullptr) return FALSE;
  initialize(module);
  return TRUE;
}

GType extensionModuleType() {
  static GType type = 0;
  if (type != 0) return type;
  const GTypeInfo info = {sizeof(ExtensionModuleClass),
                          nullptr,
                          nullptr,
                          [](gpointer klass, gpointer) {
                            G_TYPE_MODULE_CLASS(klass)->load = extensionLoad;
                            G_TYPE_MODULE_CLASS(klass)->unload = [](GTypeModule*) {};
                          },
                          nullptr,
                          nullptr,
                          sizeof(ExtensionModule),
                          0,
                          nullptr,
                          nullptr};
  type = g_type_register_static(G_TYPE_TYPE_MODULE, "MarigoldTestExtensionModule", &info,
                                static_cast<GTypeFlags>(0));
  return type;
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(NautilusExtensionTest, OffersPostToPlinthForLocalImagesOnly) {
  // A GLib warning or critical from the extension (a wrong type, a bad argument) ends the test.
  g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
  marigold::TemporaryHome home;
  // The window's stand-in writes down its arguments, one per line, once they are all written.
  const fs::path record = home.path() / "window-arguments";
  const fs::path window = home.path() / "marigold-gui";
  std::ofstream(window) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << record.string()
                        << ".part' && mv '" << record.string() << ".part' '" << record.string()
                        << "'\n";
  fs::permissions(window, fs::perms::owner_all);
  g_setenv("MARIGOLD_GUI", window.c_str(), TRUE);

  auto* module = static_cast<GTypeModule*>(g_object_new(extensionModuleType(), nullptr));
  ASSERT_TRUE(g_type_module_use(module)) << dlerror();
  auto listTypes = reinterpret_cast<ListTypes>(
      dlsym(reinterpret_cast<ExtensionModule*>(module)->handle, "nautilus_module_list_types"));
  ASSERT_NE(listTypes, nullptr);
  ASSERT_NE(dlsym(reinterpret_cast<ExtensionModule*>(module)->handle, "nautilus_module_shutdown"),
            nullptr);
  const GType* types = nullptr;
  int count = 0;
  listTypes(&types, &count);
  ASSERT_EQ(count, 1);
  ASSERT_TRUE(g_type_is_a(types[0], NAUTILUS_TYPE_MENU_PROVIDER));
  GObject* provider = static_cast<GObject*>(g_object_new(types[0], nullptr));

  const std::string folder = "file://" + home.path().string() + "/";
  struct File {
    std::string uri, type;
  };
  struct Case {
    const char* name;
    std::vector<File> files;
    std::vector<std::string> window;  // the paths the window is opened with; none: no item
  };
  const Case kCases[] = {
      {"photos, in the selection's order",
       {{folder + "b%20dusk.jpg", "image/jpeg"},
        {folder + "a.png", "image/png"},
        {folder + "c.heic", "image/heic"}},
       {home.path().string() + "/b dusk.jpg", home.path().string() + "/a.png",
        home.path().string() + "/c.heic"}},
      {"a photo and a text file",
       {{folder + "a.jpg", "image/jpeg"}, {folder + "n.txt", "text/plain"}},
       {}},
      {"a folder", {{folder + "photos", "inode/directory"}}, {}},
      {"a photo on a server", {{"sftp://host/a.jpg", "image/jpeg"}}, {}},
      {"nothing", {}, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GList* files = nullptr;
    for (const File& file : c.files) files = g_list_append(files, newTestFile(file.uri, file.type));
    GList* items = nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(provider), files);
    if (c.window.empty()) {
      EXPECT_EQ(items, nullptr);
    } else {
      ASSERT_EQ(g_list_length(items), 1u);
      auto* item = NAUTILUS_MENU_ITEM(items->data);
      g_autofree char* label = nullptr;
      g_autofree char* icon = nullptr;
      g_object_get(item, "label", &label, "icon", &icon, nullptr);
      EXPECT_STREQ(label, "Post to Plinth...");
      EXPECT_STREQ(icon, "marigold-gui");
      fs::remove(record);
      nautilus_menu_item_activate(item);
      for (int i = 0; i < 500 && !fs::exists(record); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      std::string expected;
      for (const auto& path : c.window) expected += path + "\n";
      EXPECT_EQ(readAll(record), expected);
    }
    if (items != nullptr) nautilus_menu_item_list_free(items);
    g_list_free_full(files, g_object_unref);
  }
  g_object_unref(provider);
}

}  // namespace
