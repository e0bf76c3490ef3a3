// The installed program: this build tree installed with `cmake --install` into a temporary prefix,
// then the installed marigold run from there (it finds the installed plug-in module, simulator and
// sample photos relative to itself, not in the build tree).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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
       {"bin/marigold", "bin/plinth-sim", "lib/marigold/libmarigold_plinth.so",
        "share/man/man1/marigold.1.gz", "share/bash-completion/completions/marigold",
        "share/zsh/vendor-completions/_marigold", "share/marigold/examples/sunrise.jpg"}) {
    EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
  }

  const ProgramRun installed{.program = (prefix / "bin/marigold").string()};
  ProgramOutcome o = run({"--version"}, installed);
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.out, "marigold 0.1\n");

  o = run({"demo"}, installed);
  EXPECT_EQ(o.exitCode, 0) << o.out << o.err;
  EXPECT_NE(o.out.find("Posted as post 2"), std::string::npos) << o.out;
  EXPECT_EQ(o.err.find("marigold:"), std::string::npos) << o.err;
}

}  // namespace
}  // namespace marigold
