// The installed program: this build tree installed with `cmake --install` into a temporary prefix,
// then the installed marigold run from there (it finds the installed plug-in module, simulator and
// sample photos relative to itself, not in the build tree).
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/program_fixture.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

using MarigoldInstallTest = ProgramFixture;

TEST_F(MarigoldInstallTest, InstalledProgramRunsTheDemo) {
  const fs::path prefix = home_.path() / "prefix";
  const std::string install = std::string("'") + CMAKE_COMMAND + "' --install '" +
                              MARIGOLD_BUILD_DIR + "' --prefix '" + prefix.string() + "' > '" +
                              (home_.path() / "install.log").string() + "' 2>&1";
  ASSERT_EQ(std::system(install.c_str()), 0) << readText(home_.path() / "install.log");
  for (const char* file :
       {"bin/marigold", "bin/plinth-sim", "lib/marigold/plugins/libmarigold_plinth.so",
        "lib/marigold/lib/libmarigold_platform.so", "lib/marigold/lib/libmarigold_oauth.so",
        "share/man/man1/marigold.1.gz", "share/man/man1/plinth-sim.1.gz",
        "share/doc/marigold/copyright", "share/doc/marigold/changelog.gz",
        "share/bash-completion/completions/marigold", "share/zsh/vendor-completions/_marigold",
        "share/marigold/examples/sunrise.jpg", "share/marigold/marigold.lua"}) {
    EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
  }

  const ProgramRun installed{.program = (prefix / "bin/marigold").string()};
  ProgramOutcome o = run({"--version"}, installed);
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.out, "marigold 0.1\n");
  o = run({"--version"}, {.program = (prefix / "bin/plinth-sim").string()});
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.out, "plinth-sim 0.1\n");

  // The demo's scratch folder goes in TMPDIR, whose name may hold a space; it is gone afterwards,
  // also when Ctrl-C ended the demo part-way.
  const fs::path temporary = home_.path() / "tmp with space";
  fs::create_directories(temporary);
  ProgramRun demo = installed;
  demo.environment["TMPDIR"] = temporary.string();
  o = run({"demo"}, demo);
  EXPECT_EQ(o.exitCode, 0) << o.out << o.err;
  EXPECT_NE(o.out.find("Posted as post 2"), std::string::npos) << o.out;
  EXPECT_EQ(o.err.find("marigold:"), std::string::npos) << o.err;
  EXPECT_TRUE(fs::is_empty(temporary));
  demo.interruptAfter = "Plinth simulator:";
  o = run({"demo"}, demo);
  // Ended by the signal, or with status 4 when a post's body had gone out whole by then.
  EXPECT_TRUE(o.signal == SIGINT || o.exitCode == 4) << o.exitCode << o.out << o.err;
  for (const auto& left : fs::recursive_directory_iterator(temporary)) {
    ADD_FAILURE() << "left behind: " << left.path();
  }
}

