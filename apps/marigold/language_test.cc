// The command line in the user's language: messages and help come from the catalogue of the
// language LANGUAGE, LC_ALL, LC_MESSAGES and LANG choose, while the exit status and --json output
// stay the same in every language, and LC_ALL=C gives the English texts as written. The locale
// the language needs is built into a private folder, so the test needs no installed locale.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "testing/program_fixture.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

class MarigoldLanguageTest : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    locales_ = home_.path() / "locales";
    fs::create_directories(locales_);
    const std::string make =
        "localedef -i en_US -f UTF-8 '" + (locales_ / "en_US.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "localedef cannot build en_US here";
  }

  // A desktop session's language settings, with the private locales.
  ProgramRun in(std::map<std::string, std::string> variables) const {
    variables["LOCPATH"] = locales_.string();
    return ProgramRun{.environment = std::move(variables)};
  }

  fs::path locales_;
};

TEST_F(MarigoldLanguageTest, MessagesFollowTheLanguageAndResultsDoNot) {
  const std::string english =
      "marigold: no command 'frobnicate'.\n  Run 'marigold --help' for usage.\n";
  struct Case {
    const char* name;
    std::map<std::string, std::string> variables;
    std::string wantError;
  };
  const Case kCases[] = {
      {"no language", {}, english},
      {"LANGUAGE before LANG",
       {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}},
       "marigold: es gibt keinen Befehl 'frobnicate'.\n"
       "  Rufen Sie 'marigold --help' für die Verwendung auf.\n"},
      {"LC_MESSAGES",
       {{"LC_MESSAGES", "en_US.UTF-8"}, {"LANGUAGE", "fr:de"}},
       "marigold: pas de commande « frobnicate ».\n"
       "  Lancez 'marigold --help' pour l'utilisation.\n"},
      {"LC_ALL=C wins over everything",
       {{"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de"}},
       english},
      {"a language without a catalogue", {{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "nl"}}, english},
  };
  ProgramOutcome englishJson = run({"status", "--json"}, in({}));
  ASSERT_EQ(englishJson.exitCode, 3) << englishJson.err;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ProgramOutcome o = run({"frobnicate"}, in(c.variables));
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_EQ(o.err, c.wantError);
    o = run({"status", "--json"}, in(c.variables));
    EXPECT_EQ(o.exitCode, englishJson.exitCode);
    EXPECT_EQ(o.out, englishJson.out) << "--json is the same in every language";
  }
  const ProgramOutcome help = run({"--help"}, in({{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "ja"}}));
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("終了ステータス:\n  0  完了\n"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace marigold
