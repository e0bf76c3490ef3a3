#include "catalogue.h"

#include <dlfcn.h>
#include <libintl.h>

#include <filesystem>
#include <system_error>

namespace marigold::integrations {

void useCatalogue(void* symbol, const char* relativeLocale) {
  Dl_info info{};
  if (dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) return;
  std::error_code failed;
  const std::filesystem::path module = std::filesystem::canonical(info.dli_fname, failed);
  if (failed) return;
  const std::filesystem::path folder = (module.parent_path() / relativeLocale).lexically_normal();
  bindtextdomain("marigold", folder.c_str());
  bind_textdomain_codeset("marigold", "UTF-8");
}

const char* tr(const char* text) { return dgettext("marigold", text); }

}  // namespace marigold::integrations