// The Debian package: its declared dependencies, and the program unpacked from it finding its
// plug-in module in the unpacked tree.
TEST_F(MarigoldInstallTest, DebianPackageDeclaresItsDependencies) {
  const fs::path out = home_.path() / "package";
  const fs::path log = home_.path() / "package.log";
  const auto shell = [&](const std::string& command) {
    return std::system((command + " >> '" + log.string() + "' 2>&1").c_str());
  };
  ASSERT_EQ(shell(std::string("'") + CPACK_COMMAND + "' -G DEB --config '" + MARIGOLD_BUILD_DIR +
                  "/CPackConfig.cmake' -B '" + out.string() + "'"),
            0)
      << readText(log);
  const fs::path deb = out / "marigold_0.1_amd64.deb";
  ASSERT_TRUE(fs::is_regular_file(deb)) << readText(log);
  const fs::path depends = home_.path() / "depends.txt";
  const std::string field =
      "dpkg-deb -f '" + deb.string() + "' Depends > '" + depends.string() + "'";
  ASSERT_EQ(std::system(field.c_str()), 0);
  for (const char* library : {"libcurl4", "libssl3", "libpugixml1v5", "libre2", "libstdc++6",
                              "libvips42", "libexiv2-27"}) {
    EXPECT_NE(readText(depends).find(library), std::string::npos) << readText(depends);
  }
  // The description shows as written; no ldconfig trigger for the plug-in's private folder.
  const fs::path control = home_.path() / "control";
  ASSERT_EQ(shell("dpkg-deb -e '" + deb.string() + "' '" + control.string() + "'"), 0);
  EXPECT_NE(readText(control / "control").find("under \"Open With\" for images"), std::string::npos)
      << readText(control / "control");
  EXPECT_FALSE(fs::exists(control / "postinst")) << readText(control / "postinst");

  const fs::path root = home_.path() / "unpacked";
  ASSERT_EQ(shell("dpkg-deb -x '" + deb.string() + "' '" + root.string() + "'"), 0);
  const ProgramOutcome o = run({"status"}, {.program = (root / "usr/bin/marigold").string()});
  EXPECT_EQ(o.exitCode, 3) << o.err;  // the module loaded; nobody is signed in
  EXPECT_EQ(o.out.substr(0, o.out.find("secrets:")),
            "user name: (none)\nremember:  no\nsigned in: no\n");
  // With the window come its file-manager actions.
  if (fs::exists(root / "usr/bin/marigold-gui")) {
    for (const char* file : {"usr/share/kio/servicemenus/marigold-post-to-plinth.desktop",
                             "usr/share/nemo/actions/marigold-post-to-plinth.nemo_action"}) {
      EXPECT_TRUE(fs::is_regular_file(root / file)) << file;
    }
  }
  // Each desktop host's extension comes in a package of its own, in the folder its host reads;
  // marigold itself brings none of their libraries.
  struct Extension {
    bool built;
    const char* package;
    const char* module;   // the module's file name
    const char* folder;   // the end of the host's folder, below usr/lib
    const char* library;  // a dependency of the extension's package
  };
  const Extension kExtensions[] = {
      {MARIGOLD_WITH_NAUTILUS != 0, "marigold-nautilus", "libmarigold-nautilus.so",
       "nautilus/extensions-4", "libnautilus-extension4"},
      {MARIGOLD_WITH_PURPOSE != 0, "marigold-purpose", "marigoldplugin.so",
       "qt5/plugins/kf5/purpose", "libkf5purpose5"},
  };
  for (const Extension& e : kExtensions) {
    SCOPED_TRACE(e.package);
    EXPECT_EQ(readText(depends).find(e.library), std::string::npos) << readText(depends);
    if (!e.built) continue;
    const fs::path extension = out / (std::string(e.package) + "_0.1_amd64.deb");
    ASSERT_TRUE(fs::is_regular_file(extension)) << readText(log);
    const fs::path fields = home_.path() / (std::string(e.package) + ".depends");
    ASSERT_EQ(
        std::system(("dpkg-deb -f '" + extension.string() + "' Depends > '" + fields.string() + "'")
                        .c_str()),
        0);
    EXPECT_NE(readText(fields).find("marigold (= 0.1)"), std::string::npos) << readText(fields);
    EXPECT_NE(readText(fields).find(e.library), std::string::npos) << readText(fields);
    const fs::path tree = home_.path() / e.package;
    ASSERT_EQ(shell("dpkg-deb -x '" + extension.string() + "' '" + tree.string() + "'"), 0);
    std::vector<std::string> modules;
    for (const auto& entry : fs::recursive_directory_iterator(tree)) {
      if (entry.path().filename() == e.module) modules.push_back(entry.path().string());
    }
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].find(tree.string() + "/usr/lib/"), 0u) << modules[0];
    EXPECT_NE(modules[0].find(std::string("/") + e.folder + "/"), std::string::npos) << modules[0];
  }
}

}  // namespace
}  // namespace marigold
