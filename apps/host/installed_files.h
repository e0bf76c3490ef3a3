// Where a host finds the files that come with it (the plug-in module, the simulator, the sample
// photos, the translations): a path named by an environment variable when set; else, for a program
// running from the build tree, the file in the build tree; else the installed file, found relative
// to the running program (<prefix>/bin/PROGRAM finds <prefix>/lib/marigold/...), so that an
// installed tree works wherever it was installed.
#pragma once

#include <string>

namespace marigold::host {

// `installedRelative` is relative to the running program's folder ("../lib/marigold/plugins/x.so").
std::string locateFile(const char* variable, const std::string& installedRelative,
                       const std::string& buildPath);

// The folder of the translation catalogues (LANG/LC_MESSAGES/marigold.mo): TEXTDOMAINDIR when set,
// else the build tree's or <prefix>/share/locale.
std::string catalogueFolder();

}  // namespace marigold::host
